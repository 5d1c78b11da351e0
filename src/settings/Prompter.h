#pragma once

#include <functional>
#include <string>

class QWidget;

namespace parlaro::settings {

// Asks the user to confirm a destructive step, or tells them something went
// wrong. Never blocks: a confirmation answers through its callback, and only
// when the user confirms. Texts arrive localized. Tests install their own.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void confirm(QWidget* parent, const std::string& title, const std::string& message,
                         const std::string& destructiveButton, std::function<void()> onConfirm) = 0;
    // The shared alert: "提示" with the message and "好".
    virtual void alert(QWidget* parent, const std::string& message) = 0;

    // The installed one (a test's), else message boxes.
    static Prompter& shared();

    class Scope {
    public:
        explicit Scope(Prompter& prompter);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Prompter* previous_;
    };
};

}  // namespace parlaro::settings
