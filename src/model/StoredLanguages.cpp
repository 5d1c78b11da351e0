#include "model/StoredLanguages.h"

#include <optional>
#include <string>

namespace parlaro {

std::pair<CallLanguage, CallLanguage> storedLanguagePair(const SettingsStore& defaults)
{
    const std::optional<CallLanguage> storedMine = CallLanguage::matching(defaults.get<std::string>("myLanguage"));
    const std::optional<CallLanguage> storedTheirs = CallLanguage::matching(defaults.get<std::string>("theirLanguage"));
    const auto [systemMine, systemTheirs] = CallLanguage::systemDefault();
    CallLanguage mine = storedMine.value_or(systemMine);
    CallLanguage theirs = storedTheirs.value_or(systemTheirs);
    if (mine != theirs)
        return {std::move(mine), std::move(theirs)};

    // Each side fell back on its own, so both can land on the same language;
    // a call in one language has nothing to interpret.
    const CallLanguage english = CallLanguage::find("en").value_or(CallLanguage::chinese());
    const CallLanguage spanish = CallLanguage::find("es").value_or(CallLanguage::chinese());
    const auto partnerOf = [&](const CallLanguage& other) { return other == english ? spanish : english; };
    if (storedTheirs && !storedMine)
        mine = partnerOf(theirs);
    else
        theirs = partnerOf(mine);
    return {std::move(mine), std::move(theirs)};
}

}  // namespace parlaro
