#include "app/StartupProbes.h"

#include "model/ModelDependencies.h"

namespace parlaro {

std::optional<AudioCapturePermission::Status> AudioCapturePermission::preflight()
{
    return std::nullopt;
}

void app::useStartupProbes(AppModel::Dependencies& dependencies, std::shared_ptr<DeviceReaderDetector> detector)
{
    watchCallsThrough(dependencies, std::move(detector));
    dependencies.capturePermission = [] { return AudioCapturePermission::preflight(); };
}

}  // namespace parlaro
