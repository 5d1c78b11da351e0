#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// The small window of its own in which the translation host keeps its slots.
// It is normally hidden: never seen, never in the way of clicks, never
// taking focus from the application's main window. The slots' sessions do
// not depend on it being on screen.
class HostWindow {
public:
    virtual ~HostWindow() = default;

    // Hidden: not seen and not taking input; it does not take keyboard focus
    // and is not the main window. `inFront`: the first hide, when the window
    // is made; later hides end a reveal.
    virtual void showHidden(bool inFront) = 0;
    // Opaque, accepting clicks, centred, raised and holding keyboard focus,
    // with the application activated: the system's download prompt appears
    // over it.
    virtual void showRevealed() = 0;
    virtual bool isRevealed() const = 0;
};

// What the window shows: a small progress indicator and the prompt under a
// titled frame of 380 by 120 points without close, minimise or resize
// buttons, kept out of the window menu and window cycling.
struct HostWindowContent {
    std::string title;
    std::string prompt;
    double width = 380;
    double height = 120;
};

class HostWindowFactory {
public:
    virtual ~HostWindowFactory() = default;
    virtual std::shared_ptr<HostWindow> makeHostWindow(HostWindowContent content) = 0;
};

// What the application shell knows of one of its windows when it looks for
// its main window.
struct WindowFacts {
    bool visible = false;
    bool mainCapable = false;
    bool miniaturised = false;
    bool hostWindow = false;  // the translation host's window
};

enum class WindowSearch {
    visible,  // any visible window will do
    showing,  // a visible window that can be main and is not miniaturised
};

// The first window the shell may treat as its main window. The translation
// host's window never counts, even while it is revealed.
inline std::optional<std::size_t> findMainWindow(const std::vector<WindowFacts>& windows, WindowSearch search)
{
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto& w = windows[i];
        if (w.hostWindow || !w.visible)
            continue;
        if (search == WindowSearch::showing && (!w.mainCapable || w.miniaturised))
            continue;
        return i;
    }
    return std::nullopt;
}

}  // namespace parlaro
