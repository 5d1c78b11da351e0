#include "UiWorld.h"

#include "ui/GroupNotice.h"
#include "ui/ModuleStatusGroup.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SymbolView.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QTextLayout>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace parlaro;

namespace {

ModuleReport report(ModuleID module, ModuleState state)
{
    return {module, "adapter", std::move(state)};
}

template <class T>
QList<T*> visible(QWidget& root, const QString& name)
{
    QList<T*> found;
    for (T* widget : root.findChildren<T*>(name))
        if (widget->isVisibleTo(&root))
            found.push_back(widget);
    return found;
}

}  // namespace

TEST(GroupedList, ModuleStatusGroupHasItsTitleAndADividerBetweenRows)
{
    test::UiWorld world;
    ui::ModuleStatusGroup group;
    EXPECT_EQ(group.title(), QStringLiteral("运行状态"));
    group.setReports({report(ModuleID::recognition, ModuleState::ready())});
    EXPECT_EQ(group.findChildren<ui::RowDivider*>().size(), 0);
    group.setReports({report(ModuleID::recognition, ModuleState::ready()),
                      report(ModuleID::translation, ModuleState::ready()),
                      report(ModuleID::speech, ModuleState::ready())});
    world.settle();
    EXPECT_EQ(group.findChildren<ui::RowDivider*>().size(), 2);
    EXPECT_EQ(group.findChildren<ui::SidebarRow*>().size(), 3);
    group.setReports({});
    world.settle();
    EXPECT_EQ(group.findChildren<ui::SidebarRow*>().size(), 0);
    EXPECT_TRUE(group.panel() != nullptr);
}

TEST(GroupedList, StateViewsShowTheirTextInTheirColour)
{
    test::UiWorld world;
    ui::ModuleStatusGroup group;
    group.setReports(
        {report(ModuleID::recognition, ModuleState::needsDownload("x")),
         report(ModuleID::translation, ModuleState::needsPermission("y")),
         report(ModuleID::speech,
                ModuleState::failed(
                    "TR-3", "翻译超时，这是一段很长的说明文字，要在两百三十的宽度里换行，所以它还要再长一些才行")),
         report(ModuleID::callAudio, ModuleState::ready())});
    group.resize(420, group.heightForWidth(420));
    group.show();
    world.settle();
    auto states = group.findChildren<QWidget*>(QStringLiteral("moduleStatus.state"));
    ASSERT_EQ(states.size(), 4);
    auto* download = qobject_cast<QLabel*>(states[0]);
    auto* permission = qobject_cast<QLabel*>(states[1]);
    auto* failed = qobject_cast<QLabel*>(states[2]);
    ASSERT_TRUE(download && permission && failed);
    EXPECT_EQ(download->text(), QStringLiteral("需下载 x"));
    EXPECT_EQ(download->palette().color(QPalette::WindowText), ui::Palette::amber());
    EXPECT_EQ(permission->text(), QStringLiteral("缺权限 y"));
    EXPECT_EQ(permission->palette().color(QPalette::WindowText), ui::Palette::amber());
    EXPECT_TRUE(failed->text().startsWith(QStringLiteral("TR-3 翻译超时")));
    EXPECT_EQ(failed->palette().color(QPalette::WindowText), ui::Palette::alertRed());
    EXPECT_LE(failed->width(), ui::ModuleStatusGroup::stateWidth);
    EXPECT_EQ(download->height(), download->fontMetrics().height()) << "a short state keeps one line";
    EXPECT_EQ(permission->height(), permission->fontMetrics().height());
    EXPECT_GE(failed->height(), failed->heightForWidth(failed->width())) << "nothing of a wrapped state is cut";
    EXPECT_GT(failed->height(), failed->fontMetrics().height() * 1.5) << "a long failure wraps";
    auto* ready = qobject_cast<ui::SymbolView*>(states[3]);
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->property("symbol").toString(), QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(ready->color(), ui::Palette::violet());
    test::snapshot(group, QStringLiteral("status"), QStringLiteral("group"));

    // Where words are not spaced, a name wraps whole or not at all.
    group.setReports({report(ModuleID::translation, ModuleState::needsDownload("日语 ⇄ 中文翻译包，日语识别模型"))});
    world.settle();
    auto* state = group.findChild<QLabel*>(QStringLiteral("moduleStatus.state"));
    ASSERT_TRUE(state);
    for (int width = 40; width <= ui::ModuleStatusGroup::stateWidth; ++width) {
        QTextLayout layout(state->text(), state->font());
        QTextOption option(Qt::AlignTrailing);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const QString shown = state->text().mid(line.textStart(), line.textLength());
            EXPECT_FALSE(shown.endsWith(QStringLiteral("日")) || shown.startsWith(QStringLiteral("语")))
                << width << ": " << shown.toStdString();
        }
        layout.endLayout();
    }
    EXPECT_EQ(state->text().remove(QChar(0x2060)), QStringLiteral("需下载 日语 ⇄ 中文翻译包，日语识别模型"));
    // The joiners steer the lines only: a screen reader hears the words.
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(state);
    ASSERT_TRUE(spoken);
    EXPECT_EQ(spoken->text(QAccessible::Name), QStringLiteral("需下载 日语 ⇄ 中文翻译包，日语识别模型"));
}

