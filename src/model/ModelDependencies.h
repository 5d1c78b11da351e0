#pragma once

#include "audio/DeviceReaderDetector.h"
#include "audio/EchoGuard.h"
#include "audio/SystemAudioRoute.h"
#include "model/AppModel.h"
#include "platform/ProcessActivity.h"
#include "platform/SettingsStore.h"
#include "platform/WakeObserver.h"
#include "speech/TranslationHost.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace parlaro {

// The engine parts the program has one of: the echo gate with its far-end
// record, the detector of who uses the audio devices, the translation host;
// and the machine's services the model asks: keeping it awake while the user
// holds to talk, and telling when it woke. Without those two, nothing keeps
// the machine awake and no wake is reported.
struct EngineSingletons {
    std::shared_ptr<EchoGuard> echoGuard;
    std::shared_ptr<DeviceReaderDetector> readerDetector;
    std::shared_ptr<TranslationHost> translationHost;
    std::shared_ptr<ProcessActivity> processActivity;
    std::shared_ptr<WakeObserver> wakeObserver;
};

// The instances the rest of the engine also reaches on its own.
EngineSingletons processWideEngineParts();
// A set of its own, so a model can be built without touching process state.
EngineSingletons freshEngineParts();

// The switch of the system default devices, over the installed audio system,
// with the record an earlier run may have left.
std::shared_ptr<SystemAudioRoute> makeSystemAudioRoute(SettingsStore& defaults);

// The model's components and closures over the installed platform. Every
// component that plays, captures or detects shares the given parts.
AppModel::Dependencies defaultDependencies(SettingsStore& defaults, std::shared_ptr<SystemAudioRoute> systemRoute,
                                           const EngineSingletons& parts);

// Call detection, the far end's playback and the device rates, over the
// audio system's process objects as this detector lists them.
void watchCallsThrough(AppModel::Dependencies& dependencies, std::shared_ptr<DeviceReaderDetector> detector);

// The process activity and the wake reports through the given services.
void useMachineServices(AppModel::Dependencies& dependencies, std::shared_ptr<ProcessActivity> activity,
                        std::shared_ptr<WakeObserver> wake);

// Stand-ins for the driver installer, which the settings bring: no driver
// copy is carried, so installing refuses at once, and no update is ever due.
void usePlaceholderInstaller(AppModel::Dependencies& dependencies);

// The virtual devices as a sound server provides them: installing and
// updating both load this build's devices into the running server. No files
// are copied and no administrator rights are asked for, so an install is
// never cancelled; the server's error text fails it.
struct VirtualDeviceSetup {
    // Loads the devices, or reloads ours when they are another build's; none
    // on success, else the server's error text. It may block, so it runs off
    // the main actor.
    std::function<std::optional<std::string>()> ensure;
    // The loaded devices are another build's.
    std::function<bool()> needsUpdate;
    // What an install loads.
    std::string source;
    // The version this build's devices report once loaded; none when unknown.
    std::optional<std::string> version;
};

// Installs and updates through the setup; the setup step is its source.
void useVirtualDeviceSetup(AppModel::Dependencies& dependencies, VirtualDeviceSetup setup);

}  // namespace parlaro
