#pragma once

#include "audio/DeviceReaderDetector.h"
#include "model/AppModel.h"
#include "model/AudioCapturePermission.h"

#include <memory>
#include <optional>

namespace parlaro {

namespace AudioCapturePermission {
// Asks, without prompting, whether this program may record what the
// computer plays. The sound server has no such permission to ask about, so
// there is never an answer.
std::optional<Status> preflight();
}  // namespace AudioCapturePermission

namespace app {

// The model's five platform probes: who else plays on or records from a
// device (this process never counts), the client and driver watches, and the
// capture permission.
void useStartupProbes(AppModel::Dependencies& dependencies, std::shared_ptr<DeviceReaderDetector> detector);

}  // namespace app

}  // namespace parlaro
