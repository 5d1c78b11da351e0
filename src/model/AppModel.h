#pragma once

#include "audio/AudioClient.h"
#include "audio/AudioDevice.h"
#include "audio/AudioDeviceWatcher.h"
#include "audio/AudioMeters.h"
#include "audio/AudioServerWatcher.h"
#include "audio/AudioServiceRestartWatcher.h"
#include "audio/DirectVoiceRouting.h"
#include "audio/EchoGuard.h"
#include "audio/IncomingListening.h"
#include "audio/OwnSpeechRecording.h"
#include "audio/SpeechPlaying.h"
#include "audio/SystemAudioRoute.h"
#include "audio/VirtualMicProbe.h"
#include "audio/VoiceOption.h"
#include "history/ConversationEntry.h"
#include "history/ConversationHistory.h"
#include "model/AudioCapturePermission.h"
#include "model/DeviceDirection.h"
#include "model/HoldToTalk.h"
#include "model/ModelField.h"
#include "model/SessionFiling.h"
#include "model/SettingsPage.h"
#include "model/SettingsWriter.h"
#include "platform/DefaultsValue.h"
#include "platform/OwnAudioIDs.h"
#include "platform/SettingsStore.h"
#include "runtime/Continuation.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"
#include "runtime/Time.h"
#include "runtime/Uuid.h"
#include "speech/CallLanguage.h"
#include "speech/LanguageReadiness.h"
#include "speech/LanguageServices.h"
#include "speech/ModuleError.h"
#include "speech/RecognitionMode.h"
#include "speech/RecognitionSession.h"
#include "speech/SpeechEngine.h"
#include "speech/TranslationService.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace parlaro {

// The model of the running application: everything that happens during a
// call is decided here, on the main actor. Views read its observable fields
// and call its operations; the components of the audio engine and the speech
// services are handed to it once, in Dependencies, and held behind their
// small interfaces.
//
// Made by make() and owned through a std::shared_ptr; every callback it hands
// out holds it weakly and does nothing once it is gone. Its release stops
// nothing: shutdown() does that.
class AppModel : public rt::ObservableObject, public std::enable_shared_from_this<AppModel> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // Sample-rate access to devices, each a main-actor closure.
    struct DeviceRates {
        // The nominal rate; none when it cannot be read or is not above 0.
        std::function<std::optional<double>(AudioObjectId)> nominal;
        std::function<std::vector<double>(AudioObjectId)> available;
        // True when the platform accepted the write.
        std::function<bool(AudioObjectId, double)> set;
        // Another process uses the device, or that cannot be learned.
        std::function<bool(AudioObjectId)> openElsewhere;
        // Calls back on the main actor when the rate changes, until the
        // returned object is released; none when no watch can be installed.
        std::function<std::shared_ptr<void>(AudioObjectId, std::function<void()>)> watch;
    };

    // An object that keeps a platform registration alive; releasing it ends it.
    using WatchObject = std::shared_ptr<void>;

    // Keeps the process from being put to sleep while a hold runs.
    using ActivityToken = std::shared_ptr<void>;

    // Whether the user already agreed to the downloads a language change
    // needs; until then a pair that needs any is only offered.
    enum class DownloadConsent { ask, given };

    // Where the hear test stands.
    struct HearTest {
        struct Idle {
            bool operator==(const Idle&) const = default;
        };
        struct Recording {
            bool operator==(const Recording&) const = default;
        };
        struct PlayingBack {
            bool heard = false;
            bool operator==(const PlayingBack&) const = default;
        };
        struct Heard {
            bool operator==(const Heard&) const = default;
        };
        struct Silent {
            bool operator==(const Silent&) const = default;
        };
        struct Failed {
            std::string message;
            bool operator==(const Failed&) const = default;
        };
        std::variant<Idle, Recording, PlayingBack, Heard, Silent, Failed> value = Idle{};

        static HearTest idle() { return {Idle{}}; }
        static HearTest recording() { return {Recording{}}; }
        static HearTest playingBack(bool heard) { return {PlayingBack{heard}}; }
        static HearTest heard() { return {Heard{}}; }
        static HearTest silent() { return {Silent{}}; }
        static HearTest failed(std::string message) { return {Failed{std::move(message)}}; }
        bool operator==(const HearTest&) const = default;
    };

