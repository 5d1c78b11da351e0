#include "speech/TranslationService.h"

#include "platform/Platform.h"
#include "platform/TextServices.h"
#include "platform/TranslationPlatform.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"

#include <memory>
#include <vector>

namespace parlaro {

namespace TranslationStatuses {

rt::Async<TranslationStatus> of(std::string source, std::string target)
{
    auto availability = translationPlatform().makeLanguageAvailability();
    auto status = co_await availability->status(std::move(source), std::move(target));
    switch (status) {
    case LanguageAvailability::Status::installed:
        co_return TranslationStatus::installed;
    case LanguageAvailability::Status::supported:
        co_return TranslationStatus::supported;
    default:
        co_return TranslationStatus::unsupported;
    }
}

}  // namespace TranslationStatuses

std::string pairKey(const std::string& source, const std::string& target)
{
    const auto& text = *platform().text;
    return text.maximalIdentifier(source) + ">" + text.maximalIdentifier(target);
}

std::string normalizeChineseScript(const std::string& text, const std::string& target)
{
    const auto& services = *platform().text;
    const std::string identifier = services.maximalIdentifier(target);
    bool simplified = false;
    std::size_t start = 0;
    while (start <= identifier.size()) {
        auto end = identifier.find('-', start);
        if (end == std::string::npos)
            end = identifier.size();
        if (identifier.compare(start, end - start, "Hans") == 0 && end - start == 4)
            simplified = true;
        start = end + 1;
    }
    if (!simplified)
        return text;
    try {
        return services.transliterate(text, "Hant-Hans");
    } catch (const std::exception&) {
        return text;  // the transform is missing: the text as the system gave it
    }
}

namespace {

std::string languageName(const std::string& identifier)
{
    auto name = platform().text->displayName(identifier, InterfaceLanguage::current());
    return name.empty() ? identifier : name;
}

// The back ends' own failures carry no words for the user; they are worded
// here, in the interface language, with the languages named in it too.
std::string describePlatformError(const TranslationPlatformError& error)
{
    using Reason = TranslationPlatformError::Reason;
    switch (error.reason()) {
    case Reason::notInstalled:
        return localized("尚未安装%1$@到%2$@的翻译语言包，请安装软件包 %3$@", languageName(error.source()),
                         languageName(error.target()), error.package());
    case Reason::unsupported:
        return localized("不支持从%1$@翻译到%2$@", languageName(error.source()), languageName(error.target()));
    case Reason::noOutput:
        return localized("翻译程序没有给出译文");
    case Reason::failedToStart:
        return localized("无法启动翻译程序：%@", error.detail());
    case Reason::notResponding:
        return localized("翻译程序没有响应");
    case Reason::cancelled:
        return localized("翻译会话已取消");
    }
    return error.localizedDescription();
}

}  // namespace

ModuleError translationErrorMessage(const std::exception_ptr& error)
{
    std::string description;
    try {
        std::rethrow_exception(error);
    } catch (const ModuleError& moduleError) {
        return moduleError;
    } catch (const TranslationPlatformError& platformError) {
        description = describePlatformError(platformError);
    } catch (...) {
        description = describe(std::current_exception());
    }
    return ModuleError(ModuleID::translation, 6, localized("系统翻译出错：%@", description));
}

}  // namespace parlaro
