#include "SheetFixture.h"

#include "settings/WizardView.h"
#include "ui/LanguagePicker.h"
#include "ui/PillButton.h"
#include "ui/SystemSettings.h"

#include "AccessibleTree.h"
#include "StringTableFiles.h"
#include "UiWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace parlaro::test {
namespace {

// Counts the times the widgets it watches are shown.
struct ShowCounter : QObject {
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        shows += event->type() == QEvent::Show;
        return false;
    }
};

class WizardViewTest : public SheetFixture {
protected:
    ui::WizardView& view()
    {
        if (!view_) {
            view_ = new ui::WizardView(model, window.get());
            view_->setFixedWidth(564);
            views.emplace_back(view_);
            view_->show();
        }
        world.settle();
        return *view_;
    }
    bool shown(const char* name) { return find<QWidget>(name)->isVisible(); }
    // Each picker's tooltip, and what a screen reader hears, describe the
    // language it shows.
    void pickersDescribeTheirLanguages()
    {
        for (const char* name : {"wizard.myLanguage", "wizard.theirLanguage"}) {
            auto* picker = find<QComboBox>(name);
            const QString label = picker->currentText();
            const QString tip = ui::LanguagePicker::nameOf(label) == label ? QString() : label;
            EXPECT_EQ(picker->toolTip(), tip) << label.toStdString();
            EXPECT_EQ(QAccessible::queryAccessibleInterface(picker)->text(QAccessible::Description), tip);
        }
    }
    bool done(int step)
    {
        return find<QWidget>(("wizard.step" + std::to_string(step)).c_str())->property("done").toBool();
    }
    QString text(const char* name) { return find<QLabel>(name)->text(); }
    static CallLanguage language(const char* id) { return *CallLanguage::find(std::string(id)); }

    ui::WizardView* view_ = nullptr;
};

