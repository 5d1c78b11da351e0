#pragma once

#include <functional>
#include <string>
#include <utility>

namespace parlaro {

// Keeps the machine from idling into sleep while the user is doing something
// that looks idle to the system (holding to talk moves neither mouse nor
// keys). Activities may overlap; the machine may idle again once every begun
// activity has ended.
class ProcessActivity {
public:
    // One begun activity; ending it (end(), or destroying or assigning over
    // the token) ends exactly that activity, once. Move-only.
    class Token {
    public:
        Token() = default;
        explicit Token(std::function<void()> end) : end_(std::move(end)) {}
        Token(Token&& other) noexcept : end_(std::exchange(other.end_, {})) {}
        Token& operator=(Token&& other) noexcept
        {
            if (this != &other) {
                end();
                end_ = std::exchange(other.end_, {});
            }
            return *this;
        }
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;
        ~Token() { end(); }

        void end()
        {
            if (auto finish = std::exchange(end_, {}))
                finish();
        }
        bool isActive() const { return static_cast<bool>(end_); }

    private:
        std::function<void()> end_;
    };

    virtual ~ProcessActivity() = default;

    // Begins an activity; `reason` says why, where the system lists what
    // keeps it awake.
    [[nodiscard]] virtual Token begin(const std::string& reason) = 0;
};

}  // namespace parlaro
