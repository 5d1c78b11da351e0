#include "UiWorld.h"

#include "platform/sim/SimGlobalKeys.h"
#include "settings/HoldShortcutRow.h"
#include "ui/GroupNotice.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/ModuleStatusGroup.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SystemSettings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace parlaro;
using ui::HoldShortcut;
using Status = ui::HoldShortcutCenter::Status;

namespace {

// X keycodes (input-event code + 8) of the keys the tests press.
constexpr quint32 xRightAlt = 100 + 8;
constexpr quint32 xLeftShift = 42 + 8;
constexpr quint32 xSpace = 57 + 8;
constexpr quint32 xA = 30 + 8;
constexpr quint32 xB = 48 + 8;
constexpr quint32 xF5 = 63 + 8;
constexpr quint32 xEscape = 1 + 8;

struct RecordingSettings final : ui::SystemSettings {
    void open(const std::string& url) override { opened.push_back(url); }
    std::vector<std::string> opened;
};

struct RowWorld {
    test::UiWorld world;
    sim::SimGlobalKeys keys;
    ui::HoldShortcutCenter center;
    RecordingSettings settings;
    ui::SystemSettings::Scope settingsScope{settings};
    QWidget window;
    QLineEdit* field;
    settings::HoldShortcutRow* row;
    int shortcuts = 0;

    explicit RowWorld(std::vector<ui::SystemShortcut> system = {}) : center(keys, std::move(system))
    {
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        row = new settings::HoldShortcutRow(center, world.settings, &window);
        layout->addWidget(row);
        layout->addStretch(1);
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), &window);
        QObject::connect(shortcut, &QShortcut::activated, [this] { ++shortcuts; });
        window.resize(560, 160);
        window.show();
        field->setFocus();
        world.settle();
    }

    // A key as the X platform sends it: shortcut override, then the press.
    void press(quint32 scanCode, int key, Qt::KeyboardModifiers modifiers = {}, const QString& text = {})
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : field;
        QKeyEvent override(QEvent::ShortcutOverride, key, modifiers, scanCode, 0, 0, text);
        QApplication::sendEvent(target, &override);
        QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, 0, text);
        QApplication::sendEvent(target, &event);
        world.settle();
    }
    void release(quint32 scanCode, int key, Qt::KeyboardModifiers modifiers = {})
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : field;
        QKeyEvent event(QEvent::KeyRelease, key, modifiers, scanCode, 0, 0);
        QApplication::sendEvent(target, &event);
        world.settle();
    }

    QString detail() { return row->findChild<ui::SidebarRow*>()->detailWidget()->text(); }
    ui::PillButton* button(const char* name) { return row->findChild<ui::PillButton*>(QString::fromLatin1(name)); }
    bool shows(const char* name)
    {
        QWidget* w = row->findChild<QWidget*>(QString::fromLatin1(name));
        return w && w->isVisibleTo(row);
    }
    QString notice()
    {
        auto* n = row->findChild<ui::GroupNotice*>();
        return n->isVisibleTo(row) ? n->text() : QString();
    }
    std::optional<HoldShortcut> stored() { return HoldShortcut::load(world.platform.defaults); }
    void record()
    {
        button("holdShortcut.record")->click();
        world.settle();
    }
};

}  // namespace

TEST(HoldShortcutRow, TextsAndButtonsFollowTheState)
{
    RowWorld w;
    EXPECT_EQ(w.row->findChild<ui::SidebarRow*>()->labelWidget()->text(), QStringLiteral("自定义按键"));
    EXPECT_EQ(w.detail(), QStringLiteral("未设置。设置后在任何软件里按住即可说话，每说完一句自动翻译"));
    w.row->setWhileHolding(false);
    EXPECT_EQ(w.detail(), QStringLiteral("未设置。设置后在任何软件里按住即可说话，松开自动翻译"));
    EXPECT_TRUE(w.shows("holdShortcut.record"));
    EXPECT_EQ(w.button("holdShortcut.record")->text(), QStringLiteral("设置"));
    EXPECT_TRUE(w.button("holdShortcut.record")->isActive());
    EXPECT_FALSE(w.shows("holdShortcut.clear"));

    w.center.activate(HoldShortcut::combo(49, HoldShortcut::altMask));
    w.world.settle();
    EXPECT_EQ(w.detail(), QStringLiteral("⌥+空格 · 在任何软件里按住即可说话，松开自动翻译"));
    w.row->setWhileHolding(true);
    EXPECT_EQ(w.detail(), QStringLiteral("⌥+空格 · 在任何软件里按住即可说话，每说完一句自动翻译"));
    EXPECT_EQ(w.button("holdShortcut.record")->text(), QStringLiteral("更改"));
    EXPECT_FALSE(w.button("holdShortcut.record")->isActive());
    EXPECT_TRUE(w.shows("holdShortcut.clear"));
    EXPECT_EQ(w.button("holdShortcut.clear")->text(), QStringLiteral("清除"));

    w.keys.calls.clear();
    w.record();
    EXPECT_TRUE(w.row->isRecording());
    EXPECT_FALSE(w.keys.combinationRegistered()) << "starting deactivates the center";
    EXPECT_EQ(w.detail(),
              QStringLiteral("按下组合键（如 ⌥ 空格），或单独按一下一个修饰键（如右 ⌥、Fn）后松开；Esc 取消"));
    EXPECT_TRUE(w.shows("holdShortcut.waiting"));
    EXPECT_EQ(w.row->findChild<QLabel*>(QStringLiteral("holdShortcut.waiting"))->text(), QStringLiteral("请按键…"));
    EXPECT_TRUE(w.shows("holdShortcut.cancel"));
    EXPECT_EQ(w.button("holdShortcut.cancel")->text(), QStringLiteral("取消"));
    EXPECT_FALSE(w.shows("holdShortcut.record"));
    EXPECT_FALSE(w.shows("holdShortcut.clear"));
    test::snapshot(*w.row, QStringLiteral("recorder"), QStringLiteral("recording"));

    w.button("holdShortcut.cancel")->click();
    w.world.settle();
    EXPECT_FALSE(w.row->isRecording());
    EXPECT_TRUE(w.keys.combinationRegistered()) << "cancel restores the shortcut";
}

