#include "AccessibleTree.h"
#include "CallScreenWorld.h"
#include "StringTableFiles.h"
#include "UiWorld.h"
#include "WholeTexts.h"

#include "app/CompactMeter.h"
#include "app/ContentView.h"
#include "app/ConversationView.h"
#include "app/DraftPanel.h"
#include "app/ElidingLabel.h"
#include "app/FooterView.h"
#include "app/HeaderBadge.h"
#include "app/HeaderView.h"
#include "app/LanguageBar.h"
#include "app/LanguageChangeAlert.h"
#include "app/SetupCard.h"
#include "app/SymbolPill.h"
#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "settings/ErrorAlert.h"
#include "settings/SettingsView.h"
#include "settings/StartupSheet.h"
#include "settings/UpdateModel.h"
#include "speech/Localization.h"
#include "support/ScratchMount.h"
#include "support/TempDirectory.h"
#include "ui/FocusRing.h"
#include "ui/GroupNotice.h"
#include "ui/HoldButton.h"
#include "ui/HoldToTalkControl.h"
#include "ui/Palette.h"
#include "ui/StatusDot.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace parlaro::test {
namespace {

using app::ContentView;

settings::HttpGet noNetwork()
{
    return [](settings::HttpRequest) -> rt::Async<settings::HttpResult> { co_return settings::HttpResult{}; };
}

// Saves a composed picture the way snapshot() saves a widget's.
void saveSnapshot(const QImage& image, const QString& name)
{
    const char* dir = std::getenv("PARLARO_SNAPSHOT_DIR");
    if (!dir || !*dir)
        return;
    QDir folder(QString::fromLocal8Bit(dir));
    folder.mkpath(QStringLiteral("."));
    image.save(folder.filePath(name + QStringLiteral(".png")));
}

class ContentViewTest : public testing::Test {
protected:
    ContentView& open()
    {
        view = std::make_unique<ContentView>(w.model, updates,
                                             ContentView::Services{.activity = &w.activity, .shortcuts = &w.shortcuts});
        w.show(*view, {1180, 800});
        return *view;
    }
    bool shown(QWidget* widget) const { return widget && widget->isVisible(); }
    AppModel& model() { return *w.model; }
    // This system as it is shipped: only English is recognized and only
    // English and Spanish are translated, each into the other.
    void onlyEnglishAndSpanishHere()
    {
        ModelTestAccess::languageServices(model()).engine =
            [](CallLanguage language) -> rt::Async<std::optional<SpeechEngine>> {
            co_return language.id == "en" ? std::optional(SpeechEngine::speech) : std::nullopt;
        };
        ModelTestAccess::languageServices(model()).translationStatus =
            [](std::string source, std::string target) -> rt::Async<TranslationStatus> {
            co_return (source == "en" && target == "es") || (source == "es" && target == "en")
                ? TranslationStatus::installed
                : TranslationStatus::unsupported;
        };
    }
    // Resized to `size`, settled, and named for a failure or a snapshot.
    std::string resizedTo(QSize size, const std::string& code)
    {
        view->resize(size);
        w.settle();
        return code + "-" + std::to_string(size.width()) + "x" + std::to_string(size.height());
    }
    void snapshotAs(const char* state, const std::string& where)
    {
        snapshot(*view, state, QString::fromStdString(where));
    }
    // The empty conversation's lines wrap inside it, in sight without
    // scrolling; where cards above leave it little room, its heading alone,
    // the rest told by the heading.
    void expectHintInSight(const std::string& where, bool whole = true)
    {
        auto* viewport = view->conversation()->viewport();
        auto* detail = child<QLabel>(*view->conversation(), "conversation.hint.detail");
        auto* title = child<QLabel>(*view->conversation(), "conversation.hint.title");
        if (!whole && detail->isHidden()) {
            EXPECT_EQ(title->toolTip(), detail->text()) << where;
            EXPECT_EQ(title->accessibleDescription(), detail->text()) << where;
        }
        EXPECT_EQ(view->conversation()->verticalScrollBar()->maximum(), 0) << where;
        for (QLabel* label : {title, detail}) {
            if (label == detail && !whole && detail->isHidden())
                continue;
            EXPECT_TRUE(label->isVisible()) << where << " " << label->objectName().toStdString();
            EXPECT_TRUE(viewport->rect().contains(QRect(label->mapTo(viewport, QPoint(0, 0)), label->size())))
                << where << " " << label->objectName().toStdString();
        }
    }

    // The microphone check over the window leaves the meters it makes live
    // in sight, beside it or above it, where the window has the room.
    void expectMetersBesideTheCheck(const std::string& where, bool pictured)
    {
        test::given.set(model().showMicCheck, true);
        w.settle();
        auto* sheet = view->sheet()->dialog();
        auto* row = view->footer()->statusLine()->parentWidget();
        ASSERT_TRUE(shown(sheet)) << where;
        EXPECT_FALSE(sheet->geometry().intersects(QRect(row->mapToGlobal(QPoint(0, 0)), row->size())))
            << where << ": the check covers the meters";
        if (pictured) {
            QImage picture = render(*view);
            QPainter painter(&picture);
            painter.fillRect(picture.rect(), QColor(0, 0, 0, 40));
            painter.drawImage(sheet->geometry().topLeft() - view->geometry().topLeft(), render(*sheet));
            painter.end();
            saveSnapshot(picture, QString::fromStdString("main-miccheck-" + where));
        }
        test::given.set(model().showMicCheck, false);
        w.settle();
    }

    // The default size, the first window of a 1024 × 768 screen, 800 × 600,
    // and what an 800 × 600 or a 1024 × 600 screen leaves of the window.
    const std::vector<QSize> windowSizes{QSize(1180, 800), QSize(ContentView::minimumWidth, ContentView::minimumHeight),
                                         QSize(800, 600), QSize(798, 550), QSize(1022, 550)};

