#include "AccessibleTree.h"
#include "ModelUiWorld.h"
#include "StringTableFiles.h"
#include "UiWorld.h"
#include "WholeTexts.h"

#include "audio/AudioClient.h"
#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "platform/Platform.h"
#include "platform/SettingsStore.h"
#include "platform/sim/SimGlobalKeys.h"
#include "runtime/Clock.h"
#include "settings/HistoryGroups.h"
#include "settings/SettingsView.h"
#include "settings/SpeakingGroups.h"
#include "settings/UpdateModel.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "ui/GroupNotice.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/Icons.h"
#include "ui/LayoutDirectionFollower.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SymbolView.h"
#include "ui/SystemSettings.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace parlaro::test {
namespace {

using settings::AppInfo;
using settings::SettingsView;
using settings::UpdateModel;
using Kind = UpdateModel::Phase::Kind;

settings::HttpGet noNetwork()
{
    return [](settings::HttpRequest) -> rt::Async<settings::HttpResult> { co_return settings::HttpResult{}; };
}

struct OpenedPages : ui::SystemSettings {
    void open(const std::string& url) override { urls.push_back(url); }
    std::vector<std::string> urls;
};

class SettingsViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = world.make();
        world.settle();
    }
    void TearDown() override
    {
        view.reset();
        world.settle();
    }

    SettingsView& open(AppInfo info = AppInfo{"0.1.0", true, "https://example.org"})
    {
        updates = UpdateModel::make(std::move(info), noNetwork());
        view = std::make_unique<SettingsView>(model, updates, shortcuts);
        view->resize(800, 600);
        view->show();
        world.settle();
        return *view;
    }

    template <class T>
    T* find(const QString& name) const
    {
        return view->findChild<T*>(name);
    }
    QPushButton* row(int index) const { return find<QPushButton>(QStringLiteral("settings.row.%1").arg(index)); }
    bool dot(int index) const { return !find<QWidget>(QStringLiteral("settings.dot.%1").arg(index))->isHidden(); }
    QString text(const char* name) const { return find<QLabel>(QString::fromLatin1(name))->text(); }

    // Esc as the X platform sends it: shortcut override, then the press.
    void pressEscape()
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : view.get();
        QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Escape, Qt::NoModifier, 1 + 8, 0, 0);
        QApplication::sendEvent(target, &override);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 1 + 8, 0, 0);
        QApplication::sendEvent(target, &press);
        world.settle();
    }

    // The general page shows the shortcut row only with a center.
    void withShortcutRow() { shortcuts = &center.emplace(keys); }

    ModelUiWorld world;
    sim::SimGlobalKeys keys;
    std::optional<ui::HoldShortcutCenter> center;
    ui::HoldShortcutCenter* shortcuts = nullptr;
    std::shared_ptr<AppModel> model;
    std::shared_ptr<UpdateModel> updates;
    std::unique_ptr<SettingsView> view;
};

TEST_F(SettingsViewTest, SidebarListsThePagesInOrderWithTheVersionAndTheWayBack)
{
    open();
    const char* titles[] = {"通用",     "说话与麦克风", "播放与音色", "wenmora 音频设备",
                            "历史记录", "软件更新",     "运行状态"};
    const char* symbols[] = {"gearshape",
                             "mic",
                             "speaker.wave.2",
                             "dot.radiowaves.left.and.right",
                             "clock.arrow.circlepath",
                             "arrow.triangle.2.circlepath",
                             "checklist"};
    for (int index = 0; index < 7; ++index) {
        EXPECT_EQ(row(index)->findChild<QLabel*>(QString())->text(), QString::fromUtf8(titles[index]));
        // Every page has a symbol that is really drawn, violet for the page shown.
        auto* symbol = row(index)->findChild<ui::SymbolView*>();
        ASSERT_NE(symbol, nullptr);
        EXPECT_EQ(symbol->symbol(), QString::fromUtf8(symbols[index]));
        EXPECT_TRUE(ui::Icons::has(symbol->symbol())) << symbols[index];
        EXPECT_FALSE(symbol->pixmap().isNull()) << symbols[index];
        EXPECT_EQ(symbol->color(), index == 0 ? ui::Palette::violet() : ui::Look::secondaryText()) << index;
        EXPECT_LT(symbol->mapTo(row(index), QPoint()).x(), row(index)->findChild<QLabel*>(QString())->x());
    }
    model->openSettings(SettingsPage::status);
    world.settle();
    EXPECT_EQ(row(0)->findChild<ui::SymbolView*>()->color(), ui::Look::secondaryText());
    EXPECT_EQ(row(6)->findChild<ui::SymbolView*>()->color(), ui::Palette::violet());
    model->closeSettings();
    world.settle();
    EXPECT_EQ(find<ui::PillButton>(QStringLiteral("settings.back"))->text(), QStringLiteral("返回通话"));
    EXPECT_EQ(text("settings.heading"), QStringLiteral("设置"));
    EXPECT_EQ(text("settings.version"), QStringLiteral("wenmora 版本 0.1.0"));
    EXPECT_EQ(find<QWidget>(QStringLiteral("settings.sidebar"))->width(), SettingsView::sidebarWidth);
    // The page keeps to the left at most 560 wide, and the white area runs on to the window's edge.
    view->resize(1400, 600);
    world.settle();
    auto* page = find<QWidget>(QStringLiteral("settings.page"));
    EXPECT_EQ(page->width() - 2 * 36, SettingsView::pageMaxWidth);
    EXPECT_EQ(page->mapTo(view.get(), QPoint()).x(), SettingsView::sidebarWidth + 1);
    EXPECT_EQ(find<QScrollArea>(QStringLiteral("settings.scroll"))->geometry().right(), view->width() - 1);
    view->resize(800, 600);
    world.settle();
    view.reset();
    open(AppInfo{});
    EXPECT_EQ(text("settings.version"), QStringLiteral("wenmora 版本 —"));
}

