#pragma once

#include "runtime/Time.h"

#include <memory>
#include <string>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class DateFormat;
U_NAMESPACE_END

namespace parlaro {

// The locale and time zone that dates are shown in. Empty fields mean the
// system's own (ICU's default locale and time zone); tests pin both.
struct LocaleContext {
    std::string locale;    // "en_US", "zh-Hans-CN", ...
    std::string timeZone;  // "Asia/Shanghai", "UTC", ...
};

namespace DateFormats {

enum class Style { none, shortStyle, mediumStyle, longStyle, fullStyle };

// The date in a fixed pattern ("yyyy-MM-dd HH.mm"), with the locale's
// calendar and digits.
std::string pattern(rt::Date date, const std::string& pattern, const LocaleContext& context = {});
// The date in the locale's own styles for date and time.
std::string styled(rt::Date date, Style dateStyle, Style timeStyle, const LocaleContext& context = {});
// The context for dates in the program's own texts (the conversation, the
// history page): where `context` names no locale, the interface language's,
// keeping the system's region when the system speaks that same language.
// The process locale alone would show a Chinese interface "4:36:40 PM".
LocaleContext forInterfaceLanguage(LocaleContext context = {});
// ISO 8601 internet date-time in the context's time zone, whatever its
// locale: "2026-12-06T14:05:09+08:00", or "...Z" at offset zero.
std::string internetDateTime(rt::Date date, const LocaleContext& context = {});

// One of the formats above, made once for many dates: making a formatter
// costs far more than formatting a date, and an export of a long
// conversation formats hundreds of thousands. One thread at a time.
class Formatter {
public:
    static Formatter styled(Style dateStyle, Style timeStyle, const LocaleContext& context = {});
    static Formatter internetDateTime(const LocaleContext& context = {});
    Formatter(Formatter&&) noexcept;
    Formatter& operator=(Formatter&&) noexcept;
    ~Formatter();

    std::string operator()(rt::Date date) const;

private:
    explicit Formatter(icu::DateFormat* formatter, const LocaleContext& context);
    std::unique_ptr<icu::DateFormat> formatter_;
};

}  // namespace DateFormats
}  // namespace parlaro
