// Downloading what the current pair misses, and settling a language change:
// committed once speech and translation are ready, put back when a download
// fails.
//
// speechDownloadProgress being set is what keeps a second speech download
// and every language change out, so only reports of the item running now may
// set it: a report that arrives after its download returned or threw, or
// from an earlier run, would set it again with nothing left to clear it.

#include "model/AppModel.h"

#include "model/ModelTask.h"
#include "runtime/Error.h"
#include "runtime/Task.h"
#include "speech/Localization.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace parlaro {

void AppModel::speechDownloadProgressed(const SpeechDownloadStamp& stamp, std::size_t items, double fraction)
{
    if (currentSpeechDownload != stamp || std::isnan(fraction))
        return;
    const double done = std::clamp(fraction, 0.0, 1.0);
    speechDownloadProgress.set((static_cast<double>(stamp.item) + done) / static_cast<double>(items));
}

rt::Async<void> AppModel::downloadSpeechModel()
{
    if (speechDownloadProgress.get())
        co_return;
    struct Item {
        CallLanguage language;
        SpeechEngine engine;
        bool theirs;
    };
    std::vector<Item> items;
    if (theirEngine.get() && !theirSpeechReady.get())
        items.push_back({theirLanguage.get(), *theirEngine.get(), true});
    if (myEngine.get() && !mySpeechReady.get())
        items.push_back({myLanguage.get(), *myEngine.get(), false});
    if (items.empty())
        co_return;

    const std::weak_ptr<AppModel> weak = weak_from_this();
    const LanguageServices services = languageServices;
    const CallLanguage my = myLanguage.get();
    const CallLanguage their = theirLanguage.get();
    const rt::Uuid run = newIdentifier();
    speechDownloadProgress.set(0.0);

    std::exception_ptr failure;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const Item& item = items[index];
        status.set(localized("正在下载%@语音识别模型…", item.language.displayName()));
        const SpeechDownloadStamp stamp{run, index};
        currentSpeechDownload = stamp;
        const std::size_t count = items.size();
        LanguageServices::Progress progress = [weak, stamp, count](double fraction) {
            if (auto self = weak.lock())
                self->speechDownloadProgressed(stamp, count, fraction);
        };
        try {
            co_await services.downloadSpeech(item.language, item.engine, {my.speechLocale, their.speechLocale},
                                             std::move(progress));
        } catch (...) {
            failure = std::current_exception();
        }
        if (weak.expired())
            co_return;
        currentSpeechDownload.reset();
        if (failure)
            break;
        // A model for a pair that is no longer current is of no use here.
        if (myLanguage.get() != my || theirLanguage.get() != their) {
            speechDownloadProgress.set(std::nullopt);
            co_return;
        }
        (item.theirs ? theirSpeechReady : mySpeechReady).set(true);
    }

    if (failure) {
        if (languagesBeforeChange.get()) {
            co_await revertLanguageChange(localized("语音识别模型下载失败"));
            if (weak.expired())
                co_return;
        } else {
            status.set(localized("语音识别模型下载失败"));
            errorMessage.set(localized("下载语音识别模型失败：%@", describe(failure)));
        }
        speechDownloadProgress.set(std::nullopt);
        co_return;
    }

    status.set(localized("语音识别模型已就绪"));
    co_await finishLanguageChange();
    if (weak.expired())
        co_return;
    co_await listeningReadinessNotice();
    if (weak.expired())
        co_return;
    speechDownloadProgress.set(std::nullopt);
}

void AppModel::downloadTranslation()
{
    const rt::Uuid id = newIdentifier();
    translationDownloadID.set(id);
    isDownloadingTranslation.set(true);
    spawnOnModel(weak_from_this(),
                 [source = theirLanguage.get().id, target = myLanguage.get().id, id](AppModel& model) {
                     return model.prepareTranslationPacks(source, target, id);
                 });
}

rt::Async<void> AppModel::finishLanguageChange()
{
    if (!speechReady() || !translationReady.get())
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    languagesBeforeChange.set(std::nullopt);
    listeningFailed.set(false);
    // Listening that still hears the old language starts over in the new one.
    if (isListening.get() && listeningLanguageID.get().value_or("") != theirLanguage.get().id) {
        co_await pauseListening();
        if (weak.expired())
            co_return;
    }
    co_await listeningReadinessNotice();
}

rt::Async<void> AppModel::revertLanguageChange(std::string reason)
{
    const std::optional<LanguagePair> before = languagesBeforeChange.get();
    if (!before)
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    languagesBeforeChange.set(std::nullopt);
    const auto& [my, their] = *before;
    storeLanguages(my, their);
    co_await refreshLanguageReadiness();
    if (weak.expired())
        co_return;
    refreshVoices();
    status.set(localized("%@，已改回 我说%@ → 对方说%@", reason, my.displayName(), their.displayName()));
    listeningFailed.set(false);
    co_await listeningReadinessNotice();
    if (weak.expired())
        co_return;
    co_await refreshLanguageMenus();
}

}  // namespace parlaro
