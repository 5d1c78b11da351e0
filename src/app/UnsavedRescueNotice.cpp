#include "app/UnsavedRescueNotice.h"

#include "history/UnsavedRescue.h"
#include "model/AppModel.h"
#include "speech/Localization.h"

#include <string>

namespace parlaro::app {

void tellRescuedConversations(const std::vector<std::filesystem::path>& places,
                              const std::function<bool(const ConversationSession&)>& save, AppModel& model,
                              std::FILE* stream)
{
    const UnsavedRescue::BroughtBack found = UnsavedRescue::bringBack(places, save);
    std::string text;
    if (found.sessions > 0) {
        std::fprintf(stream,
                     "parlaro: %zu conversation session(s) the history could not save when Parlaro last ended are "
                     "back in the history.\n",
                     found.sessions);
        text = localized("上次退出时未能保存的 %@ 个对话已放回对话记录。", found.sessions);
    }
    if (found.left) {
        std::fprintf(stream,
                     "parlaro: %zu conversation session(s) the history could not save when Parlaro last ended are in "
                     "%s; they go back into the history once it can be written.\n",
                     found.left->sessions, found.left->folder.c_str());
        const std::string left = localized("上次退出时有 %@ 个对话未能保存，已写入 %@；对话记录可以写入时会自动放回。",
                                           found.left->sessions, pathText(found.left->folder.string()));
        text = text.empty() ? left : text + "\n" + left;
    }
    if (text.empty())
        return;
    if (const auto& shown = model.errorMessage.get())
        text = *shown + "\n" + text;
    model.showError(std::move(text));
}

}  // namespace parlaro::app
