#include "app/ServiceFactory.h"

#include "app/StartupProbes.h"
#include "platform/AudioSystem.h"
#include "platform/EngineNames.h"
#include "platform/GlobalKeys.h"
#include "platform/Platform.h"
#include "platform/PlatformCapabilities.h"
#include "platform/SpeechServices.h"
#include "platform/SpeechSynthesizer.h"
#include "platform/TranslationPlatform.h"
#include "platform/VirtualMicHost.h"
#include "platform/linux/EnvironmentPreferredLanguages.h"
#include "platform/linux/FileResourceBundles.h"
#include "platform/linux/apertium/ApertiumTranslation.h"
#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"
#include "platform/linux/icu/IcuTextServices.h"
#include "platform/linux/keys/GlobalKeysChoice.h"
#include "platform/linux/portal/PortalGlobalKeys.h"
#include "platform/linux/power/ClockGapWakeObserver.h"
#include "platform/linux/power/IdleInhibitorActivity.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/linux/pulse/PulseVirtualMicHost.h"
#include "platform/linux/pulse/VirtualMicModules.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "platform/sim/SimAudioSystem.h"
#include "platform/sim/SimGlobalKeys.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimProcessActivity.h"
#include "platform/sim/SimResourceBundles.h"
#include "platform/sim/SimSpeechServices.h"
#include "platform/sim/SimSpeechSynthesizer.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "platform/sim/SimVirtualMicHost.h"
#include "platform/sim/SimWakeObserver.h"
#include "runtime/Error.h"
#include "settings/AppInfo.h"
#include "settings/NetworkHttpGet.h"
#include "settings/VirtualMicInstaller.h"
#include "speech/CallLanguage.h"
#include "ui/HoldShortcut.h"

#include <QNetworkAccessManager>

#include <stdexcept>

namespace parlaro::app {

namespace {

// The simulated virtual driver carries this build's modules already.
constexpr const char* simModulesHash = "sim";

// A computer ready for a call: a built-in microphone and speakers, wired
// headphones as the default output, and the virtual microphone's devices.
void furnish(sim::SimAudioSystem& audio)
{
    audio.addDevice({.id = 40, .uid = "sim-builtin-mic", .name = "Built-in Microphone", .inputBuffers = {1}});
    audio.addDevice({.id = 41, .uid = "sim-builtin-speakers", .name = "Built-in Speakers", .outputBuffers = {2}});
    audio.addDevice({.id = 42, .uid = "sim-headphones", .name = "Headphones", .outputBuffers = {2}});
    sim::SimDevice mic{.id = 50,
                       .uid = virtualMicUID,
                       .name = virtualMicrophoneName,
                       .inputBuffers = {2},
                       .outputBuffers = {2},
                       .transportType = AudioTransports::virtualDevice};
    // The version this build's modules report once loaded.
    mic.custom[AudioSelectors::driverVersion] = AudioString(sys::driverVersion);
    audio.addDevice(mic);
    audio.addDevice({.id = 51,
                     .uid = injectionUID,
                     .name = virtualMicInjectionName,
                     .inputBuffers = {2},
                     .outputBuffers = {2},
                     .transportType = AudioTransports::virtualDevice});
    audio.setDefaultDevice(true, 40);
    audio.setDefaultDevice(false, 42);
}

// Every call language is recognized, voiced and translated both ways.
void furnish(sim::SimSpeechServices& speech, sim::SimSpeechSynthesizer& voices,
             sim::SimTranslationPlatform& translation)
{
    std::vector<SynthesisVoice> all;
    for (const CallLanguage& language : CallLanguage::all()) {
        speech.recognition->addLocale(language.speechLocale);
        const std::string& locale = language.voiceLocales.front();
        all.push_back({.identifier = "sim.voice." + locale, .name = "Sim " + language.tag, .language = locale});
        for (const CallLanguage& other : CallLanguage::all()) {
            if (other.id != language.id)
                translation.setStatus(language.id, other.id, LanguageAvailability::Status::installed);
        }
    }
    voices.setVoices(std::move(all));
}

// What the status page and the recognition errors call the engines built
// here. No versions: none can be read from the engines while they run.
EngineNames realEngineNames()
{
    return {.speechTranscriber = "pocketsphinx",
            .dictationTranscriber = "pocketsphinx",
            .onDeviceRecognizer = "pocketsphinx",
            .directTranslation = "apertium",
            .hostedTranslation = "apertium",
            .speechSynthesis = "espeak-ng",
            .callAudio = "PulseAudio monitor"};
}

settings::HttpGet unreachable()
{
    return [](settings::HttpRequest) -> rt::Async<settings::HttpResult> {
        co_return settings::HttpResult{.kind = settings::HttpResult::Kind::connectionFailed};
    };
}

}  // namespace

// What the graph stands on, in the order it must be set up; the members go
// in reverse, each scope restoring what was installed before it.
struct ServiceFactory::Services {
    Kind kind = Kind::real;