TEST_F(SettingsViewTest, NavigationFollowsTheModelAndNeverRepeatsAPage)
{
    open();
    EXPECT_TRUE(row(0)->isChecked());
    EXPECT_EQ(text("settings.title"), QStringLiteral("通用"));
    int notices = 0;
    auto subscription = model->settingsPage.subscribe([&] { ++notices; });

    row(0)->click();
    world.settle();
    EXPECT_EQ(notices, 0);

    row(5)->click();
    world.settle();
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(model->settingsPage(), SettingsPage::updates);
    EXPECT_TRUE(row(5)->isChecked());
    EXPECT_FALSE(row(0)->isChecked());
    EXPECT_EQ(text("settings.title"), QStringLiteral("软件更新"));

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &escape);
    world.settle();
    EXPECT_EQ(model->settingsPage(), std::nullopt);
    EXPECT_TRUE(row(0)->isChecked());

    model->openSettings(SettingsPage::status);
    find<ui::PillButton>(QStringLiteral("settings.back"))->click();
    world.settle();
    EXPECT_EQ(model->settingsPage(), std::nullopt);
}

TEST_F(SettingsViewTest, AttentionDotsFollowTheModelAndTheUpdateCheck)
{
    open();
    test::given.set(model->micAuthorized, true).set(model->micConfirmed, false);
    test::given.set(model->listeningFailed, false).set(model->audioCaptureMissing, false);
    updates->phase.set(UpdateModel::Phase::failed("x"));
    world.settle();
    EXPECT_TRUE(dot(1));
    EXPECT_FALSE(dot(0));
    EXPECT_FALSE(dot(4));
    EXPECT_FALSE(dot(5));

    test::given.set(model->micConfirmed, true);
    updates->phase.set(UpdateModel::Phase::available("2.0"));
    world.settle();
    EXPECT_FALSE(dot(1));
    EXPECT_TRUE(dot(5));

    for (auto phase : {UpdateModel::Phase::upToDate(), UpdateModel::Phase::idle(), UpdateModel::Phase::checking()}) {
        updates->phase.set(phase);
        world.settle();
        EXPECT_FALSE(dot(5));
    }

    // Without the driver the device page asks for attention.
    EXPECT_EQ(dot(3), !model->virtualMicStatus() || model->virtualMicNeedsUpdate());
    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->virtualMicNeedsUpdate, false);
    world.settle();
    EXPECT_FALSE(dot(3));
    test::given.set(model->virtualMicNeedsUpdate, true);
    world.settle();
    EXPECT_TRUE(dot(3));

    test::given.set(model->listeningFailed, true);
    world.settle();
    EXPECT_TRUE(dot(6));
    test::given.set(model->listeningFailed, false).set(model->audioCaptureMissing, true);
    world.settle();
    EXPECT_TRUE(dot(6));
}

TEST_F(SettingsViewTest, HistoryPageShowsOnlyItsTitleWithoutTheStore)
{
    QTemporaryDir folder;
    test::given.set(
        model->history,
        ConversationHistory::make(std::filesystem::path(folder.path().toStdString()), world.platform.defaults));
    model->openSettings(SettingsPage::history);
    auto& shown = open();
    EXPECT_EQ(text("settings.title"), QStringLiteral("历史记录"));
    EXPECT_NE(shown.findChild<settings::HistoryGroups*>(), nullptr);
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("history"));

    model->useHistory(nullptr);
    world.settle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(shown.findChild<settings::HistoryGroups*>(), nullptr);
    EXPECT_EQ(text("settings.title"), QStringLiteral("历史记录"));
    EXPECT_EQ(shown.findChildren<QScrollArea*>().size(), 1);
}

TEST_F(SettingsViewTest, UpdatesPageOffersWhatThePhaseAllows)
{
    OpenedPages opened;
    ui::SystemSettings::Scope scope(opened);
    model->openSettings(SettingsPage::updates);
    auto& shown = open();
    auto* check = find<ui::PillButton>(QStringLiteral("updates.check"));
    auto* later = find<ui::PillButton>(QStringLiteral("updates.later"));
    auto* download = find<ui::PillButton>(QStringLiteral("updates.download"));
    auto* spinner = find<QWidget>(QStringLiteral("updates.spinner"));
    EXPECT_EQ(find<ui::SidebarGroup>(QStringLiteral("updates.group"))->title(), QStringLiteral("软件更新"));
    EXPECT_EQ(find<ui::SidebarRow>(QStringLiteral("updates.row"))->labelWidget()->text(),
              QStringLiteral("wenmora 版本 0.1.0"));
    EXPECT_TRUE(find<QLabel>(QStringLiteral("updates.footnote"))
                    ->text()
                    .startsWith(QStringLiteral("更新只在你点击「检查更新」时进行。")));
    EXPECT_FALSE(check->isHidden());
    EXPECT_TRUE(check->isEnabled());
    EXPECT_TRUE(later->isHidden());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("updates"));

    updates->phase.set(UpdateModel::Phase::checking());
    world.settle();
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_TRUE(check->isHidden());

    updates->phase.set(UpdateModel::Phase::available("0.2.0"));
    world.settle();
    EXPECT_TRUE(spinner->isHidden());
    EXPECT_TRUE(check->isHidden());
    EXPECT_TRUE(download->isActive());
    EXPECT_FALSE(later->isActive());
    download->click();
    EXPECT_EQ(opened.urls, std::vector<std::string>{"https://example.org/download"});
    int notices = 0;
    auto subscription = updates->phase.subscribe([&] { ++notices; });
    later->click();
    world.settle();
    EXPECT_EQ(updates->phase().kind, Kind::idle);
    EXPECT_EQ(notices, 1);
    EXPECT_FALSE(check->isHidden());

    view.reset();
    open(AppInfo{"0.1.0", false, {}});
    EXPECT_FALSE(find<ui::PillButton>(QStringLiteral("updates.check"))->isEnabled());
}

