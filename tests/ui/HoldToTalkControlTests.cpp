#include "UiWorld.h"

#include "audio/AudioMeters.h"
#include "ui/Glow.h"
#include "ui/HoldButton.h"
#include "ui/HoldToTalkControl.h"
#include "ui/LiveWaveform.h"
#include "ui/Motion.h"
#include "ui/Palette.h"

#include <QFontMetricsF>
#include <QVariantAnimation>

#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace parlaro;

namespace {

void expectHeights(const std::array<double, 5>& got, const std::array<double, 5>& want)
{
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_NEAR(got[i], want[i], 0.01) << "bar " << i;
}

}  // namespace

TEST(HoldToTalkControl, WaveformBarsFollowTheMicrophoneUpToAFullLevel)
{
    test::UiWorld world;
    auto meters = std::make_shared<AudioMeters>();
    ui::HoldToTalkControl control;
    control.setTitle(QStringLiteral("按住说话"));
    control.setLiveLevel(meters);
    auto* waveform = control.findChild<ui::LiveWaveform*>(QStringLiteral("holdToTalk.waveform"));
    ASSERT_NE(waveform, nullptr);
    expectHeights(waveform->barHeights(), {3, 3, 3, 3, 3});
    meters->micLevel.set(1.0f);
    world.settle();
    expectHeights(waveform->barHeights(), {7.95, 11.25, 14, 11.25, 7.95});
    meters->micLevel.set(1.7f);
    world.settle();
    expectHeights(waveform->barHeights(), {7.95, 11.25, 14, 11.25, 7.95});
    EXPECT_TRUE(control.property("symbol").toString().isEmpty()) << "the bars take the icon's place";
    control.setLiveLevel(nullptr);
    EXPECT_EQ(control.findChild<ui::LiveWaveform*>(), nullptr);
    EXPECT_EQ(control.property("symbol").toString(), QStringLiteral("mic.fill"));
}

TEST(HoldToTalkControl, TooltipFollowsTheHoldingModeAndTheTitleNamesTheButton)
{
    test::UiWorld world;
    ui::HoldToTalkControl control;
    control.setTitle(QStringLiteral("按住说话"));
    auto* button = control.button();
    EXPECT_EQ(button->toolTip().toStdString(), "按住说话，松开自动翻译并播放；Esc 取消。也可聚焦后按住空格键。");
    control.setWhileHolding(true);
    EXPECT_EQ(button->toolTip().toStdString(), "按住说话，每说完一句自动翻译并播放；Esc 取消。也可聚焦后按住空格键。");
    EXPECT_EQ(button->accessibleName().toStdString(), "按住说话");
    control.setTitle(QStringLiteral("松开发送"));
    EXPECT_EQ(button->accessibleName().toStdString(), "松开发送");
    control.setRecording(true);
    EXPECT_EQ(control.property("symbol").toString(), QStringLiteral("waveform"));
}

TEST(HoldToTalkControl, DrawsTheGradientAndDimsWhenDisabled)
{
    test::UiWorld world;
    ui::HoldToTalkControl control;
    control.setTitle(QStringLiteral("按住说话"));
    control.setShortcut(QStringLiteral("⌥ Space"));
    control.resize(control.sizeHint());
    control.setAutoFillBackground(true);
    const QRect body = control.capsuleRect();
    EXPECT_EQ(body.size(), QSize(230, 52));
    const int y = body.center().y();

    auto idle = test::snapshot(control, "HoldToTalk", "idle");
    EXPECT_TRUE(test::near(idle.pixelColor(body.left() + 3, y), ui::Palette::violet()))
        << idle.pixelColor(body.left() + 3, y).name().toStdString();
    EXPECT_TRUE(test::near(idle.pixelColor(body.right() - 3, y), ui::Palette::coral()))
        << idle.pixelColor(body.right() - 3, y).name().toStdString();

    control.setRecording(true);
    auto recording = test::snapshot(control, "HoldToTalk", "recording");
    EXPECT_TRUE(test::near(recording.pixelColor(body.right() - 3, y), ui::Palette::violet()));

    control.setRecording(false);
    control.setHoldEnabled(false);
    auto disabled = test::snapshot(control, "HoldToTalk", "disabled");
    auto faded = disabled.pixelColor(body.left() + 3, y);
    auto white = QColor(Qt::white);
    auto expected =
        QColor(static_cast<int>(255 + (0x70 - 255) * 0.45 + 0.5), static_cast<int>(255 + (0x40 - 255) * 0.45 + 0.5),
               static_cast<int>(255 + (0xF4 - 255) * 0.45 + 0.5));
    EXPECT_TRUE(test::near(faded, expected)) << faded.name().toStdString();
    EXPECT_NE(faded, white);
    // Dimmed, it refuses holds yet stays enabled, so it keeps the focus.
    EXPECT_FALSE(control.button()->isHoldEnabled());
    EXPECT_TRUE(control.button()->isEnabled());

    // Right to left the gradient runs the other way.
    control.setHoldEnabled(true);
    control.setLayoutDirection(Qt::RightToLeft);
    auto mirrored = test::snapshot(control, "HoldToTalk", "idle-rtl");
    EXPECT_TRUE(test::near(mirrored.pixelColor(body.right() - 3, y), ui::Palette::violet()));
}