    SettingsStore* defaults = nullptr;
    std::unique_ptr<PreferredLanguages> languages;
    std::unique_ptr<TextServices> text;
    std::unique_ptr<ResourceBundles> bundles;
    std::optional<PlatformScope> platform;

    std::unique_ptr<AudioSystem> audio;
    std::optional<AudioSystemScope> audioScope;
    std::shared_ptr<VirtualMicHost> virtualMic;

    // Real speech, voices and translation.
    std::optional<PlatformCapabilitiesScope> capabilities;
    std::optional<EngineNamesScope> engineNames;
    std::shared_ptr<SpeechRecognitionService> recognition;
    std::optional<SpeechServicesScope> speechScope;
    std::unique_ptr<SpeechSynthesizer> synthesizer;
    std::optional<SpeechSynthesizerScope> synthesizerScope;
    std::unique_ptr<TranslationPlatform> translation;
    std::optional<TranslationPlatformScope> translationScope;

    // Simulated ones; each installs itself.
    std::unique_ptr<sim::SimSpeechServices> simSpeech;
    std::unique_ptr<sim::SimSpeechSynthesizer> simVoices;
    std::unique_ptr<sim::SimTranslationPlatform> simTranslation;

    std::unique_ptr<GlobalKeys> keys;
    std::unique_ptr<QNetworkAccessManager> network;
    EngineSingletons parts;
};

ServiceFactory::ServiceFactory(Options options) : services_(std::make_unique<Services>())
{
    Services& s = *services_;
    s.kind = options.kind;
    const bool real = options.kind == Kind::real;

    if (!options.defaults)
        throw std::invalid_argument("ServiceFactory needs the settings store");
    // Process-wide services, before anything that reads them.
    s.defaults = options.defaults;
    // The interface speaks the user's language on the simulated machine too:
    // it simulates the computer's sound and engines, not its user.
    if (options.preferredLanguages)
        s.languages = std::make_unique<sim::SimPreferredLanguages>(*options.preferredLanguages);
    else
        s.languages = std::make_unique<sys::EnvironmentPreferredLanguages>(options.environment);
    s.text = std::make_unique<sys::IcuTextServices>();
    if (const auto root = sys::FileResourceBundles::locateRoot())
        s.bundles = std::make_unique<sys::FileResourceBundles>(*root);
    else
        s.bundles = std::make_unique<sim::SimResourceBundles>();
    s.platform.emplace(PlatformServices{s.defaults, s.languages.get(), s.text.get(), s.bundles.get()});

    // The kind alone chooses: a real graph never simulates sound on the
    // side (PARLARO_AUDIO=sim is main()'s, and simulates the whole machine).
    if (real) {
        sys::PulseAudioSystem::Options options;
        options.startAnswerSeconds = sys::PulseAudioSystem::quickStart;
        auto pulse = std::make_unique<sys::PulseAudioSystem>(options);
        s.virtualMic = std::make_shared<sys::PulseVirtualMicHost>(*pulse);
        // The backend has said so on standard error, once; it keeps trying,
        // and the model shows what it finds meanwhile.
        audioServerReachable_ = pulse->isConnected();
        s.audio = std::move(pulse);
    } else {
        auto simAudio = std::make_unique<sim::SimAudioSystem>();
        furnish(*simAudio);
        auto host = std::make_shared<sim::SimVirtualMicHost>(simModulesHash, simAudio.get());
        host->setLoadedHash(std::string(simModulesHash));
        s.virtualMic = std::move(host);
        s.audio = std::move(simAudio);
    }
    s.audioScope.emplace(*s.audio);

    if (real) {
        s.capabilities.emplace(PlatformCapabilities{.newerSpeechAndTranslation = false});
        s.engineNames.emplace(realEngineNames());
        s.recognition = std::make_shared<sys::SphinxSpeechRecognitionService>(
            sys::defaultSphinxModelRoot, sys::SphinxSpeechRecognitionService::defaultPartialInterval,
            sys::SphinxChannelFile::defaultPath(options.environment("XDG_STATE_HOME"), options.environment("HOME")));
        s.speechScope.emplace(SpeechServices{.recognition = s.recognition});
        s.synthesizer = std::make_unique<sys::EspeakSpeechSynthesizer>();
        s.synthesizerScope.emplace(*s.synthesizer);
        s.translation = std::make_unique<sys::ApertiumTranslation>(*s.text);
        // Apertium's sessions need no view and it has no download prompt:
        // the translation host maps no window at all.
        s.translationScope.emplace(TranslationPlatformServices{s.translation.get(), nullptr});
        s.keys = sys::makeGlobalKeys(options.environment,
                                     [] { return sys::PortalGlobalKeys::connect(QDBusConnection::sessionBus()); });
        s.network = std::make_unique<QNetworkAccessManager>();
    } else {
        s.simSpeech = std::make_unique<sim::SimSpeechServices>(false);
        s.simVoices = std::make_unique<sim::SimSpeechSynthesizer>();
        s.simTranslation = std::make_unique<sim::SimTranslationPlatform>();
        furnish(*s.simSpeech, *s.simVoices, *s.simTranslation);
        s.keys = std::make_unique<sim::SimGlobalKeys>();
    }

    s.parts = options.engineParts ? *options.engineParts : processWideEngineParts();
    if (real) {
        s.parts.processActivity = std::make_shared<sys::IdleInhibitorActivity>();
        s.parts.wakeObserver = std::make_shared<sys::ClockGapWakeObserver>();
    } else {
        s.parts.processActivity = std::make_shared<sim::SimProcessActivity>();
        s.parts.wakeObserver = std::make_shared<sim::SimWakeObserver>();
    }

    // The graph: route, model, update check, history.
    route_ = makeSystemAudioRoute(*s.defaults);
    AppModel::Dependencies d = defaultDependencies(*s.defaults, route_, s.parts);
    settings::VirtualMicInstaller(s.virtualMic).useIn(d);
    d.bundledDriverVersion = [] { return std::optional<std::string>(sys::driverVersion); };
    useStartupProbes(d, s.parts.readerDetector);
    model_ = AppModel::make(std::move(d));

    updates_ = settings::UpdateModel::make(settings::AppInfo::compiledIn(),
                                           real ? settings::networkHttpGet(*s.network) : unreachable());
    try {
        history_ = ConversationHistory::make(options.historyFolder, *s.defaults);
        history_->tidy();
    } catch (const Error& noFolder) {
        // No home folder to keep it under: the program runs without a
        // history rather than not at all; the shell says so.
        history_ = ConversationHistory::makeWithoutFolder(*s.defaults, noFolder.localizedDescription());
    }

    shortcuts_ = std::make_unique<ui::HoldShortcutCenter>(*s.keys);
    ui::HoldShortcut::useKeyboard(s.keys.get());
}

ServiceFactory::~ServiceFactory()
{
    Services& s = *services_;
    shortcuts_.reset();
    ui::HoldShortcut::useKeyboard(nullptr);
    // The host may be the process-wide one, which outlives this: it lets go
    // of its sessions while the translation platform that serves them is
    // still here.
    if (s.parts.translationHost)
        s.parts.translationHost->resetAll();
    history_.reset();
    updates_.reset();
    model_.reset();
    route_.reset();
}

ServiceFactory::Kind ServiceFactory::kind() const
{
    return services_->kind;
}

SettingsStore& ServiceFactory::defaults() const
{
    return *services_->defaults;
}

AudioSystem& ServiceFactory::audioSystem() const
{
    return *services_->audio;
}

}  // namespace parlaro::app