TEST_F(SettingsViewTest, StatusPageShowsTheListeningProblemOnlyWhenThereIsOne)
{
    test::given.set(model->listeningFailed, false).set(model->audioCaptureMissing, false);
    model->openSettings(SettingsPage::status);
    auto& shown = open();
    auto* listening = find<QWidget>(QStringLiteral("listening"));
    auto* notice = find<ui::GroupNotice>(QStringLiteral("listening.notice"));
    EXPECT_TRUE(listening->isHidden());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("status"));

    test::given.set(model->listeningStatus, "无法开始收听系统声音").set(model->listeningFailed, true);
    world.settle();
    EXPECT_FALSE(listening->isHidden());
    EXPECT_EQ(notice->text(), QStringLiteral("无法开始收听系统声音"));
    ASSERT_NE(notice->button(), nullptr);
    EXPECT_EQ(notice->button()->text(), QStringLiteral("重试"));
    // The problem comes first, then the modules.
    auto* page = listening->parentWidget();
    EXPECT_LT(page->layout()->indexOf(listening),
              page->layout()->indexOf(find<QWidget>(QStringLiteral("status.modules"))));

    std::vector<bool> failedValues;
    auto failedChanges = model->listeningFailed.subscribe([&] { failedValues.push_back(model->listeningFailed()); });
    notice->button()->click();
    world.settle();
    ASSERT_FALSE(failedValues.empty());
    EXPECT_FALSE(failedValues.front());
    failedChanges.reset();

    test::given.set(model->listeningFailed, true);
    OpenedPages opened;
    ui::SystemSettings::Scope scope(opened);
    test::given.set(model->audioCaptureMissing, true);
    world.settle();
    EXPECT_TRUE(notice->text().contains(QStringLiteral("听不到对方")));
    EXPECT_EQ(notice->button()->text(), QStringLiteral("去设置"));
    notice->button()->click();
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0], ui::paneId::callAudioCapture);
}

TEST_F(SettingsViewTest, StatusDotRisesForAFailedModuleOnly)
{
    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->virtualMicNeedsUpdate, false);
    VoiceOption voice;
    voice.id = "v1";
    voice.label = "Ava";
    test::given.set(model->targetVoices, {voice}).set(model->listeningFailed, false);
    test::given.set(model->audioCaptureMissing, false);
    model->openSettings(SettingsPage::status);
    auto& shown = open();
    // Rows that wait for a download, a permission or are unsupported ask
    // nothing of this page.
    bool waiting = false;
    for (const auto& row : model->diagnosticRows()) {
        ASSERT_FALSE(std::holds_alternative<ModuleState::Failed>(row.state.value)) << ModuleIDs::rawValue(row.module);
        waiting = waiting || !std::holds_alternative<ModuleState::Ready>(row.state.value);
    }
    EXPECT_TRUE(waiting);
    EXPECT_FALSE(dot(6));

    // Neither language can be recognized: nothing can be heard at all.
    test::given.set(model->myEngine, std::nullopt).set(model->theirEngine, std::nullopt);
    world.settle();
    EXPECT_TRUE(dot(6));
    EXPECT_TRUE(find<QWidget>(QStringLiteral("listening"))->isHidden());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("status-failed"));
}

TEST_F(SettingsViewTest, DevicePageOffersTheInstallWhileTheDeviceIsMissing)
{
    model->openSettings(SettingsPage::virtualMic);
    auto& shown = open();
    ASSERT_FALSE(model->virtualMicStatus());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("device.installed"))->isHidden());
    EXPECT_EQ(text("device.missingTitle"), QStringLiteral("未安装 wenmora 音频设备"));
    EXPECT_EQ(text("device.missingText"),
              QStringLiteral("没有它，对方听不到你的声音和翻译。安装时需要输入一次电脑密码。"));
    auto* install = find<ui::PillButton>(QStringLiteral("device.install"));
    EXPECT_EQ(install->text(), QStringLiteral("安装 wenmora 音频设备"));
    EXPECT_TRUE(install->isActive());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("virtualmic-missing"));
    install->click();
    world.settle();
    EXPECT_TRUE(model->showInstallSheet());
    model->closeInstallSheet();
    test::given.set(model->isInstallingDriver, true);
    world.settle();
    EXPECT_FALSE(install->isEnabled());

    // Installing here asks for no password, as the install sheet says, in
    // every interface language.
    for (const auto& entry : InterfaceLanguage::supported())
        loadStringTables(world.platform.bundles, entry.code);
    const std::pair<const char*, const char*> expected[] = {
        {"zh-Hans", "没有它，对方听不到你的声音和翻译。安装不需要电脑密码，几秒内完成。"},
        {"en",
         "Without it, the other party can’t hear you or the translation. Installing needs no computer password and "
         "takes a few seconds."},
    };
    for (const auto& [code, wanted] : expected) {
        InterfaceLanguage::set(code);
        world.settle();
        EXPECT_EQ(text("device.missingText").toStdString(), wanted) << code;
        if (std::string(code) == "zh-Hans")
            snapshot(shown, QStringLiteral("settings"), QStringLiteral("virtualmic-missing-shipped"));
    }
    for (const auto& entry : InterfaceLanguage::supported()) {
        InterfaceLanguage::set(entry.code);
        world.settle();
        EXPECT_FALSE(text("device.missingText").isEmpty()) << entry.code;
        if (entry.code != "zh-Hans")
            EXPECT_NE(text("device.missingText"),
                      QStringLiteral("没有它，对方听不到你的声音和翻译。安装不需要电脑密码，几秒内完成。"))
                << entry.code << " has its own wording";
    }
    InterfaceLanguage::set("zh-Hans");
}

