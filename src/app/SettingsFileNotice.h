#pragma once

#include "platform/linux/JsonFileSettingsStore.h"

#include <cstdio>

namespace parlaro {
class AppModel;
}

namespace parlaro::app {

// Tells the user, once per start, that the settings file's contents are not
// in use: on `stream` (standard error) and through the model's error alert,
// naming the file that was kept. Nothing when the file was read whole.
void tellSettingsFileProblem(const sys::JsonFileSettingsStore& defaults, AppModel& model, std::FILE* stream);

}  // namespace parlaro::app
