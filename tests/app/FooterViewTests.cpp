#include "CallScreenWorld.h"
#include "StringTableFiles.h"

#include "app/CompactMeter.h"
#include "app/ContentView.h"
#include "app/ElidingLabel.h"
#include "app/FooterView.h"
#include "app/Spinner.h"
#include "model/AppModel.h"
#include "speech/CallLanguage.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "ui/HoldButton.h"
#include "ui/HoldShortcut.h"
#include "ui/HoldToTalkControl.h"
#include "ui/LevelMeterBar.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"

#include "UiWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QAction>
#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace parlaro::test {
namespace {

using app::FooterView;

class FooterViewTest : public testing::Test {
protected:
    FooterViewTest()
    {
        test::given.set(w.model->myLanguage, *CallLanguage::find("zh-Hans"));
        test::given.set(w.model->theirLanguage, *CallLanguage::find("en"));
        test::given.set(w.model->micAuthorized, true).set(w.model->status, "");
        w.settle();
        footer.setAppActivity(&w.activity);
        w.show(footer, {980, 112});
    }

    int count(const std::string& line)
    {
        auto log = w.takeLog();
        return static_cast<int>(std::count(log.begin(), log.end(), line));
    }

    CallScreenWorld w;
    FooterView footer{w.model, &w.shortcuts};
};

TEST_F(FooterViewTest, StatusLineSaysWhatTheOtherPartyHears)
{
    test::given.set(w.model->status, "abc");
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("abc"));
    EXPECT_EQ(footer.statusLine()->shownText(), QStringLiteral("abc"));

    // Too long for the row: two lines, the second cut at the tail, not
    // clipped mid-glyph, and the row as tall as both.
    const QString longStatus = QStringLiteral("没有找到 wenmora 音频设备。对方将听不到你的声音。").repeated(8);
    test::given.set(w.model->status, longStatus.toStdString());
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), longStatus);
    const QStringList shown = footer.statusLine()->shownText().split(QLatin1Char('\n'));
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].endsWith(QChar(0x2026))) << shown[1].toStdString();
    EXPECT_TRUE(longStatus.startsWith(shown.join(QString()).chopped(1)));
    for (const QString& line : shown)
        EXPECT_LE(footer.statusLine()->fontMetrics().horizontalAdvance(line),
                  footer.statusLine()->contentsRect().width());
    EXPECT_GE(footer.statusLine()->height(), 2 * footer.statusLine()->fontMetrics().lineSpacing());

    test::given.set(w.model->status, "").set(w.model->originalVoiceOn, true);
    w.model->setTranslateWhileHolding(true);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("原声已开：对方听到你说的中文，每说完一句再听到英语"));
    w.model->setTranslateWhileHolding(false);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("原声已开：对方先听到你说的中文，松开后再听到英语"));
    test::given.set(w.model->originalVoiceOn, false);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("原声已关：对方只听到英语翻译"));
    snapshot(footer, "footer", "idle");

    // Right to left, the talk control leads from the right and clear ends on
    // the left, and the status line starts at the right even in a script
    // written left to right.
    auto inkLeft = [&] {
        const QImage line = render(*footer.statusLine());
        for (int x = 0; x < line.width(); ++x)
            for (int y = 0; y < line.height(); ++y)
                if (line.pixelColor(x, y).alpha() > 128 && line.pixelColor(x, y).lightness() < 160)
                    return x;
        return line.width();
    };
    EXPECT_LT(inkLeft(), 10);
    footer.setLayoutDirection(Qt::RightToLeft);
    w.settle();
    snapshot(footer, "footer", "idle-rtl");
    EXPECT_GT(footer.talk()->x(), footer.clearButton()->x());
    EXPECT_GT(inkLeft(), footer.statusLine()->width() / 2);
    // An Arabic sentence reads right to left, its full stop at its left end,
    // as a right-to-left paragraph draws it.
    test::given.set(w.model->status, "لا يستطيع هذا الحاسوب الترجمة.");
    w.settle();
    {
        auto* line = footer.statusLine();
        QImage expected(render(*line).size(), QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::transparent);
        QPainter painter(&expected);
        painter.setFont(line->font());
        painter.setPen(line->palette().color(line->foregroundRole()));
        painter.setLayoutDirection(Qt::RightToLeft);
        painter.drawText(line->contentsRect(), Qt::AlignRight | Qt::AlignAbsolute | Qt::AlignVCenter, line->text());
        painter.end();
        const QImage shown = render(*line).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        int same = 0;
        int inked = 0;
        for (int x = 0; x < shown.width(); ++x)
            for (int y = 0; y < shown.height(); ++y)
                if (expected.pixelColor(x, y).alpha() > 128) {
                    ++inked;
                    same += shown.pixelColor(x, y).lightness() < 200;
                }
        EXPECT_GT(inked, 0);
        EXPECT_GT(same, inked * 9 / 10);
    }
    test::given.set(w.model->status, "");
    footer.setLayoutDirection(Qt::LeftToRight);

    // The latest action's line was written in the language then in force;
    // once the user picks another, the standing line shows, in the new one.
    w.model->clearDraft();
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("已取消"));
    loadStringTables(w.world.platform.bundles, "pl");
    InterfaceLanguage::set("pl");
    w.settle();
    EXPECT_EQ(
        footer.statusLine()->text(),
        QString::fromStdString(localized("原声已关：对方只听到%@翻译", w.model->theirLanguage.get().displayName())));
    EXPECT_TRUE(footer.statusLine()->text().startsWith(QStringLiteral("Własny głos wyłączony")))
        << footer.statusLine()->text().toStdString();
    InterfaceLanguage::set("zh-Hans");
    w.settle();
}