TEST_F(SettingsViewTest, DevicePageWhenInstalledShowsWhereTheFarEndPlaysAndTheUpdate)
{
    world.addOutput(30, "usb-out", "USB 耳机");
    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    model->openSettings(SettingsPage::virtualMic);
    auto& shown = open();
    ASSERT_TRUE(model->virtualMicStatus());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("device.missing"))->isHidden());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("device.installed"))->isHidden());
    auto* farEnd = find<QLabel>(QStringLiteral("device.farEnd"));
    test::given.set(model->callSpeakerRoute, ModelTestAccess::SpeakerRoute{50, 30});
    test::given.set(model->virtualMicNeedsUpdate, false);
    test::given.set(model->callMicrophoneRoute, CallMicrophoneRoute::connected);
    world.settle();
    ASSERT_TRUE(model->virtualOutputDevice().has_value());
    {
        EXPECT_EQ(farEnd->text(), QStringLiteral("正在把对方的声音放到「USB 耳机」"));
        EXPECT_FALSE(farEnd->isHidden());
        EXPECT_EQ(
            text("device.hint"),
            QStringLiteral("通话软件里可以选设备的，麦克风选「Parlaro Microphone」，扬声器选「Parlaro Speaker」。"));
    }
    EXPECT_FALSE(find<QWidget>(QStringLiteral("device.connected"))->isHidden());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("device.outdated"))->isHidden());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("virtualmic"));

    // Every language names the devices exactly as calling applications list
    // them, and the page under the program's one name.
    for (const auto& entry : InterfaceLanguage::supported())
        loadStringTables(world.platform.bundles, entry.code);
    for (const auto& entry : InterfaceLanguage::supported()) {
        InterfaceLanguage::set(entry.code);
        world.settle();
        const QString hint = text("device.hint");
        EXPECT_TRUE(hint.contains(QStringLiteral("Parlaro Microphone"))) << entry.code << ": " << hint.toStdString();
        EXPECT_TRUE(hint.contains(QStringLiteral("Parlaro Speaker"))) << entry.code << ": " << hint.toStdString();
        EXPECT_TRUE(text("settings.title").contains(QStringLiteral("Parlaro"))) << entry.code;
        if (entry.code == "en" || entry.code == "de" || entry.code == "es" || entry.code == "zh-Hans")
            snapshot(shown, QStringLiteral("settings"),
                     QStringLiteral("virtualmic-") + QString::fromStdString(entry.code));
    }
    InterfaceLanguage::set("en");
    world.settle();
    EXPECT_EQ(text("device.hint"),
              QStringLiteral("Where the call app lets you choose devices, pick “Parlaro Microphone” "
                             "as the microphone and “Parlaro Speaker” as the speaker."));
    InterfaceLanguage::set("zh-Hans");
    world.settle();

    // Gone from the list, the output is no longer named.
    test::given.set(model->callSpeakerRoute, ModelTestAccess::SpeakerRoute{50, 31});
    world.settle();
    EXPECT_TRUE(farEnd->isHidden());

    test::given.set(model->virtualMicNeedsUpdate, true);
    world.settle();
    auto* outdated = find<ui::GroupNotice>(QStringLiteral("device.outdated"));
    EXPECT_FALSE(outdated->isHidden());
    ASSERT_NE(outdated->button(), nullptr);
    EXPECT_EQ(outdated->button()->text(), QStringLiteral("更新虚拟麦克风"));
    outdated->button()->click();
    world.settle();
    EXPECT_TRUE(model->showInstallSheet());

    // The switch keeps showing the model's value whatever the click.
    auto* systemMic = find<QAbstractButton>(QStringLiteral("device.systemMic"));
    const bool before = model->systemMicEnabled();
    systemMic->click();
    EXPECT_EQ(systemMic->isChecked(), before);
    world.settle();
    EXPECT_EQ(systemMic->isChecked(), model->systemMicEnabled());
}

TEST_F(SettingsViewTest, InterfaceLanguagePickSwitchesEveryTextAtOnce)
{
    auto& defaults = *platform().defaults;
    defaults.remove("interfaceLanguage");
    withShortcutRow();
    auto& shown = open();
    auto* language = find<QComboBox>(QStringLiteral("general.language"));
    ASSERT_EQ(language->count(), 18);
    EXPECT_EQ(language->currentIndex(), 0);
    EXPECT_EQ(language->itemText(0), QStringLiteral("跟随系统"));
    EXPECT_EQ(text("settings.title"), QStringLiteral("通用"));
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("general"));

    const int english = language->findData(QStringLiteral("en"));
    ASSERT_GT(english, 0);
    language->setCurrentIndex(english);
    emit language->activated(english);
    world.settle();
    EXPECT_EQ(defaults.get<std::string>("interfaceLanguage"), std::optional<std::string>("en"));
    EXPECT_EQ(defaults.get<DefaultsStringList>("parlaroPreferredLanguages"), std::optional(DefaultsStringList{"en"}));

    language->setCurrentIndex(0);
    emit language->activated(0);
    world.settle();
    EXPECT_EQ(defaults.get<std::string>("interfaceLanguage"), std::optional<std::string>(""));
    EXPECT_FALSE(defaults.get<DefaultsStringList>("parlaroPreferredLanguages").has_value());
    EXPECT_EQ(language->currentIndex(), 0);
}

