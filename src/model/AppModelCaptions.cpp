// The other party's speech as a live caption and as entries with their
// translation, and what an interrupted listener leaves behind.

#include "model/AppModel.h"

#include "audio/RecordingTranscript.h"
#include "model/ModelTask.h"
#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "speech/Localization.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace parlaro {

void AppModel::handleIncomingResult(const std::string& text, bool isFinal, const rt::Uuid& session)
{
    // A result of an older start belongs to a session that is gone.
    if (listeningSession.get() != session)
        return;
    applyIncomingResult(text, isFinal);
}

void AppModel::applyIncomingResult(const std::string& text, bool isFinal)
{
    std::string sentence = RecordingTranscript::trimmed(text);
    if (!isFinal) {
        themPartial.set(std::move(sentence));
        return;
    }
    themPartial.set("");
    if (sentence.empty())
        return;

    const CallLanguage& their = theirLanguage.get();
    const CallLanguage& mine = myLanguage.get();
    const ConversationEntry entry{.id = newIdentifier(),
                                  .side = ConversationEntry::Side::them,
                                  .original = sentence,
                                  .translated = localized("…"),
                                  .time = rt::clock().date(),
                                  .originalLanguage = their.id,
                                  .translatedLanguage = mine.id};
    std::vector<ConversationEntry> list = entries.get();
    list.push_back(entry);
    setEntries(std::move(list));

    // Each sentence is translated on its own; they may finish in any order.
    spawnOnModel(weak_from_this(),
                 [id = entry.id, sentence](AppModel& model) { return model.translateIncomingEntry(id, sentence); });
}

rt::Async<void> AppModel::translateIncomingEntry(rt::Uuid id, std::string text)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    std::string translation = co_await captionTranslation(std::move(text));
    if (weak.expired())
        co_return;
    std::vector<ConversationEntry> list = entries.get();
    const auto found =
        std::find_if(list.begin(), list.end(), [&](const ConversationEntry& entry) { return entry.id == id; });
    // Cleared meanwhile: the sentence is gone and so is its translation.
    if (found == list.end())
        co_return;
    found->translated = std::move(translation);
    setEntries(std::move(list));
}

rt::Async<std::string> AppModel::captionTranslation(std::string text)
{
    if (!translationReady.get())
        co_return localized("（翻译未就绪）");
    // The pair in force now; the service keeps its own limits on how long it waits.
    const std::string source = theirLanguage.get().id;
    const std::string target = myLanguage.get().id;
    const std::shared_ptr<TranslationService> service = translator;
    std::optional<std::string> translation;
    std::string failure;
    try {
        translation = co_await service->translate(std::move(text), source, target);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (translation)
        co_return std::move(*translation);
    co_return localized("（翻译失败：%@）", failure);
}

void AppModel::handleListeningInterrupted(const std::string& reason, const rt::Uuid& session)
{
    if (listeningSession.get() != session)
        return;
    // A start in progress picks the reason up and fails with it.
    captureFailure.set(reason);
    if (isChangingListening.get())
        return;
    spawnOnModel(weak_from_this(),
                 [reason, session](AppModel& model) { return model.pauseInterruptedListening(reason, session); });
}

rt::Async<void> AppModel::pauseInterruptedListening(std::string reason, rt::Uuid session)
{
    // By the time this runs, a pause (and maybe a new start) may have ended
    // the session that was interrupted; the new one is left alone.
    if (isChangingListening.get() || listeningSession.get() != session)
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    co_await pauseListening();
    if (weak.expired())
        co_return;
    // The server went away under the capture: no failure to show, the
    // recovery listens again.
    if (heldForAudioServer()) {
        listenAfterServerReturns = true;
        co_return;
    }
    listeningFailed.set(true);
    listeningError.set(reason);
    listeningStatus.set(localized("收听已中断 · 点击重试收听"));
    errorMessage.set(localized("收听已中断：%@", reason));
}

}  // namespace parlaro