TEST_F(FooterViewTest, MetersAreDimmedOutsideCallsAndTestsAndGiveWayToTheMicrophoneLink)
{
    EXPECT_FALSE(footer.meters()->isHidden());
    EXPECT_TRUE(footer.microphoneLink()->isHidden());
    EXPECT_DOUBLE_EQ(footer.micMeter()->opacity(), 0.55);
    EXPECT_DOUBLE_EQ(footer.virtualMeter()->opacity(), 0.55);
    EXPECT_EQ(footer.meters()->toolTip(), QStringLiteral("通话或测试时显示音量（平时不占用麦克风）"));

    for (auto* flag : {&w.model->callActive, &w.model->isHearTesting, &w.model->showMicCheck}) {
        test::given.set(*flag, true);
        w.settle();
        EXPECT_DOUBLE_EQ(footer.micMeter()->opacity(), 1.0);
        EXPECT_EQ(footer.meters()->toolTip(), QStringLiteral("本机音量不代表对方已收到声音"));
        test::given.set(*flag, false);
        w.settle();
        EXPECT_DOUBLE_EQ(footer.micMeter()->opacity(), 0.55);
    }

    // The icon takes the tint only above the threshold; brick for the microphone.
    w.model->levelMeters()->micLevel.set(0.05f);
    w.model->levelMeters()->virtualLevel.set(0.051f);
    w.settle();
    EXPECT_EQ(footer.micMeter()->icon()->color(), ui::Look::secondaryText());
    EXPECT_EQ(footer.virtualMeter()->icon()->color(), ui::Palette::violet());
    w.model->levelMeters()->micLevel.set(0.051f);
    w.settle();
    EXPECT_EQ(footer.micMeter()->icon()->color(), ui::Palette::brick());
    EXPECT_FLOAT_EQ(footer.micMeter()->bar()->level(), 0.051f);

    test::given.set(w.model->micAuthorized, false);
    w.settle();
    EXPECT_TRUE(footer.meters()->isHidden());
    ASSERT_FALSE(footer.microphoneLink()->isHidden());
    EXPECT_EQ(footer.microphoneLink()->text(), QStringLiteral("授权麦克风后显示音量"));
    QTest::mouseClick(footer.microphoneLink(), Qt::LeftButton);
    EXPECT_EQ(w.settings.opened, std::vector<std::string>{ui::paneId::microphone});
}

