#include "history/ConversationSummary.h"

#include <vector>

namespace parlaro {

std::string ConversationSummary::languagePairText(const LanguageNamer& name) const
{
    std::vector<std::string> names;
    for (const auto& id : {theirLanguage, myLanguage}) {
        if (!id)
            continue;
        if (auto found = name(*id))
            names.push_back(std::move(*found));
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i)
            text += " ⇄ ";
        text += names[i];
    }
    return text;
}

}  // namespace parlaro
