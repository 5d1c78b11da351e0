#include "app/ConversationView.h"

#include "app/GlowingSymbol.h"
#include "app/PartialCard.h"
#include "app/TranscriptCard.h"
#include "history/DateFormats.h"
#include "model/AppModel.h"
#include "ui/Glow.h"
#include "ui/Look.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <set>

namespace parlaro::app {

using namespace ui;

namespace {

// A card's tag: whose sentence it is and in what language it was spoken.
QString sideTag(bool them, const CallLanguage& language)
{
    // Each key a literal, so every table is checked for it.
    return q(them ? localized("对方 %@", language.tag) : localized("我 %@", language.tag));
}

// The hint's room above its symbol; the symbol keeps room for its glow,
// taken from it.
int hintTop()
{
    return std::max(0, 120 - glowMargin(14));
}

}  // namespace

ConversationView::ConversationView(std::shared_ptr<AppModel> model, QWidget* parent)
    : QScrollArea(parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("conversation"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A Tab stop once it holds captions, so a keyboard can scroll back
    // through them; empty, it would only be an empty stop.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    content_ = new QWidget();
    content_->setObjectName(QStringLiteral("conversation.content"));
    content_->setAutoFillBackground(false);
    column_ = new QVBoxLayout(content_);
    // The cards keep room for their glow inside themselves, so the room
    // between two cards is already wider than the gap asked for.
    int inset = std::max(0, 18 - cardMargin());
    column_->setContentsMargins(inset, inset, inset, inset);
    column_->setSpacing(std::max(0, 12 - cardMargin()));

    hint_ = new QWidget(content_);
    hint_->setObjectName(QStringLiteral("conversation.hint"));
    auto* hintColumn = new QVBoxLayout(hint_);
    hintColumn_ = hintColumn;
    hintColumn->setContentsMargins(0, hintTop(), 0, 0);
    hintColumn->setSpacing(10);
    auto* symbol = new GlowingSymbol(QStringLiteral("captions.bubble"), Palette::violet(), 0.6, 34, 0.4, 14, hint_);
    symbol->setObjectName(QStringLiteral("conversation.hint.symbol"));
    hintSymbol_ = symbol;
    hintColumn->addWidget(symbol, 0, Qt::AlignHCenter);
    hintTitle_ = new QLabel(hint_);
    hintTitle_->setObjectName(QStringLiteral("conversation.hint.title"));
    hintTitle_->setFont(Look::font(15));
    hintDetail_ = new QLabel(hint_);
    hintDetail_->setObjectName(QStringLiteral("conversation.hint.detail"));
    hintDetail_->setFont(Look::font(12));
    updates::setTextColor(hintDetail_, Look::secondaryText());
    for (QLabel* line : {hintTitle_, hintDetail_}) {
        line->setAlignment(Qt::AlignHCenter);
        line->setWordWrap(true);
        hintColumn->addWidget(line);
    }
    column_->addWidget(hint_);

    themPartial_ = new PartialCard(Palette::coral(), content_);
    themPartial_->setObjectName(QStringLiteral("conversation.themPartial"));
    mePartial_ = new PartialCard(Palette::violetAlt(), content_);
    mePartial_->setObjectName(QStringLiteral("conversation.mePartial"));
    column_->addWidget(themPartial_);
    column_->addWidget(mePartial_);
    themPartial_->hide();
    mePartial_->hide();
    column_->addStretch(1);
    setWidget(content_);
    // Once asked to follow the end, the view stays there while the content
    // grows, until the user scrolls away.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (followEnd_ && !(scrollAnimation_ && scrollAnimation_->state() == QAbstractAnimation::Running))
            verticalScrollBar()->setValue(maximum);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        bool animating = scrollAnimation_ && scrollAnimation_->state() == QAbstractAnimation::Running;
        if (!animating && value != verticalScrollBar()->maximum())
            followEnd_ = false;
    });

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

ConversationView::~ConversationView() = default;

void ConversationView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    fitHint();
}

void ConversationView::fitHint()
{
    if (hint_->isHidden())
        return;
    const QMargins outer = column_->contentsMargins();
    const int width = viewport()->width() - outer.left() - outer.right();
    const int spacing = hintColumn_->spacing();
    int room = viewport()->height() - outer.top() - outer.bottom() - hintTitle_->heightForWidth(width) - spacing
        - hintDetail_->heightForWidth(width);
    // Under cards that leave it little room the message shortens to its
    // heading, rather than hide its body below a fold few would scroll to;
    // the body stays with the heading as its tooltip and description.
    const bool withDetail = room >= 0;
    if (!withDetail)
        room += spacing + hintDetail_->heightForWidth(width);
    updates::setVisible(hintDetail_, withDetail);
    const QString detail = withDetail ? QString() : hintDetail_->text();
    updates::setToolTip(hintTitle_, detail);
    updates::setAccessibleDescription(hintTitle_, detail);
    const int symbol = hintSymbol_->minimumHeight() + spacing;
    const bool withSymbol = room >= symbol;
    if (withSymbol)
        room -= symbol;
    updates::setVisible(hintSymbol_, withSymbol);
    const int top = std::clamp(room, 0, hintTop());
    if (hintColumn_->contentsMargins().top() != top)
        hintColumn_->setContentsMargins(0, top, 0, 0);
}

void ConversationView::setLocaleContext(LocaleContext context)
{
    locale_ = std::move(context);
    binding_->refreshNow();
}

TranscriptCard* ConversationView::cardFor(const rt::Uuid& id) const
{
    auto found = cards_.find(id);
    return found == cards_.end() ? nullptr : found->second;
}

