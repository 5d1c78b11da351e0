#pragma once

#include "platform/TextServices.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class BreakIterator;
class LocaleDisplayNames;
class Transliterator;
U_NAMESPACE_END

namespace parlaro::sys {

// TextServices on ICU. Display names are ICU's standard locale names
// ("中文（简体）", "English (United States)"). Expensive ICU objects are built
// once and shared; thread-safe.
class IcuTextServices : public TextServices {
public:
    IcuTextServices();
    ~IcuTextServices() override;

    std::string maximalIdentifier(std::string_view tag) const override;
    std::string displayName(std::string_view tagOrLocale, std::string_view inLocale) const override;
    std::string listFormat(const std::vector<std::string>& items, std::string_view locale) const override;
    CharacterDirection characterDirection(std::string_view locale) const override;
    std::string transliterate(std::string_view text, std::string_view transformId) const override;
    std::size_t graphemeCount(std::string_view text) const override;
    std::string lowercase(std::string_view text, std::string_view locale) const override;

private:
    std::shared_ptr<const icu::LocaleDisplayNames> displayNames(std::string_view inLocale) const;

    mutable std::mutex mutex_;
    mutable std::map<std::string, std::shared_ptr<const icu::LocaleDisplayNames>, std::less<>> displayNames_;
    mutable std::map<std::string, std::unique_ptr<icu::Transliterator>, std::less<>> transliterators_;
    mutable std::unique_ptr<icu::BreakIterator> characters_;
};

}  // namespace parlaro::sys
