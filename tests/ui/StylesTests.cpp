#include "UiWorld.h"

#include "audio/AudioMeters.h"
#include "speech/InterfaceLanguage.h"
#include "ui/CardBackground.h"
#include "ui/FocusRing.h"
#include "ui/Glow.h"
#include "ui/HoldButton.h"
#include "ui/Icons.h"
#include "ui/InterfaceFontFollower.h"
#include "ui/LevelMeterBar.h"
#include "ui/Look.h"
#include "ui/MeterRow.h"
#include "ui/Palette.h"
#include "ui/PersistentSwitch.h"
#include "ui/PillButton.h"
#include "ui/SectionTitle.h"
#include "ui/StatusDot.h"
#include "ui/SymbolView.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QGlyphRun>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QShortcut>
#include <QStyle>
#include <QTest>
#include <QTextLayout>
#include <QToolTip>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using namespace parlaro;
using ui::Palette::withOpacity;

namespace {

// A colour painted over white.
QColor overWhite(const QColor& color)
{
    auto mix = [&](int c) { return static_cast<int>(255 + (c - 255) * color.alphaF() + 0.5); };
    return QColor(mix(color.red()), mix(color.green()), mix(color.blue()));
}

QColor blend(const QColor& from, const QColor& to, double t)
{
    auto mix = [&](int a, int b) { return static_cast<int>(a + (b - a) * t + 0.5); };
    return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()), mix(from.blue(), to.blue()));
}

// A widget on a white page, so grabs show it as a window would.
struct Page {
    Page()
    {
        page.setAutoFillBackground(true);
        layout = new QHBoxLayout(&page);
        layout->setContentsMargins(12, 12, 12, 12);
    }
    QWidget page;
    QHBoxLayout* layout;
};

}  // namespace

TEST(Styles, TintedTextTurnsCoralIntoBrickOnly)
{
    EXPECT_EQ(ui::Palette::textColor(ui::Palette::coral()), ui::Palette::brick());
    EXPECT_EQ(ui::Palette::textColor(ui::Palette::violet()), ui::Palette::violet());
    EXPECT_EQ(ui::Palette::textColor(ui::Palette::amber()), ui::Palette::amber());
}

TEST(Styles, PillsDrawTheirStatesAndADisabledPillBlendsAtFortyPercent)
{
    test::UiWorld world;
    Page p;
    ui::PillButton inactive(QStringLiteral("稍后再说"));
    ui::PillButton active(QStringLiteral("开始"));
    active.setActive(true);
    ui::PillButton coral(QStringLiteral("停止"));
    coral.setTint(ui::Palette::coral());
    coral.setActive(true);
    ui::PillButton disabled(QStringLiteral("开始"));
    disabled.setActive(true);
    disabled.setEnabled(false);
    for (auto* pill : {&inactive, &active, &coral, &disabled}) {
        pill->resize(pill->sizeHint());
        pill->setAutoFillBackground(true);
    }
    test::snapshot(inactive, "Pill", "inactive");
    test::snapshot(active, "Pill", "active");
    test::snapshot(coral, "Pill", "active-coral");
    test::snapshot(disabled, "Pill", "disabled");
    ui::PillButton pressed(QStringLiteral("开始"));
    pressed.setActive(true);
    pressed.resize(pressed.sizeHint());
    pressed.setAutoFillBackground(true);
    pressed.setDown(true);
    test::snapshot(pressed, "Pill", "pressed");

    auto probe = [](ui::PillButton& pill) {
        auto image = test::render(pill);
        auto body = pill.capsuleRect();
        return image.pixelColor(body.left() + body.height() / 2, body.top() + 3);
    };
    // Violet shows through (the fill and the glow behind it), white does not.
    EXPECT_GT(probe(active).blue(), probe(active).red() + 20) << probe(active).name().toStdString();
    const QColor faded = blend(Qt::white, probe(active), 0.4);
    EXPECT_TRUE(test::near(probe(disabled), faded)) << probe(disabled).name().toStdString();
    EXPECT_TRUE(test::near(probe(inactive), Qt::white));

    // The capsule is the hit area; the glow's room around it is not.
    EXPECT_EQ(active.height(), active.capsuleRect().height() + 2 * ui::glowMargin(ui::PillButton::glowRadius));
}

