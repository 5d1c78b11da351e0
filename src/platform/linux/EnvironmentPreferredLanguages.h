#pragma once

#include "platform/PreferredLanguages.h"
#include "platform/linux/Environment.h"

#include <optional>
#include <string_view>

namespace parlaro::sys {

// The preferred languages as the locale environment states them: the entries
// of LANGUAGE (a colon list, as gettext reads it), then the messages locale,
// which is the first of LC_ALL, LC_MESSAGES and LANG that is set. Values are
// turned into BCP-47 tags; "C", "POSIX" and malformed values are left out, as
// are repeats.
class EnvironmentPreferredLanguages : public PreferredLanguages {
public:
    explicit EnvironmentPreferredLanguages(Environment environment = processEnvironment());

    std::vector<std::string> preferredLanguages() const override;

    // "zh_CN.UTF-8" -> "zh-CN", "sr_RS@latin" -> "sr-Latn-RS", "de" -> "de";
    // nullopt for "C", "POSIX" and anything not shaped like a locale name.
    static std::optional<std::string> languageTag(std::string_view posixLocale);

private:
    Environment environment_;
};

}  // namespace parlaro::sys