TEST_F(FooterViewTest, TalkControlFollowsTheModelAndTheShortcutCenter)
{
    auto* talk = footer.talk();
    EXPECT_EQ(talk->title(), QString::fromStdString(w.model->holdButtonTitle()));
    EXPECT_TRUE(talk->isHoldEnabled());

    test::given.set(w.model->isSpeaking, true);
    w.settle();
    EXPECT_FALSE(talk->isHoldEnabled());
    // A click then says why on the status line and starts nothing.
    QTest::mousePress(talk->button(), Qt::LeftButton);
    QTest::mouseRelease(talk->button(), Qt::LeftButton);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("上一句还在处理，完成后再按住说话"));
    EXPECT_FALSE(w.model->isHoldingToTalk.get());
    // So does Space on it, at the press; its release says nothing more.
    test::given.set(w.model->status, std::string()).set(w.model->isSpeaking, false).set(w.model->isHearTesting, true);
    w.settle();
    talk->button()->setFocus();
    QTest::keyPress(talk->button(), Qt::Key_Space);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("正在试听，结束后再按住说话"));
    test::given.set(w.model->isHearTesting, false).set(w.model->isSpeaking, true);
    QTest::keyRelease(talk->button(), Qt::Key_Space);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("正在试听，结束后再按住说话"));
    EXPECT_FALSE(w.model->isHoldingToTalk.get());
    // A running hold stays enabled, so its release still ends it.
    test::given.set(w.model->isHoldingToTalk, true);
    w.settle();
    EXPECT_TRUE(talk->isHoldEnabled());
    EXPECT_TRUE(talk->isRecording());
    test::given.set(w.model->isHoldingToTalk, false).set(w.model->isSpeaking, false);
    w.settle();

    // The chip only while the center is active with a shortcut.
    w.shortcuts.activate(ui::HoldShortcut::combo(49, ui::HoldShortcut::altMask));
    w.settle();
    ASSERT_EQ(w.shortcuts.status(), ui::HoldShortcutCenter::Status::active);
    EXPECT_EQ(talk->shortcut(), std::optional<QString>(QStringLiteral("⌥+空格")));
    ModelTestAccess::setFreeListening(*w.model, true);
    w.settle();
    EXPECT_EQ(talk->shortcut(), std::nullopt);
    ModelTestAccess::setFreeListening(*w.model, false);
    w.settle();
    w.keys.refuseRegistration = true;
    w.shortcuts.activate(ui::HoldShortcut::combo(49, ui::HoldShortcut::altMask));
    w.settle();
    ASSERT_EQ(w.shortcuts.status(), ui::HoldShortcutCenter::Status::taken);
    EXPECT_EQ(talk->shortcut(), std::nullopt);
    w.keys.hasListenAccess = false;
    w.shortcuts.activate(ui::HoldShortcut::modifier(ui::HoldShortcut::ModifierKey::rightAlt));
    w.settle();
    ASSERT_EQ(w.shortcuts.status(), ui::HoldShortcutCenter::Status::needsPermission);
    EXPECT_EQ(talk->shortcut(), std::nullopt);
}

