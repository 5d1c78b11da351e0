#include "app/SettingsFileNotice.h"

#include "model/AppModel.h"
#include "speech/Localization.h"

namespace parlaro::app {

void tellSettingsFileProblem(const sys::JsonFileSettingsStore& defaults, AppModel& model, std::FILE* stream)
{
    const auto problem = defaults.openProblem();
    if (!problem)
        return;
    using Kind = sys::JsonFileSettingsStore::OpenProblem::Kind;
    const std::string kept = problem->keptAt.string();
    const std::string shown = pathText(kept);
    if (problem->kind == Kind::setAside) {
        std::fprintf(stream, "parlaro: the settings file %s %s; it was moved to %s and the defaults are in use.\n",
                     defaults.path().c_str(), problem->reason.c_str(), kept.c_str());
        model.showError(localized("设置文件已损坏，已另存为 %@，现使用默认设置。", shown));
        return;
    }
    std::fprintf(stream,
                 "parlaro: the settings file %s %s; it was left as it is, the defaults are in use and no change is "
                 "saved over it.\n",
                 kept.c_str(), problem->reason.c_str());
    model.showError(localized("无法读取设置文件 %@，现使用默认设置，更改不会写入该文件。", shown));
}

}  // namespace parlaro::app