TEST_F(WizardViewTest, FreshWizardListsTheSixStepsWithTheirControls)
{
    test::given.set(model->translationReady, false).set(model->micConfirmed, false);
    auto& v = view();
    EXPECT_EQ(text("wizard.title"), "欢迎使用Parlaro");
    EXPECT_EQ(text("wizard.intro"), "按顺序完成下面几步（只需一次）。都打勾后就可以打电话了。");
    const char* titles[] = {"选择语言",        "下载语音识别模型", "下载翻译语言包",
                            "安装「wenmora」", "检测你的麦克风",   "允许「系统录音」（听对方说话用）"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(text(("wizard.step" + std::to_string(i + 1) + ".title").c_str()), QString::fromUtf8(titles[i]));
    EXPECT_TRUE(done(1));
    EXPECT_TRUE(shown("wizard.pickers"));
    EXPECT_FALSE(done(3));
    EXPECT_TRUE(shown("wizard.pack.download"));
    EXPECT_FALSE(done(4));
    EXPECT_EQ(find<ui::PillButton>("wizard.device.install")->text(), "安装");
    EXPECT_FALSE(done(5));
    EXPECT_FALSE(shown("wizard.pending"));
    snapshot(v, "wizard", "fresh");

    // Each picker offers every language but the one on the other side.
    auto* mine = find<QComboBox>("wizard.myLanguage");
    auto* theirs = find<QComboBox>("wizard.theirLanguage");
    EXPECT_EQ(mine->count(), static_cast<int>(model->myLanguageChoices().size()));
    EXPECT_EQ(mine->count(), static_cast<int>(CallLanguage::all().size()) - 1);
    EXPECT_EQ(theirs->count(), static_cast<int>(CallLanguage::all().size()) - 1);
    EXPECT_EQ(mine->currentText().toStdString(), model->languageMenuLabel(model->myLanguage(), true));
    EXPECT_TRUE(find<QWidget>("wizard.pickers")->isEnabled());
    test::given.set(model->isChangingLanguage, true);
    view();
    EXPECT_FALSE(find<QWidget>("wizard.pickers")->isEnabled());
}

TEST_F(WizardViewTest, SpeechStepShowsProgressDownloadOrTheMissingRecognizer)
{
    test::given.set(model->speechDownloadProgress, 0.424);
    view();
    EXPECT_TRUE(shown("wizard.speech.progress"));
    EXPECT_EQ(find<QProgressBar>("wizard.speech.progress")->width(), 140);
    EXPECT_EQ(text("wizard.speech.percent"), "42%");
    EXPECT_FALSE(shown("wizard.speech.download"));
    test::given.set(model->speechDownloadProgress, 1.0);
    view();
    EXPECT_EQ(text("wizard.speech.percent"), "100%");
    // The product of these fractions and 100 lands just under the whole
    // number in binary; the percentage must not show one short.
    test::given.set(model->speechDownloadProgress, 0.29);
    view();
    EXPECT_EQ(text("wizard.speech.percent"), "29%");
    test::given.set(model->speechDownloadProgress, 0.57);
    view();
    EXPECT_EQ(text("wizard.speech.percent"), "57%");

    // No recognizer for mine is no step while theirs can be heard; with
    // neither, the step stays open and says why.
    test::given.set(model->speechDownloadProgress, std::nullopt).set(model->myEngine, std::nullopt);
    test::given.set(ModelTestAccess::theirSpeechReady(*model), true);
    view();
    EXPECT_TRUE(done(2));
    test::given.set(model->theirEngine, std::nullopt);
    view();
    EXPECT_FALSE(done(2));
    EXPECT_FALSE(shown("wizard.speech.progress"));
    EXPECT_FALSE(shown("wizard.speech.download"));
    EXPECT_TRUE(shown("wizard.speech.unsupported"));
    EXPECT_EQ(text("wizard.speech.unsupported").toStdString(), "本机无法识别" + model->myLanguage().displayName());

    test::given.set(model->isDownloadingTranslation, true).set(model->translationReady, false);
    view();
    EXPECT_TRUE(shown("wizard.pack.spinner"));
    EXPECT_EQ(text("wizard.pack.confirm"), "请在系统弹窗里确认");
    EXPECT_FALSE(shown("wizard.pack.download"));
}

TEST_F(WizardViewTest, HandsOverToTheInstallationAndTheMicrophoneCheck)
{
    test::given.set(model->virtualMicNeedsUpdate, true).set(model->micCheckReason, std::string("早先的原因"));
    test::given.set(model->micConfirmed, false);
    view();
    EXPECT_FALSE(done(4));
    auto* install = find<ui::PillButton>("wizard.device.install");
    EXPECT_EQ(install->text(), "更新");
    install->click();
    EXPECT_TRUE(model->showInstallSheet());

    find<ui::PillButton>("wizard.mic.check")->click();
    EXPECT_TRUE(model->showMicCheck());
    EXPECT_FALSE(model->micCheckReason().has_value());

    // Permitted but not confirmed is not done.
    EXPECT_TRUE(model->micAuthorized());
    EXPECT_FALSE(done(5));
    test::given.set(model->micConfirmed, true);
    view();
    EXPECT_TRUE(done(5));
}

TEST_F(WizardViewTest, CaptureStepReadsThePermissionAfreshOnEachRefresh)
{
    ui::RecordingSystemSettings settings;
    ui::SystemSettings::Scope scope(settings);
    view();
    EXPECT_TRUE(done(6));  // no check on this system
    world.captureStatus = AudioCapturePermission::Status::undetermined;
    test::given.set(model->micConfirmed, !model->micConfirmed());
    view();
    EXPECT_TRUE(done(6));
    world.captureStatus = AudioCapturePermission::Status::denied;
    test::given.set(model->micConfirmed, !model->micConfirmed());
    view();
    EXPECT_FALSE(done(6));
    find<ui::PillButton>("wizard.capture.settings")->click();
    EXPECT_EQ(settings.opened, std::vector<std::string>{ui::paneId::callAudioCapture});
    world.captureStatus = AudioCapturePermission::Status::granted;
    test::given.set(model->audioCaptureMissing, true);
    view();
    EXPECT_FALSE(done(6));

    // Where nothing guards capture, the step is whether it can start: the
    // sound server refusing it leaves the step open until a start succeeds.
    world.captureStatus = std::nullopt;
    test::given.set(model->audioCaptureMissing, false).set(model->micConfirmed, !model->micConfirmed());
    view();
    EXPECT_TRUE(done(6));
    test::given.set(model->listeningFailed, true);
    view();
    EXPECT_FALSE(done(6));
    test::given.set(model->listeningFailed, false).set(model->captureFailure, "Connection refused");
    view();
    EXPECT_FALSE(done(6));
    test::given.set(model->captureFailure, std::nullopt).set(model->micConfirmed, !model->micConfirmed());
    view();
    EXPECT_TRUE(done(6));
}

TEST_F(WizardViewTest, APickAsksTheModelAndThePickerWaitsForTheSwitch)
{
    test::given.set(model->translationReady, false);
    view();
    auto* mine = find<QComboBox>("wizard.myLanguage");
    const std::string before = model->myLanguage().id;
    int japanese = -1;
    for (int i = 0; i < mine->count(); ++i)
        if (mine->itemText(i).startsWith(QString::fromStdString(language("ja").displayName())))
            japanese = i;
    ASSERT_GE(japanese, 0);
    window->activateWindow();
    mine->setFocus();
    mine->setCurrentIndex(japanese);
    mine->activated(japanese);
    // Until the model has switched, the picker shows the pair in force.
    EXPECT_EQ(mine->currentText().toStdString(), model->languageMenuLabel(model->myLanguage(), true));
    view();
    EXPECT_EQ(model->myLanguage().id, "ja");
    EXPECT_NE(before, "ja");
    EXPECT_EQ(mine->currentText().toStdString(), model->languageMenuLabel(language("ja"), true));
    EXPECT_EQ(QApplication::focusWidget(), mine) << "the keyboard stays where the pick was made";
}

// A German first start where only English ⇄ Spanish translates: the step
// offers no download that cannot happen, says in words what can be picked,
// the menus mark the refused pair, and a pick that works completes it.
TEST_F(WizardViewTest, APairThisComputerCannotTranslateOffersNoDownloadAndNamesThePairsItCan)
{
    ModelTestAccess::languageServices(*model).translationStatus =
        [](std::string source, std::string target) -> rt::Async<TranslationStatus> {
        co_return (source == "en" && target == "es") || (source == "es" && target == "en")
            ? TranslationStatus::installed
            : TranslationStatus::unsupported;
    };
    // The pair a German locale starts with.
    test::given.set(model->myLanguage, language("de")).set(model->theirLanguage, language("en"));
    world.run([m = model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    loadStringTables(world.platform.bundles, "de");
    InterfaceLanguage::set("de");
    world.run([m = model] { return ModelTestAccess::refreshLanguageMenus(*m); });
    auto& v = view();
    EXPECT_FALSE(done(3));
    EXPECT_FALSE(shown("wizard.pack.download"));
    ASSERT_TRUE(shown("wizard.pack.pairs.note"));
    EXPECT_EQ(text("wizard.pack.pairs.note").toStdString(), model->untranslatablePairNote());
    EXPECT_GT(find<QWidget>("wizard.pack.pairs")->y(), find<QWidget>("wizard.step3")->y());
    EXPECT_LT(find<QWidget>("wizard.pack.pairs")->y(), find<QWidget>("wizard.step4")->y());
    EXPECT_EQ(text("wizard.pack.pairs.note"),
              QStringLiteral("Dieser Computer kann Englisch ⇄ Deutsch nicht übersetzen. Übersetzen kann er: Englisch ⇄ "
                             "Spanisch. Weitere Sprachpaare kommen aus den apertium-Paketen deiner Distribution."));
    EXPECT_TRUE(find<QComboBox>("wizard.theirLanguage")
                    ->currentText()
                    .endsWith(QStringLiteral("Keine Übersetzung zwischen diesen Sprachen")));
    pickersDescribeTheirLanguages();
    snapshot(v, "wizard", "untranslatable-pair-de");

    // A screen reader reads the chosen language as the picker's value and
    // text, its state as the description, and the list with named items.
    auto* mine = find<QComboBox>("wizard.myLanguage");
    auto reads = [](QComboBox* picker, const QString& shown) {
        EXPECT_EQ(accessibleSummary(picker), QStringLiteral("ComboBox: %1 [%2]").arg(picker->accessibleName(), shown));
        const QString reading = pickerReading(picker);
        EXPECT_TRUE(reading.startsWith(shown + QStringLiteral(" | "))) << reading.toStdString();
        EXPECT_TRUE(reading.contains(picker->currentText())) << reading.toStdString();
    };
    reads(mine, QStringLiteral("Deutsch"));
    reads(find<QComboBox>("wizard.theirLanguage"), QStringLiteral("Englisch"));

    // A pick the computer cannot translate is refused on the sheet itself,
    // and announced each time, the same refusal twice included.
    // (Shown afresh, the note is news to a screen reader each time.)
    ShowCounter counter;
    const int& shows = counter.shows;
    find<QLabel>("wizard.pickNote")->installEventFilter(&counter);
    const int french = mine->findText(QStringLiteral("Französisch"), Qt::MatchStartsWith);
    ASSERT_GE(french, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        mine->activated(french);
        view();
        EXPECT_EQ(model->myLanguage().id, "de");
        reads(mine, QStringLiteral("Deutsch"));
    }
    ASSERT_TRUE(shown("wizard.pickNote"));
    EXPECT_EQ(text("wizard.pickNote").toStdString(), model->status());
    EXPECT_EQ(shows, 2);
    snapshot(v, "wizard", "refused-pick-de");
    EXPECT_EQ(accessibleSummary(find<QWidget>("wizard.pickNote")),
              QStringLiteral("AlertMessage: ") + text("wizard.pickNote"));

    // The pair the note names is one choice away in the step's own picker,
    // and the step is then done.
    const int spanish = mine->findText(QStringLiteral("Spanisch"), Qt::MatchStartsWith);
    ASSERT_GE(spanish, 0);
    mine->setCurrentIndex(spanish);
    mine->activated(spanish);
    view();
    EXPECT_EQ(model->myLanguage().id, "es");
    EXPECT_EQ(model->theirLanguage().id, "en") << "the other party's language stays";
    EXPECT_TRUE(done(3));
    EXPECT_FALSE(shown("wizard.pack.pairs"));
    EXPECT_FALSE(shown("wizard.pickNote"));
    EXPECT_EQ(shows, 2);
    reads(mine, QStringLiteral("Spanisch"));
    pickersDescribeTheirLanguages();
    InterfaceLanguage::set("zh-Hans");
}

TEST_F(WizardViewTest, PendingChangeBoxKeepsOrChoosesAndBothEndsFinishOnboarding)
{
    test::given.set(model->pendingLanguageChange,
                    ModelTestAccess::PendingLanguageChange{language("ja"), language("en"), {"日语识别模型"}});
    auto& v = view();
    ASSERT_TRUE(shown("wizard.pending"));
    EXPECT_EQ(text("wizard.pending.text"), "切换到 我说日语 → 对方说英语，需要下载：日语识别模型");
    // Under the language pickers, above the speech models.
    EXPECT_GT(find<QWidget>("wizard.pending")->y(), find<QWidget>("wizard.step1")->y());
    EXPECT_LT(find<QWidget>("wizard.pending")->y(), find<QWidget>("wizard.step2")->y());
    snapshot(v, "wizard", "pending-change");
    find<ui::PillButton>("wizard.pending.cancel")->click();
    view();
    EXPECT_FALSE(model->pendingLanguageChange().has_value());
    EXPECT_FALSE(shown("wizard.pending"));
    EXPECT_EQ(model->myLanguage().id, "zh-Hans");

    test::given.set(model->pendingLanguageChange,
                    ModelTestAccess::PendingLanguageChange{language("ja"), language("en"), {"日语识别模型"}});
    view();
    find<ui::PillButton>("wizard.pending.download")->click();
    view();
    EXPECT_FALSE(model->pendingLanguageChange().has_value());
    EXPECT_EQ(model->myLanguage().id, "ja");

    test::given.set(model->showWizard, true);
    find<ui::PillButton>("wizard.later")->click();
    EXPECT_FALSE(model->showWizard());
    EXPECT_TRUE(world.platform.defaults.get<bool>("onboardingDone").value_or(false));
}

}  // namespace

TEST(WizardTexts, NoTableSendsTheUserToAnotherSystemsSettings)
{
    // The step that grants capture elsewhere says what it is here, and the
    // recognition failures name what to install, in every table.
    const auto root = std::filesystem::path(PARLARO_SOURCE_DIR) / "resources" / "i18n";
    const auto read = [&](const std::string& code, const char* file) {
        std::ifstream in(root / code / file);
        return nlohmann::json::parse(in);
    };
    EXPECT_EQ(read("zh-Hans", "startup.json").value("允许「系统录音」（听对方说话用）", ""),
              "声音服务器让 Parlaro 听到其他程序的声音（听对方说话用）");
    EXPECT_EQ(read("en", "startup.json").value("允许「系统录音」（听对方说话用）", ""),
              "The sound server lets Parlaro hear other programs (to hear the other party)");
    for (const auto& folder : std::filesystem::directory_iterator(root)) {
        const std::string code = folder.path().filename().string();
        const nlohmann::json recognition = read(code, "recognition.json");
        for (const auto& [key, text] : recognition.items()) {
            const auto value = text.get<std::string>();
            for (const char* foreign : {"系统设置 ›", "系統設定 ›", "System Settings", "Systemeinstellungen", "›"})
                EXPECT_EQ(value.find(foreign), std::string::npos) << code << ": " << value;
        }
        EXPECT_NE(read(code, "startup.json").value("允许「系统录音」（听对方说话用）", "").find("Parlaro"),
                  std::string::npos)
            << code;
    }
}

}  // namespace parlaro::test
