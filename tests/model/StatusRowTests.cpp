#include "LanguageScript.h"

#include "model/MessageCode.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "platform/EngineNames.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::ModelWorld;

// Everything ready: the driver (reporting 1.0, as its carried copy does), a
// voice for the other party, both models and both translation directions.
struct RowsWorld {
    ModelWorld world;
    std::optional<std::string> carried = "1.0";
    std::shared_ptr<AppModel> model;

    RowsWorld()
    {
        world.addVirtualDriver();
        world.voices["en"] = {
            {.id = "en-voice", .label = "en-voice", .quality = 2, .name = "en-voice", .language = "en-US"}};
        model = world.make([this](AppModel::Dependencies& d) {
            d.driverVersionCheck = []() -> std::optional<std::string> { return "1.0"; };
            d.bundledDriverVersion = [this] { return carried; };
        });
        ModelTestAccess::refreshDevices(*model);
        model->checkDriverUpdate();
        world.run([m = model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
        model->refreshVoices();
    }
    ModuleReport row(ModuleID id) const
    {
        for (const ModuleReport& report : model->diagnosticRows())
            if (report.module == id)
                return report;
        return {};
    }
};

std::string nameOf(const std::string& id)
{
    return test::callLanguage(id).displayName();
}

TEST(ModelStatusRows, AllReadyGivesFiveReadyRowsInModuleOrder)
{
    RowsWorld w;
    EXPECT_EQ(w.model->diagnosticRows(),
              (std::vector<ModuleReport>{
                  {ModuleID::translation, "test translation", ModuleState::ready()},
                  {ModuleID::recognition, "Simulated speech transcriber", ModuleState::ready()},
                  {ModuleID::speech, "Simulated speech synthesizer", ModuleState::ready()},
                  {ModuleID::callAudio, "Simulated call audio capture", ModuleState::ready()},
                  {ModuleID::virtualMic, "声音服务器模块 v1.0", ModuleState::ready()},
              }));

    // The installed platform's engines name the rows while it is installed;
    // the translation row names whatever translator the model was given.
    {
        EngineNamesScope names(
            EngineNames{.onDeviceRecognizer = "recognizer", .speechSynthesis = "voice engine", .callAudio = "capture"});
        test::given.set(w.model->myEngine, SpeechEngine::onDevice);
        const std::vector<ModuleReport> rows = w.model->diagnosticRows();
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_EQ(rows[0].adapter, "test translation");
        EXPECT_EQ(rows[1].adapter, "recognizer");
        EXPECT_EQ(rows[2].adapter, "voice engine");
        EXPECT_EQ(rows[3].adapter, "capture");
    }
    EXPECT_EQ(w.row(ModuleID::recognition).adapter, "Simulated on-device recognizer");
    EXPECT_EQ(w.row(ModuleID::callAudio).adapter, "Simulated call audio capture");
}

TEST(ModelStatusRows, TranslationRecognitionAndSpeechSayWhatIsMissing)
{
    RowsWorld w;
    const std::string pair = nameOf("en") + " ⇄ " + nameOf("zh-Hans");
    test::given.set(w.model->translationReady, false);
    EXPECT_EQ(w.row(ModuleID::translation).state, ModuleState::needsDownload(pair + "翻译包"));
    test::given.set(ModelTestAccess::theirMenu(*w.model),
                    {{"en", LanguageReadiness{SpeechEngine::speech, true, false, false}}});
    EXPECT_EQ(w.row(ModuleID::translation).state, ModuleState::unsupported("苹果翻译不支持" + pair));

    test::given.set(ModelTestAccess::theirSpeechReady(*w.model), false);
    EXPECT_EQ(w.row(ModuleID::recognition).state, ModuleState::needsDownload("语音识别模型"));
    test::given.set(w.model->theirEngine, std::nullopt);
    EXPECT_EQ(w.row(ModuleID::recognition).state, ModuleState::unsupported("本机无法识别" + nameOf("en")));

    // Without a recognizer for my language the row names the engine of
    // theirs and the limit, as for their side: nothing there to fix. Only a
    // pair with neither fails, naming no engine.
    test::given.set(w.model->theirEngine, SpeechEngine::dictation);
    test::given.set(ModelTestAccess::theirSpeechReady(*w.model), true);
    test::given.set(w.model->myEngine, std::nullopt);
    EXPECT_EQ(w.row(ModuleID::recognition),
              (ModuleReport{ModuleID::recognition, "Simulated dictation transcriber",
                            ModuleState::unsupported("本机无法识别" + nameOf("zh-Hans"))}));
    test::given.set(w.model->theirEngine, std::nullopt);
    EXPECT_EQ(
        w.row(ModuleID::recognition),
        (ModuleReport{ModuleID::recognition, "—", ModuleState::failed("SR-1", "本机无法识别" + nameOf("zh-Hans"))}));

    test::given.set(w.model->targetVoices, {});
    EXPECT_EQ(w.row(ModuleID::speech).state, ModuleState::failed("TTS-1", "没有" + nameOf("en") + "音色"));
}

TEST(ModelStatusRows, AListeningFailureGoesToTheRowItsCodeNames)
{
    RowsWorld w;
    test::given.set(w.model->listeningFailed, true);
    test::given.set(ModelTestAccess::listeningError(*w.model), "识别出错（SR-5）");
    EXPECT_EQ(w.row(ModuleID::recognition).state, ModuleState::failed("SR-5", "识别出错（SR-5）"));
    EXPECT_EQ(w.row(ModuleID::callAudio).state, ModuleState::ready());
    // The recognition prefix with no valid code still counts as recognition.
    test::given.set(ModelTestAccess::listeningError(*w.model), "识别出错（SR-x）");
    EXPECT_EQ(w.row(ModuleID::recognition).state, ModuleState::failed("SR-5", "识别出错（SR-x）"));

    test::given.set(ModelTestAccess::listeningError(*w.model), "无法开始收听（CAP-2）");
    EXPECT_EQ(w.row(ModuleID::recognition).state, ModuleState::ready());
    EXPECT_EQ(w.row(ModuleID::callAudio).state, ModuleState::failed("CAP-2", "无法开始收听（CAP-2）"));
    test::given.set(ModelTestAccess::listeningError(*w.model), "设备出错");
    EXPECT_EQ(w.row(ModuleID::callAudio).state, ModuleState::failed("CAP-3", "设备出错"));
    test::given.set(ModelTestAccess::listeningError(*w.model), std::nullopt);
    test::given.set(w.model->listeningStatus, "收听未开启 · 请检查后重试");
    EXPECT_EQ(w.row(ModuleID::callAudio).state, ModuleState::failed("CAP-3", "收听未开启 · 请检查后重试"));

    test::given.set(w.model->audioCaptureMissing, true);
    EXPECT_EQ(w.row(ModuleID::callAudio).state, ModuleState::needsPermission("系统录音（CAP-1）"));
}

TEST(ModelStatusRows, TheDriverRowTellsMissingOutdatedAndNotYetLoaded)
{
    RowsWorld w;
    test::given.set(w.model->virtualMicNeedsUpdate, true);
    EXPECT_EQ(w.row(ModuleID::virtualMic).state, ModuleState::failed("VM-2", "需要更新驱动"));
    test::given.set(w.model->virtualMicNeedsUpdate, false);

    w.carried = "1.1";
    EXPECT_EQ(w.row(ModuleID::virtualMic).state,
              ModuleState::failed("VM-3", "驱动已更新，系统仍在使用旧版本，请重启电脑"));
    test::given.set(ModelTestAccess::loadedDriverVersion(*w.model), std::nullopt);
    EXPECT_EQ(w.row(ModuleID::virtualMic),
              (ModuleReport{ModuleID::virtualMic, "声音服务器模块",
                            ModuleState::failed("VM-3", "驱动已更新，系统仍在使用旧版本，请重启电脑")}));
    // A carried copy of unknown version judges nothing.
    w.carried.reset();
    EXPECT_EQ(w.row(ModuleID::virtualMic).state, ModuleState::ready());

    w.world.audio.removeObject(50);
    ModelTestAccess::refreshDevices(*w.model);
    EXPECT_EQ(w.row(ModuleID::virtualMic).state, ModuleState::failed("VM-1", "未安装 wenmora 音频设备"));
}

TEST(ModelStatusRows, OnlyATrailingBracketedAsciiCodeIsACode)
{
    const auto split = [](const std::optional<std::string>& text) { return splitMessageCode(text); };
    EXPECT_EQ(split("文本（SR-5）"), "SR-5");
    EXPECT_EQ(split("（TR-1）后来（VM-12）"), "VM-12");
    EXPECT_EQ(split("先（VM-7）后（坏）"), std::nullopt);
    // Languages that write ASCII brackets put the code in them.
    EXPECT_EQ(split("Text (SR-5)"), "SR-5");
    EXPECT_EQ(split("（TR-1） then (VM-12)"), "VM-12");
    EXPECT_EQ(split("(TR-1) dann（VM-12）"), "VM-12");
    EXPECT_EQ(split("first (VM-7) then (bad)"), std::nullopt);
    EXPECT_EQ(split(std::nullopt), std::nullopt);
    for (const char* text :
         {"文本（sr-5）", "文本（SR-）", "文本（SR）", "文本（-5）", "文本（SR-５）", "文本（SR-5", "文本SR-5）",
          "文本）SR-5（", "文本（SR-5)", "文本(SR-5）", "文本（SR 5）", "文本（SR-5a）", "文本（ＳR-5）"})
        EXPECT_EQ(split(std::string(text)), std::nullopt) << text;
}

}  // namespace
}  // namespace parlaro
