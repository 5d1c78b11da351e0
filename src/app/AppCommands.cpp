#include "app/AppCommands.h"

#include "model/AppModel.h"
#include "settings/UpdateModel.h"

#include <stdexcept>

namespace parlaro::app {

AppCommands::AppCommands(std::shared_ptr<AppModel> model, std::shared_ptr<settings::UpdateModel> updates,
                         std::function<void()> showMainWindow)
    : model_(std::move(model)), updates_(std::move(updates)), showMainWindow_(std::move(showMainWindow))
{
    if (!model_)
        throw std::invalid_argument("AppCommands needs the model");
}

void AppCommands::openSettings() const
{
    // An equal page is stored silently: the page's observers hear nothing.
    model_->openSettings(SettingsPage::general);
    if (showMainWindow_)
        showMainWindow_();
}

void AppCommands::checkForUpdates() const
{
    model_->openSettings(SettingsPage::updates);
    if (showMainWindow_)
        showMainWindow_();
    if (updates_)
        updates_->check();
}

}  // namespace parlaro::app