TEST_F(FooterViewTest, WithoutARecognizerForMyLanguageTheTalkControlSaysWhyAndTypingStays)
{
    auto* talk = footer.talk();
    w.shortcuts.activate(ui::HoldShortcut::combo(49, ui::HoldShortcut::altMask));
    test::given.set(w.model->myEngine, std::nullopt);
    w.settle();
    // Typed text waits for a check before it plays (the default).
    const QString why =
        QStringLiteral("本机无法识别中文，不能按住说话。请在旁边的输入框打字，回车翻译，核对后点「播放给对方」。");
    EXPECT_EQ(talk->title(), QStringLiteral("无法识别中文"));
    EXPECT_FALSE(talk->isHoldEnabled());
    EXPECT_EQ(talk->unavailable(), std::optional<QString>(why));
    EXPECT_EQ(talk->button()->toolTip(), why);
    // A disabled control advertises no shortcut.
    EXPECT_EQ(talk->shortcut(), std::nullopt);
    EXPECT_TRUE(footer.typedText()->isEnabled());
    // Nothing is released when only typing speaks.
    test::given.set(w.model->originalVoiceOn, true);
    w.settle();
    EXPECT_EQ(footer.statusLine()->text(), QStringLiteral("原声已开：对方听到你说的中文，也听到你打的字的英语翻译"));
    test::given.set(w.model->originalVoiceOn, false);
    QTest::mousePress(talk->button(), Qt::LeftButton);
    QTest::mouseRelease(talk->button(), Qt::LeftButton);
    w.settle();
    EXPECT_FALSE(w.model->isHoldingToTalk.get());
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
    EXPECT_EQ(w.model->status.get(), why.toStdString()) << "the click is answered where the user looks";
    snapshot(footer, "footer", "no-recognizer");

    test::given.set(w.model->myEngine, SpeechEngine::speech);
    w.settle();
    EXPECT_TRUE(talk->isHoldEnabled());
    EXPECT_EQ(talk->unavailable(), std::nullopt);
    EXPECT_EQ(talk->button()->toolTip(),
              QStringLiteral("按住说话，松开自动翻译并播放；Esc 取消。也可聚焦后按住空格键。"));
    EXPECT_EQ(talk->shortcut(), std::optional<QString>(QString::fromStdString(w.shortcuts.shortcut()->label())));
}

TEST_F(FooterViewTest, APressHoldsAndAReleaseInFreeListeningDoesNothing)
{
    auto* button = footer.talk()->button();
    QTest::mousePress(button, Qt::LeftButton);
    w.settle();
    EXPECT_TRUE(w.model->isHoldingToTalk.get());
    QTest::mouseRelease(button, Qt::LeftButton);
    w.settle();
    EXPECT_FALSE(w.model->isHoldingToTalk.get());

    // Free listening: the control shows the live level and a release is no end.
    ModelTestAccess::setFreeListening(*w.model, true);
    w.settle();
    QTest::mousePress(button, Qt::LeftButton);
    w.settle();
    ASSERT_TRUE(w.model->isHoldingToTalk.get());
    QTest::mouseRelease(button, Qt::LeftButton);
    w.settle();
    EXPECT_TRUE(w.model->isHoldingToTalk.get());
    snapshot(footer, "footer", "free-listening");
    w.model->cancelHold();
    w.settle();
}

TEST_F(FooterViewTest, TypedTextIsBoundBothWaysAndReturnTranslatesOnce)
{
    auto* field = footer.typedText();
    EXPECT_EQ(field->placeholderText(), QStringLiteral("或者直接打字（中文，地址、数字更准确），回车翻译"));
    QTest::keyClicks(field, QStringLiteral("abc"));
    EXPECT_EQ(w.model->typedText.get(), "abc");
    field->setCursorPosition(1);
    w.settle();
    EXPECT_EQ(field->cursorPosition(), 1);

    w.model->setConfirmBeforeSend(false);
    QTest::keyClick(field, Qt::Key_Return);
    w.settle();
    EXPECT_EQ(count("translate abc"), 1);

    // The model's own change shows in the field.
    w.model->editTypedText("xyz");
    w.settle();
    EXPECT_EQ(field->text(), QStringLiteral("xyz"));

    for (auto* flag : {&w.model->isSpeaking, &w.model->isTranslatingDraft, &w.model->isRecording}) {
        test::given.set(*flag, true);
        w.settle();
        EXPECT_FALSE(field->isEnabled());
        test::given.set(*flag, false);
        w.settle();
        EXPECT_TRUE(field->isEnabled());
    }
}

