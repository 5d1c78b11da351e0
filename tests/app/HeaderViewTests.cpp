#include "CallScreenWorld.h"
#include "StringTableFiles.h"
#include "UiWorld.h"

#include "app/ContentView.h"
#include "app/HeaderBadge.h"
#include "app/HeaderView.h"
#include "app/LanguageBar.h"
#include "app/MainWindow.h"
#include "app/SymbolPill.h"
#include "model/AppModel.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "platform/SettingsStore.h"
#include "settings/UpdateModel.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/StatusDot.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace parlaro::test {
namespace {

using app::ContentView;
using app::HeaderView;
using app::MainWindow;

settings::HttpGet noNetwork()
{
    return [](settings::HttpRequest) -> rt::Async<settings::HttpResult> { co_return settings::HttpResult{}; };
}

class HeaderViewTest : public testing::Test {
protected:
    HeaderViewTest()
    {
        header =
            std::make_unique<HeaderView>(w.model, [this] { return ContentView::attentionPage(*w.model, *updates); });
        w.show(*header, {1180, HeaderView::barHeight});
    }

    QRect capsule() const
    {
        auto* button = header->settingsButton();
        return button->capsuleRect().translated(button->pos());
    }

    CallScreenWorld w;
    std::shared_ptr<settings::UpdateModel> updates =
        settings::UpdateModel::make(settings::AppInfo{"0.1.0", true, "https://example.org"}, noNetwork());
    std::unique_ptr<HeaderView> header;
};

TEST_F(HeaderViewTest, ListeningBadgeGivesWayToTheRedLinkWhileTheFarEndCannotBeRecorded)
{
    auto* badge = header->listeningBadge();
    EXPECT_EQ(header->height(), 62);
    EXPECT_EQ(badge->text(), "未在收听");
    EXPECT_EQ(badge->dotColor(), ui::Palette::amber());
    EXPECT_FALSE(header->captureLink()->isVisible());

    test::given.set(w.model->isChangingListening, true);
    w.settle();
    EXPECT_EQ(badge->text(), "正在切换…");
    EXPECT_EQ(badge->dotColor(), ui::Palette::amber());

    test::given.set(w.model->isListening, true);
    w.settle();
    EXPECT_EQ(badge->text(), "正在听对方");
    EXPECT_EQ(badge->dotColor(), ui::Palette::coral());

    // Still listening, yet the permission is gone: the link, not the badge.
    test::given.set(w.model->audioCaptureMissing, true);
    w.settle();
    EXPECT_FALSE(badge->isVisible());
    auto* link = header->captureLink();
    ASSERT_TRUE(link->isVisible());
    EXPECT_EQ(link->findChild<QLabel*>(QStringLiteral("header.captureLink.text"))->text(), "听不到对方：需要授权");
    EXPECT_GT(link->width(), 100);
    link->click();
    w.settle();
    ASSERT_EQ(w.settings.opened.size(), 1u);
    EXPECT_EQ(w.settings.opened[0], HeaderView::capturePane);
    EXPECT_EQ(ui::paneFor(w.settings.opened[0]), ui::SettingsPane::sound);
    EXPECT_TRUE(w.model->audioCaptureMissing());
    EXPECT_FALSE(w.model->settingsPage().has_value());

    test::given.set(w.model->audioCaptureMissing, false);
    w.settle();
    EXPECT_TRUE(badge->isVisible());
    EXPECT_FALSE(link->isVisible());
}

TEST_F(HeaderViewTest, DeviceBadgeNeedsBothHalvesOfTheDriverAndOwnVoiceBadgeFollowsTheSwitch)
{
    EXPECT_EQ(header->deviceBadge()->text(), "wenmora 音频设备已安装");
    EXPECT_EQ(header->deviceBadge()->dotColor(), ui::Palette::violet());
    EXPECT_EQ(header->ownVoiceBadge()->text(), "原声：关");
    EXPECT_EQ(header->ownVoiceBadge()->dotColor(), ui::Look::secondaryText());

    // The microphone is there, its injection device is not.
    auto outputs = w.model->outputDevices();
    std::erase_if(outputs, [](const AudioDevice& device) { return device.uid == injectionUID; });
    test::given.set(w.model->outputDevices, outputs).set(w.model->originalVoiceOn, true);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "未安装 wenmora 音频设备");
    EXPECT_EQ(header->deviceBadge()->dotColor(), ui::Palette::amber());
    EXPECT_EQ(header->ownVoiceBadge()->text(), "原声：开");
    EXPECT_EQ(header->ownVoiceBadge()->dotColor(), ui::Palette::violetAlt());
}

