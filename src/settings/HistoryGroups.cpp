#include "settings/HistoryGroups.h"

#include "model/SettingsWriter.h"
#include "runtime/Clock.h"
#include "runtime/Error.h"
#include "runtime/Task.h"
#include "settings/ExportPanel.h"
#include "settings/Prompter.h"
#include "settings/SheetParts.h"
#include "settings/TranscriptView.h"
#include "speech/Localization.h"
#include "ui/GroupNotice.h"
#include "ui/Look.h"
#include "ui/ModuleStatusGroup.h"
#include "ui/Palette.h"
#include "ui/PersistentSwitch.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"
#include "ui/WrappingRow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace parlaro::settings {

using namespace ui;

struct HistoryGroups::RowModel {
    rt::Uuid id;
    std::string label;
    std::string detail;
    bool open = false;
    bool read = false;
    // The button texts, so a language change rebuilds the rows.
    std::string buttons;
    bool operator==(const RowModel&) const = default;
};

namespace {

constexpr std::int64_t minDays = 1;
constexpr std::int64_t maxDays = 3650;
constexpr std::int64_t defaultDays = 30;
constexpr double secondsPerDay = 86400;

// A white rounded box with a hairline: the look of the page's text fields.
class InputBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Palette::hairline(), 1));
        painter.setBrush(Palette::white());
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
    }
};

QLineEdit* plainField(QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setFrame(false);
    field->setFont(Look::font(12));
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    return field;
}

class TranscriptBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Palette::withOpacity(Palette::paleGrey(), 0.6));
    }
};

std::string trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

// A preview or a hit's sentence as long as the history keeps them was most
// likely cut off in mid-word; it says so.
std::string rowLabel(const std::string& text)
{
    // A character takes at least one byte.
    if (text.size() < ConversationSummary::previewLength)
        return text;
    const QString label = QString::fromStdString(text);
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, label);
    std::size_t count = 0;
    while (characters.toNextBoundary() >= 0)
        ++count;
    if (count < ConversationSummary::previewLength)
        return text;
    QString cut = label;
    while (!cut.isEmpty() && cut.back().isSpace())
        cut.chop(1);
    return cut.toStdString() + "…";
}

}  // namespace

