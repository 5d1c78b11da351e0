#pragma once

#include "audio/SystemAudioRoute.h"
#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "model/ModelDependencies.h"
#include "platform/linux/Environment.h"
#include "settings/UpdateModel.h"
#include "ui/HoldShortcutCenter.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {
class AudioSystem;
class SettingsStore;
}  // namespace parlaro

namespace parlaro::app {

// Builds and owns the running program's object graph: the process-wide
// platform services (installed for the factory's life), the system audio
// route, the model with every component and closure it uses, the update
// check, the conversation history and the global hold shortcut. Building
// starts no audio, listener, timer or task; launch does that, and attaches
// the history to the model.
//
// The runtime (executor and clock) must be installed before the factory is
// made and outlive it; the QApplication too, for the update check and the
// translation host's window. One factory per process at a time: it installs
// process-wide services.
class ServiceFactory {
public:
    enum class Kind {
        // The machine's own services: the sound server, speech recognition,
        // translation, synthesis, global keys, settings and history on disk.
        real,
        // Everything simulated, as a computer that is ready for a call: a
        // microphone, headphones, the virtual microphone loaded, every
        // language recognized and translated. Nothing touches the machine.
        sim,
    };

    struct Options {
        Kind kind = Kind::real;
        // The settings store; required, and must outlive the factory.
        SettingsStore* defaults = nullptr;
        // The history's folder; none: its default folder.
        std::optional<std::filesystem::path> historyFolder;
        // The engine parts; none: the process-wide ones, which the rest of
        // the engine also reaches on its own.
        std::optional<EngineSingletons> engineParts;
        // What the real graph reads to choose its backends, and either graph
        // to learn the user's languages.
        sys::Environment environment = sys::processEnvironment();
        // The user's languages, best first; none: what the environment says
        // (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG), on the simulated
        // machine as on the real one. Tests pin theirs here.
        std::optional<std::vector<std::string>> preferredLanguages;
    };

    explicit ServiceFactory(Options options);
    ~ServiceFactory();
    ServiceFactory(const ServiceFactory&) = delete;
    ServiceFactory& operator=(const ServiceFactory&) = delete;

    Kind kind() const;
    SettingsStore& defaults() const;
    AudioSystem& audioSystem() const;
    // False when the sound server could not be reached at start: the
    // backend says so once on standard error and keeps trying; the model
    // shows no devices until it comes. Never a silent fall back to the sim.
    bool audioServerReachable() const { return audioServerReachable_; }

    std::shared_ptr<SystemAudioRoute> route() const { return route_; }
    std::shared_ptr<AppModel> model() const { return model_; }
    std::shared_ptr<settings::UpdateModel> updates() const { return updates_; }
    std::shared_ptr<ConversationHistory> history() const { return history_; }
    ui::HoldShortcutCenter& shortcuts() const { return *shortcuts_; }

private:
    struct Services;

    std::unique_ptr<Services> services_;
    bool audioServerReachable_ = true;
    std::shared_ptr<SystemAudioRoute> route_;
    std::shared_ptr<AppModel> model_;
    std::shared_ptr<settings::UpdateModel> updates_;
    std::shared_ptr<ConversationHistory> history_;
    std::unique_ptr<ui::HoldShortcutCenter> shortcuts_;
};

}  // namespace parlaro::app
