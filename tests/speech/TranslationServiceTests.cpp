#include "speech/InterfaceLanguage.h"
#include "speech/TranslationService.h"

#include "TranslationTestSupport.h"

#include <gtest/gtest.h>

using namespace parlaro;
using Status = LanguageAvailability::Status;

namespace {

using TranslationServiceTest = test::TranslationFixture;

ModuleError mapped(std::exception_ptr error)
{
    return translationErrorMessage(error);
}

template <class E>
ModuleError mapped(E error)
{
    return translationErrorMessage(std::make_exception_ptr(std::move(error)));
}

}  // namespace

TEST_F(TranslationServiceTest, OnlyTranslationsIntoSimplifiedChineseAreConverted)
{
    EXPECT_EQ(normalizeChineseScript("漢語", "zh-Hans"), "汉语");
    EXPECT_EQ(normalizeChineseScript("漢語", "zh"), "汉语");  // Simplified is implied
    EXPECT_EQ(normalizeChineseScript("漢語", "zh-Hant"), "漢語");
    EXPECT_EQ(normalizeChineseScript("漢語", "zh-TW"), "漢語");
    EXPECT_EQ(normalizeChineseScript("漢語", "en"), "漢語");

    // Only a whole subtag "Hans" counts, spelled exactly so.
    platform.text.pinMaximalIdentifier("zh-Hansx", "zh-Hansx-CN");
    platform.text.pinMaximalIdentifier("zh-hans", "zh-hans-CN");
    EXPECT_EQ(normalizeChineseScript("漢語", "zh-Hansx"), "漢語");
    EXPECT_EQ(normalizeChineseScript("漢語", "zh-hans"), "漢語");
}

TEST_F(TranslationServiceTest, FailuresBecomeTranslationModuleErrors)
{
    auto platformError = mapped(DomainError("SimTranslation", 2, "语言包损坏"));
    EXPECT_EQ(platformError.code(), "TR-6");
    EXPECT_EQ(platformError.localizedDescription(), "系统翻译出错：语言包损坏（TR-6）");

    const ModuleError timeout(ModuleID::translation, 5, "系统翻译没有响应，已重新连接，请重试");
    EXPECT_EQ(mapped(timeout), timeout);
    const ModuleError other(ModuleID::speech, 2, "别的模块");
    EXPECT_EQ(mapped(other), other);
    EXPECT_EQ(mapped(std::make_exception_ptr(std::runtime_error("boom"))).localizedDescription(),
              "系统翻译出错：boom（TR-6）");

    // A back end's own failures are worded here, naming the languages in
    // the interface language.
    using Reason = TranslationPlatformError::Reason;
    EXPECT_EQ(
        mapped(TranslationPlatformError(Reason::notInstalled, "en", "es", "apertium-eng-spa")).localizedDescription(),
        "系统翻译出错：尚未安装英语到西班牙语的翻译语言包，请安装软件包 apertium-eng-spa（TR-6）");
    EXPECT_EQ(mapped(TranslationPlatformError(Reason::unsupported, "ja", "ko")).localizedDescription(),
              "系统翻译出错：不支持从日语翻译到韩语（TR-6）");
    EXPECT_EQ(mapped(TranslationPlatformError(Reason::failedToStart, "en", "es", {}, "lt-proc: No such file"))
                  .localizedDescription(),
              "系统翻译出错：无法启动翻译程序：lt-proc: No such file（TR-6）");
    EXPECT_EQ(mapped(TranslationPlatformError(Reason::noOutput, "ru", "uk")).message(),
              "系统翻译出错：翻译程序没有给出译文");
    EXPECT_EQ(mapped(TranslationPlatformError(Reason::notResponding, "ru", "uk")).message(),
              "系统翻译出错：翻译程序没有响应");

    platform.bundles.setTable("en",
                              {{"系统翻译出错：%@", "System translation error: %@"},
                               {"尚未安装%1$@到%2$@的翻译语言包，请安装软件包 %3$@",
                                "The %1$@ to %2$@ translation pack is not installed; install the package %3$@"}});
    InterfaceLanguage::set("en");
    EXPECT_EQ(
        mapped(TranslationPlatformError(Reason::notInstalled, "en", "es", "apertium-eng-spa")).localizedDescription(),
        "System translation error: The English to Spanish translation pack is not installed; install the "
        "package apertium-eng-spa（TR-6）");
}

TEST_F(TranslationServiceTest, PairKeysUseMaximalIdentifiersInOrder)
{
    EXPECT_EQ(pairKey("zh", "en"), "zh-Hans-CN>en-Latn-US");
    EXPECT_EQ(pairKey("zh-Hans-CN", "en-Latn-US"), pairKey("zh-Hans", "en"));
    EXPECT_NE(pairKey("en", "zh-Hans"), pairKey("zh-Hans", "en"));
    EXPECT_NE(pairKey("zh-Hant", "en"), pairKey("zh-Hans", "en"));
}

TEST_F(TranslationServiceTest, StatusIsAskedAfreshAndUnknownAnswersAreUnsupported)
{
    std::optional<TranslationStatus> status;
    auto ask = [&](std::string source, std::string target) {
        status.reset();
        rt::spawn(
            [&, source, target]() -> rt::Async<void> { status = co_await TranslationStatuses::of(source, target); });
        runtime.runUntilIdle();
        return status;
    };
    EXPECT_EQ(ask("en", "es"), TranslationStatus::unsupported);
    system.setStatus("en", "es", Status::supported);
    EXPECT_EQ(ask("en", "es"), TranslationStatus::supported);
    system.setStatus("en", "es", Status::installed);
    EXPECT_EQ(ask("en", "es"), TranslationStatus::installed);
    EXPECT_EQ(ask("es", "en"), TranslationStatus::unsupported);
    system.setStatus("en", "es", Status::other);
    EXPECT_EQ(ask("en", "es"), TranslationStatus::unsupported);
}