TEST_F(HeaderViewTest, WithoutASoundServerTheDeviceBadgeSaysSoInsteadOfNotInstalled)
{
    // Without a server no device is listed at all.
    test::given.set(w.model->outputDevices, {});
    test::given.set(ModelTestAccess::virtualInputDevice(*w.model), std::nullopt);
    test::given.set(w.model->audioServerLost, true);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "声音服务器不可用");
    EXPECT_EQ(header->deviceBadge()->dotColor(), ui::Palette::amber());
    snapshot(*header, QStringLiteral("header"), QStringLiteral("server-lost"));

    loadStringTables(w.world.platform.bundles, "en");
    InterfaceLanguage::set("en");
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "Sound server unavailable");
    // A server held still took the connection and does not answer it. What
    // was listening hears nothing meanwhile, and the header says only the
    // stall until the server answers.
    test::given.set(w.model->isListening, true);
    w.settle();
    EXPECT_TRUE(header->listeningBadge()->isVisible());
    test::given.set(w.model->audioServerSilent, true);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "Sound server not responding");
    EXPECT_FALSE(header->listeningBadge()->isVisible());
    EXPECT_TRUE(header->deviceBadge()->isVisible());
    InterfaceLanguage::set("zh-Hans");
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "声音服务器没有响应");
    // Held still while it was answering: reached, and says nothing.
    test::given.set(w.model->audioServerLost, false);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "声音服务器没有响应");
    test::given.set(w.model->audioServerSilent, false);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "未安装 wenmora 音频设备");
    EXPECT_TRUE(header->listeningBadge()->isVisible());
    EXPECT_EQ(header->listeningBadge()->text(), "正在听对方");

    // A server slow to answer at start has its moment before anything is
    // said of it or of the device.
    test::given.set(w.model->audioServerAwaited, true);
    w.settle();
    EXPECT_TRUE(header->deviceBadge()->isHidden());
    test::given.set(w.model->audioServerAwaited, false);
    w.settle();
    EXPECT_FALSE(header->deviceBadge()->isHidden());
}

TEST_F(HeaderViewTest, SettingsButtonOpensTheFirstPageNeedingAttentionAndCarriesADotOutsideItsCorner)
{
    auto* button = header->settingsButton();
    EXPECT_EQ(button->text(), "设置");
    EXPECT_EQ(button->symbol(), "gearshape");
    EXPECT_FALSE(button->isActive());
    ASSERT_FALSE(ContentView::attentionPage(*w.model, *updates).has_value());
    EXPECT_FALSE(header->attentionDot()->isVisible());
    button->click();
    w.settle();
    EXPECT_EQ(w.model->settingsPage(), SettingsPage::general);
    w.model->closeSettings();

    test::given.set(w.model->virtualMicNeedsUpdate, true);
    w.settle();
    auto* dot = header->attentionDot();
    ASSERT_TRUE(dot->isVisible());
    EXPECT_EQ(dot->size(), QSize(8, 8));
    // Two points past the top-trailing corner: partly outside the button.
    EXPECT_EQ(dot->geometry().right(), capsule().right() + 2);
    EXPECT_EQ(dot->geometry().top(), capsule().top() - 2);
    auto image = render(*header);
    EXPECT_TRUE(near(image.pixelColor(dot->geometry().center()), QColor(0xD6, 0x39, 0x3B), 12));
    button->click();
    w.settle();
    EXPECT_EQ(w.model->settingsPage(), SettingsPage::virtualMic);
    w.model->closeSettings();

    // Several pages: the first in page order.
    test::given.set(w.model->micConfirmed, false);
    updates->phase.set(settings::UpdateModel::Phase::available("9.0"));
    w.settle();
    button->click();
    w.settle();
    EXPECT_EQ(w.model->settingsPage(), SettingsPage::speaking);

    // Right to left the corner is the top-left one.
    header->setLayoutDirection(Qt::RightToLeft);
    w.settle();
    EXPECT_EQ(dot->geometry().left(), capsule().left() - 2);
    EXPECT_EQ(dot->geometry().top(), capsule().top() - 2);
    EXPECT_LT(button->x(), header->languageBar()->x());

    test::given.set(w.model->micConfirmed, true).set(w.model->virtualMicNeedsUpdate, false);
    updates->phase.set(settings::UpdateModel::Phase::upToDate());
    w.settle();
    EXPECT_FALSE(dot->isVisible());
}