TEST_F(FooterViewTest, QuickPhrasesMenuSendsThePhraseAndHoldsTheCheckToggle)
{
    auto actions = footer.quickPhrasesMenu()->actions();
    ASSERT_EQ(actions.size(), 8);
    QStringList titles;
    for (int i = 0; i < 6; ++i)
        titles << actions[i]->text();
    EXPECT_EQ(titles,
              (QStringList{QStringLiteral("请稍等"), QStringLiteral("请再说一遍"), QStringLiteral("请说慢一点"),
                           QStringLiteral("我在用翻译软件"), QStringLiteral("可以发邮件给我吗"),
                           QStringLiteral("好的，谢谢")}));
    EXPECT_TRUE(actions[6]->isSeparator());
    QAction* confirm = footer.confirmBeforeSend();
    EXPECT_EQ(confirm->text(), QStringLiteral("文字发送前核对"));
    EXPECT_TRUE(confirm->isCheckable());
    EXPECT_EQ(confirm->isChecked(), w.model->confirmBeforeSend.get());
    confirm->trigger();
    EXPECT_EQ(w.model->confirmBeforeSend.get(), confirm->isChecked());
    w.model->setConfirmBeforeSend(true);
    w.settle();
    EXPECT_TRUE(confirm->isChecked());

    // English to English: the sentence is spoken as it is, and recorded.
    actions[0]->trigger();
    w.settle();
    EXPECT_EQ(count("speaker speak"), 1);
    ASSERT_FALSE(w.model->entries.get().empty());
    EXPECT_EQ(w.model->entries.get().back().translated, "One moment, please.");
    EXPECT_EQ(w.model->entries.get().back().original, "请稍等");

    for (auto* flag :
         {&w.model->isSpeaking, &ModelTestAccess::hold(*w.model).isStartingRecording, &w.model->isHearTesting}) {
        test::given.set(*flag, true);
        w.settle();
        EXPECT_FALSE(footer.quickPhrasesButton()->isEnabled());
        test::given.set(*flag, false);
        w.settle();
        EXPECT_TRUE(footer.quickPhrasesButton()->isEnabled());
    }
}

TEST_F(FooterViewTest, StopAndEscEndThePlaybackOnlyWhileSpeakingAndNotHolding)
{
    QApplication::setActiveWindow(&footer);
    auto* stop = footer.stopButton();
    EXPECT_FALSE(stop->isEnabled());
    QTest::keyClick(footer.typedText(), Qt::Key_Escape);
    w.settle();
    EXPECT_EQ(count("speaker stop"), 0);

    test::given.set(w.model->isSpeaking, true);
    w.settle();
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_TRUE(stop->isActive());
    EXPECT_FALSE(footer.spinner()->isHidden());
    snapshot(footer, "footer", "speaking");
    QTest::mouseClick(stop, Qt::LeftButton, {}, stop->capsuleRect().center());
    w.settle();
    EXPECT_EQ(count("speaker stop"), 1);
    EXPECT_EQ(w.model->status.get(), "已停止播放");

    test::given.set(w.model->status, "").set(w.model->isSpeaking, true);
    w.settle();
    QTest::keyClick(footer.typedText(), Qt::Key_Escape);
    w.settle();
    EXPECT_EQ(count("speaker stop"), 1);
    EXPECT_EQ(w.model->status.get(), "已停止播放");

    // A hold of the talk control takes Esc: the hold ends, the playback goes on.
    test::given.set(w.model->isSpeaking, false);
    w.settle();
    QTest::mousePress(footer.talk()->button(), Qt::LeftButton);
    w.settle();
    ASSERT_TRUE(w.model->isHoldingToTalk.get());
    test::given.set(w.model->isSpeaking, true);
    w.settle();
    QTest::keyClick(footer.typedText(), Qt::Key_Escape);
    w.settle();
    EXPECT_FALSE(w.model->isHoldingToTalk.get());
    EXPECT_EQ(count("speaker stop"), 0);
    QTest::mouseRelease(footer.talk()->button(), Qt::LeftButton);
    w.settle();

    // A hold of the global shortcut: Esc is not the playback's.
    test::given.set(w.model->isSpeaking, true).set(w.model->isHoldingToTalk, true);
    w.settle();
    QTest::keyClick(footer.typedText(), Qt::Key_Escape);
    w.settle();
    EXPECT_EQ(count("speaker stop"), 0);
    test::given.set(w.model->isHoldingToTalk, false).set(w.model->isSpeaking, false);
}

