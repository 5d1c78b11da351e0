#include "history/CallLanguageName.h"

#include "speech/CallLanguage.h"

namespace parlaro {

std::optional<std::string> callLanguageName(std::string_view id)
{
    if (auto language = CallLanguage::find(std::string(id)))
        return language->displayName();
    return std::nullopt;
}

}  // namespace parlaro
