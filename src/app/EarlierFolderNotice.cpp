#include "app/EarlierFolderNotice.h"

#include "model/AppModel.h"
#include "speech/Localization.h"

#include <string>

namespace parlaro::app {

namespace {

// A path as the alert shows it: a line may break after any of its slashes
// but the leading one, which would stand alone at a line's end.
std::string shown(const std::filesystem::path& path)
{
    std::string text = path.string();
    if (text.starts_with('/'))
        text.insert(1, "\u2060");  // word joiner
    return pathText(text);
}

}  // namespace

void tellEarlierEntries(const std::vector<EarlierEntryNote>& notes, AppModel& model, std::FILE* stream)
{
    std::string text;
    for (const EarlierEntryNote& note : notes) {
        if (!text.empty())
            text += "\n";
        if (note.kind == EarlierEntryNote::Kind::keptAside) {
            std::fprintf(stream, "parlaro: an earlier version's %s was kept aside as %s; %s is in use.\n",
                         note.earlier.c_str(), note.keptAt.c_str(), note.inUse.c_str());
            text += localized("旧版本的设置文件与现在的设置文件同时存在：现在的设置继续生效，旧的已另存为 %@。",
                              shown(note.keptAt));
        } else if (note.kind == EarlierEntryNote::Kind::passedOver) {
            std::fprintf(stream, "parlaro: %s is not used (%s); %s.\n", note.earlier.c_str(), note.reason.c_str(),
                         note.inUse.empty() ? "what would be kept there is not kept"
                                            : (note.inUse.string() + " is used instead").c_str());
            text += note.inUse.empty()
                ? localized(
                    "文件夹 %@ 不只属于你（%@），因此没有在其中保存任何内容；本应保存在那里的内容这次不会保存。",
                    shown(note.earlier), note.reason)
                : localized("文件夹 %@ 不只属于你（%@），因此没有在其中保存任何内容；现在使用 %@。",
                            shown(note.earlier), note.reason, shown(note.inUse));
        } else if (note.kind == EarlierEntryNote::Kind::conversationUnreadable) {
            std::fprintf(stream,
                         "parlaro: the conversation file %s cannot be read (%s); it is kept as it is, unlisted.\n",
                         note.earlier.c_str(), note.reason.c_str());
            text += localized("无法读取聊天记录文件 %@，已原样保留，但不会显示在列表中。", shown(note.earlier));
        } else if (note.kind == EarlierEntryNote::Kind::cacheUnreadable && !note.keptAt.empty()) {
            std::fprintf(stream,
                         "parlaro: the speech recognition cache %s cannot be read (%s); it was kept as %s and a new "
                         "one is started.\n",
                         note.earlier.c_str(), note.reason.c_str(), note.keptAt.c_str());
            text += localized("语音识别缓存 %@ 已损坏，已另存为 %@，并重新开始记录。", shown(note.earlier),
                              shown(note.keptAt));
        } else if (note.kind == EarlierEntryNote::Kind::cacheUnreadable) {
            std::fprintf(stream,
                         "parlaro: the speech recognition cache %s cannot be read (%s); it is left as it is and what "
                         "speech recognition learns is not kept.\n",
                         note.earlier.c_str(), note.reason.c_str());
            text += localized("无法读取语音识别缓存 %@，已原样保留；在它移走之前，语音识别学到的内容不会保存。",
                              shown(note.earlier));
        } else {
            std::fprintf(stream, "parlaro: %s, left by an earlier version, cannot be read or moved (%s); %s is used.\n",
                         note.earlier.c_str(), note.reason.c_str(), note.inUse.c_str());
            text += localized("旧版本留下的 %@ 无法读取或移动（%@），已保留在原处；现在使用 %@。", shown(note.earlier),
                              note.reason, shown(note.inUse));
        }
        earlierEntryNoteTold(note);
    }
    if (text.empty())
        return;
    if (const auto& shown = model.errorMessage.get())
        text = *shown + "\n" + text;
    model.showError(std::move(text));
}

}  // namespace parlaro::app
