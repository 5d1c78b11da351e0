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
    return text;
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
        } else {
            std::fprintf(stream, "parlaro: %s, left by an earlier version, cannot be read or moved (%s); %s is used.\n",
                         note.earlier.c_str(), note.reason.c_str(), note.inUse.c_str());
            text += localized("旧版本留下的 %@ 无法读取或移动（%@），已保留在原处；现在使用 %@。", shown(note.earlier),
                              note.reason, shown(note.inUse));
        }
    }
    if (text.empty())
        return;
    if (const auto& shown = model.errorMessage.get())
        text = *shown + "\n" + text;
    model.showError(std::move(text));
}

}  // namespace parlaro::app