TEST(Styles, SwitchIsFortyByTwentyWithItsKnobByStateAndReadsAsAToggle)
{
    test::UiWorld world;
    ui::PersistentSwitch on;
    on.setChecked(true);
    ui::PersistentSwitch off;
    ui::PersistentSwitch disabledOn;
    disabledOn.setChecked(true);
    disabledOn.setEnabled(false);
    ui::PersistentSwitch disabledOff;
    disabledOff.setEnabled(false);
    EXPECT_EQ(on.size(), QSize(40, 20));
    EXPECT_EQ(on.knobRect(), QRect(22, 2, 16, 16));
    EXPECT_EQ(off.knobRect(), QRect(2, 2, 16, 16));

    auto onImage = test::snapshot(on, "Switch", "on");
    auto offImage = test::snapshot(off, "Switch", "off");
    test::snapshot(disabledOn, "Switch", "disabled-on");
    auto disabledOffImage = test::snapshot(disabledOff, "Switch", "disabled-off");
    EXPECT_TRUE(test::near(onImage.pixelColor(30, 10), Qt::white));
    EXPECT_TRUE(test::near(onImage.pixelColor(8, 10), ui::Palette::violet()));
    EXPECT_TRUE(test::near(offImage.pixelColor(10, 10), Qt::white));
    const QColor track = overWhite(QColor(0, 0, 0, 41));
    EXPECT_TRUE(test::near(offImage.pixelColor(32, 10), track)) << offImage.pixelColor(32, 10).name().toStdString();
    EXPECT_TRUE(test::near(disabledOffImage.pixelColor(32, 10), blend(Qt::white, track, 0.45)));

    // Clicking anywhere on it flips it; assistive tools see a checkable control.
    off.click();
    EXPECT_TRUE(off.isChecked());
    auto* accessible = QAccessible::queryAccessibleInterface(&off);
    ASSERT_NE(accessible, nullptr);
    EXPECT_TRUE(accessible->state().checkable);
    EXPECT_TRUE(accessible->state().checked);
}

TEST(Styles, LevelBarFillsFromNothingToTheWholeTrack)
{
    test::UiWorld world;
    ui::LevelMeterBar bar(ui::Palette::violet());
    bar.resize(100, 8);
    EXPECT_EQ(bar.height(), 8);
    for (float level : {0.0f, -0.3f}) {
        bar.setLevel(level);
        EXPECT_EQ(bar.fillRect().width(), 0.0);
        auto image = test::render(bar);
        EXPECT_TRUE(test::near(image.pixelColor(50, 4), ui::Palette::paleGrey(), 8));
        EXPECT_TRUE(test::near(image.pixelColor(6, 4), ui::Palette::paleGrey(), 8));
    }
    bar.setLevel(1.0f);
    EXPECT_EQ(bar.fillRect(), QRectF(0, 0, 100, 8));
    auto full = test::render(bar);
    EXPECT_TRUE(test::near(full.pixelColor(94, 4), ui::Palette::violet(), 12));
    bar.setLevel(1.6f);
    EXPECT_EQ(bar.fillRect().width(), 100.0);
}