private:
    // The types below only the model names: views reach the fields and
    // results made of them through auto, and Dependencies' closures are
    // filled with lambdas.

    // The far end carried from one device to another.
    struct SpeakerRoute {
        AudioObjectId input = 0;
        AudioObjectId output = 0;
        bool operator==(const SpeakerRoute&) const = default;
    };

    // A language change waiting for the user's answer to a download.
    struct PendingLanguageChange {
        CallLanguage my;
        CallLanguage their;
        std::vector<std::string> needs;
        bool operator==(const PendingLanguageChange&) const = default;
    };

    // A device list as the device watcher read it, with the instant of the read.
    struct DeviceReading {
        std::vector<AudioDevice> devices;
        rt::Instant readAt;
    };

    // Conversation sessions the history could not write: how many, where,
    // and why the last write failed.
    using UnsavedHistory = SessionFiling::UnsavedHistory;

    // Where a draft came from: typed text waits for the user's confirmation
    // when they asked for one; recognized speech never does.
    enum class DraftSource { typed, speech };

    using LanguagePair = std::pair<CallLanguage, CallLanguage>;

    using CallDetector = std::function<std::optional<bool>(std::optional<AudioObjectId>)>;
    using CallRouteInspector = std::function<CallMicrophoneRoute(std::optional<AudioObjectId>)>;
    using CallObserver = std::function<void(std::function<void()> onChange)>;
    using DriverObserver = std::function<WatchObject(AudioObjectId device, std::function<void()> onChange)>;
    using SpeakerPlayback = std::function<bool(std::optional<AudioObjectId>)>;
    using SessionFactory =
        std::function<std::shared_ptr<RecognitionSession>(const std::string& locale, SpeechEngine, RecognitionMode)>;
    using DeviceWatcherFactory =
        std::function<std::shared_ptr<AudioDeviceWatcher>(AudioDeviceWatcher::List, AudioDeviceWatcher::OnChange)>;
    using ServiceWatcherFactory = std::function<std::shared_ptr<AudioServiceRestartWatcher>(std::function<void()>)>;
    using ServerWatcherFactory = std::function<std::shared_ptr<AudioServerWatcher>(AudioServerWatcher::OnChange)>;