    CallScreenWorld w;
    std::shared_ptr<settings::UpdateModel> updates =
        settings::UpdateModel::make(settings::AppInfo{"0.1.0", true, "https://example.org"}, noNetwork());
    std::unique_ptr<ContentView> view;
};

TEST_F(ContentViewTest, CallScreenGivesWayToTheSettingsWhilePresentationsStayInForce)
{
    auto& v = open();
    ASSERT_FALSE(ContentView::needsSetup(model()));
    for (QWidget* part : {static_cast<QWidget*>(v.header()), static_cast<QWidget*>(v.conversation()),
                          static_cast<QWidget*>(v.footer())})
        EXPECT_TRUE(shown(part));
    EXPECT_FALSE(shown(v.setupCard()));
    EXPECT_FALSE(shown(v.draftPanel()));
    EXPECT_EQ(v.settingsView(), nullptr);
    EXPECT_EQ(v.header()->y(), 0);
    EXPECT_EQ(v.footer()->geometry().bottom(), v.height() - 1);
    snapshot(v, "main", "call");

    test::given.set(model().hasDraft, true);
    w.settle();
    ASSERT_TRUE(shown(v.draftPanel()));
    EXPECT_EQ(v.draftPanel()->x(), ContentView::setupPadding);
    test::given.set(model().hasDraft, false);
    w.settle();
    EXPECT_FALSE(shown(v.draftPanel()));

    // No smaller than 980 × 700.
    v.resize(800, 600);
    EXPECT_EQ(v.size(), QSize(980, 700));
    v.resize(1180, 800);

    model().openSettings(SettingsPage::history);
    w.settle();
    ASSERT_TRUE(shown(v.settingsView()));
    EXPECT_EQ(v.settingsView()->page(), SettingsPage::history);
    for (QWidget* part : {static_cast<QWidget*>(v.header()), static_cast<QWidget*>(v.conversation()),
                          static_cast<QWidget*>(v.footer())})
        EXPECT_FALSE(shown(part));

    // The sheet, the download question and the error alert still come up.
    test::given.set(model().showWizard, true);
    test::given.set(
        model().pendingLanguageChange,
        ModelTestAccess::PendingLanguageChange{*CallLanguage::find("ja"), *CallLanguage::find("en"), {"日语识别模型"}});
    w.settle();
    EXPECT_TRUE(shown(v.sheet()->dialog()));
    EXPECT_EQ(v.languageAlert()->box(), nullptr);
    test::given.set(model().showWizard, false);
    w.settle();
    EXPECT_FALSE(shown(v.sheet()->dialog()));
    ASSERT_TRUE(shown(v.languageAlert()->box()));
    v.languageAlert()->cancelButton()->click();
    model().showError("出错了");
    w.settle();
    ASSERT_NE(v.errorAlert()->box(), nullptr);
    EXPECT_EQ(v.errorAlert()->box()->text(), "出错了");
    v.errorAlert()->box()->accept();
    w.settle();
    EXPECT_FALSE(model().errorMessage().has_value());

    // Esc leaves the settings for the call.
    QTest::keyClick(v.settingsView(), Qt::Key_Escape);
    w.settle();
    EXPECT_FALSE(model().settingsPage().has_value());
    EXPECT_EQ(v.settingsView(), nullptr);
    EXPECT_TRUE(shown(v.header()));
    EXPECT_TRUE(shown(v.footer()));
}

TEST_F(ContentViewTest, ServesAsAMainWindowsCentralWidget)
{
    QMainWindow window;
    auto* content = new ContentView(w.model, updates, ContentView::Services{.activity = &w.activity});
    window.setCentralWidget(content);
    window.resize(600, 400);
    window.show();
    w.settle();
    EXPECT_GE(window.width(), ContentView::minimumWidth);
    EXPECT_GE(window.height(), ContentView::minimumHeight);
    test::given.set(model().showWizard, true);
    w.settle();
    ASSERT_TRUE(shown(content->sheet()->dialog()));
    EXPECT_EQ(content->sheet()->dialog()->parentWidget()->window(), &window);
    test::given.set(model().showWizard, false);
    w.settle();
}

TEST_F(ContentViewTest, SetupCardShowsUntilAllSixConditionsHold)
{
    auto& v = open();
    const auto virtualOutput = model().selectedVirtualOutputID();
    const auto outputs = model().outputDevices();
    auto withoutInjection = outputs;
    std::erase_if(withoutInjection, [](const AudioDevice& device) { return device.uid == injectionUID; });

    struct Condition {
        const char* name;
        std::function<void(bool)> hold;
    };
    const std::vector<Condition> conditions{
        {"speech", [&](bool on) { test::given.set(ModelTestAccess::mySpeechReady(model()), on); }},
        {"translation", [&](bool on) { test::given.set(model().translationReady, on); }},
        {"virtual output",
         [&](bool on) { test::given.set(model().selectedVirtualOutputID, on ? virtualOutput : std::nullopt); }},
        {"microphone", [&](bool on) { test::given.set(model().micAuthorized, on); }},
        {"device", [&](bool on) { test::given.set(model().outputDevices, on ? outputs : withoutInjection); }},
        {"driver update", [&](bool on) { test::given.set(model().virtualMicNeedsUpdate, !on); }},
    };
    for (const auto& condition : conditions) {
        condition.hold(false);
        w.settle();
        EXPECT_TRUE(shown(v.setupCard())) << condition.name;
        condition.hold(true);
        w.settle();
        EXPECT_FALSE(shown(v.setupCard())) << condition.name;
    }

    // Only a driver update pending: the card, over the conversation.
    test::given.set(model().virtualMicNeedsUpdate, true);
    w.settle();
    ASSERT_TRUE(shown(v.setupCard()));
    EXPECT_EQ(v.setupCard()->mapTo(&v, QPoint(0, 0)).x(), ContentView::setupPadding);
    EXPECT_LT(v.setupCard()->mapTo(&v, QPoint(0, 0)).y(), v.conversation()->mapTo(&v, QPoint(0, 0)).y());
    EXPECT_TRUE(shown(v.header()->attentionDot()));
    snapshot(v, "main", "attention");
    v.header()->settingsButton()->click();
    w.settle();
    EXPECT_EQ(model().settingsPage(), SettingsPage::virtualMic);
}

TEST_F(ContentViewTest, EveryActivationRefreshesReadinessInOrderAndRetriesListeningAfterThePermission)
{
    std::vector<std::string> log;
    // The voice list may be read more than once per refresh.
    auto note = [&log](const char* step) {
        if (log.empty() || log.back() != step || std::string(step) != "voices")
            log.emplace_back(step);
    };
    auto microphone = ModelTestAccess::platform(model()).microphoneAuthorized;
    ModelTestAccess::platform(model()).microphoneAuthorized = [&, microphone] {
        note("microphone");
        return microphone();
    };
    auto voices = ModelTestAccess::platform(model()).voiceList;
    ModelTestAccess::platform(model()).voiceList = [&, voices](const CallLanguage& language) {
        note("voices");
        return voices(language);
    };
    ModelTestAccess::platform(model()).driverUpdateCheck = [&] {
        note("driver");
        return false;
    };
    ModelTestAccess::platform(model()).capturePermission = [&]() -> std::optional<AudioCapturePermission::Status> {
        note("capture");
        return AudioCapturePermission::Status::granted;
    };
    auto retried = ModelTestAccess::permissionWasMissing(model()).subscribe([&] {
        if (!ModelTestAccess::permissionWasMissing(model())())
            note("retry");
    });
    auto& v = open();
    EXPECT_TRUE(log.empty()) << "nothing runs before the first activation";

    test::given.set(ModelTestAccess::permissionWasMissing(model()), true);
    w.activity.becomeActive();
    // The first three run at once, inside the notification.
    EXPECT_EQ(log, (std::vector<std::string>{"microphone", "voices", "driver"}));
    w.settle();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6),
              (std::vector<std::string>{"microphone", "voices", "driver", "capture", "capture", "retry"}));

    // Two quick activations: two refreshes, neither cancelled.
    log.clear();
    w.activity.becomeActive();
    w.activity.becomeActive();
    w.settle();
    EXPECT_EQ(std::count(log.begin(), log.end(), "microphone"), 2);
    EXPECT_GE(std::count(log.begin(), log.end(), "capture"), 2);
    EXPECT_EQ(std::find(log.begin(), log.end(), "capture") - log.begin(), 6);

    // Denied: the refresh raises the red link and listening is not retried.
    log.clear();
    test::given.set(ModelTestAccess::permissionWasMissing(model()), true);
    ModelTestAccess::platform(model()).capturePermission = [&]() -> std::optional<AudioCapturePermission::Status> {
        note("capture");
        return AudioCapturePermission::Status::denied;
    };
    v.activationRefresh();
    w.settle();
    EXPECT_EQ(log.back(), "capture");
    EXPECT_TRUE(ModelTestAccess::permissionWasMissing(model())());
    EXPECT_TRUE(model().audioCaptureMissing());
    EXPECT_TRUE(shown(v.header()->captureLink()));

    view.reset();
    EXPECT_EQ(w.activity.observerCount(), 0u);
}

class LanguageAlertTest : public ContentViewTest {
protected:
    LanguageAlertTest()
    {
        statuses = model().status.subscribe([this] {
            if (model().status().starts_with("没有切换"))
                ++keeps;
        });
        changes = model().isChangingLanguage.subscribe([this] {
            if (model().isChangingLanguage())
                ++chooses;
        });
        open();
    }
    void ask()
    {
        // A keep repeats the same status line; clear it so each one counts.
        test::given.set(model().status, "");
        test::given.set(model().pendingLanguageChange,
                        ModelTestAccess::PendingLanguageChange{
                            *CallLanguage::find("ja"), *CallLanguage::find("en"), {"日语识别模型"}});
        w.settle();
    }
    QMessageBox* box() { return view->languageAlert()->box(); }

    int keeps = 0;
    int chooses = 0;
    rt::Subscription statuses;
    rt::Subscription changes;
};

