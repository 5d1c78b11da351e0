// What the language pair can do on this computer, the automatic-listening
// decision and the readiness notes of the language pickers.
//
// No token guards these: each operation copies the pair before its first
// suspension and writes nothing when the pair changed meanwhile. The
// language services are copied too, so their closures outlive any await even
// if the model goes away.

#include "model/AppModel.h"

#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <utility>

namespace parlaro {

rt::Async<void> AppModel::recheckCapturePermission()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    co_await refreshCapturePermission();
    if (!weak.expired())
        co_await retryListening();
}

rt::Async<void> AppModel::refreshCapturePermission()
{
    const bool denied = captureDenied();
    const bool granted = captureWasDenied.get() && !denied;
    captureWasDenied.set(denied);
    audioCaptureMissing.set(denied);
    // A permission granted while listening ran without it only takes effect
    // once listening starts again.
    if (!granted || !isListening.get())
        co_return;
    const std::weak_ptr<AppModel> weak = weak_from_this();
    co_await pauseListening();
    if (weak.expired())
        co_return;
    listeningFailed.set(false);
    co_await listeningReadinessNotice();
}

rt::Async<void> AppModel::refreshLanguageReadiness()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const CallLanguage my = myLanguage.get();
    const CallLanguage their = theirLanguage.get();
    const LanguageServices services = languageServices;

    const std::optional<SpeechEngine> mine = co_await services.engine(my);
    const std::optional<SpeechEngine> theirs = co_await services.engine(their);
    bool myInstalled = false;
    if (mine)
        myInstalled = co_await services.speechInstalled(my, *mine);
    bool theirInstalled = false;
    if (theirs)
        theirInstalled = co_await services.speechInstalled(their, *theirs);

    if (weak.expired() || myLanguage.get() != my || theirLanguage.get() != their)
        co_return;
    myEngine.set(mine);
    theirEngine.set(theirs);
    mySpeechReady.set(myInstalled);
    theirSpeechReady.set(theirInstalled);
    co_await prepareTranslationPair();
}

rt::Async<void> AppModel::prepareTranslationPair()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const std::string source = myLanguage.get().id;
    const std::string target = theirLanguage.get().id;
    const LanguageServices services = languageServices;

    const TranslationStatus toMine = co_await services.translationStatus(target, source);
    const TranslationStatus toTheirs = co_await services.translationStatus(source, target);

    if (weak.expired() || myLanguage.get().id != source || theirLanguage.get().id != target)
        co_return;
    const std::string pair = source + ">" + target;
    if (translationPair.get() != pair) {
        translationPair.set(pair);
        // Before the flag: whoever sees the pair ready finds the translator fresh.
        translator->reset();
    }
    translationReady.set(toMine == TranslationStatus::installed && toTheirs == TranslationStatus::installed);
    const bool supported = toMine != TranslationStatus::unsupported && toTheirs != TranslationStatus::unsupported;
    if (supported) {
        translatablePairs.set({});
        translationSupported.set(true);
        co_return;
    }
    std::vector<LanguagePair> pairs = co_await findTranslatablePairs();
    if (weak.expired() || myLanguage.get().id != source || theirLanguage.get().id != target)
        co_return;
    // The list first: whoever sees the pair refused finds what to pick instead.
    translatablePairs.set(std::move(pairs));
    translationSupported.set(false);
}

rt::Async<std::vector<AppModel::LanguagePair>> AppModel::findTranslatablePairs()
{
    const LanguageServices services = languageServices;
    std::vector<LanguagePair> pairs;
    const std::vector<CallLanguage>& all = CallLanguage::all();
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            if (co_await services.translationStatus(all[i].id, all[j].id) != TranslationStatus::installed)
                continue;
            if (co_await services.translationStatus(all[j].id, all[i].id) == TranslationStatus::installed)
                pairs.emplace_back(all[i], all[j]);
        }
    }
    co_return pairs;
}

std::string AppModel::untranslatablePairNote() const
{
    if (translationSupported.get())
        return "";
    const std::string my = myLanguage.get().displayName();
    const std::string their = theirLanguage.get().displayName();
    std::vector<std::string> names;
    for (const auto& [one, other] : translatablePairs.get())
        names.push_back(localized("%@ ⇄ %@", one.displayName(), other.displayName()));
    if (names.empty())
        return localized("这台电脑不能翻译%@ ⇄ %@，目前也没有能翻译的语言对。语言对来自发行版的 apertium 软件包。",
                         their, my);
    return localized("这台电脑不能翻译%@ ⇄ %@。能翻译的有：%@。更多语言对来自发行版的 apertium 软件包。", their, my,
                     InterfaceLanguage::list(names));
}