TEST_F(SettingsViewTest, ShortcutRowSpeaksOfTheHoldModeInForce)
{
    platform().defaults->remove("holdShortcut");
    model->setTranslateWhileHolding(false);
    withShortcutRow();
    open();
    auto* record = find<ui::PillButton>(QStringLiteral("holdShortcut.record"));
    ASSERT_NE(record, nullptr);
    auto* row = qobject_cast<ui::SidebarRow*>(record->parentWidget());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->detailWidget()->text(), QStringLiteral("未设置。设置后在任何软件里按住即可说话，松开自动翻译"));
    model->setTranslateWhileHolding(true);
    world.settle();
    EXPECT_EQ(row->detailWidget()->text(),
              QStringLiteral("未设置。设置后在任何软件里按住即可说话，每说完一句自动翻译"));
    model->setTranslateWhileHolding(false);
    world.settle();
    EXPECT_EQ(row->detailWidget()->text(), QStringLiteral("未设置。设置后在任何软件里按住即可说话，松开自动翻译"));
}

TEST_F(SettingsViewTest, SpeakingPageAsksTheModelAndShowsItsAnswer)
{
    world.addMicrophone(7, "mic-7", "USB 麦克风");
    ModelTestAccess::refreshDevices(*model);
    ModelTestAccess::setSelectedInputID(*model, AudioObjectId{7});
    test::given.set(model->micConfirmed, false).set(model->micCheckReason, std::string("x"));
    test::given.set(model->originalVoiceOn, false);
    model->setTranslateWhileHolding(false);
    model->openSettings(SettingsPage::speaking);
    auto& shown = open();
    ASSERT_EQ(shown.page(), SettingsPage::speaking);
    auto* mic = find<ui::PillButton>(QStringLiteral("speaking.micCheck"));
    ASSERT_NE(mic, nullptr);
    auto* micRow = qobject_cast<ui::SidebarRow*>(mic->parentWidget());
    ASSERT_NE(micRow, nullptr);
    EXPECT_EQ(micRow->detailWidget()->text(), QStringLiteral("尚未确认"));
    EXPECT_TRUE(mic->isActive());
    mic->click();
    world.settle();
    EXPECT_EQ(model->micCheckReason(), std::nullopt);
    EXPECT_TRUE(model->showMicCheck());
    test::given.set(model->showMicCheck, false).set(model->micConfirmed, true);
    world.settle();
    EXPECT_EQ(micRow->detailWidget()->text(), QStringLiteral("USB 麦克风"));
    EXPECT_FALSE(mic->isActive());

    auto* ownVoice = find<QAbstractButton>(QStringLiteral("speaking.ownVoice"));
    ownVoice->click();
    EXPECT_FALSE(ownVoice->isChecked());
    world.settle();
    // The model was asked, and refused for want of the audio device.
    EXPECT_EQ(model->errorMessage(), std::optional<std::string>("请先确认麦克风，并确认 wenmora 音频设备已安装。"));
    EXPECT_FALSE(ownVoice->isChecked());
    test::given.set(model->isChangingOriginalVoice, true);
    world.settle();
    EXPECT_FALSE(ownVoice->isEnabled());
    test::given.set(model->isChangingOriginalVoice, false);
    world.settle();

    auto* whileHolding = find<QAbstractButton>(QStringLiteral("speaking.whileHolding"));
    auto* free = find<QAbstractButton>(QStringLiteral("speaking.free"));
    EXPECT_TRUE(free->parentWidget()->isHidden());
    whileHolding->click();
    world.settle();
    EXPECT_TRUE(model->translateWhileHolding());
    EXPECT_FALSE(free->parentWidget()->isHidden());
    EXPECT_EQ(free->isEnabled(), model->freeListening() || model->canStartSpeaking());
    test::given.set(model->isHoldingToTalk, true);
    world.settle();
    EXPECT_FALSE(whileHolding->isEnabled());
    test::given.set(model->isHoldingToTalk, false);

    EXPECT_FALSE(find<QLabel>(QStringLiteral("speaking.footnote"))->isHidden());
    auto* test = find<ui::PillButton>(QStringLiteral("speaking.soundTest"));
    EXPECT_EQ(test->isEnabled(), model->isIdle() && model->virtualMicStatus());
    EXPECT_EQ(test->toolTip(), QStringLiteral("测试会向翻译麦克风送入英语语音并在耳机回放；通话中对方也可能听到。"));
    test::given.set(model->originalVoiceOn, true);
    world.settle();
    EXPECT_EQ(test->toolTip(), QStringLiteral("测试时请说几句话（3 秒），然后在耳机里听回放。"));
    test::given.set(model->originalVoiceOn, false);
    auto* state = find<QLabel>(QStringLiteral("speaking.soundTestState"));
    const std::pair<AppModel::HearTest, const char*> states[] = {
        {AppModel::HearTest::recording(), "录音中…"},
        {AppModel::HearTest::playingBack(true), "有声音 · 回放中"},
        {AppModel::HearTest::playingBack(false), "没有声音 · 回放中"},
        {AppModel::HearTest::silent(), "没有检测到声音"},
        {AppModel::HearTest::failed("boom"), "失败：boom"},
    };
    for (const auto& [hear, shownText] : states) {
        test::given.set(model->hearTest, hear);
        world.settle();
        EXPECT_TRUE(state->text().endsWith(QString::fromUtf8(shownText))) << shownText;
    }
    test::given.set(model->hearTest, AppModel::HearTest::idle());
    world.settle();
    EXPECT_TRUE(state->isHidden());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("speaking"));

    // The page never starts the microphone; its meters dim until a call,
    // a sound test or the microphone check measures.
    EXPECT_FALSE(ModelTestAccess::metersEnabled(*model)());
    EXPECT_FALSE(model->levelMeters()->micDevice().has_value());
    auto* meters = find<QWidget>(QStringLiteral("speaking.meters"));
    auto opacity = [&] { return static_cast<QGraphicsOpacityEffect*>(meters->graphicsEffect())->opacity(); };
    EXPECT_DOUBLE_EQ(opacity(), settings::SpeakingGroups::idleMeterOpacity);
    for (auto* live : {&model->callActive, &model->isHearTesting, &model->showMicCheck}) {
        test::given.set(*live, true);
        world.settle();
        EXPECT_DOUBLE_EQ(opacity(), 1.0);
        test::given.set(*live, false);
        world.settle();
        EXPECT_DOUBLE_EQ(opacity(), settings::SpeakingGroups::idleMeterOpacity);
    }

    test::given.set(model->micAuthorized, false);
    world.settle();
    EXPECT_FALSE(find<QWidget>(QStringLiteral("speaking.permission"))->isHidden());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("speaking.meters"))->isHidden());
}

