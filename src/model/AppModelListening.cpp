// Listening to the other party: starting the far-end listener, its failure,
// the retries and the pause.

#include "model/AppModel.h"

#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "speech/Localization.h"

#include <exception>
#include <utility>

namespace parlaro {

namespace {

// Stops the listener; a stop that fails still leaves listening stopped as far
// as the model is concerned, so the caller goes on either way.
rt::Async<void> stopListener(std::shared_ptr<IncomingListening> listener)
{
    try {
        co_await listener->stop();
    } catch (...) {
        // Nothing is left running that the model could still stop.
    }
}

}  // namespace

std::optional<AudioCapturePermission::Status> AppModel::capturePermissionStatus() const
{
    return capturePermission ? capturePermission() : std::nullopt;
}

bool AppModel::captureDenied() const
{
    return capturePermissionStatus() == AudioCapturePermission::Status::denied;
}

rt::Async<void> AppModel::startListening()
{
    if (isListening.get() || isChangingListening.get() || !theirSpeechReady.get() || !translationReady.get()
        || !theirEngine.get())
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    isChangingListening.set(true);
    listeningStatus.set(localized("正在开启自动收听…"));
    captureFailure.set(std::nullopt);
    const rt::Uuid token = newIdentifier();
    listeningSession.set(token);

    // The language this session hears, even when the pair changes during the start.
    const std::string locale = theirLanguage.get().speechLocale;
    const std::string languageID = theirLanguage.get().id;
    IncomingListening::ResultHandler onResult = [weak, token](const std::string& text, bool isFinal) {
        if (auto self = weak.lock())
            self->handleIncomingResult(text, isFinal, token);
    };
    IncomingListening::ErrorHandler onError = [weak, token](const std::string& reason) {
        if (auto self = weak.lock())
            self->handleListeningInterrupted(reason, token);
    };

    // The listener starts the session and then the capture on its queue, and
    // cleans both up itself when either fails.
    const std::shared_ptr<IncomingListening> listener = incoming;
    std::optional<std::string> failure;
    try {
        auto session = makeRecognitionSession(locale, *theirEngine.get(), RecognitionMode::continuous);
        co_await listener->start(std::move(session), std::move(onResult), std::move(onError));
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (weak.expired())
        co_return;
    if (!failure) {
        // A stop that the capture or the recognizer reported during the start
        // reaches the main actor after it; let it arrive before looking.
        co_await rt::yieldNow();
        if (weak.expired())
            co_return;
        if (const auto& reason = captureFailure.get())
            failure = DomainError("Parlaro", 3, *reason).localizedDescription();
    }
    if (failure) {
        co_await failListeningStart(std::move(*failure));
        co_return;
    }

    isListening.set(true);
    listeningLanguageID.set(languageID);
    listeningFailed.set(false);
    listeningError.set(std::nullopt);
    permissionWasMissing.set(false);
    if (captureDenied()) {
        // The capture runs but hears silence until the permission is granted.
        captureWasDenied.set(true);
        audioCaptureMissing.set(true);
        listeningStatus.set(localized("收听未开启 · 需要「系统录音」权限"));
    } else {
        listeningStatus.set(localized("自动收听中 · 对方说话即记录并翻译"));
    }
    isChangingListening.set(false);

    // A language change that gave up waiting for this start has already
    // committed; a change still running looks again when it ends.
    co_await relistenForCurrentPair();
}

rt::Async<void> AppModel::relistenForCurrentPair()
{
    if (!isListening.get() || isChangingListening.get() || isChangingLanguage.get()
        || listeningLanguageID.get().value_or("") == theirLanguage.get().id)
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    co_await pauseListening();
    if (weak.expired())
        co_return;
    co_await listeningReadinessNotice();
}

rt::Async<void> AppModel::failListeningStart(std::string reason)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    // Whatever the failed session still reports is dropped from here on.
    listeningSession.set(newIdentifier());
    co_await stopListener(incoming);
    if (weak.expired())
        co_return;
    isListening.set(false);
    if (heldForAudioServer()) {
        // Nothing can start without the server; the recovery tries again.
        listenAfterServerReturns = true;
        listeningStatus.set(localized("已暂停自动收听"));
        isChangingListening.set(false);
        co_return;
    }
    listeningFailed.set(true);
    listeningError.set(reason);
    const bool denied = captureDenied();
    permissionWasMissing.set(denied);
    if (denied) {
        // Granting the permission is the cure; the retry on activation does the rest.
        audioCaptureMissing.set(true);
        listeningStatus.set(localized("收听未开启 · 需要「系统录音」权限"));
    } else {
        listeningStatus.set(localized("收听未开启 · 请检查后重试"));
        errorMessage.set(localized("无法开始收听：%@", reason));
    }
    isChangingListening.set(false);
}

rt::Async<void> AppModel::retryListening()
{
    if (!permissionWasMissing.get() || captureDenied())
        co_return;
    permissionWasMissing.set(false);
    audioCaptureMissing.set(false);
    listeningFailed.set(false);
    errorMessage.set(std::nullopt);
    co_await listeningReadinessNotice();
}

rt::Async<void> AppModel::restartListening()
{
    if (isChangingListening.get())
        co_return;
    listeningFailed.set(false);
    co_await listeningReadinessNotice();
}

rt::Async<void> AppModel::pauseListening()
{
    if (isChangingListening.get())
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    isChangingListening.set(true);
    co_await stopListener(incoming);
    if (weak.expired())
        co_return;
    listeningSession.set(newIdentifier());
    themPartial.set("");
    isListening.set(false);
    listeningStatus.set(localized("已暂停自动收听"));
    isChangingListening.set(false);
}

}  // namespace parlaro