// The ring shows where the keyboard is: around a pill's capsule, not its
// glow room; not after a click on a button, whose place the mouse user
// knows; always on a text field.
TEST(Styles, TheFocusRingFollowsTheKeyboardAroundTheCapsule)
{
    test::UiWorld world;
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    auto* first = new ui::PillButton(QStringLiteral("开始"), &window);
    auto* second = new ui::PillButton(QStringLiteral("停止"), &window);
    auto* field = new QLineEdit(&window);
    row->addWidget(first);
    row->addWidget(second);
    row->addWidget(field);
    window.show();
    QApplication::setActiveWindow(&window);
    first->setFocus(Qt::TabFocusReason);
    QTest::keyClick(first, Qt::Key_Shift);
    world.settle();
    EXPECT_EQ(ui::FocusRing::shownAround(), first);
    const QImage shot = window.grab().toImage();
    const QRect body = first->capsuleRect().translated(first->pos());
    EXPECT_TRUE(test::near(shot.pixelColor(body.left() - 3, body.center().y()), ui::Palette::violet()))
        << shot.pixelColor(body.left() - 3, body.center().y()).name().toStdString();
    EXPECT_FALSE(test::near(shot.pixelColor(body.left() - 7, body.center().y()), ui::Palette::violet()))
        << "the glow's room stays clear";

    QTest::mouseClick(second, Qt::LeftButton, {}, second->capsuleRect().center());
    world.settle();
    EXPECT_EQ(QApplication::focusWidget(), second);
    EXPECT_EQ(ui::FocusRing::shownAround(), nullptr);
    QTest::mouseClick(field, Qt::LeftButton);
    world.settle();
    EXPECT_EQ(ui::FocusRing::shownAround(), field);
}

// A pill, a page tab (a checkable button) and a switch, each pressed once
// by Enter or Return as by Space, even where the window has a Return
// shortcut; the talk button's keys are holds, not clicks.
TEST(Styles, EnterAndReturnPressTheFocusedButtonTabOrSwitchAsSpaceDoes)
{
    test::UiWorld world;
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    auto* pill = new ui::PillButton(QStringLiteral("播放给对方"), &window);
    auto* tab = new QPushButton(QStringLiteral("通用"), &window);
    tab->setCheckable(true);
    auto* toggle = new ui::PersistentSwitch(&window);
    auto* talk = new ui::HoldButton(&window);
    for (QWidget* control : std::initializer_list<QWidget*>{pill, tab, toggle, talk})
        row->addWidget(control);
    int shortcuts = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Return), &window);
    QObject::connect(shortcut, &QShortcut::activated, [&shortcuts] { ++shortcuts; });
    int pills = 0;
    QObject::connect(pill, &QPushButton::clicked, [&pills] { ++pills; });
    int holds = 0;
    talk->onDown = [&holds] { ++holds; };
    window.show();
    QApplication::setActiveWindow(&window);
    world.settle();

    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        pill->setFocus(Qt::TabFocusReason);
        QTest::keyClick(pill, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        tab->setFocus(Qt::TabFocusReason);
        QTest::keyClick(tab, key);
        toggle->setFocus(Qt::TabFocusReason);
        QTest::keyClick(toggle, key);
    }
    EXPECT_EQ(pills, 3);
    EXPECT_TRUE(tab->isChecked()) << "checked, unchecked and checked again";
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_EQ(shortcuts, 0);
    // A held key presses once.
    pill->setFocus(Qt::TabFocusReason);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), true);
    QApplication::sendEvent(pill, &repeat);
    EXPECT_EQ(pills, 3);
    // With a modifier, or on the talk button, the key is not a press.
    QTest::keyClick(pill, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(pills, 3);
    // Enter on the talk button holds nothing and fires no shortcut of the
    // window: it says how to hold, there.
    talk->setFocus(Qt::TabFocusReason);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        QToolTip::hideText();
        QTest::keyClick(talk, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), QStringLiteral("请按住空格键说话，说完再松开"));
    }
    QToolTip::hideText();
    // Where no hold can start, Enter tells why instead of how to hold.
    int refused = 0;
    talk->onRefusedPress = [&refused] { ++refused; };
    talk->setHoldEnabled(false);
    QTest::keyClick(talk, Qt::Key_Return);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(holds, 0);
    EXPECT_EQ(shortcuts, 0);

    // Return on a picker opens its list, and Return in the list picks once,
    // though the platform offers the key to the list again once it closed.
    auto* picker = new QComboBox(&window);
    row->addWidget(picker);
    picker->addItems({QStringLiteral("中文"), QStringLiteral("English"), QStringLiteral("Español")});
    picker->show();
    int picks = 0;
    QObject::connect(picker, &QComboBox::activated, [&picks] { ++picks; });
    picker->setFocus(Qt::TabFocusReason);
    QTest::keyClick(picker, Qt::Key_Return);
    ASSERT_TRUE(picker->view()->isVisible());
    picker->view()->setCurrentIndex(picker->model()->index(2, 0));
    for (int offer = 0; offer < 2; ++offer) {
        QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(picker->view(), &override);
    }
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(picker->view(), &press);
    EXPECT_FALSE(picker->view()->isVisible());
    EXPECT_EQ(picker->currentIndex(), 2);
    EXPECT_EQ(picks, 1);
    EXPECT_EQ(shortcuts, 0);
}

