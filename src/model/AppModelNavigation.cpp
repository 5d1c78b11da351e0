// What the user opens and closes around the call screen: the settings pages,
// the install and microphone-check sheets and the error alert.

#include "model/AppModel.h"

#include <utility>

namespace parlaro {

void AppModel::openSettings(SettingsPage page)
{
    settingsPage.set(page);
}

void AppModel::closeSettings()
{
    settingsPage.set(std::nullopt);
}

void AppModel::openInstallSheet()
{
    showInstallSheet.set(true);
}

void AppModel::closeInstallSheet()
{
    showInstallSheet.set(false);
}

void AppModel::openMicCheck(std::optional<std::string> reason)
{
    micCheckReason.set(std::move(reason));
    showMicCheck.set(true);
}

void AppModel::showError(std::string message)
{
    errorMessage.set(std::move(message));
}

void AppModel::dismissError()
{
    errorMessage.set(std::nullopt);
}

void AppModel::useHistory(std::shared_ptr<ConversationHistory> store)
{
    filing->use(store);
    history.set(std::move(store));
}

}  // namespace parlaro
