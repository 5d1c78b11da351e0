#include "app/NoHomeNotice.h"

#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "speech/Localization.h"

#include <string>

namespace parlaro::app {

void tellNoHomeFolder(bool settingsInMemory, const ConversationHistory& history, AppModel& model, std::FILE* stream)
{
    std::string text;
    if (settingsInMemory) {
        std::fprintf(stream,
                     "parlaro: there is no home folder (HOME is unset or not absolute and the account has "
                     "none); settings are kept in memory until quit and not saved.\n");
        text = localized("找不到用户的主文件夹：设置只保留到退出，不会保存。");
    }
    if (!history.withoutFolder().empty()) {
        std::fprintf(stream,
                     "parlaro: there is no home folder to keep the conversation history in; saving it is "
                     "off.\n");
        if (!text.empty())
            text += "\n";
        text += history.withoutFolder();
    }
    if (!text.empty())
        model.showError(std::move(text));
}

}  // namespace parlaro::app