std::string AppModel::untranslatablePairLine() const
{
    if (translationSupported.get())
        return "";
    return localized("这台电脑不能翻译%@ ⇄ %@。", theirLanguage.get().displayName(), myLanguage.get().displayName());
}

rt::Async<void> AppModel::listeningReadinessNotice()
{
    // A failure stays on show until the user retries.
    if (listeningFailed.get() || isListening.get() || isChangingListening.get())
        co_return;
    // No download makes the pair translatable: nothing is waited for.
    if (!translationSupported.get()) {
        listeningStatus.set(untranslatablePairLine());
        co_return;
    }
    if (!theirEngine.get()) {
        listeningStatus.set(
            localized("本机无法识别%@，对方说话不会显示字幕；你说的话照常翻译", theirLanguage.get().displayName()));
        co_return;
    }
    if (theirSpeechReady.get() && translationReady.get()) {
        co_await startListening();
        co_return;
    }
    // A finished download or pack install runs this decision again.
    listeningStatus.set(localized("等待模型和语言包，完成后自动收听"));
}

rt::Async<void> AppModel::refreshLanguageMenus()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const CallLanguage my = myLanguage.get();
    const CallLanguage their = theirLanguage.get();
    const LanguageServices services = languageServices;
    std::map<std::string, LanguageReadiness> mine;
    std::map<std::string, LanguageReadiness> theirs;

    // One question at a time, so the system is never asked twenty things at once.
    for (const CallLanguage& language : CallLanguage::all()) {
        const std::optional<SpeechEngine> engine = co_await services.engine(language);
        bool installed = false;
        if (engine)
            installed = co_await services.speechInstalled(language, *engine);
        const std::pair<const CallLanguage*, std::map<std::string, LanguageReadiness>*> sides[] = {{&their, &mine},
                                                                                                   {&my, &theirs}};
        for (const auto& [counterpart, menu] : sides) {
            // A language is never offered against itself.
            if (language == *counterpart)
                continue;
            const TranslationStatus status = co_await services.translationStatus(language.id, counterpart->id);
            (*menu)[language.id] = LanguageReadiness{engine, installed, status == TranslationStatus::installed,
                                                     status != TranslationStatus::unsupported};
        }
    }

    // Both pickers change in one step, and only for the pair they were built for.
    if (weak.expired() || myLanguage.get() != my || theirLanguage.get() != their)
        co_return;
    myMenu.set(std::move(mine));
    theirMenu.set(std::move(theirs));
}

std::vector<CallLanguage> AppModel::languagesOtherThan(const CallLanguage& taken)
{
    std::vector<CallLanguage> choices;
    for (const CallLanguage& language : CallLanguage::all()) {
        if (language != taken)
            choices.push_back(language);
    }
    return choices;
}

std::vector<CallLanguage> AppModel::myLanguageChoices() const
{
    return languagesOtherThan(theirLanguage.get());
}

std::vector<CallLanguage> AppModel::theirLanguageChoices() const
{
    return languagesOtherThan(myLanguage.get());
}

std::string AppModel::languageMenuLabel(const CallLanguage& language, bool mine) const
{
    const auto& menu = mine ? myMenu.get() : theirMenu.get();
    const auto found = menu.find(language.id);
    const std::string name = language.displayName();
    if (found == menu.end())
        return name;
    const std::string note = readinessNote(found->second, mine);
    return note.empty() ? name : name + "  ·  " + note;
}

std::string AppModel::readinessNote(const LanguageReadiness& readiness, bool mine) const
{
    if (!readiness.translationSupported || readiness.engine)
        return readiness.label(mine);
    // Without a recognizer the choice depends on the side it would face: a
    // pair that neither side can be heard in is refused, and my side can
    // then only be typed.
    const bool counterpartHeard = (mine ? theirEngine : myEngine).get().has_value();
    if (!counterpartHeard)
        return localized("本机无法识别");
    if (!mine)
        return readiness.label(false);
    return readiness.translationInstalled ? localized("只能打字") : localized("只能打字 · 需下载");
}

}  // namespace parlaro
