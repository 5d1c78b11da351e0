#include "settings/PickRefusal.h"

#include "model/AppModel.h"

namespace parlaro::ui {

rt::Async<std::string> pickLanguages(AppModel& model, std::optional<CallLanguage> mine,
                                     std::optional<CallLanguage> theirs)
{
    // The other side is read when the task runs, not when the pick was made.
    const CallLanguage my = mine.value_or(model.myLanguage());
    const CallLanguage their = theirs.value_or(model.theirLanguage());
    const bool explained =
        my != their && !(my == model.myLanguage() && their == model.theirLanguage()) && !model.isChangingLanguage();
    co_await model.changeLanguages(my, their, AppModel::DownloadConsent::ask);
    const bool taken = model.myLanguage() == my && model.theirLanguage() == their;
    if (taken || model.pendingLanguageChange() || !explained)
        co_return std::string();
    co_return model.status();
}

}  // namespace parlaro::ui