TEST_F(HeaderViewTest, HelpTextsUseTheLinuxWording)
{
    loadStringTables(w.world.platform.bundles, "zh-Hans");
    loadStringTables(w.world.platform.bundles, "en");
    InterfaceLanguage::set("zh-Hans");
    test::given.set(w.model->audioCaptureMissing, true);
    w.settle();
    EXPECT_EQ(header->settingsButton()->toolTip(), "设置（Ctrl+,）");
    EXPECT_EQ(header->captureLink()->toolTip(), "点击打开声音设置，检查播放设备的监听（Monitor）录音来源");

    InterfaceLanguage::set("en");
    w.settle();
    EXPECT_EQ(header->settingsButton()->toolTip(), "Settings (Ctrl+,)");
    EXPECT_EQ(header->captureLink()->findChild<QLabel*>(QStringLiteral("header.captureLink.text"))->text(),
              "Can’t hear the other party: permission needed");
    EXPECT_TRUE(header->captureLink()->toolTip().contains(QStringLiteral("sound settings")));
}

// Every state a badge slot can show: the listening slot's three texts and
// the link in its place, the device badge's three, own voice's two.
struct BadgeStates {
    int listening;  // listening, switching, not listening, the link
    int device;     // server lost, installed, not installed
    bool ownVoice;
};

std::vector<BadgeStates> everyState()
{
    std::vector<BadgeStates> states;
    for (int listening = 0; listening < 4; ++listening)
        for (int device = 0; device < 3; ++device)
            for (bool ownVoice : {false, true})
                states.push_back({listening, device, ownVoice});
    return states;
}

class HeaderFitTest : public HeaderViewTest {
protected:
    void put(const BadgeStates& states)
    {
        test::given.set(w.model->audioCaptureMissing, states.listening == 3);
        test::given.set(w.model->isListening, states.listening == 0);
        test::given.set(w.model->isChangingListening, states.listening == 1);
        test::given.set(w.model->audioServerLost, states.device == 0);
        auto outputs = allOutputs;
        if (states.device == 2)
            std::erase_if(outputs, [](const AudioDevice& device) { return device.uid == injectionUID; });
        test::given.set(w.model->outputDevices, outputs).set(w.model->originalVoiceOn, states.ownVoice);
        w.settle();
    }

    // The badges in the order they give way.
    std::vector<app::HeaderBadge*> badges() const
    {
        return {header->deviceBadge(),
                w.model->audioCaptureMissing() ? header->captureBadge() : header->listeningBadge(),
                header->ownVoiceBadge()};
    }

    // What a user would see wrong in the header as laid out now.
    std::vector<std::string> faults(bool everyBadgeWhole) const
    {
        std::vector<std::string> found;
        const auto list = badges();
        for (std::size_t i = 0; i < list.size(); ++i) {
            const app::HeaderBadge* badge = list[i];
            const QLabel* text = badge->label();
            const std::string what = badge->objectName().toStdString() + " \"" + badge->text().toStdString() + "\"";
            if (text->isVisibleTo(header.get())) {
                if (text->width() < text->sizeHint().width() || text->geometry().right() >= badge->width())
                    found.push_back(what + " is cut");
            } else {
                if (everyBadgeWhole)
                    found.push_back(what + " gave way");
                if (badge->toolTip() != badge->text() || badge->accessibleName() != badge->text())
                    found.push_back(what + " hides its text from the tooltip or the accessible name");
                if (i > 0 && list[i - 1]->label()->isVisibleTo(header.get()))
                    found.push_back(what + " gave way before " + list[i - 1]->objectName().toStdString());
                // Its words gone, its dot goes too: a bare dot says nothing.
                if (const auto* dot = badge->findChild<ui::StatusDot*>(); dot && dot->isVisibleTo(header.get()))
                    found.push_back(what + " is a bare dot");
            }
        }
        const QWidget* link = w.model->audioCaptureMissing() ? static_cast<QWidget*>(header->captureLink())
                                                             : static_cast<QWidget*>(header->listeningBadge());
        const QWidget* parts[] = {header->languageBar(), link, header->deviceBadge(), header->ownVoiceBadge(),
                                  header->settingsButton()};
        for (std::size_t i = 0; i + 1 < std::size(parts); ++i)
            if (parts[i]->geometry().intersects(parts[i + 1]->geometry()))
                found.push_back(parts[i]->objectName().toStdString() + " overlaps the next part");
        if (header->settingsButton()->geometry().right() >= header->width() - HeaderView::trailingPadding + 1)
            found.push_back("the settings button leaves the header");
        return found;
    }

