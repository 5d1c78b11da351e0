#include "platform/sim/SimPlatform.h"
#include "speech/Deadline.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <gtest/gtest.h>

using namespace parlaro;

TEST(ModuleError, CodesAndDescriptions)
{
    sim::SimPlatform platform;
    ModuleError vm7(ModuleID::virtualMic, 7, "系统麦克风未能恢复：x");
    EXPECT_EQ(vm7.code(), "VM-7");
    EXPECT_EQ(vm7.errorDescription(), "系统麦克风未能恢复：x（VM-7）");
    EXPECT_EQ(vm7.localizedDescription(), vm7.errorDescription());
    EXPECT_EQ(describe(std::make_exception_ptr(vm7)), "系统麦克风未能恢复：x（VM-7）");
    EXPECT_EQ(ModuleError(ModuleID::virtualMic, 11, "m").code(), "VM-11");
    EXPECT_EQ(ModuleError(ModuleID::translation, 4, "翻译结果为空").errorDescription(), "翻译结果为空（TR-4）");
    EXPECT_EQ(ModuleError(ModuleID::speech, 3, "").errorDescription(), "（TTS-3）");
    EXPECT_EQ(ModuleError(ModuleID::callAudio, 2, "x").code(), "CAP-2");
    EXPECT_EQ(ModuleError(ModuleID::recognition, 5, "x").code(), "SR-5");
    EXPECT_FALSE(ModuleError(ModuleID::recognition, 5, "a") == ModuleError(ModuleID::recognition, 5, "b"));
    EXPECT_EQ(ModuleError(ModuleID::recognition, 5, "a"), ModuleError(ModuleID::recognition, 5, "a"));

    // The code stands in the interface language's brackets, read when the
    // text is shown.
    InterfaceLanguage::Revision revision;
    InterfaceLanguage::Revision::Scope scope(revision);
    platform.bundles.setTable("de", {{"%@（%@）", "%@ (%@)"}});
    InterfaceLanguage::set("de");
    EXPECT_EQ(vm7.errorDescription(), "系统麦克风未能恢复：x (VM-7)");
    EXPECT_EQ(ModuleError(ModuleID::speech, 3, "").errorDescription(), "(TTS-3)");
    EXPECT_EQ(OperationTimeout(localized("翻译"), "TR-3").errorDescription(), "翻译超时，请重试 (TR-3)");
    InterfaceLanguage::set("zh-Hans");
    EXPECT_EQ(vm7.errorDescription(), "系统麦克风未能恢复：x（VM-7）");
}

TEST(ModuleError, ModuleIdentifiersAndTitles)
{
    sim::SimPlatform platform;
    std::vector<std::string> raw;
    for (auto id : ModuleIDs::allCases)
        raw.push_back(ModuleIDs::rawValue(id));
    EXPECT_EQ(raw, (std::vector<std::string>{"translation", "recognition", "speech", "callAudio", "virtualMic"}));
    EXPECT_EQ(ModuleIDs::fromRawValue("callAudio"), ModuleID::callAudio);
    EXPECT_EQ(ModuleIDs::fromRawValue("CallAudio"), std::nullopt);
    EXPECT_EQ(ModuleIDs::title(ModuleID::virtualMic), "wenmora 音频设备");
    platform.bundles.setTable("en", {{"朗读", "Speech output"}});
    InterfaceLanguage::set("en");
    EXPECT_EQ(ModuleIDs::title(ModuleID::speech), "Speech output") << "titles follow the interface language";
}

TEST(ModuleError, StatesCompareByCaseAndPayload)
{
    EXPECT_EQ(ModuleState::failed("SR-5", "a"), ModuleState::failed("SR-5", "a"));
    EXPECT_FALSE(ModuleState::failed("SR-5", "a") == ModuleState::failed("SR-5", "b"));
    EXPECT_FALSE(ModuleState::needsDownload("x") == ModuleState::needsPermission("x"));
    for (const auto& other : {ModuleState::needsDownload(""), ModuleState::needsPermission(""),
                              ModuleState::unsupported(""), ModuleState::failed("", "")})
        EXPECT_FALSE(ModuleState::ready() == other);
    ModuleReport report{ModuleID::speech, "espeak-ng", ModuleState::ready()};
    EXPECT_EQ(report.id(), ModuleID::speech);
    EXPECT_FALSE(report == (ModuleReport{ModuleID::speech, "espeak-ng", ModuleState::unsupported("x")}));
}
