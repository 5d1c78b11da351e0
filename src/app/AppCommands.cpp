#include "app/AppCommands.h"

#include "model/AppModel.h"
#include "settings/UpdateModel.h"

#include <stdexcept>

namespace parlaro::app {

namespace {

void openPage(AppModel& model, SettingsPage page)
{
    // The setter would stay silent on an equal page anyway; the page's
    // observers must not hear a write at all.
    if (model.settingsPage.get() != page)
        model.settingsPage.set(page);
}

}  // namespace

AppCommands::AppCommands(std::shared_ptr<AppModel> model, std::shared_ptr<settings::UpdateModel> updates,
                         std::function<void()> showMainWindow)
    : model_(std::move(model)), updates_(std::move(updates)), showMainWindow_(std::move(showMainWindow))
{
    if (!model_)
        throw std::invalid_argument("AppCommands needs the model");
}

void AppCommands::openSettings() const
{
    openPage(*model_, SettingsPage::general);
    if (showMainWindow_)
        showMainWindow_();
}

void AppCommands::checkForUpdates() const
{
    openPage(*model_, SettingsPage::updates);
    if (showMainWindow_)
        showMainWindow_();
    if (updates_)
        updates_->check();
}

}  // namespace parlaro::app
