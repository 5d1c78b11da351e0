#pragma once

#include "platform/HostWindow.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

namespace parlaro::app {

// The translation host's window as a Qt tool window. While hidden it stays
// mapped (what it hosts must stay alive) but fully transparent, passes
// input through and never takes focus; revealed, it is an ordinary small
// dialog in front, centred, so a download prompt has something to stand
// over. It is marked so the search for the main window always skips it.
class QtHostWindow final : public HostWindow {
public:
    // The window's widget belongs to its maker; this handle outlives it
    // safely and then does nothing.
    explicit QtHostWindow(QWidget* widget) : widget_(widget) {}

    void showHidden(bool inFront) override;
    void showRevealed() override;
    bool isRevealed() const override;

    QWidget* widget() const { return widget_; }

    // The dynamic property that marks the host's window.
    static constexpr const char* marker = "parlaroTranslationHost";
    static bool isHostWindow(const QWidget* widget);
    // What the shell's main-window search needs to know of a top-level widget.
    static WindowFacts factsOf(const QWidget* widget);

private:
    QPointer<QWidget> widget_;
    bool revealed_ = false;
};

// Makes the host's windows and owns their widgets: they are deleted with
// the factory, which must go before the QApplication does, while the host
// that asked for them may live until the process ends.
class QtHostWindows final : public HostWindowFactory {
public:
    QtHostWindows() = default;
    ~QtHostWindows() override;
    QtHostWindows(const QtHostWindows&) = delete;
    QtHostWindows& operator=(const QtHostWindows&) = delete;

    std::shared_ptr<HostWindow> makeHostWindow(HostWindowContent content) override;

private:
    std::vector<QPointer<QWidget>> widgets_;
};

}  // namespace parlaro::app