TEST_F(LanguageAlertTest, EachAnswerRunsExactlyOneOperation)
{
    ask();
    ASSERT_TRUE(shown(box()));
    EXPECT_EQ(box()->windowTitle(), "需要下载");
    // The heading is in the body too, for desktops that draw no title here.
    EXPECT_EQ(box()->text(), "需要下载");
    EXPECT_EQ(box()->informativeText().toStdString(),
              "切换到 我说日语 → 对方说英语，需要下载：\n日语识别模型\n\n现在下载吗？不下载就保持原来的语言。");
    EXPECT_EQ(view->languageAlert()->cancelButton()->text(), "取消");
    EXPECT_EQ(view->languageAlert()->downloadButton()->text(), "下载");

    view->languageAlert()->cancelButton()->click();
    w.settle();
    EXPECT_EQ(keeps, 1);
    EXPECT_EQ(chooses, 0);
    EXPECT_FALSE(model().pendingLanguageChange().has_value());
    EXPECT_EQ(box(), nullptr);

    ask();
    view->languageAlert()->downloadButton()->click();
    w.settle();
    EXPECT_EQ(keeps, 1);
    EXPECT_EQ(chooses, 1);
    EXPECT_EQ(box(), nullptr);
    w.settle();

    // Ended some other way (Esc, or quit ending the window's dialogs) while
    // the change is still pending: the languages stay.
    test::given.set(model().myLanguage, *CallLanguage::find("zh-Hans"));
    test::given.set(model().theirLanguage, *CallLanguage::find("en"));
    ask();
    QTest::keyClick(box(), Qt::Key_Escape);
    w.settle();
    EXPECT_EQ(keeps, 2);
    ask();
    ASSERT_TRUE(shown(box()));
    box()->done(QDialog::Rejected);
    w.settle();
    EXPECT_EQ(keeps, 3);
    EXPECT_EQ(chooses, 1);

    // The model settling the change itself closes the alert without a call.
    ask();
    test::given.set(model().pendingLanguageChange, std::nullopt);
    w.settle();
    EXPECT_EQ(box(), nullptr);
    EXPECT_EQ(keeps, 3);
    EXPECT_EQ(chooses, 1);
}

TEST_F(LanguageAlertTest, WaitsWhileTheFirstRunWizardShows)
{
    test::given.set(model().showWizard, true);
    ask();
    EXPECT_EQ(box(), nullptr);
    ASSERT_TRUE(shown(view->sheet()->dialog()));
    EXPECT_EQ(view->sheet()->page(), ui::StartupSheet::Page::wizard);

    // First run: the sheet over the call screen.
    QImage picture = render(*view);
    {
        QImage sheet = render(*view->sheet()->dialog());
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 40));
        painter.drawImage(QPoint((picture.width() - sheet.width()) / 2, 40), sheet);
    }
    saveSnapshot(picture, QStringLiteral("main-wizard"));

    model().finishOnboarding();
    w.settle();
    EXPECT_FALSE(shown(view->sheet()->dialog()));
    ASSERT_TRUE(shown(box()));
    EXPECT_EQ(keeps, 0);
    EXPECT_EQ(chooses, 0);
}