TEST(HoldShortcutRow, CombinationsAndFunctionKeysAreSavedAndNoOneElseSeesTheKeys)
{
    RowWorld w;
    w.record();
    // Through Qt's own key path, shortcut map included (no X keycode here,
    // so the Qt key stands in).
    QTest::keyClick(w.field, Qt::Key_Space, Qt::AltModifier);
    w.world.settle();
    EXPECT_FALSE(w.row->isRecording());
    EXPECT_EQ(w.stored(), HoldShortcut::combo(49, 0x800));
    EXPECT_EQ(w.center.shortcut(), HoldShortcut::combo(49, 0x800));
    EXPECT_EQ(w.shortcuts, 0) << "the window's shortcut never fired";
    EXPECT_TRUE(w.field->text().isEmpty()) << "the focused field never saw the key";

    w.record();
    w.press(xF5, Qt::Key_F5);
    EXPECT_EQ(w.stored(), HoldShortcut::combo(96, 0));

    w.record();
    w.press(xSpace, Qt::Key_Space, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral(" "));
    EXPECT_EQ(w.stored(), HoldShortcut::combo(49, HoldShortcut::controlMask | HoldShortcut::shiftMask));
}

TEST(HoldShortcutRow, PlainAndShiftedLettersAreRefusedAndRecordingGoesOn)
{
    RowWorld w;
    w.record();
    w.press(xA, Qt::Key_A, {}, QStringLiteral("a"));
    EXPECT_TRUE(w.row->isRecording());
    EXPECT_EQ(w.notice(), QStringLiteral("请加上 ⌘、⌥ 或 ⌃（例如 ⌥ 空格），或用 F1–F20；单独的字母键会影响打字"));
    w.press(xA, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    EXPECT_TRUE(w.row->isRecording());
    EXPECT_FALSE(w.stored());
    EXPECT_TRUE(w.field->text().isEmpty());
    test::snapshot(*w.row, QStringLiteral("recorder"), QStringLiteral("refused"));
}

TEST(HoldShortcutRow, ALoneRightAltIsRecordedOnlyWhenNothingElseTookPart)
{
    RowWorld w;
    w.record();
    w.press(xRightAlt, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(w.row->isRecording());
    w.release(xRightAlt, Qt::Key_Alt);
    EXPECT_FALSE(w.row->isRecording());
    EXPECT_EQ(w.stored(), HoldShortcut::modifier(HoldShortcut::ModifierKey::rightAlt));

    // Another modifier spoils it; recording goes on.
    w.record();
    w.press(xRightAlt, Qt::Key_Alt, Qt::AltModifier);
    w.press(xLeftShift, Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
    w.release(xLeftShift, Qt::Key_Shift, Qt::AltModifier);
    w.release(xRightAlt, Qt::Key_Alt);
    EXPECT_TRUE(w.row->isRecording());

    // A refused letter in between spoils it too.
    w.row->cancelRecording();
    HoldShortcut::store(std::nullopt, w.world.platform.defaults);
    w.record();
    w.press(xRightAlt, Qt::Key_Alt, Qt::AltModifier);
    w.press(xB, Qt::Key_B, {}, QStringLiteral("b"));
    w.release(xRightAlt, Qt::Key_Alt);
    EXPECT_TRUE(w.row->isRecording());
    EXPECT_FALSE(w.stored());
}

TEST(HoldShortcutRow, EscAloneStopsButWithAltItIsAKey)
{
    RowWorld w;
    w.center.activate(HoldShortcut::combo(49, 0x800));
    HoldShortcut::store(HoldShortcut::combo(49, 0x800), w.world.platform.defaults);
    w.record();
    EXPECT_FALSE(w.keys.combinationRegistered());
    w.press(xEscape, Qt::Key_Escape);
    EXPECT_FALSE(w.row->isRecording());
    EXPECT_TRUE(w.keys.combinationRegistered());
    EXPECT_EQ(w.stored(), HoldShortcut::combo(49, 0x800));

    w.record();
    w.press(xEscape, Qt::Key_Escape, Qt::AltModifier);
    EXPECT_EQ(w.stored(), HoldShortcut::combo(53, 0x800));
}

TEST(HoldShortcutRow, ATakenCombinationRestoresTheSavedOneAndSavesNothing)
{
    // The desktop owns Alt+Space.
    RowWorld w({{true, 49, HoldShortcut::altMask}});
    w.center.activate(HoldShortcut::combo(96, 0));
    HoldShortcut::store(HoldShortcut::combo(96, 0), w.world.platform.defaults);
    w.record();
    w.press(xSpace, Qt::Key_Space, Qt::AltModifier, QStringLiteral(" "));
    EXPECT_FALSE(w.row->isRecording());
    EXPECT_EQ(w.notice(), QStringLiteral("「⌥+空格」已被系统或其他软件占用，请换一个"));
    EXPECT_EQ(w.stored(), HoldShortcut::combo(96, 0));
    EXPECT_EQ(w.center.shortcut(), HoldShortcut::combo(96, 0));
    EXPECT_EQ(w.center.status(), Status::active);
    test::snapshot(*w.row, QStringLiteral("recorder"), QStringLiteral("taken"));
}

TEST(HoldShortcutRow, ALoneModifierWithoutPermissionIsSavedAndOffersTheSettings)
{
    RowWorld w;
    w.keys.hasListenAccess = false;
    w.record();
    w.press(xRightAlt, Qt::Key_Alt, Qt::AltModifier);
    w.release(xRightAlt, Qt::Key_Alt);
    EXPECT_EQ(w.center.status(), Status::needsPermission);
    EXPECT_EQ(w.stored(), HoldShortcut::modifier(HoldShortcut::ModifierKey::rightAlt));
    auto* notice = w.row->findChild<ui::GroupNotice*>();
    ASSERT_TRUE(notice->isVisibleTo(w.row));
    EXPECT_EQ(notice->text().toStdString(), ui::HoldShortcutCenter::permissionText());
    ASSERT_NE(notice->button(), nullptr);
    EXPECT_EQ(notice->button()->text(), QStringLiteral("打开系统设置"));
    notice->button()->click();
    ASSERT_EQ(w.settings.opened.size(), 1u);
    EXPECT_EQ(ui::paneFor(w.settings.opened[0]), ui::SettingsPane::keyboardAccess);
}

TEST(HoldShortcutRow, ClearRemovesTheShortcutAndHidingStopsRecording)
{
    RowWorld w;
    w.center.activate(HoldShortcut::combo(49, 0x800));
    HoldShortcut::store(HoldShortcut::combo(49, 0x800), w.world.platform.defaults);
    w.world.settle();
    w.button("holdShortcut.clear")->click();
    w.world.settle();
    EXPECT_FALSE(w.center.shortcut());
    EXPECT_FALSE(w.world.platform.defaults.has("holdShortcut"));
    EXPECT_EQ(w.detail(), QStringLiteral("未设置。设置后在任何软件里按住即可说话，每说完一句自动翻译"));

    w.center.activate(HoldShortcut::combo(96, 0));
    w.record();
    EXPECT_FALSE(w.keys.combinationRegistered());
    w.row->hide();
    w.world.settle();
    EXPECT_FALSE(w.row->isRecording());
    EXPECT_TRUE(w.keys.combinationRegistered());
    // Keys flow again once recording ended.
    w.field->setFocus();
    w.press(xA, Qt::Key_A, {}, QStringLiteral("a"));
    EXPECT_EQ(w.field->text(), QStringLiteral("a"));
}

TEST(HoldShortcutRow, DestroyedWhileRecordingGivesTheShortcutBack)
{
    RowWorld w;
    w.center.activate(HoldShortcut::combo(96, 0));
    w.record();
    EXPECT_FALSE(w.keys.combinationRegistered());
    delete w.row;
    w.world.settle();
    EXPECT_TRUE(w.keys.combinationRegistered());
    w.press(xA, Qt::Key_A, {}, QStringLiteral("a"));
    EXPECT_EQ(w.field->text(), QStringLiteral("a")) << "no filter is left behind";
}
