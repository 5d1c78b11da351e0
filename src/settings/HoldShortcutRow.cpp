#include "settings/HoldShortcutRow.h"

#include "model/SettingsWriter.h"
#include "platform/KeyCodes.h"
#include "ui/GroupNotice.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/Look.h"
#include "ui/ModuleStatusGroup.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <map>

namespace parlaro::settings {

using ui::HoldShortcut;

namespace {

constexpr std::uint16_t escapeCode = 53;

// Codes of every modifier key; their presses and releases stand for the
// modifier flags changing.
bool isModifierCode(std::uint16_t code)
{
    switch (code) {
    case 54:
    case 55:
    case 56:
    case 57:
    case 58:
    case 59:
    case 60:
    case 61:
    case 62:
    case 63:
        return true;
    default:
        return false;
    }
}

std::optional<HoldShortcut::ModifierKey> modifierKeyFor(std::uint16_t code)
{
    for (HoldShortcut::ModifierKey key : HoldShortcut::allModifierKeys())
        if (HoldShortcut::keyCode(key) == code)
            return key;
    return std::nullopt;
}

// Only for events without an X keycode (the offscreen platform of tests).
std::optional<std::uint16_t> codeForQtKey(int key)
{
    static const std::map<int, std::uint16_t> table = [] {
        std::map<int, std::uint16_t> t{
            {Qt::Key_A, 0},        {Qt::Key_S, 1},        {Qt::Key_D, 2},          {Qt::Key_F, 3},
            {Qt::Key_H, 4},        {Qt::Key_G, 5},        {Qt::Key_Z, 6},          {Qt::Key_X, 7},
            {Qt::Key_C, 8},        {Qt::Key_V, 9},        {Qt::Key_B, 11},         {Qt::Key_Q, 12},
            {Qt::Key_W, 13},       {Qt::Key_E, 14},       {Qt::Key_R, 15},         {Qt::Key_Y, 16},
            {Qt::Key_T, 17},       {Qt::Key_O, 31},       {Qt::Key_U, 32},         {Qt::Key_I, 34},
            {Qt::Key_P, 35},       {Qt::Key_L, 37},       {Qt::Key_J, 38},         {Qt::Key_K, 40},
            {Qt::Key_N, 45},       {Qt::Key_M, 46},       {Qt::Key_Return, 36},    {Qt::Key_Tab, 48},
            {Qt::Key_Space, 49},   {Qt::Key_Escape, 53},  {Qt::Key_Backspace, 51}, {Qt::Key_Alt, 58},
            {Qt::Key_AltGr, 61},   {Qt::Key_Shift, 56},   {Qt::Key_Control, 59},   {Qt::Key_Meta, 55},
            {Qt::Key_Super_L, 55}, {Qt::Key_Super_R, 54},
        };
        for (const auto& [code, name] : HoldShortcut::functionKeyNames()) {
            int number = std::stoi(name.substr(1));
            t[Qt::Key_F1 + number - 1] = static_cast<std::uint16_t>(code);
        }
        return t;
    }();
    auto found = table.find(key);
    if (found == table.end())
        return std::nullopt;
    return found->second;
}

}  // namespace

HoldShortcutRow::HoldShortcutRow(ui::HoldShortcutCenter& center, SettingsWriter& settings, QWidget* parent)
    : QWidget(parent), center_(center), settings_(settings)
{
    setObjectName(QStringLiteral("holdShortcut"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    row_ = new ui::SidebarRow({}, QString(), this);
    row_->setObjectName(QStringLiteral("holdShortcut.row"));
    layout->addWidget(row_);

    waiting_ = new QLabel(this);
    waiting_->setObjectName(QStringLiteral("holdShortcut.waiting"));
    waiting_->setFont(ui::Look::font(12, QFont::Medium));
    ui::updates::setTextColor(waiting_, ui::Palette::violet());
    cancel_ = new ui::PillButton({}, this);
    cancel_->setObjectName(QStringLiteral("holdShortcut.cancel"));
    clear_ = new ui::PillButton({}, this);
    clear_->setObjectName(QStringLiteral("holdShortcut.clear"));
    record_ = new ui::PillButton({}, this);
    record_->setObjectName(QStringLiteral("holdShortcut.record"));
    for (QWidget* control : std::initializer_list<QWidget*>{waiting_, cancel_, clear_, record_})
        row_->addTrailing(control);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelRecording(); });
    connect(clear_, &QPushButton::clicked, this, [this] { clear(); });
    connect(record_, &QPushButton::clicked, this, [this] { startRecording(); });

    notice_ = new ui::GroupNotice({}, ui::Palette::amber(), std::nullopt, this);
    notice_->setObjectName(QStringLiteral("holdShortcut.notice"));
    layout->addWidget(notice_);

    binding_ = std::make_unique<ui::ViewBinding>([this] { refresh(); });
}

HoldShortcutRow::~HoldShortcutRow()
{
    // Going away mid-recording gives the old shortcut back, as hiding does.
    if (recording_) {
        stopRecording();
        center_.activate(center_.shortcut());
    }
}

void HoldShortcutRow::setWhileHolding(bool whileHolding)
{
    if (whileHolding_ == whileHolding)
        return;
    whileHolding_ = whileHolding;
    refresh();
}

std::string HoldShortcutRow::detailText() const
{
    if (recording_)
        return localized("按下组合键（如 ⌥ 空格），或单独按一下一个修饰键（如右 ⌥、Fn）后松开；Esc 取消");
    if (const auto& shortcut = center_.shortcut())
        return whileHolding_ ? localized("%@ · 在任何软件里按住即可说话，每说完一句自动翻译", shortcut->label())
                             : localized("%@ · 在任何软件里按住即可说话，松开自动翻译", shortcut->label());
    return whileHolding_ ? localized("未设置。设置后在任何软件里按住即可说话，每说完一句自动翻译")
                         : localized("未设置。设置后在任何软件里按住即可说话，松开自动翻译");
}

void HoldShortcutRow::refresh()
{
    using namespace ui;
    row_->setLabel(q(localized("自定义按键")));
    row_->setDetail(q(detailText()));
    bool set = center_.shortcut().has_value();
    updates::setVisible(waiting_, recording_);
    updates::setText(waiting_, q(localized("请按键…")));
    updates::setVisible(cancel_, recording_);
    updates::setText(cancel_, q(localized("取消")));
    updates::setVisible(clear_, !recording_ && set);
    updates::setText(clear_, q(localized("清除")));
    updates::setVisible(record_, !recording_);
    updates::setText(record_, q(set ? localized("更改") : localized("设置⟨按键⟩")));
    if (record_->isActive() == set)
        record_->setActive(!set);

    ui::HoldShortcutCenter::Status status = center_.status();
    const std::optional<std::string> obstacle = center_.obstacleText();
    // Outside X11 the way keys are read asks something of the user, so it
    // is said while the shortcut works too.
    const bool sayMethod =
        status == HoldShortcutCenter::Status::active && center_.keysMethod() != GlobalKeys::Method::displayServer;
    if (problem_) {
        notice_->setNotice(q(*problem_), Palette::amber(), std::nullopt);
    } else if (status == HoldShortcutCenter::Status::taken) {
        notice_->setNotice(q(obstacle.value_or(localized("这个按键已被系统或其他软件占用，请换一个"))),
                           Palette::amber(), std::nullopt);
    } else if (sayMethod) {
        notice_->setNotice(q(center_.methodText()), Palette::violet(), std::nullopt);
    } else if (status == HoldShortcutCenter::Status::needsPermission) {
        // No settings can attach a keyboard or bring the desktop's
        // service back; only a permission has somewhere to go.
        const GlobalKeys::Obstacle why = center_.keysObstacle();
        std::optional<GroupNotice::Action> action;
        if (why == GlobalKeys::Obstacle::none || why == GlobalKeys::Obstacle::keyboardsUnreadable)
            action = GroupNotice::Action{q(localized("打开系统设置")),
                                         [] { SystemSettings::shared().open(paneId::keyboardAccess); }};
        notice_->setNotice(q(obstacle.value_or(HoldShortcutCenter::permissionText())), Palette::amber(), action);
    }
    updates::setVisible(notice_,
                        problem_ || sayMethod || status == HoldShortcutCenter::Status::taken
                            || status == HoldShortcutCenter::Status::needsPermission);
}

void HoldShortcutRow::startRecording()
{
    problem_.reset();
    lone_.reset();
    center_.deactivate();
    if (!recording_) {
        recording_ = true;
        qApp->installEventFilter(this);
    }
    binding_->refreshNow();
}

void HoldShortcutRow::stopRecording()
{
    if (recording_)
        qApp->removeEventFilter(this);
    recording_ = false;
    lone_.reset();
}

void HoldShortcutRow::cancelRecording()
{
    stopRecording();
    center_.activate(center_.shortcut());
    binding_->refreshNow();
}

void HoldShortcutRow::clear()
{
    stopRecording();
    problem_.reset();
    // A shortcut the store refuses to forget stays the one in force.
    if (settings_.write([](SettingsStore& store) { HoldShortcut::store(std::nullopt, store); }))
        center_.activate(std::nullopt);
    else
        center_.activate(HoldShortcut::load(settings_.store()));
    binding_->refreshNow();
}

void HoldShortcutRow::commit(const HoldShortcut& shortcut)
{
    stopRecording();
    problem_.reset();
    if (center_.activate(shortcut) == ui::HoldShortcutCenter::Status::taken) {
        problem_ = localized("「%@」已被系统或其他软件占用，请换一个", shortcut.label());
        center_.activate(HoldShortcut::load(settings_.store()));
    } else if (!settings_.write([&](SettingsStore& store) { HoldShortcut::store(shortcut, store); })) {
        // Not stored, so not in force: the next start would not know it.
        center_.activate(HoldShortcut::load(settings_.store()));
    }
    binding_->refreshNow();
}

void HoldShortcutRow::modifierChanged(std::uint16_t code, bool down)
{
    std::optional<HoldShortcut::ModifierKey> key = modifierKeyFor(code);
    if (!key)
        return otherEvent(code);
    if (down) {
        if (!lone_) {
            lone_ = key;
            return;
        }
        return otherEvent(code);
    }
    if (lone_ == key)
        return commit(HoldShortcut::modifier(*key));
    otherEvent(code);
}

void HoldShortcutRow::otherEvent(std::uint16_t code)
{
    if (lone_ && HoldShortcut::keyCode(*lone_) != code)
        lone_.reset();
}

void HoldShortcutRow::keyDown(std::uint16_t code, std::uint32_t modifiers)
{
    lone_.reset();
    if (code == escapeCode && modifiers == 0)
        return cancelRecording();
    bool functionKey = HoldShortcut::functionKeyNames().contains(code);
    constexpr std::uint32_t qualifying = HoldShortcut::controlMask | HoldShortcut::altMask | HoldShortcut::superMask;
    if (functionKey || (modifiers & qualifying) != 0)
        return commit(HoldShortcut::combo(code, modifiers));
    problem_ = localized("请加上 ⌘、⌥ 或 ⌃（例如 ⌥ 空格），或用 F1–F20；单独的字母键会影响打字");
    binding_->refreshNow();
}

std::optional<std::uint16_t> HoldShortcutRow::keyCode(const QKeyEvent& event)
{
    if (event.nativeScanCode() > keycodes::xKeycodeOffset)
        return keycodes::fromEvdev(event.nativeScanCode() - keycodes::xKeycodeOffset);
    return codeForQtKey(event.key());
}

bool HoldShortcutRow::eventFilter(QObject* watched, QEvent* event)
{
    if (!recording_)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so no shortcut fires; the key press that follows is
        // swallowed below.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // Each key event reaches the filter once per object it is sent
        // to; only the first delivery counts.
        auto* key = static_cast<QKeyEvent*>(event);
        if (!watched->isWidgetType() && !watched->isWindowType())
            return true;
        if (key->isAutoRepeat())
            return true;
        std::optional<std::uint16_t> code = keyCode(*key);
        if (!code)
            return true;
        bool press = event->type() == QEvent::KeyPress;
        if (isModifierCode(*code))
            modifierChanged(*code, press);
        else if (press)
            keyDown(*code, HoldShortcut::modifierMask(static_cast<int>(key->modifiers())));
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void HoldShortcutRow::hideEvent(QHideEvent* event)
{
    if (recording_)
        cancelRecording();
    QWidget::hideEvent(event);
}

}  // namespace parlaro::settings