TEST_F(SettingsViewTest, VoicePageFiltersHeadphonesAndAsksForVoicesWhenThereAreNone)
{
    world.addOutput(30, "usb-out", "USB 耳机");
    world.addVirtualDriver();
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->targetVoices, {});
    model->openSettings(SettingsPage::voice);
    auto& shown = open();
    auto* headphones = find<QComboBox>(QStringLiteral("voice.headphones"));
    for (int index = 0; index < headphones->count(); ++index)
        EXPECT_FALSE(headphones->itemText(index).contains(QStringLiteral("wenmora"))) << index;
    EXPECT_GE(headphones->findText(QStringLiteral("USB 耳机")), 0);
    model->setSelectedMonitorOutputID(AudioObjectId{30});
    world.settle();
    EXPECT_EQ(accessibleSummary(headphones), QStringLiteral("ComboBox: 耳机 [USB 耳机]"));
    EXPECT_EQ(pickerReading(headphones).section(QStringLiteral(" | "), 0, 0), QStringLiteral("USB 耳机"));
    model->setSelectedMonitorOutputID(AudioObjectId{999});
    world.settle();
    EXPECT_EQ(headphones->currentIndex(), -1);
    EXPECT_EQ(accessibleSummary(headphones), QStringLiteral("ComboBox: 耳机"));

    auto* none = find<ui::GroupNotice>(QStringLiteral("voice.none"));
    EXPECT_FALSE(none->isHidden());
    EXPECT_TRUE(none->text().contains(QStringLiteral("英语")));
    EXPECT_TRUE(find<ui::PillButton>(QStringLiteral("voice.download"))->isActive());
    auto* picker = find<QComboBox>(QStringLiteral("voice.picker"));
    EXPECT_EQ(picker->itemText(0), QStringLiteral("自动选择（推荐）"));
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("voice-none"));

    VoiceOption good;
    good.id = "v2";
    good.label = "Ava";
    good.quality = 2;
    test::given.set(model->targetVoices, {good});
    world.settle();
    EXPECT_TRUE(none->isHidden());
    EXPECT_FALSE(find<ui::PillButton>(QStringLiteral("voice.download"))->isActive());
    snapshot(shown, QStringLiteral("settings"), QStringLiteral("voice"));

    OpenedPages opened;
    ui::SystemSettings::Scope scope(opened);
    find<ui::PillButton>(QStringLiteral("voice.download"))->click();
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0], ui::paneId::spokenContent);

    // With no output but virtual ones the row says there is none, on screen
    // and to a screen reader (the every-width walk runs in this state).
    world.audio.removeObject(30);
    ModelTestAccess::refreshDevices(*model);
    world.settle();
    EXPECT_EQ(headphones->count(), 0);
    auto* detail = headphones->parentWidget()->findChild<QLabel*>(QStringLiteral("row.detail"));
    EXPECT_EQ(detail->text(), QStringLiteral("没有可以播放的耳机或扬声器"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(headphones)->text(QAccessible::Description),
              QStringLiteral("没有可以播放的耳机或扬声器"));
}