TEST(Styles, MeterRowsSayQuietUpToTheThresholdAndShowSoundInTheirTextColour)
{
    test::UiWorld world;
    auto meters = std::make_shared<AudioMeters>();
    Page p;
    auto* column = new QVBoxLayout();
    auto* mic = new ui::MeterRow(QStringLiteral("麦克风"), meters, ui::MeterRow::Source::mic);
    auto* virt = new ui::MeterRow(QStringLiteral("虚拟麦克风"), meters, ui::MeterRow::Source::virtualDevice);
    column->addWidget(mic);
    column->addWidget(virt);
    p.layout->addLayout(column);
    p.page.resize(320, 120);
    test::snapshot(p.page, "MeterRow", "silent");
    EXPECT_EQ(mic->stateLabel()->text().toStdString(), "安静");

    meters->micLevel.set(0.05f);
    meters->virtualLevel.set(0.051f);
    world.settle();
    EXPECT_EQ(mic->stateLabel()->text().toStdString(), "安静");
    EXPECT_EQ(virt->stateLabel()->text().toStdString(), "有声音");
    EXPECT_EQ(virt->stateLabel()->palette().color(QPalette::WindowText), ui::Palette::violet());

    meters->micLevel.set(0.051f);
    world.settle();
    EXPECT_EQ(mic->stateLabel()->text().toStdString(), "有声音");
    EXPECT_EQ(mic->stateLabel()->palette().color(QPalette::WindowText), ui::Palette::brick());
    EXPECT_FLOAT_EQ(mic->bar()->level(), 0.051f);

    meters->micLevel.set(0.8f);
    meters->virtualLevel.set(0.35f);
    world.settle();
    test::snapshot(p.page, "MeterRow", "sound");
}

TEST(Styles, EverySymbolRendersTinted)
{
    test::UiWorld world;
    auto names = ui::Icons::names();
    EXPECT_GE(names.size(), 30);
    for (const char* wanted : {"mic.fill", "gearshape", "waveform", "stop.fill", "checkmark.circle.fill"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(wanted))) << wanted;
    for (const auto& name : names) {
        auto image = ui::Icons::pixmap(name, ui::Palette::brick(), 24).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(24, 24)) << name.toStdString();
        int inked = 0;
        bool tinted = true;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                auto c = image.pixelColor(x, y);
                if (c.alpha() < 200)
                    continue;
                ++inked;
                if (!test::near(QColor(c.red(), c.green(), c.blue()), ui::Palette::brick(), 3) && tinted) {
                    tinted = false;
                    ADD_FAILURE() << name.toStdString() << " " << c.name(QColor::HexArgb).toStdString();
                }
            }
        }
        EXPECT_GT(inked, 10) << name.toStdString();
        EXPECT_TRUE(tinted) << name.toStdString();
    }
    EXPECT_TRUE(ui::Icons::pixmap(QStringLiteral("no.such.symbol"), Qt::black, 24).isNull());

    ui::SymbolView view(QStringLiteral("gearshape"), ui::Palette::violet(), 16);
    EXPECT_EQ(view.property("symbol").toString(), QStringLiteral("gearshape"));
    EXPECT_EQ(view.size(), QSize(16, 16));
    view.setSymbol(QStringLiteral("stop.fill"), ui::Palette::alertRed(), 12);
    EXPECT_EQ(view.property("symbol").toString(), QStringLiteral("stop.fill"));
    EXPECT_EQ(view.pixmap().size(), QSize(12, 12));
}

