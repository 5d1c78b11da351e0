#include "speech/LanguageReadiness.h"

#include "speech/Localization.h"

namespace parlaro {

std::string LanguageReadiness::label(bool mine) const
{
    if (!translationSupported)
        return localized("不支持互译");
    if (!engine) {
        if (mine)
            return localized("本机无法识别");
        // The other side can still be spoken to; only hearing them fails.
        return translationInstalled ? localized("只能单向") : localized("只能单向 · 需下载");
    }
    if (speechInstalled && translationInstalled)
        return "";
    return localized("需下载");
}

}  // namespace parlaro
