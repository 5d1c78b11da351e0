#include "settings/PickRefusal.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "ui/Accessibility.h"
#include "ui/Text.h"

#include <QLabel>
#include <QPointer>

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

namespace {

rt::Async<void> pickThenTell(AppModel& model, std::optional<CallLanguage> mine, std::optional<CallLanguage> theirs,
                             QPointer<QLabel> note)
{
    const std::string refusal = co_await pickLanguages(model, std::move(mine), std::move(theirs));
    if (!note)
        co_return;
    // Told each time, the same refusal twice included: a screen reader
    // hears nothing from the status line, which may not even change.
    if (refusal.empty())
        note->hide();
    else
        Accessibility::announce(note, q(refusal));
}

}  // namespace

void pickAndTell(const std::shared_ptr<AppModel>& model, std::optional<CallLanguage> mine,
                 std::optional<CallLanguage> theirs, QLabel* note)
{
    spawnOnModel(model,
                 [mine = std::move(mine), theirs = std::move(theirs), note = QPointer<QLabel>(note)](AppModel& m) {
                     return pickThenTell(m, mine, theirs, note);
                 });
}

}  // namespace parlaro::ui
