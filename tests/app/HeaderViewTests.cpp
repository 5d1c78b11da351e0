#include "CallScreenWorld.h"
#include "StringTableFiles.h"
#include "UiWorld.h"

#include "app/ContentView.h"
#include "app/HeaderBadge.h"
#include "app/HeaderView.h"
#include "app/LanguageBar.h"
#include "app/SymbolPill.h"
#include "model/AppModel.h"
#include "model/ModelTestAccess.h"
#include "platform/SettingsStore.h"
#include "settings/UpdateModel.h"
#include "ui/Look.h"
#include "ui/Palette.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace parlaro::test {
namespace {

using app::ContentView;
using app::HeaderView;

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

    ModelTestAccess::set(w.model->isChangingListening, true);
    w.settle();
    EXPECT_EQ(badge->text(), "正在切换…");
    EXPECT_EQ(badge->dotColor(), ui::Palette::amber());

    ModelTestAccess::set(w.model->isListening, true);
    w.settle();
    EXPECT_EQ(badge->text(), "正在听对方");
    EXPECT_EQ(badge->dotColor(), ui::Palette::coral());

    // Still listening, yet the permission is gone: the link, not the badge.
    ModelTestAccess::set(w.model->audioCaptureMissing, true);
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

    ModelTestAccess::set(w.model->audioCaptureMissing, false);
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
    std::erase_if(outputs, [](const AudioDevice& device) { return device.uid == AppModel::injectionUID; });
    ModelTestAccess::set(w.model->outputDevices, outputs);
    ModelTestAccess::set(w.model->originalVoiceOn, true);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "未安装 wenmora 音频设备");
    EXPECT_EQ(header->deviceBadge()->dotColor(), ui::Palette::amber());
    EXPECT_EQ(header->ownVoiceBadge()->text(), "原声：开");
    EXPECT_EQ(header->ownVoiceBadge()->dotColor(), ui::Palette::violetAlt());
}

TEST_F(HeaderViewTest, WithoutASoundServerTheDeviceBadgeSaysSoInsteadOfNotInstalled)
{
    // Without a server no device is listed at all.
    ModelTestAccess::set(w.model->outputDevices, {});
    ModelTestAccess::set(w.model->virtualInputDevice, std::nullopt);
    ModelTestAccess::set(w.model->audioServerLost, true);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "声音服务器不可用");
    EXPECT_EQ(header->deviceBadge()->dotColor(), ui::Palette::amber());
    snapshot(*header, QStringLiteral("header"), QStringLiteral("server-lost"));

    loadStringTables(w.world.platform.bundles, "en");
    InterfaceLanguage::set("en");
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "Sound server unavailable");
    InterfaceLanguage::set("zh-Hans");

    ModelTestAccess::set(w.model->audioServerLost, false);
    w.settle();
    EXPECT_EQ(header->deviceBadge()->text(), "未安装 wenmora 音频设备");
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

    ModelTestAccess::set(w.model->virtualMicNeedsUpdate, true);
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
    ModelTestAccess::set(w.model->micConfirmed, false);
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

    ModelTestAccess::set(w.model->micConfirmed, true);
    ModelTestAccess::set(w.model->virtualMicNeedsUpdate, false);
    updates->phase.set(settings::UpdateModel::Phase::upToDate());
    w.settle();
    EXPECT_FALSE(dot->isVisible());
}

TEST_F(HeaderViewTest, HelpTextsUseTheLinuxWording)
{
    loadStringTables(w.world.platform.bundles, "zh-Hans");
    loadStringTables(w.world.platform.bundles, "en");
    InterfaceLanguage::set("zh-Hans");
    ModelTestAccess::set(w.model->audioCaptureMissing, true);
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

TEST_F(HeaderViewTest, LongTextsGiveWayInTheNarrowestWindowInsteadOfOverlapping)
{
    loadStringTables(w.world.platform.bundles, "de");
    InterfaceLanguage::set("de");
    ModelTestAccess::set(w.model->audioCaptureMissing, true);
    ModelTestAccess::set(w.model->virtualMicNeedsUpdate, true);
    header->resize(ContentView::minimumWidth, HeaderView::barHeight);
    w.settle();
    EXPECT_LE(header->minimumSizeHint().width(), ContentView::minimumWidth);
    const QWidget* parts[] = {header->languageBar(), header->captureLink(), header->deviceBadge(),
                              header->ownVoiceBadge(), header->settingsButton()};
    for (std::size_t i = 0; i + 1 < std::size(parts); ++i)
        EXPECT_FALSE(parts[i]->geometry().intersects(parts[i + 1]->geometry())) << i;
    EXPECT_LE(header->settingsButton()->geometry().right(), ContentView::minimumWidth - HeaderView::trailingPadding);
    // What is cut short stays readable in full.
    auto* device = header->deviceBadge()->findChild<QLabel*>();
    EXPECT_EQ(device->toolTip(), "Das wenmora-Audiogerät ist installiert");
}

}  // namespace
}  // namespace parlaro::test