TEST(Styles, SnapshotsOfTheSmallShapes)
{
    test::UiWorld world;
    Page p;
    auto* column = new QVBoxLayout();
    column->addWidget(new ui::SectionTitle(QStringLiteral("Speaking")));
    auto* dots = new QHBoxLayout();
    dots->addWidget(new ui::StatusDot(ui::Palette::violet()));
    dots->addWidget(new ui::StatusDot(ui::Palette::coral()));
    dots->addWidget(new ui::StatusDot(ui::Palette::amber()));
    dots->addStretch(1);
    column->addLayout(dots);
    column->addWidget(new ui::Hairline());
    auto* card = new ui::Card(ui::Palette::amber(), 14, 0.08);
    auto* inside = new QVBoxLayout(card);
    inside->addWidget(new QLabel(QStringLiteral("需要下载语音识别模型")));
    column->addWidget(card);
    p.layout->addLayout(column);
    p.page.resize(320, 220);
    auto image = test::snapshot(p.page, "Shapes", "all");
    auto* title = p.page.findChild<ui::SectionTitle*>();
    EXPECT_EQ(title->text().toStdString(), "SPEAKING");
    EXPECT_EQ(title->font().letterSpacing(), 1.5);
    EXPECT_FALSE(image.isNull());
    // Joined letters are never pulled apart; Latin is spaced again after.
    title->setTitle(QStringLiteral("التحضير (مرة واحدة فقط)"));
    EXPECT_EQ(title->font().letterSpacing(), 0.0);
    title->setTitle(QStringLiteral("Speaking"));
    EXPECT_EQ(title->font().letterSpacing(), 1.5);
}

TEST(Styles, OneLookWhateverTheDesktop)
{
    test::UiWorld world;
    EXPECT_EQ(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), ui::Palette::white());
    EXPECT_TRUE(QFontInfo(ui::Look::monospacedFont(10)).fixedPitch());
}

