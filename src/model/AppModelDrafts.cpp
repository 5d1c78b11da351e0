// The user's own sentences turned into drafts: their translation under its
// deadline, the decision to play at once or wait, and the draft panel's
// actions.

#include "model/AppModel.h"

#include "audio/RecordingTranscript.h"
#include "runtime/Error.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <exception>
#include <utility>

namespace parlaro {

namespace {

constexpr double translationSeconds = 20.0;

// A cancellation has no text of its own; the user is told it was cancelled.
std::string failureText(const std::exception_ptr& error)
{
    return rt::isCancellation(error) ? localized("已取消") : describe(error);
}

}  // namespace

void AppModel::showDraft(std::string text)
{
    lastPlayedDraftTranslation.set(std::nullopt);
    draftText.set(std::move(text));
    draftTranslation.set("");
    hasDraft.set(true);
}

rt::Async<void> AppModel::translateDraft(std::string text, DraftSource source, HoldPlay play,
                                         std::function<bool()> isStillCurrent)
{
    showDraft(text);
    // Nothing is tried that cannot be done here: the text stays in the
    // draft, and the user reads why in the setup steps' words.
    if (!translationSupported.get()) {
        status.set(untranslatablePairLine());
        co_return;
    }
    isTranslatingDraft.set(true);
    status.set(localized("正在翻译成%@…", theirLanguage.get().displayName()));

    const std::weak_ptr<AppModel> weak = weak_from_this();
    std::string translated;
    std::exception_ptr failure;
    try {
        translated = co_await translateOwnText(std::move(text));
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return;
    isTranslatingDraft.set(false);
    if (failure) {
        if (rt::isCancellation(failure)) {
            status.set(localized("已取消本句，原文已保留，未发送"));
        } else {
            status.set(localized("翻译失败，未发送；可修改后重新翻译"));
            errorMessage.set(localized("翻译失败：%@", describe(failure)));
        }
        co_return;
    }
    draftTranslation.set(translated);
    if (isStillCurrent && !isStillCurrent()) {
        status.set(localized("已取消自动发送，内容保留在草稿中"));
        co_return;
    }
    if (confirmBeforeSend.get() && source == DraftSource::typed) {
        status.set(localized("请核对%@翻译，确认无误后点「播放给对方」", theirLanguage.get().displayName()));
        co_return;
    }
    co_await playDraftToPeer(play);
}

rt::Async<std::string> AppModel::translateOwnText(std::string text)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    co_return co_await withDeadline<std::string>(translationSeconds, localized("翻译"), "TR-3", std::nullopt,
                                                 [weak, text] { return translateNow(weak, text); });
}

rt::Async<std::string> AppModel::translateNow(std::weak_ptr<AppModel> weak, std::string text)
{
    // Takes what the translation needs and lets go of the model before it
    // waits: a model released meanwhile is not kept alive by its translation.
    std::function<rt::Async<std::string>(std::string)> translate;
    {
        auto self = weak.lock();
        if (!self)
            throw rt::CancellationError();
        if (self->outgoingTranslator) {
            translate = self->outgoingTranslator;
        } else if (!self->translationReady.get()) {
            throw ModuleError(ModuleID::translation, 2, localized("翻译语言包未安装"));
        } else {
            translate = [service = self->translator, from = self->myLanguage.get().id,
                         to = self->theirLanguage.get().id](std::string source) {
                return service->translate(std::move(source), from, to);
            };
        }
    }
    const std::string result = co_await translate(std::move(text));
    std::string trimmed = RecordingTranscript::trimmed(result);
    if (trimmed.empty())
        throw ModuleError(ModuleID::translation, 4, localized("翻译结果为空"));
    co_return trimmed;
}

rt::Async<void> AppModel::translateTypedText()
{
    if (isMicBusy() || isSpeaking.get() || isTranslatingDraft.get())
        co_return;
    const std::string text = RecordingTranscript::trimmed(typedText.get());
    if (text.empty())
        co_return;
    // The field says so before anything is typed; the text stays in it.
    if (!translationSupported.get()) {
        status.set(untranslatablePairLine());
        co_return;
    }
    typedText.set("");
    co_await translateDraft(text, DraftSource::typed, HoldPlay::outsideHold);
}

rt::Async<void> AppModel::retranslateDraft()
{
    if (isSpeaking.get() || isTranslatingDraft.get() || isRecording.get())
        co_return;
    lastPlayedDraftTranslation.set(std::nullopt);
    const std::string text = RecordingTranscript::trimmed(draftText.get());
    if (text.empty())
        co_return;
    if (!translationSupported.get()) {
        status.set(untranslatablePairLine());
        co_return;
    }
    isTranslatingDraft.set(true);
    draftTranslation.set("");
    const std::weak_ptr<AppModel> weak = weak_from_this();
    std::string translated;
    std::exception_ptr failure;
    try {
        translated = co_await translateOwnText(text);
    } catch (...) {
        failure = std::current_exception();
    }
    if (weak.expired())
        co_return;
    if (failure)
        errorMessage.set(localized("翻译失败：%@", failureText(failure)));
    else
        draftTranslation.set(translated);
    isTranslatingDraft.set(false);
}

void AppModel::clearDraft()
{
    if (isSpeaking.get())
        return;
    hasDraft.set(false);
    draftText.set("");
    draftTranslation.set("");
    lastPlayedDraftTranslation.set(std::nullopt);
    status.set(localized("已取消"));
}

void AppModel::editDraftText(std::string text)
{
    draftText.set(std::move(text));
}

void AppModel::editDraftTranslation(std::string text)
{
    draftTranslation.set(std::move(text));
}

void AppModel::editTypedText(std::string text)
{
    typedText.set(std::move(text));
}

void AppModel::setConfirmBeforeSend(bool on)
{
    confirmBeforeSend.set(on);
}

}  // namespace parlaro