TEST_F(SettingsViewTest, VoicePickerWaitsWhileTheVoiceIsInUse)
{
    test::given.set(model->targetVoices, {});
    model->openSettings(SettingsPage::voice);
    open();
    auto* picker = find<QComboBox>(QStringLiteral("voice.picker"));
    auto* preview = find<ui::PillButton>(QStringLiteral("voice.preview"));
    auto* headphones = find<QComboBox>(QStringLiteral("voice.headphones"));
    ASSERT_TRUE(picker->isEnabled());
    ASSERT_TRUE(preview->isEnabled());
    for (auto* busy : {&model->isSpeaking, &model->isTranslatingDraft, &model->isRecording}) {
        test::given.set(*busy, true);
        world.settle();
        EXPECT_FALSE(picker->isEnabled());
        test::given.set(*busy, false);
        world.settle();
        EXPECT_TRUE(picker->isEnabled());
    }
    test::given.set(model->isSpeaking, true).set(model->isTranslatingDraft, true);
    world.settle();
    EXPECT_FALSE(preview->isEnabled());
    EXPECT_FALSE(headphones->isEnabled());
    test::given.set(model->isTranslatingDraft, false).set(model->isSpeaking, false);
    test::given.set(model->isHearTesting, true);
    world.settle();
    EXPECT_FALSE(headphones->isEnabled());
    EXPECT_FALSE(preview->isEnabled());  // the test holds the microphone
    test::given.set(model->isHearTesting, false).set(model->isSpeaking, true);

    auto* monitor = find<QAbstractButton>(QStringLiteral("voice.monitor"));
    const bool monitoring = model->monitorInHeadphones();
    monitor->click();
    world.settle();
    EXPECT_EQ(model->monitorInHeadphones(), !monitoring);
    EXPECT_EQ(monitor->isChecked(), !monitoring);

    // Coming near the picker looks for voices installed meanwhile, but not
    // while one speaks.
    VoiceOption installed;
    installed.id = "v9";
    installed.label = "Nova";
    installed.quality = 2;
    world.voices[model->theirLanguage().id] = {installed};
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(picker, &enter);
    world.settle();
    EXPECT_TRUE(model->targetVoices().empty());
    test::given.set(model->isSpeaking, false);
    world.settle();
    QApplication::sendEvent(picker, &enter);
    world.settle();
    ASSERT_EQ(model->targetVoices().size(), 1u);
    EXPECT_GE(picker->findData(QStringLiteral("v9")), 0);

    // The first entry drops the language's pick.
    model->setSelectedVoiceID("v9");
    world.settle();
    picker->setCurrentIndex(0);
    emit picker->activated(0);
    world.settle();
    EXPECT_EQ(ModelTestAccess::voiceChoices(*model)().count(model->theirLanguage().id), 0u);
}

TEST_F(SettingsViewTest, EscapeLeavesAnOpenDialogAndARecordingRowAlone)
{
    withShortcutRow();
    model->openSettings(SettingsPage::general);
    open();
    int notices = 0;
    auto subscription = model->settingsPage.subscribe([&] { ++notices; });

    // A dialog over the settings takes Esc for itself.
    auto* dialog = new QDialog(view.get());
    auto* field = new QComboBox(dialog);
    (new QVBoxLayout(dialog))->addWidget(field);
    dialog->show();
    world.settle();
    field->setFocus();
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Escape, Qt::NoModifier, 1 + 8, 0, 0);
    QApplication::sendEvent(field, &override);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 1 + 8, 0, 0);
    QApplication::sendEvent(field, &press);
    world.settle();
    EXPECT_TRUE(dialog->isHidden());
    EXPECT_EQ(model->settingsPage(), SettingsPage::general);
    delete dialog;

    // While the shortcut row records, Esc only ends the recording.
    auto* record = find<ui::PillButton>(QStringLiteral("holdShortcut.record"));
    ASSERT_NE(record, nullptr);
    record->click();
    world.settle();
    ASSERT_TRUE(record->isHidden());
    pressEscape();
    EXPECT_FALSE(record->isHidden());
    EXPECT_EQ(model->settingsPage(), SettingsPage::general);
    EXPECT_EQ(notices, 0);

    pressEscape();
    EXPECT_EQ(model->settingsPage(), std::nullopt);
    EXPECT_EQ(notices, 1);
}

TEST_F(SettingsViewTest, TheHeadingAndTheShortcutVerbAreTranslatedApart)
{
    withShortcutRow();
    open();
    auto* record = find<ui::PillButton>(QStringLiteral("holdShortcut.record"));
    ASSERT_NE(record, nullptr);
    // Without a table each shows its Chinese text.
    EXPECT_EQ(text("settings.heading"), QStringLiteral("设置"));
    EXPECT_EQ(record->text(), QStringLiteral("设置"));

    for (const char* code : {"en", "zh-Hans", "de"})
        loadStringTables(world.platform.bundles, code);
    const std::pair<const char*, std::pair<const char*, const char*>> expected[] = {
        {"en", {"Settings", "Set"}},
        {"de", {"Einstellungen", "Festlegen"}},
        {"zh-Hans", {"设置", "设置"}},
    };
    for (const auto& [code, words] : expected) {
        InterfaceLanguage::set(code);
        world.settle();
        EXPECT_EQ(text("settings.heading"), QString::fromUtf8(words.first)) << code;
        EXPECT_EQ(record->text(), QString::fromUtf8(words.second)) << code;
    }

    // The level meters' titles follow a change of language too.
    model->openSettings(SettingsPage::speaking);
    world.settle();
    auto* meterTitle =
        find<QWidget>(QStringLiteral("speaking.meters"))->findChild<QLabel*>(QStringLiteral("meterRow.title"));
    EXPECT_EQ(meterTitle->text(), QStringLiteral("我的麦克风"));
    InterfaceLanguage::set("en");
    world.settle();
    EXPECT_EQ(meterTitle->text().toStdString(), world.platform.bundles.openTable("en")->at("我的麦克风"));
}

