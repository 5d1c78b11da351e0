// The real confirmation and alert boxes, as the user sees them.

#include "UiWorld.h"

#include "settings/Prompter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace parlaro::test {
namespace {

QPushButton* buttonNamed(QMessageBox& box, const QString& text)
{
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == text)
            return qobject_cast<QPushButton*>(button);
    }
    return nullptr;
}

// Every text the box draws in its body (the title bar is not part of it).
QStringList bodyTexts(QMessageBox& box)
{
    QStringList texts;
    for (QLabel* label : box.findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty())
            texts << label->text();
    }
    return texts;
}

TEST(Prompter, AConfirmationConfirmsOnlyOnItsButtonAndANoticeTakesTheKeys)
{
    UiWorld world;
    QWidget window;
    window.resize(600, 400);
    window.show();
    int confirmed = 0;
    settings::Prompter::shared().confirm(&window, "删除 30 天以前的 2 段聊天记录？", "删除后无法恢复。", "删除",
                                         [&confirmed] { ++confirmed; });
    world.settle();
    auto* box = window.findChild<QMessageBox*>(QStringLiteral("prompter.confirm"));
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(box->isVisible());
    const QStringList body = bodyTexts(*box);
    EXPECT_TRUE(body.contains(QStringLiteral("删除 30 天以前的 2 段聊天记录？"))) << body.join('|').toStdString();
    EXPECT_TRUE(body.contains(QStringLiteral("删除后无法恢复。"))) << body.join('|').toStdString();
    snapshot(*box, QStringLiteral("confirmation"), QStringLiteral("delete-old"));

    ASSERT_NE(buttonNamed(*box, QStringLiteral("取消")), nullptr);
    buttonNamed(*box, QStringLiteral("取消"))->click();
    world.settle();
    EXPECT_EQ(confirmed, 0);
    EXPECT_EQ(window.findChild<QMessageBox*>(QStringLiteral("prompter.confirm")), nullptr);

    settings::Prompter::shared().confirm(&window, "删除全部聊天记录？", "删除后无法恢复。", "全部删除",
                                         [&confirmed] { ++confirmed; });
    world.settle();
    box = window.findChild<QMessageBox*>(QStringLiteral("prompter.confirm"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(bodyTexts(*box).contains(QStringLiteral("删除全部聊天记录？")));
    // The destructive button is never the one Return presses.
    EXPECT_EQ(box->defaultButton(), buttonNamed(*box, QStringLiteral("取消")));
    EXPECT_FALSE(buttonNamed(*box, QStringLiteral("全部删除"))->isDefault());
    buttonNamed(*box, QStringLiteral("全部删除"))->click();
    world.settle();
    EXPECT_EQ(confirmed, 1);

    // A notice comes up with the keys on its button, which Enter or Escape
    // presses; the window behind it stays usable.
    for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {
        settings::Prompter::shared().alert(&window, "导出失败：磁盘已满");
        world.settle();
        box = window.findChild<QMessageBox*>(QStringLiteral("prompter.alert"));
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isModal());
        EXPECT_EQ(QApplication::focusWidget(), buttonNamed(*box, QStringLiteral("好")));
        if (key == Qt::Key_Return)
            snapshot(*box, QStringLiteral("alert"), QStringLiteral("export-failed"));
        QTest::keyClick(QApplication::focusWidget(), key);
        world.settle();
        EXPECT_EQ(window.findChild<QMessageBox*>(QStringLiteral("prompter.alert")), nullptr) << key;
    }
}

}  // namespace
}  // namespace parlaro::test
