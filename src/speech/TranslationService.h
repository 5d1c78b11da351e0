#pragma once

#include "runtime/Task.h"
#include "speech/ModuleError.h"

#include <exception>
#include <string>

namespace parlaro {

// The one way the program translates. Languages are BCP-47 identifiers
// ("en", "zh-Hans", "pt-BR"). Every failure that leaves translate() or
// prepare() is a ModuleError of the translation module. Used on the main
// actor only.
class TranslationService {
public:
    virtual ~TranslationService() = default;

    // The facility serving translation, as the status page names it.
    virtual std::string adapterName() const = 0;
    virtual rt::Async<std::string> translate(std::string text, std::string source, std::string target) = 0;
    // Makes the pair's pack available, letting the system ask the user to
    // download it.
    virtual rt::Async<void> prepare(std::string source, std::string target) = 0;
    // Abandons whatever is held for any pair, so the next call starts afresh.
    virtual void reset() = 0;
};

// Whether a pair can be translated on this computer.
enum class TranslationStatus { installed, supported, unsupported };

namespace TranslationStatuses {
// Asks the system afresh each time; never fails. Any answer other than
// installed or supported reads as unsupported.
rt::Async<TranslationStatus> of(std::string source, std::string target);
}  // namespace TranslationStatuses

// The name of an ordered pair inside the back ends: both languages' maximal
// identifiers joined by ">", so "zh" and "zh-Hans-CN" name the same language.
std::string pairKey(const std::string& source, const std::string& target);

// A translation into Simplified Chinese never shows Traditional characters:
// when the target's maximal identifier has the subtag "Hans", the text goes
// through the "Hant-Hans" transform. Anything else comes back unchanged.
std::string normalizeChineseScript(const std::string& text, const std::string& target);

// The error to report for any failure of a translation step: a ModuleError
// as it is, anything else TR-6 "系统翻译出错：%@" with its description.
ModuleError translationErrorMessage(const std::exception_ptr& error);

}  // namespace parlaro