TEST(GroupedList, RowsShowTheirDetailOnlyWhenGiven)
{
    test::UiWorld world;
    ui::SidebarRow plain(QStringLiteral("标签"));
    ui::SidebarRow detailed(QStringLiteral("标签"), QStringLiteral("说明"));
    EXPECT_FALSE(plain.detailWidget()->isVisibleTo(&plain));
    EXPECT_TRUE(detailed.detailWidget()->isVisibleTo(&detailed));
    EXPECT_EQ(detailed.detailWidget()->text(), QStringLiteral("说明"));
    detailed.setDetail(std::nullopt);
    EXPECT_FALSE(detailed.detailWidget()->isVisibleTo(&detailed));

    // Right to left, a Latin engine name under an Arabic title starts at the
    // right as the title does, whichever direction the row was built in.
    for (const bool builtRightToLeft : {false, true}) {
        QWidget page;
        page.setLayoutDirection(builtRightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        auto* row = new ui::SidebarRow(QStringLiteral("التعرف على الكلام"), QStringLiteral("pocketsphinx"), &page);
        page.setLayoutDirection(Qt::RightToLeft);
        row->resize(400, row->heightForWidth(400));
        page.resize(row->size());
        page.show();
        world.settle();
        const auto inkEnd = [&page](QLabel* label) {
            const QImage image = label->grab().toImage();
            const QRgb background = image.pixel(0, 0);
            int last = -1;
            for (int x = 0; x < image.width(); ++x)
                for (int y = 0; y < image.height(); ++y)
                    if (image.pixel(x, y) != background)
                        last = x;
            return label->mapTo(&page, QPoint(last, 0)).x();
        };
        const int titleEnd = inkEnd(row->labelWidget());
        EXPECT_GT(titleEnd, 300) << builtRightToLeft;
        EXPECT_NEAR(inkEnd(row->detailWidget()), titleEnd, 4) << builtRightToLeft;
    }
}

TEST(GroupedList, ANoticeButtonRunsItsActionOnceAndNoActionMeansNoButton)
{
    test::UiWorld world;
    int runs = 0;
    ui::GroupNotice with(QStringLiteral("提示文字"), ui::Palette::amber(),
                         ui::GroupNotice::Action{QStringLiteral("打开"), [&] { ++runs; }});
    ASSERT_NE(with.button(), nullptr);
    EXPECT_EQ(with.button()->text(), QStringLiteral("打开"));
    EXPECT_TRUE(with.button()->isActive());
    with.button()->click();
    EXPECT_EQ(runs, 1);

    ui::GroupNotice without(QStringLiteral("提示文字"), ui::Palette::amber());
    EXPECT_EQ(without.button(), nullptr);
    EXPECT_TRUE(without.findChildren<QPushButton*>().isEmpty());
    // Dropping the action later takes the button away.
    with.setNotice(QStringLiteral("别的"), ui::Palette::amber(), std::nullopt);
    EXPECT_EQ(with.button(), nullptr);
}

TEST(GroupedList, TheDividerIndentMirrorsRightToLeft)
{
    test::UiWorld world;
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    layout->setContentsMargins(0, 4, 0, 4);
    auto* divider = new ui::RowDivider(&page);
    layout->addWidget(divider);
    page.resize(100, 9);
    page.show();
    world.settle();
    QImage ltr = test::render(page);
    int y = divider->geometry().center().y();
    QColor page_ = ltr.pixelColor(50, 1);
    auto lined = [&](const QImage& image, int x) { return !test::near(image.pixelColor(x, y), page_, 1); };
    EXPECT_FALSE(lined(ltr, 4)) << "indented at the left";
    EXPECT_TRUE(lined(ltr, 95));
    page.setLayoutDirection(Qt::RightToLeft);
    world.settle();
    QImage rtl = test::render(page);
    EXPECT_TRUE(lined(rtl, 4));
    EXPECT_FALSE(lined(rtl, 95)) << "indented at the right";
}