// The frames after a press or a release are drawn while the speech is on
// its way: they reuse the two glows rather than blur one per frame.
TEST(HoldToTalkControl, ThePressAndReleaseAnimationBlursNoGlowPerFrame)
{
    test::UiWorld world;
    struct MotionOn {
        MotionOn() { ui::Motion::setEnabled(true); }
        ~MotionOn() { ui::Motion::setEnabled(false); }
    } motion;
    ui::HoldToTalkControl control;
    control.setTitle(QStringLiteral("按住说话"));
    control.resize(control.sizeHint());
    control.show();
    auto* animation = control.findChild<QVariantAnimation*>();
    ASSERT_NE(animation, nullptr);
    control.grab();
    const auto before = ui::shadowsBlurred();
    for (bool recording : {true, false, true}) {
        control.setRecording(recording);
        animation->pause();
        for (int ms = 0; ms <= animation->duration(); ms += 10) {
            animation->setCurrentTime(ms);
            control.grab();
        }
    }
    // The recording glow's two shadows; the resting one was drawn before.
    EXPECT_LE(ui::shadowsBlurred() - before, 2u);
}

TEST(HoldToTalkControl, ALongTitleWidensTheCapsuleThenShrinksThenIsCut)
{
    test::UiWorld world;
    ui::HoldToTalkControl control;
    control.show();
    auto capsuleWidth = [&] {
        control.resize(control.sizeHint());
        return control.capsuleRect().width();
    };
    auto fits = [&] {
        const QRectF title = control.titleRect();
        const QRectF inner =
            QRectF(control.capsuleRect()).adjusted(ui::HoldToTalkControl::inset, 0, -ui::HoldToTalkControl::inset, 0);
        const QRectF used = QFontMetricsF(control.titleFont())
                                .boundingRect(QRectF(0, 0, title.width() + 0.01, 1000),
                                              Qt::AlignHCenter | control.titleFlags(), control.shownTitle());
        return used.width() <= title.width() + 0.01 && used.height() <= title.height() + 0.01 && inner.contains(title)
            && (control.chipRect().isNull() || inner.contains(control.chipRect()))
            && !title.intersects(control.chipRect());
    };

    control.setTitle(QStringLiteral("按住说中文"));
    EXPECT_EQ(capsuleWidth(), 230);
    EXPECT_EQ(control.titleFont().pixelSize(), 16);
    EXPECT_TRUE(fits());

    // Wider, to the title's measure, while the bound allows.
    const QString german = QStringLiteral("Halten, um Chinesisch zu sprechen");
    control.setTitle(german);
    control.setShortcut(QStringLiteral("⌥Space"));
    control.setMaxCapsuleWidth(1000);
    const int natural = capsuleWidth();
    EXPECT_GT(natural, 230);
    EXPECT_LT(natural, 1000);
    EXPECT_EQ(control.shownTitle(), german);
    EXPECT_EQ(control.titleFont().pixelSize(), 16);
    EXPECT_TRUE(fits());

    // A shorter title of the same hold keeps the width it reserved.
    control.setReservedTitles({german});
    control.setTitle(QStringLiteral("Loslassen"));
    EXPECT_EQ(capsuleWidth(), natural);
    control.setTitle(german);

    // Narrower and narrower: first the font gives way down to its least
    // size, then the title takes two lines, and only then is it cut, with
    // the tooltip and the accessible name carrying it whole.
    enum Stage { fullSize, smaller, twoLines, cut };
    Stage last = fullSize;
    std::set<Stage> seen;
    for (int width = natural; width >= 230; width -= 2) {
        control.setMaxCapsuleWidth(width);
        ASSERT_EQ(capsuleWidth(), width);
        ASSERT_TRUE(fits()) << width;
        ASSERT_GE(control.titleFont().pixelSize(), 12) << width;
        const Stage stage = control.shownTitle() != german ? cut
            : control.titleFlags() == Qt::TextWordWrap     ? twoLines
            : control.titleFont().pixelSize() < 16         ? smaller
                                                           : fullSize;
        ASSERT_GE(stage, last) << width;
        if (stage != last && stage == twoLines)
            test::snapshot(control, "HoldToTalk", "two-lines");
        if (stage == cut) {
            EXPECT_TRUE(control.shownTitle().endsWith(QChar(0x2026))) << control.shownTitle().toStdString();
            EXPECT_TRUE(control.button()->toolTip().startsWith(german + QLatin1Char('\n')));
        } else {
            EXPECT_FALSE(control.button()->toolTip().startsWith(german));
        }
        EXPECT_EQ(control.button()->accessibleName(), german);
        last = stage;
        seen.insert(stage);
    }
    EXPECT_EQ(seen, (std::set<Stage>{fullSize, smaller, twoLines, cut}));
    test::snapshot(control, "HoldToTalk", "cut-title");

    // Japanese, unspaced, takes its second line after a particle, never
    // inside a word ("認識できま|せん").
    const QString japanese = QStringLiteral("中国語（繁体字）は認識できません");
    control.setReservedTitles({});
    control.setShortcut(std::nullopt);
    control.setTitle(japanese);
    bool broken = false;
    for (int width = 300; width >= 230; width -= 2) {
        control.setMaxCapsuleWidth(width);
        ASSERT_EQ(capsuleWidth(), width);
        ASSERT_TRUE(fits()) << width;
        if (control.titleFlags() != Qt::TextWordWrap)
            continue;
        broken = true;
        const QStringList lines = control.shownTitle().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 2) << width;
        EXPECT_EQ(lines.join(QString()), japanese) << width;
        EXPECT_EQ(lines[0], QStringLiteral("中国語（繁体字）は")) << width;
    }
    EXPECT_TRUE(broken);
    EXPECT_EQ(control.button()->accessibleName(), japanese);

    // Short again: whole, at full size, and the tooltip only instructs.
    control.setReservedTitles({});
    control.setTitle(QStringLiteral("按住说中文"));
    EXPECT_EQ(control.shownTitle(), QStringLiteral("按住说中文"));
    EXPECT_EQ(control.titleFont().pixelSize(), 16);
    EXPECT_EQ(control.button()->toolTip().toStdString(),
              "按住说话，松开自动翻译并播放；Esc 取消。也可聚焦后按住空格键。");
}
