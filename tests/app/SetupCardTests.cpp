#include "ModelUiWorld.h"
#include "UiWorld.h"

#include "app/SetupCard.h"
#include "model/AppModel.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"

#include <QLabel>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace parlaro::test {
namespace {

class SetupCardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = world.make([this](AppModel::Dependencies& d) {
            d.microphonePermission = [this]() -> rt::Async<bool> {
                ++permissionAsks;
                co_return false;
            };
        });
    }
    void TearDown() override
    {
        card.reset();
        world.settle();
    }
    ui::SetupCard& view()
    {
        if (!card) {
            card = std::make_unique<ui::SetupCard>(model);
            card->setFixedWidth(560);
            card->show();
        }
        world.settle();
        return *card;
    }
    template <class T = QWidget>
    T* find(const QString& name)
    {
        return card->findChild<T*>(name);
    }
    QString title(const char* row) { return find<QLabel>(QStringLiteral("setupCard.%1.title").arg(row))->text(); }
    QString mark(const char* row)
    {
        return find<ui::SymbolView>(QStringLiteral("setupCard.%1.mark").arg(row))->property("symbol").toString();
    }
    bool shown(const char* name) { return find(QString::fromUtf8(name))->isVisible(); }

    ModelUiWorld world;
    std::shared_ptr<AppModel> model;
    std::unique_ptr<ui::SetupCard> card;
    int permissionAsks = 0;
};

TEST_F(SetupCardTest, MissingRowsOfferTheirActions)
{
    test::given.set(ModelTestAccess::mySpeechReady(*model), false).set(model->translationReady, false);
    test::given.set(model->micAuthorized, false);
    auto& c = view();
    EXPECT_EQ(find<QLabel>("setupCard.title")->text(), "准备工作（只需一次）");
    EXPECT_EQ(title("speech"), "语音识别模型（英语 + 中文）");
    EXPECT_EQ(title("pack"), "翻译语言包（英语 ⇄ 中文）");
    EXPECT_EQ(title("mic"), "麦克风权限");
    EXPECT_EQ(title("device"), "wenmora 音频设备（让对方听到翻译）");
    for (const char* row : {"speech", "pack", "mic", "device"}) {
        EXPECT_EQ(mark(row), "exclamationmark.circle") << row;
        EXPECT_EQ(find<ui::SymbolView>(QStringLiteral("setupCard.%1.mark").arg(row))->color(), ui::Palette::amber());
    }
    EXPECT_TRUE(shown("setupCard.speech.download"));
    EXPECT_TRUE(shown("setupCard.pack.download"));
    EXPECT_EQ(find<ui::PillButton>("setupCard.device.install")->text(), "安装");
    snapshot(c, "setupcard", "missing");

    find<ui::PillButton>("setupCard.mic.grant")->click();
    view();
    EXPECT_EQ(permissionAsks, 1);
    EXPECT_EQ(model->errorMessage(), "没有麦克风权限。请在「系统设置 → 隐私与安全性 → 麦克风」里打开 Parlaro。");

    find<ui::PillButton>("setupCard.device.install")->click();
    EXPECT_TRUE(model->showInstallSheet());

    test::given.set(model->virtualMicNeedsUpdate, true);
    view();
    EXPECT_EQ(title("device"), "wenmora 音频设备有新版本");
    EXPECT_EQ(mark("device"), "exclamationmark.circle");
    EXPECT_EQ(find<ui::PillButton>("setupCard.device.install")->text(), "更新");

    test::given.set(model->theirEngine, std::nullopt).set(model->micAuthorized, true);
    view();
    EXPECT_EQ(title("speech"), "语音识别模型（中文）");
    EXPECT_EQ(mark("mic"), "checkmark.circle.fill");
    EXPECT_EQ(find<ui::SymbolView>("setupCard.mic.mark")->color(), ui::Palette::violet());
    EXPECT_FALSE(shown("setupCard.mic.actions"));
}