HistoryGroups::HistoryGroups(std::shared_ptr<ConversationHistory> history, SettingsWriter& settings,
                             LocaleContext dates, QWidget* parent)
    : QWidget(parent), history_(std::move(history)), settings_(settings), dates_(std::move(dates))
{
    setObjectName(QStringLiteral("history"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(18);

    saveGroup_ = new SidebarGroup({}, this);
    saveGroup_->setObjectName(QStringLiteral("history.saveGroup"));
    auto* saveRow = new SidebarRow({}, QString(), saveGroup_->panel());
    saveRow->setObjectName(QStringLiteral("history.saveRow"));
    saveSwitch_ = new PersistentSwitch(saveRow);
    saveSwitch_->setObjectName(QStringLiteral("history.save"));
    saveRow->addTrailing(saveSwitch_);
    saveGroup_->contentLayout()->addWidget(saveRow);
    connect(saveSwitch_, &QAbstractButton::toggled, this, [this](bool on) {
        if (history_->isEnabled() != on)
            settings_.write([&](SettingsStore&) { history_->setEnabled(on); });
        // A refused switch leaves saving as it was, and the switch with it.
        updates::setChecked(saveSwitch_, history_->isEnabled());
    });
    page->addWidget(saveGroup_);

    state_ = sheetText(this, QStringLiteral("history.state"), 12, Look::secondaryText());
    page->addWidget(state_);

    listArea_ = new QWidget(this);
    listArea_->setObjectName(QStringLiteral("history.list"));
    auto* area = new QVBoxLayout(listArea_);
    area->setContentsMargins(0, 0, 0, 0);
    area->setSpacing(18);
    page->addWidget(listArea_);

    auto* box = new InputBox(listArea_);
    auto* searchRow = new QHBoxLayout(box);
    searchRow->setContentsMargins(10, 7, 10, 7);
    searchRow->setSpacing(6);
    searchRow->addWidget(new SymbolView(QStringLiteral("magnifyingglass"), Look::secondaryText(), 12, box));
    searchField_ = plainField(box);
    searchField_->setObjectName(QStringLiteral("history.search"));
    searchRow->addWidget(searchField_, 1);
    clearSearch_ = new QToolButton(box);
    clearSearch_->setObjectName(QStringLiteral("history.search.clear"));
    clearSearch_->setAutoRaise(true);
    clearSearch_->setCursor(Qt::ArrowCursor);
    clearSearch_->setIcon(QIcon(SymbolView(QStringLiteral("xmark.circle.fill"), Look::secondaryText(), 12).pixmap()));
    clearSearch_->setProperty("symbol", QStringLiteral("xmark.circle.fill"));
    clearSearch_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    searchRow->addWidget(clearSearch_);
    area->addWidget(box);
    connect(searchField_, &QLineEdit::textChanged, this, &HistoryGroups::queryChanged);
    connect(clearSearch_, &QToolButton::clicked, this, [this] { searchField_->setText(QString()); });

    auto* results = new QVBoxLayout;
    results->setSpacing(10);
    resultState_ = sheetText(listArea_, QStringLiteral("history.resultState"), 12, Look::secondaryText());
    results->addWidget(resultState_);
    list_ = new SidebarGroup({}, listArea_);
    list_->setObjectName(QStringLiteral("history.sessions"));
    results->addWidget(list_);
    more_ = sheetPill(listArea_, QStringLiteral("history.more"), false, Palette::violet());
    results->addWidget(more_, 0, Qt::AlignLeading);
    connect(more_, &QPushButton::clicked, this, [this] {
        shown_ += pageStep;
        binding_->refreshNow();
    });
    area->addLayout(results);

    cleanup_ = new SidebarGroup({}, listArea_);
    cleanup_->setObjectName(QStringLiteral("history.cleanup"));
    auto* oldRow = new SidebarRow({}, QString(), cleanup_->panel());
    oldRow->setObjectName(QStringLiteral("history.cleanup.old"));
    auto* daysBox = new InputBox(oldRow);
    auto* daysLayout = new QHBoxLayout(daysBox);
    daysLayout->setContentsMargins(10, 7, 10, 7);
    days_ = plainField(daysBox);
    days_->setObjectName(QStringLiteral("history.days"));
    days_->setAlignment(Qt::AlignCenter);
    daysLayout->addWidget(days_);
    daysBox->setFixedWidth(64);
    oldRow->addTrailing(daysBox);
    auto* daysText = new QLabel(oldRow);
    daysText->setFont(Look::font(12));
    cleanupTexts_.push_back(daysText);
    oldRow->addTrailing(daysText);
    deleteOld_ = sheetPill(oldRow, QStringLiteral("history.deleteOld"), false, Palette::alertRed());
    oldRow->addTrailing(deleteOld_);
    auto* allRow = new SidebarRow({}, std::nullopt, cleanup_->panel());
    allRow->setObjectName(QStringLiteral("history.cleanup.all"));
    deleteAll_ = sheetPill(allRow, QStringLiteral("history.deleteAll"), false, Palette::alertRed());
    allRow->addTrailing(deleteAll_);
    cleanup_->contentLayout()->addWidget(oldRow);
    cleanup_->contentLayout()->addWidget(new RowDivider(cleanup_->panel()));
    cleanup_->contentLayout()->addWidget(allRow);
    area->addWidget(cleanup_);
    connect(days_, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        qlonglong typed = days_->text().trimmed().toLongLong(&ok);
        // Focus going to the alert of a refused write ends the editing once
        // more; the unchanged value is not written again.
        if (ok && std::clamp<std::int64_t>(typed, minDays, maxDays) != days())
            setDays(typed);
        days_->setText(QString::number(days()));
    });
    connect(deleteOld_, &QPushButton::clicked, this, &HistoryGroups::confirmDeleteOld);
    connect(deleteAll_, &QPushButton::clicked, this, &HistoryGroups::confirmDeleteAll);
    page->addStretch(1);

    days_->setText(QString::number(days()));
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

HistoryGroups::~HistoryGroups()
{
    binding_.reset();
    // The next page starts with an empty search field.
    history_->searchFor({});
}

std::optional<rt::Uuid> HistoryGroups::openSession() const
{
    return open_;
}

int HistoryGroups::days() const
{
    std::int64_t stored = settings_.store().get<std::int64_t>(daysKey).value_or(defaultDays);
    return static_cast<int>(std::clamp(stored, minDays, maxDays));
}

void HistoryGroups::setDays(std::int64_t days)
{
    settings_.set(daysKey, std::clamp(days, minDays, maxDays));
    binding_->refreshNow();
}

rt::Date HistoryGroups::cutoff() const
{
    return rt::clock().date() + (-static_cast<double>(days()) * secondsPerDay);
}

void HistoryGroups::showEvent(QShowEvent* event)
{
    history_->load();
    QWidget::showEvent(event);
}

std::string HistoryGroups::detail(const ConversationSummary& summary) const
{
    const LocaleContext dates = DateFormats::forInterfaceLanguage(dates_);
    std::vector<std::string> parts{
        localized("%@ 句", summary.count),
        DateFormats::styled(summary.started, DateFormats::Style::mediumStyle, DateFormats::Style::shortStyle, dates)
            + " – "
            + DateFormats::styled(summary.updated, DateFormats::Style::none, DateFormats::Style::shortStyle, dates),
        summary.languagePairText(),
    };
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        if (!text.empty())
            text += " · ";
        text += part;
    }
    return text;
}

void HistoryGroups::refresh()
{
    const std::vector<ConversationSummary>& summaries = history_->summaries.get();
    bool loaded = history_->isLoaded.get();

    saveGroup_->setTitle(q(localized("保存")));
    if (auto* row = saveGroup_->findChild<SidebarRow*>(QStringLiteral("history.saveRow"))) {
        row->setLabel(q(localized("保存聊天记录")));
        row->setDetail(q(localized("每段对话自动保存，只保存在这台 Mac 上，不会上传")));
    }
    updates::setAccessibleName(saveSwitch_, q(localized("保存聊天记录")));
    updates::setChecked(saveSwitch_, history_->isEnabled());

    bool hasList = loaded && !summaries.empty();
    updates::setVisible(state_, !hasList);
    updates::setText(state_, q(localized(loaded ? "还没有保存的聊天记录。" : "正在读取…")));
    updates::setVisible(listArea_, hasList);

    searchField_->setPlaceholderText(q(localized("搜索聊天记录")));
    // The placeholder goes as soon as one types; the name stays.
    updates::setAccessibleName(searchField_, searchField_->placeholderText());
    updates::setAccessibleName(clearSearch_, q(localized("清除搜索")));
    updates::setVisible(clearSearch_, !searchField_->text().isEmpty());

    std::string query = trimmed(query_);
    const std::optional<std::vector<ConversationHistory::SearchHit>>& hits = history_->searchHits.get();
    std::vector<RowModel> rows;
    std::size_t total = 0;
    auto row = [&](const ConversationSummary& summary, const std::string& label) {
        bool open = open_ == summary.id;
        rows.push_back({summary.id, rowLabel(label), detail(summary), open, open && openEntries_,
                        localized(open ? "收起" : "查看") + localized("导出") + localized("删除")});
    };
    if (!hits && query.empty()) {
        total = summaries.size();
        for (std::size_t i = 0; i < std::min<std::size_t>(total, static_cast<std::size_t>(shown_)); ++i)
            row(summaries[i], summaries[i].preview);
        list_->setTitle(q(localized("已保存（%@）", static_cast<std::int64_t>(total))));
        updates::setVisible(resultState_, false);
        updates::setVisible(list_, true);
    } else if (!hits) {
        updates::setText(resultState_, q(localized("正在搜索…")));
        updates::setVisible(resultState_, true);
        updates::setVisible(list_, false);
    } else if (hits->empty()) {
        updates::setText(resultState_, q(localized("没有找到包含「%@」的记录。", query)));
        updates::setVisible(resultState_, true);
        updates::setVisible(list_, false);
    } else {
        total = hits->size();
        for (std::size_t i = 0; i < std::min<std::size_t>(total, static_cast<std::size_t>(shown_)); ++i)
            row((*hits)[i].summary, (*hits)[i].sentence);
        list_->setTitle(q(localized("找到 %@ 段", static_cast<std::int64_t>(total))));
        updates::setVisible(resultState_, false);
        updates::setVisible(list_, true);
    }
    updates::setText(more_, q(localized("显示更早的记录")));
    updates::setVisible(more_, list_->isVisibleTo(listArea_) && static_cast<std::size_t>(shown_) < total);
    refreshRows(rows);

    cleanup_->setTitle(q(localized("清理")));
    if (auto* old = cleanup_->findChild<SidebarRow*>(QStringLiteral("history.cleanup.old"))) {
        old->setLabel(q(localized("删除旧记录")));
        old->setDetail(q(localized("删除最后一句早于这个天数的对话")));
        // The field holds that number of days.
        updates::setAccessibleName(days_, q(localized("删除最后一句早于这个天数的对话")));
    }
    if (auto* all = cleanup_->findChild<SidebarRow*>(QStringLiteral("history.cleanup.all")))
        all->setLabel(q(localized("删除全部记录")));
    updates::setText(cleanupTexts_.front(), q(localized("天以前")));
    updates::setText(deleteOld_, q(localized("删除…")));
    updates::setEnabled(deleteOld_, history_->sessions(cutoff()) > 0);
    updates::setText(deleteAll_, q(localized("全部删除…")));
    if (!days_->hasFocus() && days_->text() != QString::number(days()))
        days_->setText(QString::number(days()));
}

void HistoryGroups::refreshRows(const std::vector<RowModel>& rows)
{
    // Rows are rebuilt only when what they show changes.
    if (rows == builtRows_)
        return;
    builtRows_ = rows;
    // A keyboard user who pressed a row's button stays on that button of
    // the row as rebuilt, not wherever hiding the old one sent the focus.
    QString focusedSession;
    QString focusedControl;
    for (QWidget* at = QApplication::focusWidget(); at && at != this; at = at->parentWidget()) {
        if (at->objectName() == QLatin1String("history.row")) {
            focusedSession = at->property("sessionId").toString();
            focusedControl = QApplication::focusWidget()->objectName();
            break;
        }
    }
    // Old rows may be running the click that got us here: let them go later.
    while (QLayoutItem* item = list_->contentLayout()->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    std::vector<QWidget*> chain{searchField_, clearSearch_};
    bool first = true;
    for (const RowModel& model : rows) {
        auto* holder = new QWidget(list_->panel());
        holder->setObjectName(QStringLiteral("history.row"));
        holder->setProperty("sessionId", QString::fromStdString(model.id.toString()));
        auto* layout = new QVBoxLayout(holder);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        if (!first)
            layout->addWidget(new RowDivider(holder));
        first = false;
        // The buttons beside the title where the row holds both, else under
        // it, so a long title keeps the row's width rather than a narrow
        // column that pushes the page sideways.
        auto* line = new WrappingRow(holder);
        line->setSpacing(0);
        auto* row = new SidebarRow(q(model.label), q(model.detail), line);
        auto* buttons = new QWidget(line);
        auto* buttonRow = new QHBoxLayout(buttons);
        buttonRow->setContentsMargins(12, 0, 12, 0);
        buttonRow->setSpacing(6);
        PillButton* view = sheetPill(buttons, QStringLiteral("history.row.view"), false, Palette::violet());
        view->setText(q(localized(model.open ? "收起" : "查看")));
        PillButton* exporting = sheetPill(buttons, QStringLiteral("history.row.export"), false, Palette::violet());
        exporting->setText(q(localized("导出")));
        PillButton* remove = sheetPill(buttons, QStringLiteral("history.row.delete"), false, Palette::alertRed());
        remove->setText(q(localized("删除")));
        // Every row has the same three buttons: each says whose it is.
        for (PillButton* pill : {view, exporting, remove}) {
            pill->setAccessibleDescription(q(model.label));
            buttonRow->addWidget(pill, 0, Qt::AlignVCenter);
        }
        line->addWidget(row, {}, true);
        line->addWidget(buttons, Qt::AlignLeading);
        layout->addWidget(line);
        rt::Uuid id = model.id;
        connect(view, &QPushButton::clicked, this, [this, id] { toggle(id); });
        connect(exporting, &QPushButton::clicked, this, [this, id] { exportSession(id); });
        connect(remove, &QPushButton::clicked, this, [this, id] { deleteOne(id); });
        if (model.open) {
            QWidget* box = transcript();
            // Named by the conversation it reads out.
            if (auto* list = box->findChild<QWidget*>(QStringLiteral("history.transcript.list")))
                list->setAccessibleName(q(model.label));
            layout->addWidget(box);
        }
        list_->contentLayout()->addWidget(holder);
        if (!focusedSession.isEmpty() && holder->property("sessionId").toString() == focusedSession)
            if (auto* control = holder->findChild<QWidget*>(focusedControl))
                control->setFocus(Qt::OtherFocusReason);
        // Tab goes through each row's buttons, then its open transcript.
        for (QWidget* control :
             {static_cast<QWidget*>(view), static_cast<QWidget*>(exporting), static_cast<QWidget*>(remove)})
            chain.push_back(control);
        if (auto* list = holder->findChild<QWidget*>(QStringLiteral("history.transcript.list")))
            chain.push_back(list);
    }
    // Rows are made after the controls below them: without this, Tab would
    // reach them last, after "全部删除…".
    for (QWidget* control : {static_cast<QWidget*>(more_), static_cast<QWidget*>(days_),
                             static_cast<QWidget*>(deleteOld_), static_cast<QWidget*>(deleteAll_)})
        chain.push_back(control);
    for (std::size_t i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

QWidget* HistoryGroups::transcript()
{
    auto* box = new TranscriptBox;
    box->setObjectName(QStringLiteral("history.transcript"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(12, 10, 12, 10);
    if (!openEntries_) {
        box->setProperty("complete", false);
        QLabel* reading = sheetText(box, QStringLiteral("history.transcript.reading"), 12, Look::secondaryText());
        reading->setText(q(localized("正在读取…")));
        layout->addWidget(reading);
        return box;
    }
    auto* list = new TranscriptView(openEntries_, dates_, box);
    box->setProperty("complete", list->isComplete());
    connect(list, &TranscriptView::completed, box, [box] { box->setProperty("complete", true); });
    layout->addWidget(list);
    return box;
}

void HistoryGroups::queryChanged(const QString& text)
{
    query_ = text.toStdString();
    shown_ = pageStep;
    history_->searchFor(trimmed(query_));
    binding_->refreshNow();
}

void HistoryGroups::toggle(const rt::Uuid& id)
{
    const bool wasOpen = open_ == id;
    closeTranscript();
    if (!wasOpen) {
        open_ = id;
        read(id);
    }
    binding_->refreshNow();
}

void HistoryGroups::closeTranscript()
{
    open_.reset();
    openEntries_.reset();
}

void HistoryGroups::read(const rt::Uuid& id)
{
    const std::uint64_t generation = ++reads_;
    rt::spawn([self = QPointer<HistoryGroups>(this), history = history_, id, generation]() -> rt::Async<void> {
        std::variant<ConversationSession, std::string> read = std::string();
        try {
            read = co_await history->readSession(id);
        } catch (const std::exception& failure) {
            read = std::string(failure.what());
        }
        if (!self || self->reads_ != generation || self->open_ != id)
            co_return;
        // A session that cannot be read folds up again, as it always did.
        if (auto* session = std::get_if<ConversationSession>(&read))
            self->openEntries_ = std::make_shared<const std::vector<ConversationEntry>>(std::move(session->entries));
        else
            self->open_.reset();
        self->binding_->refreshNow();
    });
}

void HistoryGroups::exportSession(const rt::Uuid& id)
{
    // A long conversation takes seconds to read: never on the main actor.
    rt::spawn([self = QPointer<HistoryGroups>(this), history = history_, id]() -> rt::Async<void> {
        std::variant<ConversationSession, std::string> read = std::string();
        try {
            read = co_await history->readSession(id);
        } catch (const std::exception& failure) {
            read = std::string(failure.what());
        }
        if (!self)
            co_return;
        if (auto* failure = std::get_if<std::string>(&read)) {
            Prompter::shared().alert(self->window(), localized("导出失败：%@", *failure));
            co_return;
        }
        ExportPanel::exportSession(std::move(std::get<ConversationSession>(read).entries), self->window());
    });
}

void HistoryGroups::deleteOne(const rt::Uuid& id)
{
    const auto failure = history_->deleteSession(id);
    if (open_ == id && !failure)
        closeTranscript();
    binding_->refreshNow();
    tellDeleteFailure(failure);
}

void HistoryGroups::tellDeleteFailure(const std::optional<std::string>& failure)
{
    // What stayed on disk stays listed; the user hears why.
    if (failure)
        Prompter::shared().alert(window(),
                                 localized("有的聊天记录无法从 %@ 删除（%@），仍保留在列表中。",
                                           pathText(history_->directory().string()), *failure));
}

void HistoryGroups::confirmDeleteOld()
{
    QPointer<HistoryGroups> self(this);
    std::int64_t count = history_->sessions(cutoff());
    Prompter::shared().confirm(window(), localized("删除 %@ 天以前的 %@ 段聊天记录？", days(), count),
                               localized("删除后无法恢复。"), localized("删除"), [self] {
                                   if (!self)
                                       return;
                                   const auto failure = self->history_->deleteSessions(self->cutoff());
                                   const auto& summaries = self->history_->summaries.get();
                                   if (self->open_
                                       && std::none_of(summaries.begin(), summaries.end(),
                                                       [&](const auto& s) { return s.id == *self->open_; }))
                                       self->closeTranscript();
                                   self->binding_->refreshNow();
                                   self->tellDeleteFailure(failure);
                               });
}

void HistoryGroups::confirmDeleteAll()
{
    QPointer<HistoryGroups> self(this);
    Prompter::shared().confirm(
        window(), localized("删除全部聊天记录？"), localized("删除后无法恢复。"), localized("全部删除"), [self] {
            if (!self)
                return;
            const auto failure = self->history_->deleteAll();
            const auto& summaries = self->history_->summaries.get();
            if (self->open_ && std::none_of(summaries.begin(), summaries.end(), [&](const auto& s) {
                    return s.id == *self->open_;
                }))
                self->closeTranscript();
            self->binding_->refreshNow();
            self->tellDeleteFailure(failure);
        });
}

}  // namespace parlaro::settings