// The talk control's title as drawn and the input row's parts, at the
// window's least width: the title fits inside its capsule and nothing in
// the row overlaps or leaves the footer. Returns whether the title was cut.
bool expectInputRowFits(FooterView& footer, const std::string& where)
{
    auto* talk = footer.talk();
    const QRectF capsule(talk->capsuleRect());
    const QRectF inner = capsule.adjusted(ui::HoldToTalkControl::inset, 0, -ui::HoldToTalkControl::inset, 0);
    const QRectF title = talk->titleRect();
    const QRectF used = QFontMetricsF(talk->titleFont())
                            .boundingRect(QRectF(0, 0, title.width() + 0.01, 1000),
                                          Qt::AlignHCenter | talk->titleFlags(), talk->shownTitle());
    EXPECT_LE(used.width(), title.width() + 0.01) << where;
    EXPECT_LE(used.height(), title.height() + 0.01) << where;
    EXPECT_TRUE(inner.contains(title)) << where;
    if (talk->shortcut()) {
        EXPECT_TRUE(inner.contains(talk->chipRect())) << where;
        EXPECT_FALSE(title.intersects(talk->chipRect())) << where;
    }
    EXPECT_GE(talk->titleFont().pixelSize(), ui::HoldToTalkControl::minTitleSize) << where;
    const bool cut = talk->shownTitle().remove(QLatin1Char('\n')) != talk->title();
    if (cut)
        EXPECT_TRUE(talk->button()->toolTip().startsWith(talk->title())) << where;

    auto inFooter = [&](QWidget* widget, QRect rect) {
        return QRect(widget->mapTo(&footer, rect.topLeft()), rect.size());
    };
    std::vector<QRect> parts{inFooter(talk, talk->capsuleRect()),
                             inFooter(footer.typedText(), footer.typedText()->rect()),
                             inFooter(footer.quickPhrasesButton(), footer.quickPhrasesButton()->capsuleRect()),
                             inFooter(footer.stopButton(), footer.stopButton()->capsuleRect()),
                             inFooter(footer.clearButton(), footer.clearButton()->capsuleRect())};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_TRUE(footer.rect().contains(parts[i])) << where << " part " << i;
        for (std::size_t j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(parts[i].intersects(parts[j])) << where << " parts " << i << " and " << j;
    }
    EXPECT_GE(footer.typedText()->width(), FooterView::minTypedWidth) << where;
    for (auto* pill : {footer.quickPhrasesButton(), footer.stopButton(), footer.clearButton()})
        EXPECT_GE(pill->width(), pill->sizeHint().width()) << where;
    return cut;
}