public:
    // Everything the model is given when it is made: the engine components,
    // the closures over the platform and the fixed limits. Closures left empty
    // count as absent where the model allows that (the call detection ones,
    // the capture preflight, the outgoing translator).
    struct Dependencies {
        SettingsStore* defaults = nullptr;

        std::shared_ptr<SystemAudioRoute> systemRoute;  // none: no takeover
        std::shared_ptr<AudioMeters> meters;
        std::shared_ptr<SpeechPlaying> speaker;
        std::shared_ptr<IncomingListening> incoming;
        std::shared_ptr<DirectVoiceRouting> directVoice;
        std::shared_ptr<DirectVoiceRouting> callSpeaker;
        std::shared_ptr<VirtualMicProbing> probe;
        std::shared_ptr<OwnSpeechRecording> ownSpeechRecorder;
        std::shared_ptr<TranslationService> translator;
        std::shared_ptr<EchoGuard> echoGuard;
        LanguageServices languageServices;
        std::function<std::vector<VoiceOption>(const CallLanguage&)> voiceList;
        SessionFactory makeRecognitionSession;

        std::function<std::vector<AudioDevice>()> listDevices;
        std::function<std::optional<AudioObjectId>(DeviceDirection)> systemDefault;
        CallDetector callDetector;
        CallRouteInspector callRouteInspector;
        CallObserver callObserver;
        DriverObserver driverObserver;
        SpeakerPlayback speakerPlayback;
        DeviceRates deviceRates;
        DeviceWatcherFactory makeDeviceWatcher;
        ServiceWatcherFactory makeServiceWatcher;
        // None: the audio server is taken to be always there.
        ServerWatcherFactory makeServerWatcher;
        // What the audio system says of its server now; none: running.
        std::function<bool()> audioServerRunning;

        std::function<bool()> microphoneAuthorized;
        std::function<rt::Async<bool>()> microphonePermission;
        std::function<std::optional<AudioCapturePermission::Status>()> capturePermission;

        std::function<ActivityToken(const std::string& reason)> beginActivity;
        std::function<void(const ActivityToken&)> endActivity;
        std::function<rt::Subscription(std::function<void()> onWake)> observeDidWake;

        std::function<bool()> driverUpdateCheck;
        std::function<std::optional<std::string>()> driverVersionCheck;
        // Loads the virtual devices on the sound server (or reloads ours when
        // they are another build's) for the step deviceSetupStep made; a
        // failure throws VirtualMicInstallerFailure, a refusal its cancelled().
        std::function<rt::Async<void>(std::string step)> ensureVirtualDevices;
        // The step that loads the devices from their source.
        std::function<std::string(const std::string& source)> deviceSetupStep;
        // What the virtual devices are loaded from; none when this build has
        // nothing to load.
        std::optional<std::string> virtualDeviceSource;
        // The version of that copy; none (or no closure) when it cannot be read.
        std::function<std::optional<std::string>()> bundledDriverVersion;
        double driverDetectTimeout = 15.0;
        double recognitionTimeout = 12.0;

        std::function<rt::Async<std::string>(std::string)> outgoingTranslator;
    };

    // Builds the model with its first field values from the settings, then
    // loads the voice picks and the voices of the other party's language.
    // Throws std::invalid_argument when a component or closure it always
    // uses is missing.
    static std::shared_ptr<AppModel> make(Dependencies dependencies);
    AppModel(Passkey, Dependencies dependencies);
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    ModelField<CallLanguage> myLanguage;
    ModelField<CallLanguage> theirLanguage;
    ModelField<std::optional<SpeechEngine>> myEngine{SpeechEngine::speech, changes()};
    ModelField<std::optional<SpeechEngine>> theirEngine{SpeechEngine::speech, changes()};
    ModelField<bool> isChangingLanguage{false, changes()};
    ModelField<std::optional<double>> speechDownloadProgress{std::nullopt, changes()};
    ModelField<bool> isDownloadingTranslation{false, changes()};
    ModelField<std::optional<PendingLanguageChange>> pendingLanguageChange{std::nullopt, changes()};

    // Every store runs the session grouping, changed or not.
    ReactiveField<std::vector<ConversationEntry>> entries{{}, changes()};
    ModelField<std::shared_ptr<ConversationHistory>> history{nullptr, changes()};
    ModelField<std::string> themPartial{"", changes()};
    ModelField<std::string> mePartial{"", changes()};

    ModelField<bool> hasDraft{false, changes()};
    // The draft in the user's language (recognized or typed) and its
    // translation into the other party's.
    ModelField<std::string> draftText{"", changes()};
    ModelField<std::string> draftTranslation{"", changes()};
    ModelField<bool> isTranslatingDraft{false, changes()};
    // The footer's line, in the user's language, before it becomes a draft.
    ModelField<std::string> typedText{"", changes()};
    ModelField<bool> isHoldingToTalk{false, changes()};
    ModelField<bool> isRecording{false, changes()};
    ModelField<bool> isSpeaking{false, changes()};
    ModelField<bool> confirmBeforeSend{true, changes()};
    ModelField<bool> monitorInHeadphones;
    // Each store writes the setting; a real change also moves the headphone
    // monitoring and may end free listening.
    ReactiveField<bool> translateWhileHolding;
    // A real change updates the level meters.
    ReactiveField<bool> freeListening{false, changes()};

    ModelField<bool> isListening{false, changes()};
    ModelField<bool> isChangingListening{false, changes()};
    ModelField<std::string> listeningStatus;
    ModelField<bool> listeningFailed{false, changes()};
    ModelField<std::optional<std::string>> captureFailure{std::nullopt, changes()};
    ModelField<bool> audioCaptureMissing{false, changes()};

    ModelField<bool> originalVoiceOn{false, changes()};
    ModelField<bool> callActive{false, changes()};
    ModelField<CallMicrophoneRoute> callMicrophoneRoute{CallMicrophoneRoute::unknown, changes()};
    ModelField<bool> isChangingOriginalVoice{false, changes()};

    ModelField<bool> micConfirmed{false, changes()};
    ModelField<bool> showMicCheck{false, changes()};
    ModelField<std::optional<SettingsPage>> settingsPage{std::nullopt, changes()};
    ModelField<bool> showWizard{false, changes()};
    ModelField<std::optional<std::string>> micCheckReason{std::nullopt, changes()};
    ModelField<bool> showInstallSheet{false, changes()};

    // One line for the latest action.
    ModelField<std::string> status{"", changes()};
    // At most one failure for the error alert, which clears it.
    ModelField<std::optional<std::string>> errorMessage{std::nullopt, changes()};
    // While conversations wait to be saved because the history cannot be
    // written: why, for a message in the window that blocks nothing. Set
    // once when a run of failures starts, cleared once everything is saved.
    ModelField<std::optional<std::string>> historyNotice{std::nullopt, changes()};
    ModelField<bool> translationReady{false, changes()};
    // Whether this computer can translate the pair both ways at all, now or
    // once its pack is installed; nothing is offered for download otherwise.
    ModelField<bool> translationSupported{true, changes()};
    ModelField<bool> micAuthorized;

    ModelField<std::vector<VoiceOption>> targetVoices{{}, changes()};
    ModelField<std::optional<std::string>> voiceNotice{std::nullopt, changes()};

    ModelField<bool> systemMicEnabled;

    ModelField<std::vector<AudioDevice>> inputDevices{{}, changes()};
    ModelField<std::vector<AudioDevice>> outputDevices{{}, changes()};
    // Every store keeps selectedMicUID in line, changed or not.
    ReactiveField<std::optional<AudioObjectId>> selectedInputID{std::nullopt, changes()};
    ModelField<std::optional<AudioObjectId>> selectedVirtualOutputID{std::nullopt, changes()};
    // A real change reroutes the far end and resets the echo gate.
    ReactiveField<std::optional<AudioObjectId>> selectedMonitorOutputID{std::nullopt, changes()};

    ModelField<bool> virtualMicNeedsUpdate{false, changes()};
    ModelField<bool> isInstallingDriver{false, changes()};

    // The audio server cannot be reached now.
    ModelField<bool> audioServerLost{false, changes()};
    // The server took the connection, or has it, and has not answered for
    // longer than a busy machine keeps it waiting: at start, in the middle
    // of a run, or while it is reached again after a loss.
    ModelField<bool> audioServerSilent{false, changes()};
    // At start: the server took the connection and has not answered yet, for
    // less than that while; nothing is said of it, nor of the devices it
    // would list.
    ModelField<bool> audioServerAwaited{false, changes()};

    ModelField<HearTest> hearTest{HearTest::idle(), changes()};
    ModelField<bool> isHearTesting{false, changes()};

    ModelField<std::optional<SpeakerRoute>> callSpeakerRoute{std::nullopt, changes()};

    void setTranslateWhileHolding(bool value);
    void setMetersVisible(bool value);
    void setSelectedMonitorOutputID(std::optional<AudioObjectId> value);

    std::optional<AudioDevice> virtualOutputDevice() const;
    // The driver is usable: the virtual microphone and the injection device
    // are both there.
    bool virtualMicStatus() const;
    bool canStartSpeaking() const;
    bool isMicBusy() const;
    bool isIdle() const;
    bool isShowingSheet() const;
    bool speechReady() const;
    bool speechModelMissing() const;
    // Why the talk control cannot take a hold at all, whatever else runs:
    // the pair cannot be translated here (nor can typed text), or my
    // language has no recognizer here (typed text still works).
    std::optional<std::string> holdToTalkUnavailable() const;
    // Neither an own device nor one of virtual transport.
    static bool isPhysicalDevice(const AudioDevice& device);

    rt::Async<void> start();
    // Synchronous teardown at quit; blocks at most half a second for the
    // far-end capture.
    void shutdown();
    // After shutdown(), while a stalled sound server left the default input
    // with the virtual microphone: tries the give-back again every
    // giveBackRetrySeconds until `seconds` from now. True when nothing is
    // left to give back; false leaves it to the record.
    rt::Async<bool> finishGivingBack(double seconds);
    // One such try now; true when nothing is left to give back.
    bool retryGivingBack();
    bool givingBackUnfinished() const { return systemRoute && systemRoute->giveBackUnfinished(); }
    static constexpr double giveBackRetrySeconds = 0.5;
    void dismissSheets();
    void finishOnboarding();

    void openSettings(SettingsPage page);
    void closeSettings();
    void openInstallSheet();
    void closeInstallSheet();
    // The reason is shown above the check; none when the user opened it or
    // the check needs no explanation.
    void openMicCheck(std::optional<std::string> reason = std::nullopt);
    // Puts a failure into the error alert.
    void showError(std::string message);
    // The alert was closed.
    void dismissError();
    // The history the conversation is filed into, once it is open.
    void useHistory(std::shared_ptr<ConversationHistory> store);
    // The settings switch of free listening, with the requested value.
    void freeListeningDidChange(bool requested);

    // The pick for the other party's language; empty for automatic choice.
    std::string selectedVoiceID() const;
    // Empty returns the language to automatic choice. Observers hear of a
    // real change only, but the whole map is stored on every write.
    void setSelectedVoiceID(const std::string& identifier);
    // What the settings picker lists: the enhanced and premium voices in list
    // order, and the pick whatever its quality.
    std::vector<VoiceOption> offeredVoices() const;
    void dismissVoiceNotice();
    // Plays the language's sample sentence on the headphones, never into
    // the virtual device.
    rt::Async<void> previewVoiceInHeadphones();

    bool canPlayDraft() const;
    std::string playDraftTitle() const;
    // Plays the draft's translation and records it as the user's entry.
    rt::Async<void> playDraftToPeer(HoldPlay play = HoldPlay::outsideHold);
    // The user stopped what is being spoken; nothing is when nothing plays.
    void stopPlayback();
    void setMonitorInHeadphones(bool on);
    // A ready-made phrase, given in English and as its Chinese text.
    rt::Async<void> sendQuickPhrase(std::string english, std::string chinese);

    rt::Async<void> enableMeters();
    rt::Async<void> confirmMicrophone(AudioObjectId id);
    void closeMicCheck();
    // Shows that microphone's level in the open check; none shows the selected one.
    void previewMicrophone(std::optional<AudioObjectId> id);
    rt::Async<void> setOriginalVoice(bool on);

    // Records what the virtual microphone carries, judges it and plays it
    // back on the headphones. Every outcome of a run is told through
    // hearTest and status; cancelling the caller stops it.
    rt::Async<void> startHearTest();

    // What pressed. One hold runs at a time and belongs to what started it:
    // the talk control's release or cancel leaves a hold of the shortcut
    // alone, and the other way round, so a second press refused during a
    // hold cannot end it. The model's own calls (free listening, shutdown)
    // act on any hold, and any caller ends a hold they started.
    enum class HoldSource { any, talkControl, shortcut };
    // The press of the talk control, of the hold shortcut and of free
    // listening; the rest of the hold runs in its own task.
    void beginHoldToTalk(HoldSource source = HoldSource::any);
    // A press the talk control refused: says on the status line why no hold
    // starts now, and starts none.
    void tellWhyNoHold();
    // The release.
    void endHoldToTalk(HoldSource source = HoldSource::any);
    void cancelHold(HoldSource source = HoldSource::any);
    std::string holdButtonTitle() const;

    rt::Async<void> translateTypedText();
    rt::Async<void> retranslateDraft();
    void clearDraft();
    // The user's edits of the draft panel's two fields and of the typed line.
    void editDraftText(std::string text);
    void editDraftTranslation(std::string text);
    void editTypedText(std::string text);
    void setConfirmBeforeSend(bool on);

    // Writes every changed session at once and drops the pending write. A
    // session the history cannot write stays pending and is tried again
    // saveDelay later and at every flush until it is written.
    void flushDirtySessions();
    // The footer's clear: writes what is pending, then starts afresh.
    void clearConversation();
    // None while every session is written.
    std::optional<UnsavedHistory> unsavedHistory() const;
    // The sessions the history could not write, as they would be written.
    std::vector<ConversationSession> unsavedConversations() const;
    // The end of a call and quit: what is pending is written and the next
    // entry opens a new session.
    void closeConversationSession();

    // Clears a failure and runs the automatic decision again.
    rt::Async<void> restartListening();

    // When the window is active again: takes in a capture permission given
    // or taken meanwhile, and listens again where a start failed for want of
    // it.
    rt::Async<void> recheckCapturePermission();
    // Asks the platform afresh; none where no permission guards capture.
    std::optional<AudioCapturePermission::Status> capturePermissionStatus() const;
    // What the setup steps say instead of offering a download when the pair
    // cannot be translated here; empty while it can.
    std::string untranslatablePairNote() const;
    // The note's first sentence alone, for the places that tell the user
    // before they try (the typing field, the empty conversation); empty
    // while the pair can be translated.
    std::string untranslatablePairLine() const;
    // A quick phrase can reach the other party's language: it is theirs
    // already, or this computer translates into it from English or from
    // the pair.
    bool quickPhrasesWork() const;
    std::vector<CallLanguage> myLanguageChoices() const;
    std::vector<CallLanguage> theirLanguageChoices() const;
    // One row of a language picker; `mine` for the user's side.
    std::string languageMenuLabel(const CallLanguage& language, bool mine) const;
    void refreshVoices();

    // The levels the meters show; the model switches them on and off.
    const std::shared_ptr<AudioMeters>& levelMeters() const;
    // Asks for microphone access; a refusal is shown, never thrown.
    rt::Async<void> requestMicPermission();
    // Re-reads the access when the application comes to the front.
    void refreshMicAuthorization();

    void systemMicEnabledDidChange(bool value);

    // No change is running, no speech model downloading and nothing is
    // being recorded, played or translated.
    bool canChangeLanguage() const;
    // The one way the pair changes. Unless consent is given, a pair that
    // needs downloads is only offered through pendingLanguageChange.
    rt::Async<void> changeLanguages(CallLanguage my, CallLanguage their, DownloadConsent consent);
    // The user agreed to the downloads of the pending change: the task that
    // applies it, or an empty handle when nothing was started.
    rt::TaskHandle<> chooseLanguage();
    void keepLanguages();
    // Downloads the missing recognition models of the current pair, the
    // other party's first.
    rt::Async<void> downloadSpeechModel();
    // Starts preparing the current pair's translation pack and returns.
    void downloadTranslation();

    // Whether the installed driver must be replaced, and the loaded version.
    void checkDriverUpdate();
    // Installs the carried driver and waits for its devices; every outcome
    // is told through status, errorMessage and the flags.
    rt::Async<void> installVirtualMicDriver();

    // One row per module, in the order of ModuleIDs::allCases.
    std::vector<ModuleReport> diagnosticRows() const;

    // For the pages whose settings have an owner of their own that stores
    // through the writer (the history's switch, the hold shortcut, the
    // interface language).
    SettingsWriter& settingsWriter();

