// Changing the language pair while the model runs: what refuses a change,
// the question when the new pair needs downloads, and applying a change
// around a pause of listening.
//
// isChangingLanguage is the one guard against a second change; it is set
// before the first suspension and cleared on every way out, a thrown one
// included, or every later change would be ignored for good.

#include "model/AppModel.h"

#include "model/ModelTask.h"
#include "model/SleepThroughCancellation.h"
#include "runtime/Task.h"
#include "speech/Localization.h"

#include <exception>
#include <utility>

namespace parlaro {

namespace {

// How often, and how far apart, the change looks whether a listening start
// or stop has ended before it goes on regardless: 5 s at most.
constexpr int listeningChecks = 100;
constexpr double listeningCheckInterval = 0.05;

}  // namespace

bool AppModel::canChangeLanguage() const
{
    return !isChangingLanguage.get() && !speechDownloadProgress.get() && !isMicBusy() && !isSpeaking.get()
        && !isTranslatingDraft.get() && !isHoldingToTalk.get();
}

rt::Async<void> AppModel::changeLanguages(CallLanguage my, CallLanguage their, DownloadConsent consent)
{
    if (my == their || (my == myLanguage.get() && their == theirLanguage.get()) || isChangingLanguage.get())
        co_return;
    if (!canChangeLanguage()) {
        status.set(speechDownloadProgress.get() ? localized("正在下载语音识别模型，完成后再切换语言")
                                                : localized("正在说话、识别或播放，结束后再切换语言"));
        co_return;
    }
    const std::weak_ptr<AppModel> weak = weak_from_this();
    isChangingLanguage.set(true);
    try {
        const bool apply = co_await checkLanguageChange(my, their, consent);
        if (apply && !weak.expired())
            co_await applyLanguageChange(std::move(my), std::move(their));
    } catch (...) {
        if (!weak.expired())
            isChangingLanguage.set(false);
        throw;
    }
    if (weak.expired())
        co_return;
    isChangingLanguage.set(false);
    // A slow listening start may have ended while the change still ran (its
    // own look at the pair is skipped then): whatever still hears another
    // language than the one now set starts over.
    co_await relistenForCurrentPair();
}

rt::Async<bool> AppModel::checkLanguageChange(const CallLanguage& my, const CallLanguage& their,
                                              DownloadConsent consent)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const LanguageServices services = languageServices;

    // A language this computer cannot recognize may be either side, as long
    // as the other one can be: then one way is spoken (the other party's
    // captions, or my held speech) and the other way typed or uncaptioned.
    const std::optional<SpeechEngine> myRecognizer = co_await services.engine(my);
    const std::optional<SpeechEngine> theirRecognizer = co_await services.engine(their);
    if (weak.expired())
        co_return false;
    if (!myRecognizer && !theirRecognizer) {
        status.set(localized("本机无法识别%@和%@，两种语言至少要有一种能识别", my.displayName(), their.displayName()));
        co_return false;
    }

    const TranslationStatus toTheirs = co_await services.translationStatus(my.id, their.id);
    const TranslationStatus toMine = co_await services.translationStatus(their.id, my.id);
    if (weak.expired())
        co_return false;
    if (toTheirs == TranslationStatus::unsupported || toMine == TranslationStatus::unsupported) {
        status.set(bracketed(localized("苹果翻译不支持%@和%@互译", my.displayName(), their.displayName()), "TR-1"));
        co_return false;
    }
    if (consent == DownloadConsent::given)
        co_return true;

    std::vector<std::string> needs;
    if (myRecognizer && !co_await services.speechInstalled(my, *myRecognizer))
        needs.push_back(localized("%@识别模型", my.displayName()));
    if (theirRecognizer && !co_await services.speechInstalled(their, *theirRecognizer))
        needs.push_back(localized("%@识别模型", their.displayName()));
    const bool packInstalled = toTheirs == TranslationStatus::installed && toMine == TranslationStatus::installed;
    if (!packInstalled)
        needs.push_back(localized("%@ ⇄ %@翻译包", my.displayName(), their.displayName()));
    if (weak.expired())
        co_return false;
    if (needs.empty())
        co_return true;
    pendingLanguageChange.set(PendingLanguageChange{my, their, std::move(needs)});
    co_return false;
}

rt::Async<void> AppModel::applyLanguageChange(CallLanguage my, CallLanguage their)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    // A second change before the first one's downloads ended keeps the
    // oldest pair: that is the one a failure goes back to.
    if (!languagesBeforeChange.get())
        languagesBeforeChange.set(LanguagePair{myLanguage.get(), theirLanguage.get()});

    // A listening start or stop under way gets up to 5 s to end first.
    for (int check = 0; check < listeningChecks && isChangingListening.get(); ++check) {
        co_await sleepThroughCancellation(listeningCheckInterval);
        if (weak.expired())
            co_return;
    }
    if (isListening.get()) {
        co_await pauseListening();
        if (weak.expired())
            co_return;
    }

    storeLanguages(my, their);
    mePartial.set("");
    themPartial.set("");
    hasDraft.set(false);
    draftText.set("");
    draftTranslation.set("");
    voiceNotice.set(std::nullopt);
    status.set(localized("已切换：我说%@ → 对方说%@", my.displayName(), their.displayName()));

    co_await refreshLanguageReadiness();
    if (weak.expired())
        co_return;
    refreshVoices();
    if (!speechReady()) {
        co_await downloadSpeechModel();
        if (weak.expired())
            co_return;
    }
    if (speechReady() && !translationReady.get())
        downloadTranslation();
    co_await finishLanguageChange();
    if (weak.expired())
        co_return;
    co_await refreshLanguageMenus();
}

void AppModel::storeLanguages(const CallLanguage& my, const CallLanguage& their)
{
    myLanguage.set(my);
    theirLanguage.set(their);
    writeSetting("myLanguage", my.id);
    writeSetting("theirLanguage", their.id);
}

rt::TaskHandle<> AppModel::chooseLanguage()
{
    const std::optional<PendingLanguageChange> pending = pendingLanguageChange.get();
    if (!pending)
        return {};
    pendingLanguageChange.set(std::nullopt);
    if (!canChangeLanguage()) {
        status.set(localized("正在准备其他语言或正在说话，请稍后再选"));
        return {};
    }
    return spawnOnModel(weak_from_this(), [my = pending->my, their = pending->their](AppModel& model) {
        return model.changeLanguages(my, their, DownloadConsent::given);
    });
}

void AppModel::keepLanguages()
{
    pendingLanguageChange.set(std::nullopt);
    status.set(localized("没有切换，仍是 我说%@ → 对方说%@", myLanguage.get().displayName(),
                         theirLanguage.get().displayName()));
}

}  // namespace parlaro
