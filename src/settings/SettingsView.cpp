#include "settings/SettingsView.h"

#include "settings/Shown.h"

#include "model/AppModel.h"
#include "settings/DeviceGroups.h"
#include "settings/GeneralGroups.h"
#include "settings/HistoryGroups.h"
#include "settings/SpeakingGroups.h"
#include "settings/StatusGroups.h"
#include "settings/UpdateModel.h"
#include "settings/UpdatesGroups.h"
#include "settings/VoiceGroups.h"
#include "ui/Accessibility.h"
#include "ui/Glow.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/StatusDot.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <variant>

namespace parlaro::settings {

using namespace ui;

namespace {

bool failedRow(const ModuleReport& report)
{
    return std::holds_alternative<ModuleState::Failed>(report.state.value);
}

}  // namespace

const char* SettingsView::titleKey(SettingsPage page)
{
    switch (page) {
    case SettingsPage::general:
        return "通用";
    case SettingsPage::speaking:
        return "说话与麦克风";
    case SettingsPage::voice:
        return "播放与音色";
    case SettingsPage::virtualMic:
        return "wenmora 音频设备";
    case SettingsPage::history:
        return "历史记录";
    case SettingsPage::updates:
        return "软件更新";
    case SettingsPage::status:
        return "运行状态";
    }
    return "通用";
}

const char* SettingsView::symbolName(SettingsPage page)
{
    switch (page) {
    case SettingsPage::general:
        return "gearshape";
    case SettingsPage::speaking:
        return "mic";
    case SettingsPage::voice:
        return "speaker.wave.2";
    case SettingsPage::virtualMic:
        return "dot.radiowaves.left.and.right";
    case SettingsPage::history:
        return "clock.arrow.circlepath";
    case SettingsPage::updates:
        return "arrow.triangle.2.circlepath";
    case SettingsPage::status:
        return "checklist";
    }
    return "gearshape";
}

bool SettingsView::needsAttention(SettingsPage page, const AppModel& model, const UpdateModel& updates)
{
    switch (page) {
    case SettingsPage::speaking:
        return !model.micAuthorized() || !model.micConfirmed();
    case SettingsPage::voice:
        return model.targetVoices().empty();
    case SettingsPage::virtualMic:
        return !model.virtualMicStatus() || model.virtualMicNeedsUpdate();
    case SettingsPage::updates:
        return updates.phase().kind == UpdateModel::Phase::Kind::available;
    case SettingsPage::status: {
        if (model.listeningFailed() || model.audioCaptureMissing())
            return true;
        const auto rows = model.diagnosticRows();
        return std::any_of(rows.begin(), rows.end(), failedRow);
    }
    case SettingsPage::general:
    case SettingsPage::history:
        return false;
    }
    return false;
}

SettingsView::SettingsView(std::shared_ptr<AppModel> model, std::shared_ptr<UpdateModel> updates,
                           ui::HoldShortcutCenter* shortcuts, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), updates_(std::move(updates)), shortcuts_(shortcuts)
{
    setObjectName(QStringLiteral("settings"));
    // A click on the page's background still lets Esc reach the view; Tab
    // goes from control to control.
    setFocusPolicy(Qt::ClickFocus);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* sidebar = new QWidget(this);
    sidebar_ = sidebar;
    sidebar->setObjectName(QStringLiteral("settings.sidebar"));
    sidebar->setFixedWidth(sidebarWidth);
    sidebar->setAutoFillBackground(true);
    QPalette sidebarPalette = sidebar->palette();
    sidebarPalette.setColor(QPalette::Window, Palette::paleGrey());
    sidebar->setPalette(sidebarPalette);
    Accessibility::setRole(sidebar, QAccessible::PageTabList);
    auto* side = new QVBoxLayout(sidebar);
    side->setContentsMargins(12, 14, 12, 16);
    side->setSpacing(2);

    back_ = new PillButton({}, sidebar);
    back_->setObjectName(QStringLiteral("settings.back"));
    back_->setTint(Palette::violet());
    connect(back_, &QAbstractButton::clicked, this, [this] { model_->closeSettings(); });
    side->addWidget(back_, 0, Qt::AlignLeft);
    // The pill keeps room for its glow below its capsule.
    side->addSpacing(std::max(0, 18 - glowMargin(PillButton::glowRadius)));

    heading_ = new QLabel(sidebar);
    heading_->setObjectName(QStringLiteral("settings.heading"));
    heading_->setFont(Look::font(13, QFont::DemiBold));
    heading_->setContentsMargins(10, 0, 0, 0);
    updates::setTextColor(heading_, Look::secondaryText());
    side->addWidget(heading_);
    side->addSpacing(6);

    for (std::size_t index = 0; index < pages.size(); ++index) {
        const SettingsPage page = pages[index];
        auto* row = new QPushButton(sidebar);
        row->setObjectName(QStringLiteral("settings.row.%1").arg(index));
        row->setCheckable(true);
        // Its title is a label inside it: the row itself has no text.
        Accessibility::setRole(row, QAccessible::PageTab);
        row->setAutoExclusive(false);
        row->setFlat(true);
        row->setCursor(Qt::PointingHandCursor);
        row->setFixedHeight(32);
        QColor shown = Palette::violet();
        shown.setAlphaF(0.12);
        row->setStyleSheet(QStringLiteral("QPushButton { border: none; border-radius: 7px; background: transparent; }"
                                          "QPushButton:checked { background: %1; }")
                               .arg(shown.name(QColor::HexArgb)));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(10, 4, 10, 4);
        rowLayout->setSpacing(10);
        // The title is the row's first label child, the symbol its second.
        auto* label = new QLabel(row);
        label->setFont(Look::font(13));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* symbol = new SymbolView(q(symbolName(page)), Look::secondaryText(), 13, row);
        symbol->setObjectName(QStringLiteral("settings.symbol.%1").arg(index));
        symbol->setFixedWidth(18);
        symbol->setAlignment(Qt::AlignCenter);
        symbol->setAttribute(Qt::WA_TransparentForMouseEvents);
        rowLayout->addWidget(symbol);
        rowLayout->addWidget(label, 1);
        rowLayout->addSpacing(4);
        auto* dot = new StatusDot(Palette::alertRed(), row);
        dot->setObjectName(QStringLiteral("settings.dot.%1").arg(index));
        dot->setAttribute(Qt::WA_TransparentForMouseEvents);
        Accessibility::setRole(dot, QAccessible::StaticText);
        // Its room is kept while it is hidden, so a dot that comes never
        // takes it from the label.
        QSizePolicy kept = dot->sizePolicy();
        kept.setRetainSizeWhenHidden(true);
        dot->setSizePolicy(kept);
        dot->hide();
        rowLayout->addWidget(dot);
        connect(row, &QAbstractButton::clicked, this, [this, page, row] {
            // The check state follows the model, not the click; the page
            // shown stays quiet.
            row->setChecked(this->page() == page);
            if (this->page() != page)
                model_->openSettings(page);
        });
        side->addWidget(row);
        rows_[index] = row;
        rowLabels_[index] = label;
        symbols_[index] = symbol;
        dots_[index] = dot;
    }
    side->addStretch(1);
    version_ = new QLabel(sidebar);
    version_->setObjectName(QStringLiteral("settings.version"));
    version_->setFont(Look::font(11));
    version_->setTextFormat(Qt::PlainText);
    version_->setContentsMargins(10, 0, 0, 0);
    updates::setTextColor(version_, Look::secondaryText());
    side->addWidget(version_);
    outer->addWidget(sidebar);

    auto* hairline = new QFrame(this);
    hairline->setObjectName(QStringLiteral("settings.hairline"));
    hairline->setFixedWidth(1);
    hairline->setAutoFillBackground(true);
    QPalette linePalette = hairline->palette();
    linePalette.setColor(QPalette::Window, Palette::hairline());
    hairline->setPalette(linePalette);
    outer->addWidget(hairline);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("settings.scroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    // Tab scrolls each control it reaches into view; the area is no stop.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setWidgetResizable(true);
    // The page keeps to the left of a wide window, on white to its edge.
    auto* area = new QWidget(scroll_);
    area->setObjectName(QStringLiteral("settings.area"));
    area->setAutoFillBackground(true);
    QPalette areaPalette = area->palette();
    areaPalette.setColor(QPalette::Window, Palette::white());
    area->setPalette(areaPalette);
    auto* across = new QHBoxLayout(area);
    across->setContentsMargins(0, 0, 0, 0);
    auto* content = new QWidget(area);
    content->setObjectName(QStringLiteral("settings.page"));
    content->setMaximumWidth(pageMaxWidth + 2 * 36);
    across->addWidget(content, 1);
    across->addStretch(0);
    pageLayout_ = new QVBoxLayout(content);
    pageLayout_->setContentsMargins(36, 48, 36, 36);
    pageLayout_->setSpacing(18);
    pageTitle_ = new QLabel(content);
    pageTitle_->setObjectName(QStringLiteral("settings.title"));
    pageTitle_->setFont(Look::font(22, QFont::DemiBold));
    pageTitle_->setContentsMargins(0, 0, 0, 4);
    pageLayout_->addWidget(pageTitle_);
    pageLayout_->addStretch(1);
    scroll_->setWidget(area);
    outer->addWidget(scroll_, 1);

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

SettingsView::~SettingsView() = default;

SettingsPage SettingsView::page() const
{
    return model_->settingsPage().value_or(SettingsPage::general);
}

void SettingsView::refresh()
{
    updates::setText(back_, q(localized("返回通话")));
    updates::setText(heading_, q(localized("设置")));
    updates::setAccessibleName(this, heading_->text());
    const std::string version = updates_->currentAppVersion();
    updates::setText(version_, q(localized("wenmora 版本 %@", version)));
    const SettingsPage current = page();
    for (std::size_t index = 0; index < pages.size(); ++index) {
        updates::setText(rowLabels_[index], q(localized(titleKey(pages[index]))));
        updates::setAccessibleName(rows_[index], rowLabels_[index]->text());
        const bool shown = pages[index] == current;
        updates::setChecked(static_cast<QAbstractButton*>(rows_[index]), shown);
        symbols_[index]->setColor(shown ? Palette::violet() : Look::secondaryText());
        if (rowLabels_[index]->font().weight() != (shown ? QFont::DemiBold : QFont::Normal))
            rowLabels_[index]->setFont(Look::font(13, shown ? QFont::DemiBold : QFont::Normal));
        const bool attention = needsAttention(pages[index], *model_, *updates_);
        setShown(dots_[index], attention);
        // The dot says it in red; the tab the focus reaches says it in words.
        updates::setAccessibleName(dots_[index], q(localized("需要注意")));
        updates::setAccessibleDescription(rows_[index], attention ? q(localized("需要注意")) : QString());
    }
    updates::setText(pageTitle_, q(localized(titleKey(current))));
    fitSidebar();
    showPage(current);
}

void SettingsView::fitSidebar()
{
    // Every label as the shown page draws it (semibold), beside its symbol
    // and the dot's room, and the other parts of the sidebar whole.
    const QFontMetrics bold(Look::font(13, QFont::DemiBold));
    int needed = 0;
    for (std::size_t index = 0; index < pages.size(); ++index) {
        const QMargins margins = rows_[index]->layout()->contentsMargins();
        // Measured as the label measures itself.
        const int text = bold.boundingRect(QRect(0, 0, 100000, 100000), 0, rowLabels_[index]->text()).width();
        int row = text + margins.left() + margins.right();
        // The symbol, the dot and the room between the parts.
        for (QWidget* part : {static_cast<QWidget*>(symbols_[index]), dots_[index]})
            row += part->sizeHint().width();
        row += 2 * rows_[index]->layout()->spacing() + 4 + 1;
        needed = std::max(needed, row);
    }
    for (QWidget* part :
         {static_cast<QWidget*>(back_), static_cast<QWidget*>(heading_), static_cast<QWidget*>(version_)})
        needed = std::max(needed, part->sizeHint().width());
    const QMargins margins = sidebar_->layout()->contentsMargins();
    const int width = std::clamp(needed + margins.left() + margins.right(), sidebarWidth, sidebarMaxWidth);
    if (sidebar_->minimumWidth() != width || sidebar_->maximumWidth() != width)
        sidebar_->setFixedWidth(width);
}

void SettingsView::showPage(SettingsPage page)
{
    // The history page needs the store; until it opens only the title shows.
    const bool hasBody = page != SettingsPage::history || model_->history() != nullptr;
    const auto wanted = hasBody ? std::optional(page) : std::nullopt;
    if (built_ == wanted)
        return;
    if (pageBody_) {
        pageBody_->hide();
        pageBody_->deleteLater();
        pageBody_ = nullptr;
    }
    built_ = wanted;
    if (!hasBody)
        return;
    QWidget* content = pageTitle_->parentWidget();
    switch (page) {
    case SettingsPage::general:
        pageBody_ = new GeneralGroups(model_, shortcuts_, content);
        break;
    case SettingsPage::history:
        pageBody_ = new HistoryGroups(model_->history(), model_->settingsWriter(), {}, content);
        break;
    case SettingsPage::virtualMic:
        pageBody_ = new DeviceGroups(model_, content);
        break;
    case SettingsPage::updates:
        pageBody_ = new UpdatesGroups(updates_, content);
        break;
    case SettingsPage::status:
        pageBody_ = new StatusGroups(model_, content);
        break;
    case SettingsPage::speaking:
        pageBody_ = new SpeakingGroups(model_, content);
        break;
    case SettingsPage::voice:
        pageBody_ = new VoiceGroups(model_, content);
        break;
    }
    pageLayout_->insertWidget(1, pageBody_);
}

void SettingsView::focusInEvent(QFocusEvent* event)
{
    // Handed the focus as the call screen gave way, the view passes it to
    // the shown page's entry, where a keyboard user can go on from.
    if (event->reason() != Qt::MouseFocusReason) {
        const auto at = std::find(pages.begin(), pages.end(), page());
        if (at != pages.end()) {
            rows_[static_cast<std::size_t>(at - pages.begin())]->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    QWidget::focusInEvent(event);
}

void SettingsView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        model_->closeSettings();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace parlaro::settings