// Latin text in the desktop's font with its own quotes and ellipses, Chinese
// in the CJK family with Chinese punctuation, whatever the text mixes; a
// change of interface language turns the fonts already shown round.
TEST(Styles, TextTakesTheDesktopFontAndChinesePunctuationOnlyUnderAChineseInterface)
{
    test::UiWorld world;
    const QString desktop = QStringLiteral("DejaVu Sans");
    const QString cjk = QString::fromLatin1(ui::Look::cjkFamily);
    const auto width = [](const QFont& font, const char16_t* text) {
        return QFontMetrics(font).horizontalAdvance(QString::fromUtf16(text));
    };
    // The families whose glyphs draw the text, sorted.
    const auto drawnWith = [](const QFont& font, const char16_t* text) {
        QTextLayout layout(QString::fromUtf16(text), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        QStringList families;
        for (const QGlyphRun& run : layout.glyphRuns())
            if (!families.contains(run.rawFont().familyName()))
                families << run.rawFont().familyName();
        families.sort();
        return families;
    };
    InterfaceLanguage::set("en");
    const QFont latin = ui::Look::font(16, QFont::DemiBold);
    EXPECT_EQ(latin.pixelSize(), 16);
    EXPECT_EQ(latin.weight(), QFont::DemiBold);
    EXPECT_EQ(latin.families(), QStringList({desktop, cjk}));
    EXPECT_EQ(QFontInfo(latin).family(), desktop);
    // Quotes and ellipses in their Latin forms, not in CJK cells.
    EXPECT_EQ(drawnWith(latin, u"Install “Parlaro”… don’t"), QStringList({desktop}));
    EXPECT_LT(width(latin, u"’"), width(latin, u"中") / 2);
    // Chinese in English text still has its glyphs.
    EXPECT_EQ(drawnWith(latin, u"Chinese 中文"), QStringList({desktop, cjk}));  // in sorted order

    QLabel shown(QStringLiteral("“Parlaro”"));
    shown.setFont(ui::Look::font(13));
    ui::InterfaceFontFollower follower;
    InterfaceLanguage::set("zh-Hans");
    world.settle();
    const QFont chinese = ui::Look::font(16);
    EXPECT_EQ(chinese.families(), QStringList({cjk, desktop}));
    EXPECT_EQ(QFontInfo(chinese).family(), cjk);
    EXPECT_EQ(drawnWith(chinese, u"安装“Parlaro”…"), QStringList({cjk}));
    EXPECT_EQ(shown.font().families(), QStringList({cjk, desktop}));
    EXPECT_EQ(shown.font().pixelSize(), 13);
    EXPECT_EQ(QApplication::font().families().front(), cjk);

    InterfaceLanguage::set("de");
    world.settle();
    EXPECT_EQ(shown.font().families(), QStringList({desktop, cjk}));
    EXPECT_EQ(QApplication::font().families().front(), desktop);
}

// A card background drawn straight onto the widget, every time.
class DirectCard : public QWidget {
public:
    explicit DirectCard(QColor tint) : tint_(tint) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const int m = ui::cardMargin();
        ui::cardBackground(painter, rect().adjusted(m, m, -m, -m), tint_, 14, 0.3);
    }

private:
    QColor tint_;
};

// The largest difference of one colour channel between two images of one
// size; the whole range when the sizes differ.
int largestDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 255;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb r = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(r)), std::abs(qGreen(p) - qGreen(r)),
                                std::abs(qBlue(p) - qBlue(r)), std::abs(qAlpha(p) - qAlpha(r))});
        }
    }
    return largest;
}

// Cards keep drawn backgrounds between repaints and share them; a new tint
// or size must still show as a background drawn afresh would (within the
// rounding of drawing it in two steps).
TEST(Styles, CardsRedrawTheirKeptBackgroundForANewTintOrSize)
{
    test::UiWorld world;
    const auto direct = [](const QColor& tint, QSize size) {
        DirectCard card(tint);
        card.resize(size);
        return test::render(card);
    };
    ui::Card card(ui::Palette::amber(), 14, 0.3);
    card.resize(200, 90);
    EXPECT_LE(largestDifference(test::render(card), direct(ui::Palette::amber(), {200, 90})), 4);
    card.setTint(ui::Palette::violet());
    EXPECT_LE(largestDifference(test::render(card), direct(ui::Palette::violet(), {200, 90})), 4);
    card.resize(260, 140);
    EXPECT_LE(largestDifference(test::render(card), direct(ui::Palette::violet(), {260, 140})), 4);
    EXPECT_GT(largestDifference(test::render(card), direct(ui::Palette::amber(), {260, 140})), 8);
    // Another card of the same look shares the background; one of its own
    // size does not get it.
    ui::Card same(ui::Palette::violet(), 14, 0.3);
    same.resize(260, 140);
    EXPECT_LE(largestDifference(test::render(same), direct(ui::Palette::violet(), {260, 140})), 4);
    ui::Card other(ui::Palette::violet(), 14, 0.3);
    other.resize(261, 140);
    EXPECT_LE(largestDifference(test::render(other), direct(ui::Palette::violet(), {261, 140})), 4);
}
