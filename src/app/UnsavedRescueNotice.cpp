#include "app/UnsavedRescueNotice.h"

#include "history/UnsavedRescue.h"
#include "model/AppModel.h"
#include "speech/Localization.h"

#include <string>

namespace parlaro::app {

void tellRescuedConversations(const std::vector<std::filesystem::path>& places, AppModel& model, std::FILE* stream)
{
    const auto found = UnsavedRescue::takeUntold(places);
    if (!found)
        return;
    std::fprintf(stream,
                 "parlaro: %zu conversation session(s) the history could not save when Parlaro last ended are in "
                 "%s.\n",
                 found->sessions, found->folder.c_str());
    std::string text = localized("上次退出时对话记录无法保存，未保存的对话已写入 %@。", found->folder.string());
    if (const auto& shown = model.errorMessage.get())
        text = *shown + "\n" + text;
    model.showError(std::move(text));
}

}  // namespace parlaro::app
