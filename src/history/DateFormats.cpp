#include "history/DateFormats.h"

#include "speech/InterfaceLanguage.h"

#include <unicode/datefmt.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstring>
#include <memory>

namespace parlaro::DateFormats {

namespace {

icu::Locale localeOf(const LocaleContext& context)
{
    if (context.locale.empty())
        return icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    std::string tag = context.locale;
    for (char& c : tag) {
        if (c == '_')
            c = '-';
    }
    icu::Locale locale = icu::Locale::forLanguageTag(tag, status);
    return U_SUCCESS(status) && !locale.isBogus() ? locale : icu::Locale::getDefault();
}

icu::TimeZone* timeZoneOf(const LocaleContext& context)
{
    if (context.timeZone.empty())
        return icu::TimeZone::createDefault();
    return icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(context.timeZone));
}

UDate icuDate(rt::Date date)
{
    return date.unixTime() * 1000.0;
}

std::string format(icu::DateFormat* formatter, rt::Date date, const LocaleContext& context)
{
    if (!formatter)
        return {};
    std::unique_ptr<icu::DateFormat> owned(formatter);
    owned->adoptTimeZone(timeZoneOf(context));
    icu::UnicodeString text;
    owned->format(icuDate(date), text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

icu::DateFormat::EStyle icuStyle(Style style)
{
    switch (style) {
    case Style::none:
        return icu::DateFormat::kNone;
    case Style::shortStyle:
        return icu::DateFormat::kShort;
    case Style::mediumStyle:
        return icu::DateFormat::kMedium;
    case Style::longStyle:
        return icu::DateFormat::kLong;
    case Style::fullStyle:
        return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

}  // namespace

LocaleContext forInterfaceLanguage(LocaleContext context)
{
    if (!context.locale.empty())
        return context;
    const std::string code = InterfaceLanguage::current();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale wanted = icu::Locale::forLanguageTag(code, status);
    if (U_FAILURE(status) || wanted.isBogus()) {
        context.locale = code;
        return context;
    }
    const icu::Locale& process = icu::Locale::getDefault();
    // Language and script decide; the region (and with it a 24-hour clock or
    // the order of day and month) may come from the system.
    icu::Locale system(process.getLanguage(), process.getCountry());
    icu::Locale wantedFull = wanted;
    status = U_ZERO_ERROR;
    wantedFull.addLikelySubtags(status);
    icu::Locale systemFull = system;
    systemFull.addLikelySubtags(status);
    const bool same = U_SUCCESS(status) && std::strcmp(wantedFull.getLanguage(), systemFull.getLanguage()) == 0
        && std::strcmp(wantedFull.getScript(), systemFull.getScript()) == 0 && std::strlen(system.getCountry()) > 0;
    if (same) {
        status = U_ZERO_ERROR;
        const std::string tag = system.toLanguageTag<std::string>(status);
        context.locale = U_SUCCESS(status) ? tag : code;
    } else {
        context.locale = code;
    }
    return context;
}

std::string pattern(rt::Date date, const std::string& pattern, const LocaleContext& context)
{
    UErrorCode status = U_ZERO_ERROR;
    auto formatter =
        std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern), localeOf(context), status);
    if (U_FAILURE(status))
        return {};
    return format(formatter.release(), date, context);
}

std::string styled(rt::Date date, Style dateStyle, Style timeStyle, const LocaleContext& context)
{
    return Formatter::styled(dateStyle, timeStyle, context)(date);
}

std::string internetDateTime(rt::Date date, const LocaleContext& context)
{
    return Formatter::internetDateTime(context)(date);
}

Formatter::Formatter(icu::DateFormat* formatter, const LocaleContext& context) : formatter_(formatter)
{
    if (formatter_)
        formatter_->adoptTimeZone(timeZoneOf(context));
}

Formatter::Formatter(Formatter&&) noexcept = default;
Formatter& Formatter::operator=(Formatter&&) noexcept = default;
Formatter::~Formatter() = default;

Formatter Formatter::styled(Style dateStyle, Style timeStyle, const LocaleContext& context)
{
    return Formatter(
        icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), localeOf(context)), context);
}

Formatter Formatter::internetDateTime(const LocaleContext& context)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale posix("en_US_POSIX");
    auto formatter =
        std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString("yyyy-MM-dd'T'HH:mm:ssXXX"), posix, status);
    if (U_FAILURE(status))
        return Formatter(nullptr, context);
    formatter->adoptCalendar(new icu::GregorianCalendar(posix, status));
    if (U_FAILURE(status))
        return Formatter(nullptr, context);
    return Formatter(formatter.release(), context);
}

std::string Formatter::operator()(rt::Date date) const
{
    if (!formatter_)
        return {};
    icu::UnicodeString text;
    formatter_->format(icuDate(date), text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace parlaro::DateFormats