TEST_F(FooterViewTest, TalkTitleFitsInEveryInterfaceLanguageAtTheLeastWidth)
{
    w.shortcuts.activate(ui::HoldShortcut::combo(49, ui::HoldShortcut::altMask));
    test::given.set(w.model->theirLanguage, *CallLanguage::find("zh-Hans"));
    w.settle();
    std::set<std::string> cut;
    for (const auto& language : InterfaceLanguage::supported()) {
        loadStringTables(w.world.platform.bundles, language.code);
        InterfaceLanguage::set(language.code);
        footer.setLayoutDirection(
            InterfaceLanguage::layoutDirection() == LayoutDirection::rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        // Each language the user may speak names the title's language.
        for (const CallLanguage& mine : CallLanguage::all()) {
            test::given.set(w.model->myLanguage, mine);
            w.settle();
            ASSERT_TRUE(footer.talk()->shortcut());
            if (expectInputRowFits(footer, language.code + " " + mine.id))
                cut.insert(language.code + " " + mine.id);
        }
        // The other titles of a hold keep the width and fit as well.
        const int width = footer.talk()->width();
        test::given.set(w.model->isRecording, true);
        w.settle();
        EXPECT_EQ(footer.talk()->width(), width) << language.code;
        if (expectInputRowFits(footer, language.code + " recording"))
            cut.insert(language.code + " recording");
        test::given.set(w.model->isRecording, false);
        w.settle();
        // So does the title that says no hold can start.
        test::given.set(w.model->myLanguage, *CallLanguage::find("pt-BR"));
        test::given.set(w.model->myEngine, std::nullopt);
        w.settle();
        if (expectInputRowFits(footer, language.code + " unrecognized"))
            cut.insert(language.code + " unrecognized");
        // Typing is then the user's one way to speak: the field is no
        // narrower than the control that cannot be used.
        EXPECT_GE(footer.typedText()->width(), footer.talk()->capsuleRect().width()) << language.code;
        // The title opens as a title does, even where the name it opens
        // with is written in lower case ("português").
        EXPECT_FALSE(footer.talk()->title().front().isLower())
            << language.code << ": " << footer.talk()->title().toStdString();
        if (language.code == "de")
            snapshot(footer, "footer", "german-no-recognizer");
        if (language.code == "es" || language.code == "ar" || language.code == "zh-Hans")
            snapshot(footer, "footer", QString::fromStdString(language.code + "-no-recognizer"));
        test::given.set(w.model->myEngine, SpeechEngine::speech);
        w.settle();
        if (language.code == "de") {
            snapshot(footer, "footer", "german");
            // The meters' titles follow the interface language too.
            EXPECT_EQ(child<QLabel>(*footer.micMeter(), "compactMeter.title")->text(), "Mein Mikrofon");
            EXPECT_EQ(child<QLabel>(*footer.virtualMeter(), "compactMeter.title")->text(), "An das Gegenüber");
        }
        if (language.code == "ar")
            snapshot(footer, "footer", "arabic");
    }
    // At 980 every title is whole, if on two lines for the longest.
    EXPECT_TRUE(cut.empty()) << [&] {
        std::string all;
        for (const auto& one : cut)
            all += one + ", ";
        return all;
    }();
    InterfaceLanguage::set("zh-Hans");
    footer.setLayoutDirection(Qt::LeftToRight);
    w.settle();
}

// At the window's default width the field's placeholder reads whole in
// every interface language, for a user who speaks it, beside the talk
// control; where the pair cannot be translated here, at any width.
TEST_F(FooterViewTest, ThePlaceholderIsWholeAtTheDefaultWidth)
{
    w.shortcuts.activate(ui::HoldShortcut::combo(49, ui::HoldShortcut::altMask));
    footer.resize(1180, footer.height());
    std::string cut;
    for (const auto& language : InterfaceLanguage::supported()) {
        loadStringTables(w.world.platform.bundles, language.code);
        InterfaceLanguage::set(language.code);
        const CallLanguage mine = CallLanguage::find(language.code).value_or(*CallLanguage::find("en"));
        const CallLanguage their = *CallLanguage::find(mine.id == "en" ? "es" : "en");
        test::given.set(w.model->myLanguage, mine).set(w.model->theirLanguage, their);
        for (const bool translatable : {true, false}) {
            test::given.set(w.model->translationSupported, translatable);
            // Refused, the field's words also fit the narrowest window.
            footer.resize(translatable ? 1180 : app::ContentView::minimumWidth, footer.height());
            w.settle();
            QLineEdit* field = footer.typedText();
            // The field's padding (10), border (1) and text margin (2) on each side.
            const int room = field->width() - 2 * (10 + 1 + 2);
            const int needed = field->fontMetrics().horizontalAdvance(field->placeholderText());
            if (needed > room)
                cut += language.code + (translatable ? "" : " refused") + ": " + std::to_string(needed) + " in "
                    + std::to_string(room) + " \"" + field->placeholderText().toStdString() + "\"\n";
        }
    }
    EXPECT_EQ(cut, "");
    test::given.set(w.model->translationSupported, true);
    InterfaceLanguage::set("zh-Hans");
    w.settle();
}

TEST_F(FooterViewTest, ClearNeedsEntries)
{
    auto* clear = footer.clearButton();
    EXPECT_FALSE(clear->isEnabled());
    ConversationEntry e;
    e.original = "hi";
    e.translated = "你好";
    ModelTestAccess::setEntries(*w.model, {e});
    w.settle();
    ASSERT_TRUE(clear->isEnabled());
    QTest::mouseClick(clear, Qt::LeftButton, {}, clear->capsuleRect().center());
    w.settle();
    EXPECT_TRUE(w.model->entries.get().empty());
    EXPECT_FALSE(clear->isEnabled());
}

}  // namespace
}  // namespace parlaro::test