void ConversationView::refresh()
{
    const auto& entries = model_->entries.get();
    // Made once here: every caption refresh shows every card again.
    const QString theirSide = sideTag(true, model_->theirLanguage.get());
    const QString mySide = sideTag(false, model_->myLanguage.get());
    const std::string& them = model_->themPartial.get();
    const std::string& me = model_->mePartial.get();

    // Cards of entries that left the list go; the others are updated in
    // place, so a late translation keeps a selection.
    std::set<rt::Uuid> present;
    for (const auto& entry : entries)
        present.insert(entry.id);
    for (auto it = cards_.begin(); it != cards_.end();) {
        if (present.count(it->first) == 0) {
            delete it->second;
            it = cards_.erase(it);
        } else {
            ++it;
        }
    }
    // Times in the interface language, whatever the process locale says.
    const LocaleContext dates = DateFormats::forInterfaceLanguage(locale_);
    for (const auto& entry : entries) {
        TranscriptCard*& card = cards_[entry.id];
        if (!card)
            card = new TranscriptCard(content_);
        // Each card names the language its sentence was spoken in, so a later
        // swap or change leaves the cards already there as they were.
        const bool them = entry.side == ConversationEntry::Side::them;
        const auto spoken = CallLanguage::find(entry.originalLanguage);
        card->show(entry, spoken ? sideTag(them, *spoken) : them ? theirSide : mySide, dates);
    }
    placeCards();
    setFocusPolicy(entries.empty() ? Qt::NoFocus : Qt::StrongFocus);
    updates::setAccessibleName(this, q(localized("对话")));

    bool empty = entries.empty() && them.empty() && me.empty();
    updates::setVisible(hint_, empty);
    if (empty) {
        const CallLanguage& my = model_->myLanguage.get();
        const CallLanguage& their = model_->theirLanguage.get();
        // Each line promises only what this pair does on this computer.
        const std::string refusal = model_->untranslatablePairLine();
        std::string title;
        if (!refusal.empty())
            title = refusal;
        else if (!model_->theirEngine.get())
            title = localized("本机无法识别%@，对方说话时这里不会出现字幕", their.displayName());
        else
            title = localized("对方说%@时，%@字幕会出现在这里", their.displayName(), my.displayName());
        updates::setText(hintTitle_, q(title));
        std::string detail;
        if (!refusal.empty())
            detail = localized("这里不会出现字幕，你说的话和打的字也不会翻译。请在上面换一对这台电脑能翻译的语言。");
        // A language with no recognizer here can only be typed.
        else if (!model_->myEngine.get())
            // Return sends on its own only when nothing waits for a check.
            detail = model_->confirmBeforeSend.get()
                ? localized("要说话时，在下面的输入框打%@，回车后翻译成%@，核对后点「播放给对方」", my.displayName(),
                            their.displayName())
                : localized("要说话时，在下面的输入框打%@，回车后自动翻译成%@播放给对方", my.displayName(),
                            their.displayName());
        else if (model_->translateWhileHolding.get())
            detail = localized("要说话时，按住下面的按钮说%@，每说完一句自动翻译成%@播放给对方", my.displayName(),
                               their.displayName());
        else
            detail = localized("要说话时，按住下面的按钮说%@，松开后自动翻译成%@播放给对方", my.displayName(),
                               their.displayName());
        updates::setText(hintDetail_, q(detail));
        fitHint();
    }
    updates::setVisible(themPartial_, !them.empty());
    if (!them.empty())
        themPartial_->show(theirSide, q(them));
    updates::setVisible(mePartial_, !me.empty());
    if (!me.empty())
        mePartial_->show(mySide, q(me));

    // Nothing scrolls before the view is first shown; later, a new entry count scrolls with
    // an animation and a changed partial jumps.
    bool first = !shownEntryCount_.has_value() || !isVisible();
    bool countChanged = !first && *shownEntryCount_ != entries.size();
    bool partialChanged = !first && (shownThemPartial_ != them || shownMePartial_ != me);
    shownEntryCount_ = entries.size();
    shownThemPartial_ = them;
    shownMePartial_ = me;
    if (countChanged || partialChanged) {
        // After the layout has taken the new content in.
        QPointer<ConversationView> self(this);
        QTimer::singleShot(0, this, [self, countChanged] {
            if (self)
                self->scrollToBottom(countChanged);
        });
    }
}

void ConversationView::placeCards()
{
    // Entries first in list order, right after the hint; a card moves only
    // when it stands in the wrong place, so a keystroke relays out nothing.
    int index = column_->indexOf(hint_) + 1;
    for (const auto& entry : model_->entries.get()) {
        TranscriptCard* card = cards_.at(entry.id);
        if (column_->indexOf(card) != index) {
            column_->removeWidget(card);
            column_->insertWidget(index, card);
            card->setVisible(true);
        }
        ++index;
    }
}

void ConversationView::scrollToBottom(bool animated)
{
    if (auto* layout = content_->layout())
        layout->activate();
    QScrollBar* bar = verticalScrollBar();
    followEnd_ = true;
    if (scrollAnimation_)
        scrollAnimation_->stop();
    if (!animated || !Motion::enabled()) {
        bar->setValue(bar->maximum());
        return;
    }
    if (!scrollAnimation_) {
        scrollAnimation_ = new QVariantAnimation(this);
        scrollAnimation_->setDuration(250);
        scrollAnimation_->setEasingCurve(QEasingCurve::InOutQuad);
        connect(scrollAnimation_, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { verticalScrollBar()->setValue(value.toInt()); });
        // The content may have grown while the animation ran.
        connect(scrollAnimation_, &QVariantAnimation::finished, this,
                [this] { verticalScrollBar()->setValue(verticalScrollBar()->maximum()); });
    }
    scrollAnimation_->setStartValue(bar->value());
    scrollAnimation_->setEndValue(bar->maximum());
    scrollAnimation_->start();
}

}  // namespace parlaro::app