private:
    // Tests set up and read the state below through it, as they do fields.
    friend struct ModelTestAccess;

    // What the operations keep between turns: the observable state no view
    // reads, task handles, continuations, watches, the components and
    // closures the model was given, and plain state. Only the model touches it.

    // Files the transcript into sessions of the history; fed every change.
    std::shared_ptr<SessionFiling> filing = std::make_shared<SessionFiling>(
        SessionFiling::Feeds{
            .transcript = [this]() -> const std::vector<ConversationEntry>& { return entries.get(); },
            .tell = [this](std::optional<std::string> notice) { historyNotice.set(std::move(notice)); }},
        FieldWriter(), changes());

    ModelField<std::optional<std::string>> lastPlayedDraftTranslation{std::nullopt, changes()};

    ModelField<bool> permissionWasMissing{false, changes()};
    ModelField<bool> captureWasDenied{false, changes()};
    ModelField<std::optional<std::string>> listeningError{std::nullopt, changes()};
    ModelField<rt::Uuid> listeningSession{newIdentifier(), changes()};
    ModelField<std::optional<std::string>> listeningLanguageID{std::nullopt, changes()};
    std::function<std::optional<AudioCapturePermission::Status>()> capturePermission;

    ModelField<bool> forwardingActive{false, changes()};
    ModelField<std::optional<rt::Instant>> callEndedAt{std::nullopt, changes()};
    ModelField<std::optional<AudioObjectId>> driverWatchDevice{std::nullopt, changes()};
    ModelField<bool> callWatching{false, changes()};
    ModelField<bool> originalVoiceOnByDefault{true, changes()};
    ModelField<bool> originalVoiceAutoStarted{false, changes()};
    CallDetector callDetector;
    CallRouteInspector callRouteInspector;
    CallObserver callObserver;
    DriverObserver driverObserver;
    WatchObject driverWatch;
    rt::TaskHandle<> callPoll;
    rt::TaskHandle<> callRecheck;

    ModelField<bool> systemMicPending{false, changes()};
    ModelField<std::optional<AudioObjectId>> systemMicLastVirtual{std::nullopt, changes()};
    ModelField<bool> systemMicChecked{false, changes()};
    ModelField<bool> systemMicWasDefault{false, changes()};
    ModelField<bool> systemMicFailureShown{false, changes()};
    ModelField<bool> sessionPrepared{false, changes()};
    ModelField<std::optional<std::string>> launchInputUID{std::nullopt, changes()};
    const std::shared_ptr<SystemAudioRoute> systemRoute;

    ModelField<std::optional<std::string>> virtualDeviceSource;
    ModelField<std::optional<AudioDevice>> virtualInputDevice{std::nullopt, changes()};
    ModelField<std::optional<std::string>> loadedDriverVersion{std::nullopt, changes()};
    std::function<bool()> driverUpdateCheck;
    const double driverDetectTimeout;
    std::function<std::optional<std::string>()> driverVersionCheck;
    std::function<std::string(const std::string& source)> deviceSetupStep;
    std::function<std::optional<std::string>()> bundledDriverVersion;

    ModelField<bool> metersEnabled{false, changes()};
    // A real change updates the level meters.
    ReactiveField<bool> metersVisible{true, changes()};
    ModelField<std::optional<AudioObjectId>> meterPreviewMicID{std::nullopt, changes()};
    const std::shared_ptr<AudioMeters> meters;
    std::shared_ptr<AudioDeviceWatcher> deviceWatcher;
    std::shared_ptr<AudioServiceRestartWatcher> serviceWatcher;
    std::shared_ptr<AudioServerWatcher> serverWatcher;
    rt::Subscription wakeObservation;
    // Clears the latest action's line when the interface language changes.
    rt::Subscription interfaceLanguageWatch;

    // From the loss until the recovery has run: the device lists, listening
    // and forwarding are held as they were, and what fails for want of the
    // server is put right by the recovery instead of told to the user.
    bool awaitingAudioServer = false;
    // Listening ran (or was starting) when the server went.
    bool listenAfterServerReturns = false;
    // The devices in use when the server went (UIDs), looked for on its return.
    std::vector<std::string> devicesBeforeServerLoss;
    rt::TaskHandle<> serverRecovery;
    // Counts a silence of the server until it is told.
    rt::TaskHandle<> serverSilence;
    // The server answered once since the model started watching it.
    bool serverEverAnswered = false;

    // Waits for an accepted takeover to apply; tells the user if it did not.
    rt::Async<void> confirmSystemMic();
    rt::TaskHandle<> systemMicConfirmation;

    const double hearTestSeconds = 3.0;

    ModelField<std::optional<SpeakerRoute>> callSpeakerFailed{std::nullopt, changes()};
    ModelField<std::optional<AudioObjectId>> headphoneRateDevice{std::nullopt, changes()};
    const std::shared_ptr<DirectVoiceRouting> callSpeaker;
    SpeakerPlayback speakerPlayback;
    DeviceRates deviceRates;
    WatchObject headphoneRateWatch;

    ModelField<std::map<std::string, LanguageReadiness>> myMenu{{}, changes()};
    ModelField<std::map<std::string, LanguageReadiness>> theirMenu{{}, changes()};
    ModelField<std::optional<LanguagePair>> languagesBeforeChange{std::nullopt, changes()};
    ModelField<std::optional<std::string>> translationPair{std::nullopt, changes()};

    ModelField<bool> theirSpeechReady{false, changes()};
    ModelField<bool> mySpeechReady{false, changes()};
    // While the pair cannot be translated here: every pair this computer
    // translates both ways as installed now, each once, in the order of the
    // call languages (pairs that need their packages installed first are the
    // distribution's to offer).
    ModelField<std::vector<LanguagePair>> translatablePairs{{}, changes()};
    ModelField<std::optional<rt::Uuid>> translationDownloadID{std::nullopt, changes()};

    ModelField<std::map<std::string, std::string>> voiceChoices{{}, changes()};
    // The call language targetVoices were listed for.
    std::string targetVoicesLanguage;

    ModelField<std::optional<std::string>> selectedMicUID{std::nullopt, changes()};
    ModelField<std::optional<AudioDevice>> virtualTapDevice{std::nullopt, changes()};
    ModelField<std::optional<rt::Instant>> devicesReadAt{std::nullopt, changes()};

    SettingsStore& defaults;
    // Every write of a setting, the model's and the views', goes through
    // here; a refused one lands in errorMessage.
    SettingsWriter writer;
    const std::shared_ptr<DirectVoiceRouting> directVoice;
    const std::shared_ptr<VirtualMicProbing> probe;
    std::function<std::vector<AudioDevice>()> listDevices;
    std::function<std::optional<AudioObjectId>(DeviceDirection)> systemDefault;
    // Whether the platform grants microphone access now, without asking.
    std::function<bool()> microphoneAuthorized;
    std::function<rt::Async<bool>()> microphonePermission;
    std::function<std::vector<VoiceOption>(const CallLanguage&)> voiceList;
    LanguageServices languageServices;
    std::function<rt::Async<void>(std::string step)> ensureVirtualDevices;
    // Fixed at 12 s; the hold deadlines do not read it.
    const double recognitionTimeout;
    const std::shared_ptr<OwnSpeechRecording> ownSpeechRecorder;
    std::function<rt::Async<std::string>(std::string)> outgoingTranslator;
    const std::shared_ptr<IncomingListening> incoming;
    const std::shared_ptr<SpeechPlaying> speaker;
    const std::shared_ptr<TranslationService> translator;
    const std::shared_ptr<EchoGuard> echoGuard;
    SessionFactory makeRecognitionSession;
    std::function<ActivityToken(const std::string& reason)> beginActivity;
    std::function<void(const ActivityToken&)> endActivity;
    std::function<rt::Subscription(std::function<void()> onWake)> observeDidWake;
    DeviceWatcherFactory makeDeviceWatcher;
    ServiceWatcherFactory makeServiceWatcher;
    ServerWatcherFactory makeServerWatcher;
    std::function<bool()> audioServerRunning;

    // The steps the operations above are made of, the callbacks the model
    // hands to its components, and the timings they keep.

    // After the server came back: how long its devices get to reappear, and
    // how often they are looked for.
    static constexpr double serverDevicesWait = 5.0;
    static constexpr double serverDevicesInterval = 0.25;
    // How long the server may keep the connection without an answer before
    // that is told: at start a loaded machine or a server started on demand
    // takes a moment; once it has answered, a longer silence is a stall.
    static constexpr double startSilenceGrace = 1.0;
    static constexpr double runSilenceGrace = 2.0;

    void setEntries(std::vector<ConversationEntry> value);
    void setFreeListening(bool value);
    void setSelectedInputID(std::optional<AudioObjectId> value);

    // The virtual microphone: the input record when known, else the first
    // listed output with its UID and input channels.
    std::optional<AudioDevice> virtualMicDevice() const;
    // A device of the virtual driver.
    static bool isOwnDevice(const AudioDevice& device);

    // Once per process: restores a route left by an earlier run, notes the
    // input that was the default at launch and arms the takeover.
    void prepareSession();
    void startWatching();
    rt::Async<void> refreshAfterLaunch();

    void translateWhileHoldingDidChange(bool oldValue);

    // The stored voice picks, with the one-time move of the old English pick.
    std::map<std::string, std::string> loadVoiceChoices();
    // The voice every speech of the other party's language uses: the pick,
    // else the best installed voice; none when the language has no voice.
    std::optional<std::string> speakingVoiceID() const;

    // Speaks the text into the virtual device (and the headphones when they
    // monitor); true only when it was played to the end.
    rt::Async<bool> speakToPeer(std::string text, HoldPlay play);
    // English to the other party's language can be translated here.
    bool englishPackAvailable() const;

    // Makes the text the draft, with no translation yet and nothing played.
    void showDraft(std::string text);
    // Makes the text the draft, translates it and, unless it must be
    // checked first or its hold is over, plays it.
    rt::Async<void> translateDraft(std::string text, DraftSource source, HoldPlay play,
                                   std::function<bool()> isStillCurrent = {});
    // The trimmed translation into the other party's language, under its
    // deadline; an empty one is a failure.
    rt::Async<std::string> translateOwnText(std::string text);

    rt::Async<void> startListening();
    // Stops the far-end listener; results of the stopped session are dropped.
    rt::Async<void> pauseListening();
    // After a start that failed for want of the capture permission, once it
    // is no longer denied.
    rt::Async<void> retryListening();
    // Listening that hears another language than the pair now set starts
    // over, unless a start, a pause or a language change is still running.
    rt::Async<void> relistenForCurrentPair();
    // The far-end session's callbacks, with the token of the start that made it.
    void handleIncomingResult(const std::string& text, bool isFinal, const rt::Uuid& session);
    void handleListeningInterrupted(const std::string& reason, const rt::Uuid& session);
    // The interrupted session's pause, and its failure unless the server went.
    rt::Async<void> pauseInterruptedListening(std::string reason, rt::Uuid session);
    void applyIncomingResult(const std::string& text, bool isFinal);
    // Writes the caption translation into the entry with that id, if it is
    // still there.
    rt::Async<void> translateIncomingEntry(rt::Uuid id, std::string text);
    // The translation of one far-end sentence, or a bracketed notice; never fails.
    rt::Async<std::string> captionTranslation(std::string text);

    rt::Async<void> refreshCapturePermission();
    rt::Async<void> refreshLanguageReadiness();
    // Resets the translator for a new pair and reads whether both directions
    // are installed, or can be.
    rt::Async<void> prepareTranslationPair();
    // Asks which pairs this computer translates both ways now, one question
    // at a time.
    rt::Async<std::vector<LanguagePair>> findTranslatablePairs();
    // The automatic-listening decision.
    rt::Async<void> listeningReadinessNotice();
    rt::Async<void> refreshLanguageMenus();
    // What choosing a language on that side can and cannot do, against the
    // current other side; empty when it can do everything.
    std::string readinessNote(const LanguageReadiness& readiness, bool mine) const;

    // Rebuilds the lists from the watcher's reading, or from a fresh read,
    // repairs every selection that lost its device and lets the routes,
    // meters and watches follow.
    void refreshDevices(std::optional<DeviceReading> reading = std::nullopt);
    // After the audio service restarted or the machine woke.
    void recoverAudioDevices();
    // The audio server's watcher: it went away or can be reached again, or
    // stopped or started answering.
    void audioServerChanged(bool running);
    // Starts counting a silence of the server, or ends it.
    void followServerSilence(bool running, bool answering);
    rt::Async<void> tellServerSilence(double grace);
    // Waits for the devices in use before the loss, then brings back what
    // ran: the device selections and routes, forwarding and listening.
    rt::Async<void> recoverFromServerLoss();
    // The far-end capture or own-voice forwarding stopped, or devices went,
    // while the server is away: the recovery starts them again. A server found
    // gone here is taken as lost before the caller touches anything.
    bool heldForAudioServer();
    // The watch on who starts and stops I/O on the virtual microphone; call
    // watching polls while there is none.
    void watchDriverDevice();
    void watchHeadphoneRate();

    // The virtual microphone must stay unread this long before a call ends.
    static constexpr double callGracePeriod = 1.5;
    // Added to the rest of the grace period when its re-check is scheduled.
    static constexpr double callGraceMargin = 0.05;
    // The re-check after every change notification.
    static constexpr double callChangeRecheck = 0.5;
    // Between two readings of the polling task.
    static constexpr double callPollInterval = 0.4;
    // The change callback of the client observer and of the driver watch.
    void callStateChanged();
    // Reads once whether a call is on, records a start or an end, and brings
    // forwarding, meters and the headphone route up to date.
    rt::Async<void> refreshCallState();
    rt::Async<void> refreshCallStateAndRecheck();
    // Replaces any pending re-check; does nothing while polling.
    void scheduleCallRecheck(double delay);
    rt::Async<void> recheckCallStateAfter(double delay);
    rt::Async<void> pollCallState();

    void updateMeters();

    // Starts or stops forwarding as the call, the hear test and the devices
    // allow; own voice itself stays as the user set it.
    rt::Async<void> startOriginalVoice();
    // Restarts forwarding on the devices just rebuilt.
    void reapplyOriginalVoice();
    // Gives forwarding up; own voice is switched off.
    void stopForwarding();
    // The forwarder stopped or could not start: own voice off, and the user told.
    void originalVoiceFailed(const std::string& reason);

    // Makes the virtual microphone the default input while a takeover is pending.
    void applySystemMic();
    // Puts back the default input saved before the takeover.
    void restoreSystemMic();
    // At quit: records a takeover that the server applied after reporting
    // it as failed, so that it is given back too.
    void recordLateTakeover();
    // Whether the server, asked, has the virtual microphone as its default
    // input; none when it cannot be asked or the device is not there.
    std::optional<bool> virtualMicIsDefault() const;
    // The device UID the input went back to, when it did.
    std::optional<std::string> reclaimStrandedSystemMic();
    // How long a switch the server accepted may take to apply before the
    // user is told it did not.
    static constexpr double systemMicSettleSeconds = 5.0;
    // How often the server is asked meanwhile.
    static constexpr double systemMicCheckSeconds = 0.5;

    void routeCallSpeaker();
    // A route's forwarder stopped by itself; reports of an older route are dropped.
    void routeFailureMessage(const std::string& reason, const SpeakerRoute& route);
    // While no route runs, gives the virtual microphone the headphones' rate.
    void refreshCallSpeakerRoute();

    // The pack task of downloadTranslation; only the newest one reports.
    rt::Async<void> prepareTranslationPacks(std::string source, std::string target, rt::Uuid id);
    // Commits an open change once speech and translation are both ready.
    rt::Async<void> finishLanguageChange();
    // Puts back the pair from before the open change; `reason` leads the status.
    rt::Async<void> revertLanguageChange(std::string reason);

    // Writes a setting; a store that refuses shows its text in errorMessage
    // and gives false, so no failure escapes into a setter.
    bool writeSetting(std::string_view key, DefaultsValue value);
    bool removeSetting(std::string_view key);

    AppModel(Dependencies& dependencies, LanguagePair languages);
    // The checks a requested pair must pass: my language has a recognizer and
    // the translation works both ways; then, unless the user already agreed,
    // every missing speech model and translation pack is gathered. True when
    // the pair is to be applied now; otherwise writes the refusal to `status`
    // or the missing downloads to `pendingLanguageChange` itself.
    rt::Async<bool> checkLanguageChange(const CallLanguage& my, const CallLanguage& their, DownloadConsent consent);
    rt::Async<void> applyLanguageChange(CallLanguage my, CallLanguage their);
    // Stores the pair and writes it to the settings.
    void storeLanguages(const CallLanguage& my, const CallLanguage& their);
    // The item of a speech-model download that may report progress now.
    struct SpeechDownloadStamp {
        rt::Uuid run;
        std::size_t item = 0;
        bool operator==(const SpeechDownloadStamp&) const = default;
    };
    std::optional<SpeechDownloadStamp> currentSpeechDownload;
    void speechDownloadProgressed(const SpeechDownloadStamp& stamp, std::size_t items, double fraction);
    // The new driver's devices are all listed.
    bool driverDetected() const;
    // The capture preflight says denied; an absent preflight never does.
    bool captureDenied() const;
    // The end of a failed start: the listener stopped, the failure shown.
    rt::Async<void> failListeningStart(std::string reason);
    // Every generation token the model makes comes from here.
    static rt::Uuid newIdentifier();
    // Every language but `taken`, in the listed order: a side never offers
    // the language the other side speaks.
    static std::vector<CallLanguage> languagesOtherThan(const CallLanguage& taken);
    // The listed device with that id; none for no id.
    static std::optional<AudioDevice> findDevice(const std::vector<AudioDevice>& devices,
                                                 std::optional<AudioObjectId> id);
    // Fresh stop of own-voice forwarding, then a start on these devices.
    void startForwarder(AudioObjectId input, AudioObjectId output);
    void startCallPoll();

    // The hold of the talk control, from an accepted press to its end.
    std::shared_ptr<HoldToTalk> makeHold();
    std::shared_ptr<HoldToTalk> hold = makeHold();
    // What started the latest hold.
    HoldSource holdSource = HoldSource::any;
    bool holdAnswers(HoldSource source) const;
    static rt::Async<std::string> translateNow(std::weak_ptr<AppModel> weak, std::string text);
};

}  // namespace parlaro