TEST_F(ContentViewTest, SheetDismissalEndsOnlyTheRequestOnTopAndErrorsShowOverTheTopMostSurface)
{
    // A failure at start, before the window and its sheet are up, shows
    // over the sheet and takes the keyboard: Return acknowledges it.
    test::given.set(model().showMicCheck, true);
    model().showError("麦克风出错");
    auto& v = open();
    w.settle();
    ASSERT_TRUE(shown(v.sheet()->dialog()));
    EXPECT_EQ(v.sheet()->page(), ui::StartupSheet::Page::micCheck);
    EXPECT_EQ(v.errorAlert()->box(), nullptr);
    QMessageBox* startBox = v.sheet()->alert()->box();
    ASSERT_NE(startBox, nullptr);
    EXPECT_TRUE(shown(startBox));
    EXPECT_EQ(QApplication::activeWindow(), startBox);
    ASSERT_EQ(QApplication::focusWidget(), startBox->defaultButton());
    snapshot(*startBox, "main", "start-alert");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    w.settle();
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(v.sheet()->alert()->box(), nullptr);

    QTest::keyClick(v.sheet()->dialog(), Qt::Key_Escape);
    w.settle();
    EXPECT_FALSE(model().showMicCheck());
    EXPECT_FALSE(shown(v.sheet()->dialog()));
    EXPECT_FALSE(w.world.platform.defaults.get<bool>("onboardingDone").value_or(false));

    // Outside a hold a notice has the keyboard: Enter answers it.
    model().showError("又出错了");
    w.settle();
    ASSERT_NE(v.errorAlert()->box(), nullptr);
    EXPECT_EQ(v.errorAlert()->box()->text(), "又出错了");
    EXPECT_FALSE(v.errorAlert()->box()->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(QApplication::activeWindow(), v.errorAlert()->box());
    ASSERT_EQ(QApplication::focusWidget(), v.errorAlert()->box()->defaultButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    w.settle();
    EXPECT_EQ(v.errorAlert()->box(), nullptr);
    EXPECT_EQ(model().errorMessage.get(), std::nullopt);

    // A notice that comes up during a hold leaves the window working and
    // takes neither the focus nor the release: the hold ends its work.
    auto* talk = v.footer()->talk()->button();
    QTest::mousePress(talk, Qt::LeftButton);
    w.settle();
    ASSERT_TRUE(model().isHoldingToTalk.get());
    model().showError("出错了");
    w.settle();
    ASSERT_NE(v.errorAlert()->box(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(v.errorAlert()->box()->isModal());
    EXPECT_TRUE(v.errorAlert()->box()->testAttribute(Qt::WA_ShowWithoutActivating));
    QTest::mouseRelease(talk, Qt::LeftButton);
    w.settle();
    EXPECT_FALSE(model().isHoldingToTalk.get());
    ASSERT_NE(v.errorAlert()->box(), nullptr);
    // The hold over, the alert takes the keyboard it waited for.
    EXPECT_EQ(QApplication::focusWidget(), v.errorAlert()->box()->defaultButton());
    v.errorAlert()->box()->accept();
    w.settle();

    // A window put away in the tray holds no alert back.
    v.window()->hide();
    model().showError("后台出错");
    w.settle();
    ASSERT_NE(v.errorAlert()->box(), nullptr);
    EXPECT_TRUE(shown(v.errorAlert()->box()));
}

// A pick the computer refuses is told where the pickers are, to a screen
// reader too, and told again when it is made again.
TEST_F(ContentViewTest, ARefusedPickIsAnnouncedUnderThePickersEachTime)
{
    onlyEnglishAndSpanishHere();
    test::given.set(model().myLanguage, *CallLanguage::find("en"));
    test::given.set(model().theirLanguage, *CallLanguage::find("es"));
    w.world.run([m = w.model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    auto& v = open();
    auto* their = child<QComboBox>(v, "languageBar.their");
    auto* note = child<QLabel>(v, "languageBar.pickNote");
    EXPECT_FALSE(shown(note));
    int shows = 0;
    struct Count : QObject {
        int& shows;
        explicit Count(int& n) : shows(n) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            shows += event->type() == QEvent::Show;
            return false;
        }
    } count(shows);
    note->installEventFilter(&count);
    const int french = their->findData(QStringLiteral("fr"));
    ASSERT_GE(french, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        emit their->activated(french);
        w.settle();
        EXPECT_EQ(model().theirLanguage().id, "es");
        ASSERT_TRUE(shown(note)) << attempt;
        EXPECT_EQ(note->text().toStdString(), model().status());
        EXPECT_EQ(shows, attempt + 1) << "a refusal made again is news again";
    }
    EXPECT_FALSE(note->text().isEmpty());
    EXPECT_EQ(accessibleSummary(note), QStringLiteral("AlertMessage: ") + note->text());
    // Under the header, across the window, where the pickers are.
    EXPECT_GE(note->mapTo(&v, QPoint(0, 0)).y(), v.header()->mapTo(&v, QPoint(0, v.header()->height())).y());
    EXPECT_GT(note->width(), v.width() / 2);
    snapshot(v, "main", "refused-pick");

    // The note goes once the status line has moved on.
    test::given.set(model().status, std::string("x"));
    w.settle();
    EXPECT_FALSE(shown(note));
}

// A history that cannot be written is said in the window, which stays
// usable, and the message goes once everything is saved.
TEST_F(ContentViewTest, AHistoryThatCannotBeSavedIsSaidWithoutBlockingTheWindowAndTakenBack)
{
    TempDirectory home;
    ReadOnlyFolder readOnly(home / "History");
    model().useHistory(ConversationHistory::make(home / "History", w.world.platform.defaults));
    for (const char* language : {"de", "es"}) {
        loadStringTables(w.world.platform.bundles, language);
        InterfaceLanguage::set(language);
        auto& v = open();
        auto* notice = child<QWidget>(v, "callScreen.historyNotice");
        readOnly.setReadOnly(true);
        ModelTestAccess::setEntries(
            model(), {ConversationEntry{.original = "Hola", .translated = "Hallo", .time = rt::clock().date()}});
        w.world.runtime.clock().advance(SessionFiling::saveDelay);
        w.settle();
        ASSERT_TRUE(shown(notice)) << language;
        EXPECT_EQ(notice->findChild<ui::GroupNotice*>()->text().toStdString(), *model().historyNotice());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(v.errorAlert()->box(), nullptr);
        snapshot(*view->window(), QStringLiteral("ContentView"), QStringLiteral("historyNotice-%1").arg(language));
        QTest::mouseClick(child<QPushButton>(v, "footer.clear"), Qt::LeftButton);
        w.settle();
        EXPECT_TRUE(model().entries().empty()) << "Clear works while the message is up";

        readOnly.setReadOnly(false);
        w.world.runtime.clock().advance(SessionFiling::saveDelay);
        w.settle();
        EXPECT_FALSE(shown(notice)) << "taken back once saved";
        view.reset();
    }
    InterfaceLanguage::set("zh-Hans");
}

TEST_F(ContentViewTest, ArabicLaysTheWindowOutRightToLeftAndItStaysLight)
{
    loadStringTables(w.world.platform.bundles, "ar");
    auto& v = open();
    EXPECT_EQ(v.layoutDirection(), Qt::LeftToRight);
    InterfaceLanguage::set("ar");
    test::given.set(w.model->isListening, true);
    w.settle();
    EXPECT_EQ(v.layoutDirection(), Qt::RightToLeft);
    auto* header = v.header();
    EXPECT_LT(header->settingsButton()->x(), header->languageBar()->x());
    EXPECT_EQ(header->listeningBadge()->text(), "يتم الاستماع إلى الطرف الآخر");

    // The window's own colours, whatever the desktop's scheme.
    QImage image = snapshot(v, "main", "rtl");
    QColor middle = image.pixelColor(12, v.conversation()->mapTo(&v, QPoint(0, 0)).y() + 12);
    EXPECT_GT(middle.lightness(), 230);

    InterfaceLanguage::set("zh-Hans");
    w.settle();
    EXPECT_EQ(v.layoutDirection(), Qt::LeftToRight);
}

// The translation a user checks before playing it shows whole, at the
// default width and narrower, however it arrived: typed and translated
// while the field was hidden, then the window resized.
TEST_F(ContentViewTest, ADraftsTranslationShowsWholeAtEveryWidth)
{
    struct Draft {
        const char* code;
        int width;
        const char* mine;
        const char* their;
        const char* text;
        const char* translation;
    };
    auto& v = open();
    auto* target = v.draftPanel()->target();
    for (const Draft draft :
         {Draft{"de", 1180, "de", "en",
                "Hallo, wo ist der Bahnhof? Ich muss vor fünf Uhr abends ankommen, bitte hilf mir.",
                "hello, where it is the station of train? I need to arrive before the five of the evening."},
          Draft{"en", 980, "en", "es", "Hello, how are you today? I will send the speech by email to everyone tonight.",
                "Hola, cómo eres hoy? Enviaré la alocución por email a todos esta noche, por email."},
          Draft{"ar", 980, "ar", "en", "مرحبا، أين محطة القطار؟ يجب أن أصل قبل الساعة الخامسة مساء، ساعدني من فضلك.",
                "Hello, where is the train station? I have to arrive before five in the evening, please help me."},
          Draft{"ja", 980, "ja", "en",
                "こんにちは、駅はどこですか？夕方五時までに着かなければなりません。助けてください。",
                "Hello, where is the station? I must arrive by five in the evening, so please help me now."}}) {
        loadStringTables(w.world.platform.bundles, draft.code);
        InterfaceLanguage::set(draft.code);
        test::given.set(model().myLanguage, *CallLanguage::find(draft.mine));
        test::given.set(model().theirLanguage, *CallLanguage::find(draft.their));
        test::given.set(model().hasDraft, true).set(model().isTranslatingDraft, true);
        model().editDraftText(draft.text);
        w.settle();
        model().editDraftTranslation(draft.translation);
        test::given.set(model().isTranslatingDraft, false);
        for (const int width : {1180, draft.width, ContentView::minimumWidth}) {
            v.resize(width, 800);
            w.settle();
            const std::string where = std::string(draft.code) + " " + std::to_string(width);
            ASSERT_TRUE(shown(target)) << where;
            EXPECT_EQ(target->verticalScrollBar()->maximum(), 0) << where;
            EXPECT_GE(target->height(), 2 * QFontMetrics(target->font()).lineSpacing()) << where;
        }
        v.resize(draft.width, 800);
        w.settle();
        snapshot(v, "draft", QString::fromLatin1(draft.code) + "-" + QString::number(draft.width));
        InterfaceLanguage::set("zh-Hans");
    }
    // Far more than a field shows scrolls instead of pushing the window.
    model().editDraftTranslation(QString(QStringLiteral("word ")).repeated(300).toStdString());
    w.settle();
    EXPECT_GT(target->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(target->height(), (app::DraftPanel::maxFieldLines + 1) * QFontMetrics(target->font()).lineSpacing() + 24);
    InterfaceLanguage::set("zh-Hans");
}

// The call screen with a draft open, in every interface language, at the
// default width, at the first window of a 1024 × 768 screen, at 800 × 600
// and in what an 800 × 600 or a 1024 × 600 screen leaves of the window:
// the empty call's message in sight, every placeholder, label, title and
// status word whole (a badge with its words or not at all, never a bare
// dot), the talk button's title whole,
// the typing field wide enough to work in, a sentence of 120 characters
// and its translation whole without scrolling while the conversation is
// empty or not, and with captions the conversation a third of the window
// at least (on the small screens what the sentence's lines leave, the end
// of a caption at least), the draft's translation in whole lines, two at
// least, on half the width; and so all along the switch after ⇄.
TEST_F(ContentViewTest, EveryInterfaceLanguageKeepsItsWordsWholeAndItsRoomAtEveryWidth)
{
    auto& v = open();
    // The window of a small screen lets the content below its usual least.
    v.setMinimumSize(798, 550);
    auto* field = v.footer()->typedText();
    auto* target = v.draftPanel()->target();
    // The status line alone may end in "…": its whole text is its tooltip.
    auto cutParts = [&] {
        std::vector<std::string> cut;
        for (auto* badge : v.findChildren<app::HeaderBadge*>()) {
            auto* dot = badge->findChild<ui::StatusDot*>();
            if (badge->isVisible() && dot && dot->isVisible() && !badge->label()->isVisible())
                cut.push_back(badge->objectName().toStdString() + " as a dot: " + badge->text().toStdString());
        }
        auto* talk = v.footer()->talk();
        if (talk->shownTitle().remove(QLatin1Char('\n')) != talk->title())
            cut.push_back("talk: " + talk->shownTitle().toStdString());
        auto* status = v.footer()->statusLine();
        if (status->shownText().remove(QLatin1Char('\n')) != status->text())
            cut.push_back("status: " + status->shownText().toStdString());
        // Wrapped texts stay inside the window.
        for (auto* label : v.findChildren<QLabel*>()) {
            if (!label->isVisible() || !label->wordWrap() || label->text().isEmpty())
                continue;
            const QRect at(label->mapTo(&v, QPoint(0, 0)), label->size());
            if (at.left() < 0 || at.right() >= v.width())
                cut.push_back(label->objectName().toStdString()
                              + " past the window's edge: " + label->text().toStdString());
        }
        for (auto* label : v.findChildren<QLabel*>()) {
            if (!label->isVisible() || label->wordWrap() || label->text().isEmpty()
                || label == v.footer()->statusLine())
                continue;
            if (label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width())
                cut.push_back(label->objectName().toStdString() + ": " + label->text().toStdString());
        }
        return cut;
    };
    auto placeholderRoom = [&] {
        QStyleOptionFrame option;
        option.initFrom(field);
        option.rect = field->rect();
        const QMargins text = field->textMargins();
        // The field keeps two pixels on each side of its text.
        return field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field).width() - text.left()
            - text.right() - 4;
    };
    auto expectRoom = [&](const std::string& where, QSize size) {
        for (const std::string& cut : cutParts())
            ADD_FAILURE() << where << ": " << cut;
        EXPECT_LE(field->fontMetrics().horizontalAdvance(field->placeholderText()), placeholderRoom())
            << where << ": " << field->placeholderText().toStdString();
        EXPECT_GE(field->width(), 240) << where;
        if (size.height() < ContentView::minimumHeight)
            EXPECT_GE(v.conversation()->height(), ContentView::leastConversation) << where;
        else
            EXPECT_GE(v.conversation()->height() * 3, size.height()) << where;
        // While the swap translates the draft again, a spinner stands in
        // for the translation.
        if (!shown(target))
            return;
        // Whole lines in both fields, none cut at the bottom: below the
        // top margin a field that scrolls shows lines and nothing more, one
        // that does not shows its lines and the bottom margin; and all of
        // each field is on screen.
        for (QPlainTextEdit* edit : {v.draftPanel()->source(), target}) {
            const int margin = static_cast<int>(edit->document()->documentMargin());
            const bool scrolls = edit->verticalScrollBar()->maximum() > 0;
            const int lines = edit->viewport()->height() - margin - (scrolls ? 0 : margin + 1);
            // The cursor stands as tall as a line.
            EXPECT_EQ(lines % edit->cursorRect(QTextCursor(edit->document())).height(), 0)
                << where << " " << edit->objectName().toStdString() << ": " << lines;
            EXPECT_EQ(edit->visibleRegion().boundingRect().height(), edit->height()) << where;
        }
        const int targetLines = (target->viewport()->height() - static_cast<int>(target->document()->documentMargin()))
            / target->cursorRect(QTextCursor(target->document())).height();
        EXPECT_GE(targetLines, 2) << where;
        EXPECT_GE(target->width() * 2, size.width()) << where;
    };
    for (const auto& language : InterfaceLanguage::supported()) {
        const std::string code = language.code;
        loadStringTables(w.world.platform.bundles, code);
        InterfaceLanguage::set(code);
        v.setLayoutDirection(InterfaceLanguage::layoutDirection() == LayoutDirection::rightToLeft ? Qt::RightToLeft
                                                                                                  : Qt::LeftToRight);
        const auto mine = CallLanguage::find(code);
        test::given.set(model().myLanguage, mine ? *mine : *CallLanguage::find("en"));
        test::given.set(model().theirLanguage, *CallLanguage::find(code == "en" ? "es" : "en"));
        const bool pictured = code == "de" || code == "es" || code == "en" || code == "zh-Hans" || code == "ar"
            || code == "ja" || code == "ko";
        // The empty call: its message in sight without scrolling.
        ModelTestAccess::setEntries(model(), {});
        test::given.set(model().hasDraft, false);
        for (const QSize size : windowSizes) {
            const std::string where = resizedTo(size, code);
            expectHintInSight(where);
            if (pictured)
                snapshotAs("empty", where);
            expectMetersBesideTheCheck(where, pictured || code == "en");
            // The longest standing lines read whole, in lines of their
            // height, and so do the meters beside or under them.
            int shown = 0;
            for (const std::string& line :
                 {localized("已取消安装。没有 wenmora 音频设备，对方听不到翻译。"),
                  localized("原声已开启：对方先听到你说的%@，松开按钮后再听到%@",
                            model().myLanguage.get().displayName(), model().theirLanguage.get().displayName())}) {
                test::given.set(model().status, line);
                w.settle();
                for (const std::string& cut : cutParts())
                    ADD_FAILURE() << where << ": " << cut;
                auto* status = v.footer()->statusLine();
                EXPECT_GE(status->height(),
                          (status->shownText().count(QLatin1Char('\n')) + 1) * status->fontMetrics().lineSpacing())
                    << where;
                if (pictured || code == "fr")
                    snapshot(*v.footer(), "footer",
                             QString::fromStdString("status" + std::to_string(++shown) + "-" + where));
            }
            test::given.set(model().status, "");
        }
        test::given.set(model().hasDraft, true);
        // A typed sentence of 120 characters: both fields show it whole,
        // the conversation empty or holding a played sentence, which then
        // scrolls.
        model().editDraftText("Hello, could you tell me where the nearest train station is? I have to be there before "
                              "five this evening, thank you so.");
        model().editDraftTranslation("Hola, ¿podría decirme dónde está la estación de tren más cercana? Tengo que "
                                     "estar allí antes de las cinco, muchas gracias.");
        const std::vector<ConversationEntry> played{ConversationEntry{.side = ConversationEntry::Side::me,
                                                                      .original = "Where is the ticket office?",
                                                                      .translated = "¿Dónde está la taquilla?",
                                                                      .originalLanguage = "en",
                                                                      .translatedLanguage = "es"}};
        for (const auto& [state, entries] :
             {std::pair{"sentence", std::vector<ConversationEntry>{}}, std::pair{"sentence-played", played}}) {
            ModelTestAccess::setEntries(model(), entries);
            for (const QSize size : windowSizes) {
                const std::string at = resizedTo(size, code);
                const std::string where = at + " " + state;
                for (QPlainTextEdit* edit : {v.draftPanel()->source(), target}) {
                    EXPECT_EQ(edit->verticalScrollBar()->maximum(), 0)
                        << where << " " << edit->objectName().toStdString();
                    EXPECT_EQ(edit->visibleRegion().boundingRect().height(), edit->height()) << where;
                }
                EXPECT_GE(v.conversation()->height(), entries.empty() ? 1 : ContentView::leastConversation) << where;
                if (pictured)
                    snapshotAs(state, at);
            }
        }
        // Captions in the conversation, and a long draft, more lines in
        // each field than it shows.
        ModelTestAccess::setEntries(
            model(), {ConversationEntry{.original = "你好", .translated = "Hello", .time = rt::clock().date()}});
        model().editDraftText(QString(QStringLiteral("Hallo, wo ist der Bahnhof? Ich muss vor fünf Uhr abends "
                                                     "ankommen, bitte hilf mir. "))
                                  .repeated(8)
                                  .toStdString());
        model().editDraftTranslation(QString(QStringLiteral("Hello, where is the train station? I have to arrive "
                                                            "before five in the evening, please help me now. "))
                                         .repeated(8)
                                         .toStdString());
        // The line under a draft waiting for its check.
        test::given.set(
            model().status,
            localized("请核对%@翻译，确认无误后点「播放给对方」", model().theirLanguage.get().displayName()));
        for (const QSize size : windowSizes) {
            const std::string where = resizedTo(size, code);
            ASSERT_TRUE(shown(target)) << where;
            expectRoom(where, size);
            snapshotAs("languages", where);
        }
        // ⇄, watched as the switch goes on.
        QTest::mouseClick(child<QPushButton>(*v.header()->languageBar(), "languageBar.swap"), Qt::LeftButton);
        for (int step = 0; step < 30; ++step) {
            w.settle();
            expectRoom(code + " " + std::to_string(v.width()) + "x" + std::to_string(v.height()) + ", "
                           + std::to_string(step * 100) + " ms after ⇄",
                       v.size());
            w.world.runtime.advance(0.1);
        }
        InterfaceLanguage::set("zh-Hans");
    }
    v.setLayoutDirection(Qt::LeftToRight);
}

// A first start as a German, Spanish, Arabic, Japanese, Korean or Chinese
// user meets it on this system: only English is recognized and only
// English ⇄ Spanish translated. The empty conversation and the typing field
// promise only what the pair does here, at the default size, at the least
// and on small screens, the setup card's notes whole and the empty
// conversation's words in sight under it.
TEST_F(ContentViewTest, AFirstStartPromisesOnlyWhatThePairDoesHere)
{
    onlyEnglishAndSpanishHere();
    auto& v = open();
    v.setMinimumSize(798, 550);
    auto* conversation = v.conversation();
    auto* field = v.footer()->typedText();
    auto hint = [&](const char* name) { return child<QLabel>(*conversation, name)->text().toStdString(); };
    struct Start {
        const char* code;
        const char* mine;
    };
    for (const Start start : {Start{"de", "de"}, Start{"es", "es"}, Start{"ar", "ar"}, Start{"ja", "ja"},
                              Start{"ko", "ko"}, Start{"zh-Hans", "zh-Hans"}}) {
        loadStringTables(w.world.platform.bundles, start.code);
        InterfaceLanguage::set(start.code);
        test::given.set(model().myLanguage, *CallLanguage::find(start.mine));
        test::given.set(model().theirLanguage, *CallLanguage::find("en"));
        w.world.run([m = w.model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
        for (const QSize size : windowSizes) {
            const std::string where = resizedTo(size, start.code);
            ASSERT_TRUE(shown(conversation->hint())) << where;
            if (shown(v.setupCard()))
                for (const std::string& cut : cutTexts(*v.setupCard()))
                    ADD_FAILURE() << where << ": " << cut;
            // The empty call's message in sight, and the talk button's
            // title whole.
            expectHintInSight(where);
            EXPECT_EQ(v.footer()->talk()->shownTitle().remove(QLatin1Char('\n')), v.footer()->talk()->title()) << where;
            const std::string refusal = model().untranslatablePairLine();
            if (std::string(start.code) == "es") {
                // Spanish ⇄ English translates here and English is heard:
                // captions come; Spanish is typed, and Return translates.
                EXPECT_EQ(refusal, "") << where;
                EXPECT_EQ(hint("conversation.hint.title"),
                          "Cuando la otra persona hable inglés, los subtítulos en español aparecerán aquí");
                EXPECT_EQ(hint("conversation.hint.detail"),
                          localized("要说话时，在下面的输入框打%@，回车后翻译成%@，核对后点「播放给对方」", "español",
                                    "inglés"));
                EXPECT_TRUE(field->isEnabled()) << where;
                // Or, where the row is short, the shorter hint with its reason.
                const std::string hint = field->placeholderText().toStdString();
                if (hint != localized("或者直接打字（%@，地址、数字更准确），回车翻译", "español"))
                    EXPECT_TRUE(size.width() < ContentView::minimumWidth && hint == localized("打字：地址、数字更准确"))
                        << where << ": " << hint;
            } else {
                // Nothing here translates the pair: no captions, no
                // translation of what is said or typed, and the field says
                // so in the setup steps' words before anything is typed.
                ASSERT_NE(refusal, "") << where;
                if (std::string(start.code) == "de")
                    EXPECT_EQ(refusal, "Dieser Computer kann Englisch ⇄ Deutsch nicht übersetzen.");
                EXPECT_EQ(hint("conversation.hint.title"), refusal) << where;
                EXPECT_EQ(
                    hint("conversation.hint.detail"),
                    localized("这里不会出现字幕，你说的话和打的字也不会翻译。请在上面换一对这台电脑能翻译的语言。"))
                    << where;
                EXPECT_TRUE(model().untranslatablePairNote().starts_with(refusal)) << where;
                EXPECT_FALSE(field->isEnabled()) << where;
                EXPECT_EQ(field->placeholderText().toStdString(), localized("在这里打的字不会翻译")) << where;
                EXPECT_EQ(field->toolTip().toStdString(), refusal) << where;
                // Nor does anything else promise a caption, a translation,
                // a release or a field to type in: the warning beside the
                // pickers is the setup steps' note, no hold starts, and the
                // standing lines say the same.
                auto* warning = child<QWidget>(*v.header()->languageBar(), "languageBar.warning");
                EXPECT_TRUE(shown(warning)) << where;
                EXPECT_EQ(warning->toolTip().toStdString(), model().untranslatablePairNote()) << where;
                EXPECT_EQ(v.footer()->talk()->unavailable(), std::optional(QString::fromStdString(refusal))) << where;
                test::given.set(model().status, "");
                w.world.run([m = w.model] { return ModelTestAccess::listeningReadinessNotice(*m); });
                w.settle();
                EXPECT_EQ(v.footer()->statusLine()->text().toStdString(), refusal) << where;
                EXPECT_EQ(model().listeningStatus.get(), refusal) << where;
            }
            snapshotAs("firststart", where);
        }
    }
    // Every step of the setup still to do, on small screens, alone and
    // over a history that cannot be saved: each note of the card and the
    // notice whole, however little room is left under them, and the empty
    // call's message readable under them.
    test::given.set(model().micAuthorized, false).set(model().virtualMicNeedsUpdate, true);
    test::given.set(ModelTestAccess::mySpeechReady(model()), false);
    for (const char* code : {"de", "en", "fr", "es", "ja", "ko", "ar"}) {
        loadStringTables(w.world.platform.bundles, code);
        InterfaceLanguage::set(code);
        test::given.set(model().myLanguage, *CallLanguage::find(code));
        w.world.run([m = w.model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
        for (const bool unsaved : {false, true}) {
            test::given.set(
                model().historyNotice,
                unsaved ? std::optional(localized("无法把对话记录保存到 %@（%@）。对话会先保留，能写入时自动保存。",
                                                  "~/.local/share/parlaro/History", "Permission denied"))
                        : std::nullopt);
            for (const QSize size : {QSize(800, 600), QSize(798, 550)}) {
                const std::string at = resizedTo(size, code);
                const std::string where = at + (unsaved ? " unsaved" : "");
                for (QWidget* box :
                     {static_cast<QWidget*>(v.setupCard()), child<QWidget>(v, "callScreen.historyNotice")}) {
                    if (!shown(box))
                        continue;
                    for (const std::string& cut : cutTexts(*box))
                        ADD_FAILURE() << where << ": " << cut;
                    EXPECT_EQ(box->visibleRegion().boundingRect().height(), box->height()) << where;
                }
                EXPECT_EQ(shown(child<QWidget>(v, "callScreen.historyNotice")), unsaved) << where;
                expectHintInSight(where, false);
                snapshotAs(unsaved ? "setup-unsaved" : "setup", at);
            }
        }
    }
    test::given.set(model().historyNotice, std::nullopt);
    test::given.set(model().micAuthorized, true).set(model().virtualMicNeedsUpdate, false);
    test::given.set(ModelTestAccess::mySpeechReady(model()), true);

    // English to German: quick phrases cannot reach German here, so none is
    // offered, and one chosen all the same says why in the status line,
    // not in a box that points at the disabled field.
    loadStringTables(w.world.platform.bundles, "de");
    InterfaceLanguage::set("de");
    test::given.set(model().myLanguage, *CallLanguage::find("en"));
    test::given.set(model().theirLanguage, *CallLanguage::find("de"));
    w.world.run([m = w.model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    w.world.run([m = w.model] { return ModelTestAccess::refreshLanguageMenus(*m); });
    w.settle();
    const std::string refusal = model().untranslatablePairLine();
    EXPECT_EQ(refusal, "Dieser Computer kann Deutsch ⇄ Englisch nicht übersetzen.");
    EXPECT_EQ(child<QWidget>(*v.header()->languageBar(), "languageBar.warning")->toolTip().toStdString(),
              model().untranslatablePairNote());
    const auto* phrases = child<QPushButton>(*v.footer(), "footer.quickPhrases");
    EXPECT_FALSE(phrases->isEnabled());
    EXPECT_EQ(phrases->toolTip().toStdString(), refusal);
    for (QAction* action : child<QMenu>(*v.footer(), "footer.quickPhrases.menu")->actions()) {
        if (action->isSeparator() || action->isCheckable())
            continue;
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
        EXPECT_EQ(action->toolTip().toStdString(), refusal);
    }
    w.world.run([m = w.model] { return m->sendQuickPhrase("Okay, thank you.", "好的，谢谢"); });
    w.settle();
    EXPECT_EQ(model().errorMessage.get(), std::nullopt);
    EXPECT_EQ(model().status.get(), refusal);

    // English, the default pair's other side unheard: no captions promised.
    InterfaceLanguage::set("zh-Hans");
    test::given.set(model().myLanguage, *CallLanguage::find("en"));
    test::given.set(model().theirLanguage, *CallLanguage::find("es"));
    w.world.run([m = w.model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    w.settle();
    EXPECT_EQ(hint("conversation.hint.title"), "本机无法识别西班牙语，对方说话时这里不会出现字幕");
    EXPECT_EQ(hint("conversation.hint.detail"), "要说话时，按住下面的按钮说英语，松开后自动翻译成西班牙语播放给对方");
    EXPECT_TRUE(field->isEnabled());
}

// Whatever a keyboard can reach, a screen reader can name: the call screen
// with a draft and a waiting history, each settings page, each sheet and
// each notice.
TEST_F(ContentViewTest, EveryFocusableControlOnEveryScreenHasAName)
{
    TempDirectory home;
    ReadOnlyFolder readOnly(home / "History");
    model().useHistory(ConversationHistory::make(home / "History", w.world.platform.defaults));
    auto& v = open();
    auto* conversation = child<QAbstractScrollArea>(v, "conversation");
    EXPECT_EQ(conversation->focusPolicy(), Qt::NoFocus) << "no empty Tab stop";
    readOnly.setReadOnly(true);
    // Unconfirmed, the microphone wants attention on the Speaking page.
    test::given.set(model().micConfirmed, false);
    ModelTestAccess::setEntries(
        model(), {ConversationEntry{.original = "你好", .translated = "Hello", .time = rt::clock().date()}});
    w.world.runtime.clock().advance(SessionFiling::saveDelay);
    test::given.set(model().hasDraft, true);
    w.settle();
    ASSERT_TRUE(shown(child<QWidget>(v, "callScreen.historyNotice")));
    ASSERT_TRUE(shown(v.draftPanel()));
    EXPECT_EQ(unnamedFocusables(*v.window()), "") << "call screen";
    // What a screen reader hears of the controls it named by their value or
    // not at all, and the meters with their level.
    EXPECT_EQ(accessibleSummary(child<QWidget>(v, "languageBar.my")), "ComboBox: 我说 [中文]");
    EXPECT_EQ(accessibleSummary(child<QWidget>(v, "languageBar.their")), "ComboBox: 对方说 [英语]");
    EXPECT_EQ(accessibleSummary(child<QWidget>(v, "languageBar.swap")), "Button: 互换两边的语言");
    EXPECT_EQ(accessibleSummary(child<QWidget>(v, "footer.typed")), "EditableText: 打字说话");
    auto* meter = child<QWidget>(*child<QWidget>(v, "footer.meter.mic"), "compactMeter.bar");
    EXPECT_EQ(accessibleSummary(meter), "ProgressBar: 我的麦克风 [0%]");
    // The captions are a Tab stop, named, and scroll by keyboard.
    EXPECT_TRUE(conversation->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(accessibleSummary(conversation).endsWith(QStringLiteral(": 对话")))
        << accessibleSummary(conversation).toStdString();
    // The red dot on the Settings button is said in words where the focus goes.
    auto* settingsButton = child<QWidget>(v, "header.settings");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(settingsButton)->text(QAccessible::Description), "需要注意");
    EXPECT_EQ(accessibleSummary(child<QWidget>(v, "header.attention")), "StaticText: 需要注意");
    readOnly.setReadOnly(false);
    w.world.runtime.clock().advance(SessionFiling::saveDelay);
    w.settle();

    for (SettingsPage page : settings::SettingsView::pages) {
        model().openSettings(page);
        w.settle();
        ASSERT_TRUE(shown(v.settingsView()));
        EXPECT_EQ(unnamedFocusables(*v.window()), "") << settings::SettingsView::titleKey(page);
        if (page == SettingsPage::speaking) {
            // One of two is on: radio buttons. The sound check's bars are
            // named by their titles.
            auto* afterRelease = child<QWidget>(*v.settingsView(), "speaking.afterRelease");
            EXPECT_EQ(accessibleSummary(afterRelease), "RadioButton: 松开后翻译");
            EXPECT_TRUE(QAccessible::queryAccessibleInterface(afterRelease)->state().checked);
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(child<QWidget>(*v.settingsView(), "speaking.whileHolding"))
                    ->state()
                    .checked);
            QStringList bars;
            for (auto* bar : v.settingsView()->findChildren<QWidget*>(QStringLiteral("meterRow.bar")))
                bars << accessibleSummary(bar);
            EXPECT_EQ(bars.join(QLatin1Char('|')), "ProgressBar: 我的麦克风 [0%]|ProgressBar: 送给对方 [0%]");
            const auto at = std::find(settings::SettingsView::pages.begin(), settings::SettingsView::pages.end(), page)
                - settings::SettingsView::pages.begin();
            auto* tab =
                child<QWidget>(*v.settingsView(), QStringLiteral("settings.row.%1").arg(at).toUtf8().constData());
            EXPECT_EQ(QAccessible::queryAccessibleInterface(tab)->text(QAccessible::Description), "需要注意");
            EXPECT_EQ(accessibleSummary(child<QWidget>(*v.settingsView(),
                                                       QStringLiteral("settings.dot.%1").arg(at).toUtf8().constData())),
                      "StaticText: 需要注意");
        }
        if (page != SettingsPage::history)
            continue;
        // A saved conversation, opened.
        auto* open = child<QPushButton>(*v.settingsView(), "history.row.view");
        ASSERT_NE(open, nullptr);
        open->click();
        w.settle();
        ASSERT_TRUE(shown(child<QWidget>(*v.settingsView(), "history.transcript")));
        auto* rebuilt = child<QPushButton>(*v.settingsView(), "history.row.view");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(rebuilt)->text(QAccessible::Description), "你好")
            << "which conversation's button it is";
        EXPECT_EQ(unnamedFocusables(*v.window()), "") << "an open conversation";
        // Each of its sentences reads who said it and when, then what was
        // said and its translation.
        QAccessibleInterface* list =
            QAccessible::queryAccessibleInterface(child<QWidget>(*v.settingsView(), "history.transcript.list"));
        ASSERT_TRUE(list && list->childCount() > 0);
        const QString sentence = list->child(0)->text(QAccessible::Name);
        EXPECT_TRUE(sentence.startsWith(QStringLiteral("对方  ")) && sentence.endsWith(QStringLiteral("\n你好\nHello")))
            << sentence.toStdString();
    }
    // The sidebar's entries are page tabs, the one shown selected.
    auto* row = child<QWidget>(*v.settingsView(), "settings.row.6");
    EXPECT_EQ(accessibleSummary(row), "PageTab: 运行状态");
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(row)->state().selected);
    EXPECT_FALSE(
        QAccessible::queryAccessibleInterface(child<QWidget>(*v.settingsView(), "settings.row.0"))->state().selected);
    model().closeSettings();
    w.settle();

    for (auto* request : {&model().showInstallSheet, &model().showMicCheck, &model().showWizard}) {
        test::given.set(*request, true);
        w.settle();
        ASSERT_TRUE(shown(v.sheet()->dialog()));
        EXPECT_EQ(unnamedFocusables(*v.sheet()->dialog()), "") << static_cast<int>(v.sheet()->page());
        test::given.set(*request, false);
        w.settle();
    }

    test::given.set(
        model().pendingLanguageChange,
        ModelTestAccess::PendingLanguageChange{*CallLanguage::find("ja"), *CallLanguage::find("en"), {"日语识别模型"}});
    w.settle();
    ASSERT_TRUE(shown(v.languageAlert()->box()));
    EXPECT_EQ(unnamedFocusables(*v.languageAlert()->box()), "");
    v.languageAlert()->cancelButton()->click();
    model().showError("出错了");
    w.settle();
    ASSERT_NE(v.errorAlert()->box(), nullptr);
    EXPECT_EQ(unnamedFocusables(*v.errorAlert()->box()), "");
    v.errorAlert()->box()->accept();
    w.settle();

    // Captions past the view's height: from the keyboard, back up and down.
    std::vector<ConversationEntry> many;
    for (int i = 0; i < 40; ++i)
        many.push_back(ConversationEntry{.original = "第" + std::to_string(i) + "句", .translated = "Sentence"});
    ModelTestAccess::setEntries(model(), many);
    w.settle();
    QScrollBar* bar = conversation->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    conversation->setFocus(Qt::TabFocusReason);
    QTest::keyClick(conversation, Qt::Key_PageUp);
    const int up = bar->value();
    EXPECT_LT(up, bar->maximum());
    QTest::keyClick(conversation, Qt::Key_Down);
    EXPECT_GT(bar->value(), up);
}

// A whole call by keyboard alone: both languages picked, a press held on
// Space, a typed draft sent, a saved conversation opened and closed, and
// back to the call. Every step is reached by Tab, the focused control is
// always the one the ring is drawn around, and the held key acts on
// nothing but the talk button, also while the button refuses holds.
TEST_F(ContentViewTest, AWholeCallByKeyboardAloneWithTheFocusAlwaysMarked)
{
    TempDirectory home;
    model().useHistory(ConversationHistory::make(home / "History", w.world.platform.defaults));
    w.world.speaker->speakSeconds = 2.0;
    w.world.recorder->finalText = "早上好";
    for (const char* id : {"es", "zh-Hans"})
        w.world.voices[id] = {{.id = id, .label = id, .quality = 2, .name = id, .language = id}};
    auto focused = [] { return QApplication::focusWidget(); };
    auto focusName = [&] { return focused() ? focused()->objectName() : QString(); };
    auto key = [&](QEvent::Type type, int code, bool autoRepeat = false) {
        QKeyEvent event(type, code, Qt::NoModifier, code == Qt::Key_Space ? QStringLiteral(" ") : QString(),
                        autoRepeat);
        QApplication::sendEvent(focused(), &event);
        w.settle();
    };
    auto press = [&](int code) {
        QTest::keyClick(focused(), static_cast<Qt::Key>(code));
        w.settle();
    };
    // Tabs forward until the named control has the focus, each stop marked.
    auto tabTo = [&](const char* name) {
        for (int step = 0; step < 60; ++step) {
            QWidget* at = focused();
            if (!at)
                return false;
            EXPECT_EQ(ui::FocusRing::shownAround(), at) << at->objectName().toStdString();
            if (at->objectName() == QLatin1String(name))
                return true;
            press(Qt::Key_Tab);
        }
        return false;
    };
    for (const char* language : {"en", "ar"}) {
        SCOPED_TRACE(language);
        loadStringTables(w.world.platform.bundles, language);
        InterfaceLanguage::set(language);
        auto& v = open();
        QApplication::setActiveWindow(&v);
        w.settle();
        // A keyboard user starts with a key.
        QTest::keyClick(focused() ? focused() : &v, Qt::Key_Tab);
        w.settle();

        // Both languages, through the pickers' own lists.
        auto pick = [&](const char* side, const char* id) {
            if (!tabTo(side))
                return false;
            auto* picker = static_cast<QComboBox*>(focused());
            press(Qt::Key_Space);
            QWidget* list = QApplication::activePopupWidget();
            if (!list)
                return false;
            const int wanted = picker->findData(QString::fromLatin1(id));
            const int from = picker->view()->currentIndex().row();
            for (int row = from; row != wanted; row += wanted > from ? 1 : -1)
                QTest::keyClick(list->focusWidget(), wanted > from ? Qt::Key_Down : Qt::Key_Up);
            QTest::keyClick(list->focusWidget(), Qt::Key_Return);
            w.settle();
            return QApplication::activePopupWidget() == nullptr;
        };
        const bool first = std::strcmp(language, "en") == 0;
        ASSERT_TRUE(pick(first ? "languageBar.their" : "languageBar.my", first ? "es" : "zh-Hans"));
        ASSERT_TRUE(pick(first ? "languageBar.my" : "languageBar.their", "en"));
        EXPECT_EQ(ui::FocusRing::shownAround(), focused()) << "the picker keeps the focus after its change";
        // Space held on the talk button; the release sends the press, and
        // the key's repeats and a late release while the reply is prepared
        // and played (the button refusing holds) change nothing.
        ASSERT_TRUE(tabTo("holdToTalk.button"));
        auto* talk = v.footer()->talk();
        const std::size_t spokenBefore = w.world.speaker->spoken.size();
        key(QEvent::KeyPress, Qt::Key_Space);
        ASSERT_TRUE(model().isHoldingToTalk.get());
        for (int i = 0; i < 5; ++i) {
            key(QEvent::KeyRelease, Qt::Key_Space, true);
            key(QEvent::KeyPress, Qt::Key_Space, true);
        }
        key(QEvent::KeyRelease, Qt::Key_Space);
        EXPECT_FALSE(model().isHoldingToTalk.get());
        w.world.runtime.clock().advance(0.5);
        w.settle();
        ASSERT_FALSE(talk->isHoldEnabled()) << "the reply is on its way";
        EXPECT_EQ(focused(), talk->button());
        EXPECT_EQ(ui::FocusRing::shownAround(), talk->button());
        const QImage shot =
            snapshot(*v.window(), QStringLiteral("ContentView"), QStringLiteral("focus-talk-%1").arg(language));
        // The ring, in the accent colour, just outside the capsule's end.
        const QPoint end = talk->button()->mapTo(v.window(), QPoint(0, talk->button()->height() / 2));
        const QPoint ring = end + QPoint(end.x() > v.width() / 2 ? talk->button()->width() + 2 : -3, 0);
        EXPECT_TRUE(near(shot.pixelColor(ring), ui::Palette::violet())) << shot.pixelColor(ring).name().toStdString();
        // As X11 may deliver a held key: a release and a press not marked
        // as repeats, then the real release.
        key(QEvent::KeyPress, Qt::Key_Space);
        key(QEvent::KeyPress, Qt::Key_Space, true);
        key(QEvent::KeyRelease, Qt::Key_Space);
        w.world.runtime.clock().advance(3.0);
        w.settle();
        EXPECT_EQ(w.world.speaker->spoken.size(), spokenBefore + 1);
        EXPECT_EQ(v.settingsView(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(model().typedText.get(), "");
        EXPECT_EQ(focused(), talk->button());

        // A typed draft, checked and played.
        ASSERT_TRUE(tabTo("footer.typed"));
        QTest::keyClicks(focused(), QStringLiteral("thanks"));
        press(Qt::Key_Return);
        ASSERT_TRUE(shown(v.draftPanel()));
        ASSERT_TRUE(tabTo("draft.retranslate"));
        w.world.translator->holdAnswers = true;
        press(Qt::Key_Space);
        ASSERT_TRUE(model().isTranslatingDraft.get());
        w.world.translator->holdAnswers = false;
        for (auto& waiting : std::exchange(w.world.translator->waiting, {}))
            waiting.answer.resume("es:" + waiting.text);
        w.settle();
        EXPECT_EQ(focused(), child<QWidget>(v, "draft.retranslate")) << "back where the press was made";
        ASSERT_TRUE(tabTo("draft.play"));
        press(Qt::Key_Space);
        w.world.runtime.clock().advance(3.0);
        w.settle();
        EXPECT_EQ(w.world.speaker->spoken.size(), spokenBefore + 2);

        // The conversation, saved, opened from the history and closed.
        w.world.runtime.clock().advance(SessionFiling::saveDelay);
        w.settle();
        ASSERT_TRUE(tabTo("header.settings"));
        press(Qt::Key_Space);
        ASSERT_NE(v.settingsView(), nullptr);
        ASSERT_TRUE(tabTo("settings.row.4"));
        press(Qt::Key_Space);
        EXPECT_EQ(v.settingsView()->page(), SettingsPage::history);
        ASSERT_TRUE(tabTo("history.row.view"));
        press(Qt::Key_Space);
        ASSERT_TRUE(shown(v.settingsView()->findChild<QAbstractItemView*>()));
        EXPECT_EQ(focusName(), "history.row.view") << "the keyboard keeps its place";
        EXPECT_EQ(ui::FocusRing::shownAround(), focused());
        press(Qt::Key_Escape);
        EXPECT_EQ(v.settingsView(), nullptr) << "Esc goes back to the call";
        EXPECT_EQ(focusName(), "header.settings") << "back where the settings were opened";
        EXPECT_EQ(ui::FocusRing::shownAround(), focused());
        view.reset();
    }
    InterfaceLanguage::set("zh-Hans");
}

}  // namespace
}  // namespace parlaro::test
