#pragma once

#include <functional>
#include <memory>

namespace parlaro {
class AppModel;
}
namespace parlaro::settings {
class UpdateModel;
}

namespace parlaro::app {

// What the menu bar and the tray offer besides quitting: a settings page in
// the window, brought to the front.
class AppCommands {
public:
    AppCommands(std::shared_ptr<AppModel> model, std::shared_ptr<settings::UpdateModel> updates,
                std::function<void()> showMainWindow);

    // The general page, then the window.
    void openSettings() const;
    // The updates page, the window, then one update check.
    void checkForUpdates() const;

private:
    std::shared_ptr<AppModel> model_;
    std::shared_ptr<settings::UpdateModel> updates_;
    std::function<void()> showMainWindow_;
};

}  // namespace parlaro::app