// The card offers no pack for a pair nothing here translates; it says which
// pairs can be, and a pair that can brings the download back.
TEST_F(SetupCardTest, APairThisComputerCannotTranslateOffersNoDownload)
{
    ModelTestAccess::languageServices(*model).translationStatus =
        [](std::string source, std::string target) -> rt::Async<TranslationStatus> {
        if (source == "de" || target == "de")
            co_return TranslationStatus::unsupported;
        co_return (source == "en" && target == "es") || (source == "es" && target == "en")
            ? TranslationStatus::installed
            : TranslationStatus::supported;
    };
    test::given.set(model->myLanguage, *CallLanguage::find("de"));
    test::given.set(model->theirLanguage, *CallLanguage::find("en"));
    world.run([m = model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    view();
    EXPECT_FALSE(shown("setupCard.pack.download"));
    ASSERT_TRUE(shown("setupCard.pack.pairs.note"));
    EXPECT_EQ(find<QLabel>(QStringLiteral("setupCard.pack.pairs.note"))->text().toStdString(),
              model->untranslatablePairNote());
    EXPECT_NE(model->untranslatablePairNote().find("apertium"), std::string::npos);
    snapshot(*card, "setupcard", "untranslatable-pair");

    test::given.set(model->myLanguage, *CallLanguage::find("fr"));
    world.run([m = model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    view();
    EXPECT_FALSE(shown("setupCard.pack.pairs"));
    EXPECT_TRUE(shown("setupCard.pack.download"));
}

TEST_F(SetupCardTest, DownloadsShowTheirProgress)
{
    test::given.set(ModelTestAccess::mySpeechReady(*model), false).set(model->translationReady, false);
    test::given.set(model->speechDownloadProgress, 0.42).set(model->isDownloadingTranslation, true);
    auto& c = view();
    EXPECT_TRUE(shown("setupCard.speech.progress"));
    EXPECT_EQ(find<QProgressBar>("setupCard.speech.progress")->width(), 120);
    EXPECT_EQ(find<QLabel>("setupCard.speech.percent")->text(), "42%");
    EXPECT_FALSE(shown("setupCard.speech.download"));
    EXPECT_TRUE(shown("setupCard.pack.spinner"));
    EXPECT_EQ(find<QLabel>("setupCard.pack.confirm")->text(), "请在系统弹窗里确认下载");
    EXPECT_FALSE(shown("setupCard.pack.download"));
    snapshot(c, "setupcard", "downloading");

    test::given.set(model->speechDownloadProgress, 0.999);
    view();
    EXPECT_EQ(find<QLabel>("setupCard.speech.percent")->text(), "99%");
    test::given.set(model->speechDownloadProgress, 0.29);
    view();
    EXPECT_EQ(find<QLabel>("setupCard.speech.percent")->text(), "29%");

    // No recognizer for the user's language: only the other party's model
    // is a step, and once it is there the row is done; no step can add a
    // recognizer, so that limit is no open item here.
    test::given.set(model->speechDownloadProgress, std::nullopt).set(model->myEngine, std::nullopt);
    test::given.set(ModelTestAccess::theirSpeechReady(*model), false);
    view();
    EXPECT_EQ(title("speech"), "语音识别模型（英语）");
    EXPECT_TRUE(shown("setupCard.speech.download"));
    test::given.set(ModelTestAccess::theirSpeechReady(*model), true);
    view();
    EXPECT_EQ(mark("speech"), "checkmark.circle.fill");
    EXPECT_FALSE(shown("setupCard.speech.actions"));

    // Neither side can be recognized: nothing to download, and it says why.
    test::given.set(model->theirEngine, std::nullopt);
    view();
    EXPECT_EQ(title("speech"), "语音识别模型（中文）");
    EXPECT_EQ(mark("speech"), "exclamationmark.circle");
    EXPECT_TRUE(shown("setupCard.speech.unsupported"));
    EXPECT_EQ(find<QLabel>("setupCard.speech.unsupported")->text(), "本机无法识别中文");
    EXPECT_FALSE(shown("setupCard.speech.download"));
}

}  // namespace
}  // namespace parlaro::test