    std::vector<AudioDevice> allOutputs = w.model->outputDevices();
};

TEST_F(HeaderFitTest, EveryBadgeReadsWholeAtTheDefaultSizeAndGivesWayWholeInOrderWhenNarrower)
{
    for (const auto& language : InterfaceLanguage::supported()) {
        loadStringTables(w.world.platform.bundles, language.code);
        InterfaceLanguage::set(language.code);
        // The first pair, and one of long names picked later.
        for (const char* mine : {"zh-Hans", "id"}) {
            test::given.set(w.model->myLanguage, *CallLanguage::find(mine));
            test::given.set(w.model->theirLanguage, *CallLanguage::find(std::string(mine) == "id" ? "de" : "en"));
            for (int width : {MainWindow::defaultWidth, ContentView::minimumWidth}) {
                header->resize(width, HeaderView::barHeight);
                for (const BadgeStates& states : everyState()) {
                    put(states);
                    const std::string where = language.code + " " + mine + " at " + std::to_string(width);
                    // The link in the listening badge's place carries a
                    // longer text than any badge, and may take the device
                    // badge's room.
                    const bool whole = width == MainWindow::defaultWidth && states.listening != 3;
                    for (const std::string& fault : faults(whole))
                        ADD_FAILURE() << where << ": " << fault;
                    // The window of a 1024 px screen keeps the settings
                    // button's word.
                    if (states.listening != 3)
                        EXPECT_FALSE(header->settingsButton()->isCompact()) << where;
                }
            }
        }
    }
}

TEST_F(HeaderFitTest, TheDeviceBadgeGivesWayFirstAndOwnVoiceLast)
{
    loadStringTables(w.world.platform.bundles, "de");
    InterfaceLanguage::set("de");
    put({2, 2, true});
    EXPECT_TRUE(faults(true).empty());
    // Narrower step by step: each badge keeps its text until the one before
    // it in the order has given way, and no badge is ever cut.
    int given = 0;
    for (int width = MainWindow::defaultWidth; width >= 600; width -= 10) {
        header->resize(width, HeaderView::barHeight);
        w.settle();
        EXPECT_TRUE(faults(false).empty()) << width;
        int now = 0;
        for (auto* badge : badges())
            now += badge->label()->isVisibleTo(header.get()) ? 0 : 1;
        EXPECT_GE(now, given) << width;
        given = now;
    }
    EXPECT_EQ(given, 3);
    const auto* device = header->deviceBadge();
    EXPECT_EQ(device->toolTip(), device->text());
    EXPECT_EQ(device->accessibleName(), device->text());

    // Wide again, every text comes back.
    header->resize(MainWindow::defaultWidth, HeaderView::barHeight);
    w.settle();
    EXPECT_TRUE(faults(true).empty());
}

TEST_F(HeaderFitTest, SnapshotsInFourLanguages)
{
    for (const char* code : {"en", "de", "es", "zh-Hans"}) {
        loadStringTables(w.world.platform.bundles, code);
        InterfaceLanguage::set(code);
        put({2, 2, true});
        for (int width : {MainWindow::defaultWidth, ContentView::minimumWidth}) {
            header->resize(width, HeaderView::barHeight);
            w.settle();
            snapshot(*header, QStringLiteral("header"),
                     QStringLiteral("%1-%2").arg(QString::fromLatin1(code)).arg(width));
        }
    }
}

}  // namespace
}  // namespace parlaro::test
