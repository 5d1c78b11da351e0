#include "CallScreenWorld.h"

#include "app/DraftPanel.h"
#include "app/Spinner.h"
#include "model/AppModel.h"
#include "ui/PillButton.h"

#include "UiWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace parlaro::test {
namespace {

using app::DraftPanel;

class DraftPanelTest : public testing::Test {
protected:
    DraftPanelTest()
    {
        test::given.set(w.model->myLanguage, *CallLanguage::find("zh-Hans"));
        test::given.set(w.model->theirLanguage, *CallLanguage::find("en")).set(w.model->hasDraft, true);
        w.model->editDraftText("你好");
        w.model->editDraftTranslation("Hello");
        w.settle();
        w.show(panel, {760, 170});
        QApplication::setActiveWindow(&panel);
    }

    int count(const std::string& line)
    {
        auto log = w.takeLog();
        return static_cast<int>(std::count(log.begin(), log.end(), line));
    }

    CallScreenWorld w;
    DraftPanel panel{w.model};
};

TEST_F(DraftPanelTest, FieldsAreBoundBothWaysWithoutRewritingTheUsersEdit)
{
    EXPECT_EQ(panel.source()->toPlainText(), QStringLiteral("你好"));
    EXPECT_EQ(panel.target()->toPlainText(), QStringLiteral("Hello"));
    EXPECT_EQ(panel.source()->placeholderText(), QStringLiteral("中文"));
    EXPECT_EQ(panel.target()->placeholderText(), QStringLiteral("英语"));
    EXPECT_EQ(panel.sourceTag()->text(), QStringLiteral("中"));
    EXPECT_EQ(panel.targetTag()->text(), QStringLiteral("EN"));
    EXPECT_EQ(panel.sourceTag()->width(), 34);
    EXPECT_TRUE(QFontInfo(panel.sourceTag()->font()).fixedPitch());

    panel.target()->setFocus();
    panel.target()->moveCursor(QTextCursor::End);
    QTest::keyClicks(panel.target(), QStringLiteral(" there"));
    EXPECT_EQ(w.model->draftTranslation.get(), "Hello there");
    int cursor = panel.target()->textCursor().position();
    w.settle();
    EXPECT_EQ(panel.target()->textCursor().position(), cursor);

    w.model->editDraftText("你好吗");
    w.settle();
    EXPECT_EQ(panel.source()->toPlainText(), QStringLiteral("你好吗"));
}

TEST_F(DraftPanelTest, ButtonsCallTheirOperations)
{
    EXPECT_EQ(panel.playButton()->text(), QStringLiteral("播放给对方"));
    QTest::mouseClick(panel.retranslateButton(), Qt::LeftButton, {}, panel.retranslateButton()->capsuleRect().center());
    w.settle();
    EXPECT_EQ(count("translate 你好"), 1);

    QTest::mouseClick(panel.playButton(), Qt::LeftButton, {}, panel.playButton()->capsuleRect().center());
    w.settle();
    EXPECT_EQ(count("speaker speak"), 1);
    EXPECT_EQ(panel.playButton()->text(), QStringLiteral("再次播放给对方"));

    QTest::mouseClick(panel.clearButton(), Qt::LeftButton, {}, panel.clearButton()->capsuleRect().center());
    w.settle();
    EXPECT_FALSE(w.model->hasDraft.get());
    EXPECT_EQ(w.model->draftText.get(), "");
}

TEST_F(DraftPanelTest, CtrlReturnPlaysFromEitherFieldOnlyWhenPlayable)
{
    for (QPlainTextEdit* field : {panel.source(), panel.target()}) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
        w.settle();
        EXPECT_EQ(count("speaker speak"), 1);
        EXPECT_FALSE(field->toPlainText().contains(QLatin1Char('\n')));
    }

    // The microphone busy (a recording starting): nothing, even with a
    // playable draft.
    test::given.set(ModelTestAccess::hold(*w.model).isStartingRecording, true);
    w.settle();
    ASSERT_TRUE(w.model->canPlayDraft());
    QTest::keyClick(panel.source(), Qt::Key_Return, Qt::ControlModifier);
    w.settle();
    EXPECT_EQ(count("speaker speak"), 0);
    EXPECT_FALSE(panel.playButton()->isEnabled());
    test::given.set(ModelTestAccess::hold(*w.model).isStartingRecording, false);

    // An empty translation cannot be played.
    w.model->editDraftTranslation("  ");
    w.settle();
    QTest::keyClick(panel.target(), Qt::Key_Return, Qt::ControlModifier);
    w.settle();
    EXPECT_EQ(count("speaker speak"), 0);
    EXPECT_FALSE(panel.playButton()->isEnabled());
}

TEST_F(DraftPanelTest, TranslatingShowsASpinnerAndSpeakingDisablesEverything)
{
    test::given.set(w.model->isTranslatingDraft, true);
    w.settle();
    EXPECT_TRUE(panel.target()->isHidden());
    EXPECT_FALSE(panel.spinner()->isHidden());
    EXPECT_FALSE(panel.source()->isEnabled());
    EXPECT_FALSE(panel.retranslateButton()->isEnabled());
    EXPECT_FALSE(panel.clearButton()->isEnabled());
    EXPECT_EQ(panel.playButton()->isEnabled(), w.model->canPlayDraft());
    snapshot(panel, "draft", "translating");

    test::given.set(w.model->isTranslatingDraft, false).set(w.model->isSpeaking, true);
    w.settle();
    EXPECT_FALSE(panel.target()->isHidden());
    for (QWidget* control : std::initializer_list<QWidget*>{panel.source(), panel.target(), panel.retranslateButton(),
                                                            panel.clearButton(), panel.playButton()})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    QTest::keyClick(panel.source(), Qt::Key_Return, Qt::ControlModifier);
    w.settle();
    EXPECT_EQ(count("speaker speak"), 0);
    test::given.set(w.model->isSpeaking, false);
}

}  // namespace
}  // namespace parlaro::test
