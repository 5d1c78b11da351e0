// Ready-made phrases spoken to the other party in their language.

#include "model/AppModel.h"

#include "speech/Localization.h"

#include <utility>

namespace parlaro {

namespace {

bool isEnglish(const CallLanguage& language)
{
    const std::optional<CallLanguage> english = CallLanguage::find("en");
    return english && language == *english;
}

}  // namespace

bool AppModel::englishPackAvailable() const
{
    const auto& menu = myMenu.get();
    const auto english = menu.find("en");
    return (english != menu.end() && english->second.translationInstalled) || isEnglish(myLanguage.get());
}

bool AppModel::quickPhrasesWork() const
{
    if (isEnglish(theirLanguage.get()) || translationSupported.get())
        return true;
    const auto& menu = myMenu.get();
    const auto english = menu.find("en");
    return english != menu.end() && english->second.translationInstalled;
}

rt::Async<void> AppModel::sendQuickPhrase(std::string english, std::string chinese)
{
    // The menu offers none then; a choice that raced the pair says why here,
    // where no box points at a field that takes nothing.
    if (!quickPhrasesWork()) {
        status.set(untranslatablePairLine());
        co_return;
    }
    const CallLanguage mine = myLanguage.get();
    const CallLanguage their = theirLanguage.get();
    const std::weak_ptr<AppModel> weak = weak_from_this();
    std::string spoken;
    if (isEnglish(their)) {
        spoken = english;
    } else {
        std::string text;
        std::string source;
        if (englishPackAvailable()) {
            text = english;
            source = "en";
        } else if (mine == CallLanguage::chinese() && translationReady.get()) {
            text = chinese;
            source = mine.id;
        } else {
            errorMessage.set(localized("快捷短语需要「英语 ⇄ %@」翻译包，请改用打字发送。", their.displayName()));
            co_return;
        }
        // No deadline of its own: the translation back ends give up on a
        // silent pair themselves.
        const std::shared_ptr<TranslationService> service = translator;
        try {
            spoken = co_await service->translate(std::move(text), std::move(source), their.id);
        } catch (...) {
            spoken.clear();
        }
        if (weak.expired())
            co_return;
        if (spoken.empty()) {
            errorMessage.set(localized("快捷短语翻译失败，请改用打字发送。"));
            co_return;
        }
    }

    const bool played = co_await speakToPeer(spoken, HoldPlay::outsideHold);
    if (!played || weak.expired())
        co_return;
    std::vector<ConversationEntry> list = entries.get();
    list.push_back(ConversationEntry{.id = newIdentifier(),
                                     .side = ConversationEntry::Side::me,
                                     .original = localized(chinese),
                                     .translated = spoken,
                                     .time = rt::clock().date(),
                                     .originalLanguage = mine.id,
                                     .translatedLanguage = their.id});
    setEntries(std::move(list));
}

}  // namespace parlaro