// Every page in every language, with every sidebar dot up, at the least and
// the default size of the window's content and at what an 800 × 600 screen
// leaves of it: every text whole, and no page scrolls sideways.
TEST_F(SettingsViewTest, EveryPageReadsWholeInEveryLanguage)
{
    withShortcutRow();
    QTemporaryDir folder;
    auto history =
        ConversationHistory::make(std::filesystem::path(folder.path().toStdString()), world.platform.defaults);
    // A conversation in the history, its title as long as one gets.
    ConversationSession session;
    for (const char* said : {"Hello, could you tell me where the nearest train station is? I have to be there before "
                             "five this evening, thank you so.",
                             "Where is the train station?"})
        session.entries.push_back(ConversationEntry{.original = said, .translated = said, .time = rt::clock().date()});
    history->save(session);
    test::given.set(model->history, history);
    test::given.set(model->micConfirmed, false);
    open();
    test::given.set(model->listeningFailed, true);
    world.settle();
    // Right to left in Arabic, as the application lays it out.
    ui::LayoutDirectionFollower direction;
    for (const auto& language : InterfaceLanguage::supported()) {
        loadStringTables(world.platform.bundles, language.code);
        InterfaceLanguage::set(language.code);
        for (QSize size : {QSize(980, 700), QSize(1180, 800), QSize(800, 600), QSize(798, 550)}) {
            view->resize(size);
            for (SettingsPage page : SettingsView::pages) {
                model->openSettings(page);
                world.settle();
                const std::string where = language.code + " " + std::to_string(size.width()) + "x"
                    + std::to_string(size.height()) + " " + SettingsView::titleKey(page);
                for (const std::string& fault : cutTexts(*view))
                    ADD_FAILURE() << where << ": " << fault;
                // The page scrolls down only, never sideways, and controls
                // set side by side never overlap.
                EXPECT_EQ(find<QScrollArea>(QStringLiteral("settings.scroll"))->horizontalScrollBar()->maximum(), 0)
                    << where;
                for (const char* row : {"speaking.meters", "voice.buttons"})
                    if (auto* parts = find<QWidget>(QString::fromLatin1(row)); parts && parts->isVisible()) {
                        const auto shown = parts->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
                        for (qsizetype a = 0; a < shown.size(); ++a)
                            for (qsizetype b = a + 1; b < shown.size(); ++b)
                                EXPECT_FALSE(shown[a]->isVisible() && shown[b]->isVisible()
                                             && shown[a]->geometry().intersects(shown[b]->geometry()))
                                    << where << " " << row;
                    }
                static const std::array<const char*, SettingsView::pages.size()> names{
                    "general", "speaking", "voice", "device", "history", "updates", "status"};
                if (language.code == "de" || language.code == "es" || language.code == "en"
                    || language.code == "zh-Hans" || language.code == "ar" || language.code == "ja"
                    || language.code == "pl")
                    snapshot(*view, QStringLiteral("settings"),
                             QString::fromStdString(std::string(names[static_cast<std::size_t>(page)]) + "-"
                                                    + language.code + "-" + std::to_string(size.width()) + "x"
                                                    + std::to_string(size.height())));
            }
        }
    }
    InterfaceLanguage::set("zh-Hans");
    view.reset();
    model->useHistory(nullptr);
    world.settle();
}

// Every page in every interface language, as composed on screen: the
// program has one name, no two sentences run together where a page joins
// texts, and each page's sidebar label agrees with its title.
TEST_F(SettingsViewTest, EveryPageInEveryLanguageNamesParlaroAndKeepsSentencesApart)
{
    withShortcutRow();
    auto& shown = open();
    for (const auto& entry : InterfaceLanguage::supported())
        loadStringTables(world.platform.bundles, entry.code);
    // A sentence end of Latin text followed straight by a letter.
    static const std::regex runTogether(R"((?:[a-z]|”|’|»|\))[.!?](?:[A-Za-z]|Ä|Ö|Ü|É|À|Á|Ó|Ú|Ş|İ|Ł|Ś|Ż))");
    const SettingsPage pages[] = {SettingsPage::general,    SettingsPage::speaking, SettingsPage::voice,
                                  SettingsPage::virtualMic, SettingsPage::history,  SettingsPage::updates,
                                  SettingsPage::status};
    for (const auto& entry : InterfaceLanguage::supported()) {
        InterfaceLanguage::set(entry.code);
        for (std::size_t index = 0; index < std::size(pages); ++index) {
            model->openSettings(pages[index]);
            world.settle();
            EXPECT_EQ(row(static_cast<int>(index))->findChild<QLabel*>(QString())->text(), text("settings.title"))
                << entry.code << " page " << index;
            std::vector<QString> texts;
            for (const auto* label : shown.findChildren<QLabel*>())
                texts.push_back(label->text());
            for (const auto* button : shown.findChildren<QAbstractButton*>())
                texts.push_back(button->text());
            for (const QString& each : texts) {
                const std::string text = each.toStdString();
                EXPECT_FALSE(std::regex_search(text, runTogether)) << entry.code << ": " << text;
                EXPECT_EQ(each.indexOf(QStringLiteral("wenmora"), 0, Qt::CaseInsensitive), -1)
                    << entry.code << ": " << text;
            }
        }
    }
    InterfaceLanguage::set("en");
    model->openSettings(SettingsPage::updates);
    world.settle();
    EXPECT_NE(text("updates.footnote").indexOf(QStringLiteral("”. ")), -1) << text("updates.footnote").toStdString();
    InterfaceLanguage::set("zh-Hans");
    world.settle();
    EXPECT_EQ(text("updates.footnote"),
              QStringLiteral("更新只在你点击「检查更新」时进行。新版本的安装包从官网下载，安装后设置保持不变。"));
}

}  // namespace
}  // namespace parlaro::test
