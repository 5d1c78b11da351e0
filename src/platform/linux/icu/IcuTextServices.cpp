#include "platform/linux/icu/IcuTextServices.h"

#include <unicode/brkiter.h>
#include <unicode/listformatter.h>
#include <unicode/locdspnm.h>
#include <unicode/locid.h>
#include <unicode/translit.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <stdexcept>

namespace parlaro::sys {
namespace {

icu::UnicodeString fromUtf8(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text)
{
    std::string result;
    text.toUTF8String(result);
    return result;
}

// Accepts BCP-47 tags and POSIX names ("zh_CN.UTF-8"); bogus when neither.
icu::Locale localeOf(std::string_view tag)
{
    std::string text(tag.substr(0, tag.find_first_of(".@")));
    for (char& c : text) {
        if (c == '_') {
            c = '-';
        }
    }
    if (text.empty()) {
        icu::Locale bogus;
        bogus.setToBogus();
        return bogus;
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(text, status);
    if (U_FAILURE(status)) {
        locale.setToBogus();
    }
    return locale;
}

}  // namespace

IcuTextServices::IcuTextServices() = default;
IcuTextServices::~IcuTextServices() = default;

std::string IcuTextServices::maximalIdentifier(std::string_view tag) const
{
    icu::Locale locale = localeOf(tag);
    if (locale.isBogus()) {
        return std::string(tag);
    }
    UErrorCode status = U_ZERO_ERROR;
    locale.addLikelySubtags(status);
    if (U_FAILURE(status)) {
        return std::string(tag);
    }
    std::string maximal = locale.toLanguageTag<std::string>(status);
    return U_SUCCESS(status) && !maximal.empty() ? maximal : std::string(tag);
}

std::shared_ptr<const icu::LocaleDisplayNames> IcuTextServices::displayNames(std::string_view inLocale) const
{
    std::lock_guard lock(mutex_);
    auto found = displayNames_.find(inLocale);
    if (found != displayNames_.end()) {
        return found->second;
    }
    icu::Locale locale = localeOf(inLocale);
    if (locale.isBogus()) {
        locale = icu::Locale::getRoot();
    }
    std::shared_ptr<const icu::LocaleDisplayNames> names(
        icu::LocaleDisplayNames::createInstance(locale, ULDN_STANDARD_NAMES));
    displayNames_.emplace(std::string(inLocale), names);
    return names;
}

std::string IcuTextServices::displayName(std::string_view tagOrLocale, std::string_view inLocale) const
{
    const icu::Locale locale = localeOf(tagOrLocale);
    std::shared_ptr<const icu::LocaleDisplayNames> names = displayNames(inLocale);
    if (locale.isBogus() || !names) {
        return std::string(tagOrLocale);
    }
    icu::UnicodeString name;
    names->localeDisplayName(locale, name);
    return name.isEmpty() ? std::string(tagOrLocale) : toUtf8(name);
}

std::string IcuTextServices::listFormat(const std::vector<std::string>& items, std::string_view locale) const
{
    const icu::Locale icuLocale = localeOf(locale);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::ListFormatter> formatter(
        icu::ListFormatter::createInstance(icuLocale.isBogus() ? icu::Locale::getRoot() : icuLocale, status));
    if (U_FAILURE(status) || !formatter) {
        return {};
    }
    std::vector<icu::UnicodeString> strings;
    strings.reserve(items.size());
    for (const std::string& item : items) {
        strings.push_back(fromUtf8(item));
    }
    icu::UnicodeString result;
    formatter->format(strings.data(), static_cast<int32_t>(strings.size()), result, status);
    return U_SUCCESS(status) ? toUtf8(result) : std::string();
}

CharacterDirection IcuTextServices::characterDirection(std::string_view locale) const
{
    const icu::Locale icuLocale = localeOf(locale);
    if (icuLocale.isBogus()) {
        return CharacterDirection::leftToRight;
    }
    UErrorCode status = U_ZERO_ERROR;
    const ULayoutType layout = uloc_getCharacterOrientation(icuLocale.getName(), &status);
    return U_SUCCESS(status) && layout == ULOC_LAYOUT_RTL ? CharacterDirection::rightToLeft
                                                          : CharacterDirection::leftToRight;
}

std::string IcuTextServices::transliterate(std::string_view text, std::string_view transformId) const
{
    std::lock_guard lock(mutex_);
    auto found = transliterators_.find(transformId);
    if (found == transliterators_.end()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> transliterator(
            icu::Transliterator::createInstance(fromUtf8(transformId), UTRANS_FORWARD, status));
        if (U_FAILURE(status) || !transliterator) {
            throw std::invalid_argument("Unknown text transform: " + std::string(transformId));
        }
        found = transliterators_.emplace(std::string(transformId), std::move(transliterator)).first;
    }
    icu::UnicodeString converted = fromUtf8(text);
    found->second->transliterate(converted);
    return toUtf8(converted);
}

std::size_t IcuTextServices::graphemeCount(std::string_view text) const
{
    if (text.empty()) {
        return 0;
    }
    std::unique_ptr<icu::BreakIterator> iterator;
    {
        std::lock_guard lock(mutex_);
        if (!characters_) {
            UErrorCode status = U_ZERO_ERROR;
            characters_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            if (U_FAILURE(status)) {
                characters_.reset();
                throw std::runtime_error("ICU character break iterator unavailable");
            }
        }
        iterator.reset(characters_->clone());
    }
    const icu::UnicodeString string = fromUtf8(text);
    iterator->setText(string);
    std::size_t count = 0;
    for (int32_t at = iterator->next(); at != icu::BreakIterator::DONE; at = iterator->next()) {
        ++count;
    }
    return count;
}

std::string IcuTextServices::lowercase(std::string_view text, std::string_view locale) const
{
    const icu::Locale icuLocale = localeOf(locale);
    icu::UnicodeString string = fromUtf8(text);
    string.toLower(icuLocale.isBogus() ? icu::Locale::getRoot() : icuLocale);
    return toUtf8(string);
}

}  // namespace parlaro::sys
