#include "app/FooterView.h"

#include "app/CompactMeter.h"
#include "app/ContentView.h"
#include "app/ElidingLabel.h"
#include "app/InputFieldStyle.h"
#include "app/QuickPhrases.h"
#include "app/Spinner.h"
#include "app/SymbolPill.h"
#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "ui/Glow.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/HoldToTalkControl.h"
#include "ui/Icons.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QAction>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace parlaro::app {

using namespace ui;

FooterView::FooterView(std::shared_ptr<AppModel> model, HoldShortcutCenter* shortcuts, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), shortcuts_(shortcuts)
{
    setObjectName(QStringLiteral("footer"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Status row.
    auto* statusRow = new QWidget(this);
    statusRow_ = statusRow;
    statusRow->setFixedHeight(statusRowHeight);
    auto* statusColumn = new QVBoxLayout(statusRow);
    statusColumn->setContentsMargins(20, 0, 20, 0);
    statusColumn->setSpacing(0);
    auto* statusLayout = new QHBoxLayout();
    statusLayout->setSpacing(statusSpacing);
    statusLine_ = statusLayout;
    statusColumn->addLayout(statusLayout, 1);
    // The meters' own line, under the status line, for a line that needs
    // the row's whole width.
    metersUnder_ = new QHBoxLayout();
    metersUnder_->setContentsMargins(0, 0, 0, metersUnderPadding);
    metersUnder_->addStretch(1);
    statusColumn->addLayout(metersUnder_);
    spinner_ = new Spinner(12, statusRow);
    spinner_->setObjectName(QStringLiteral("footer.spinner"));
    // One line, cut at the tail; it starts at the leading edge whatever the
    // direction of its own text (a Latin device name in an Arabic sentence).
    status_ = new ElidingLabel(statusRow);
    status_->setObjectName(QStringLiteral("footer.status"));
    status_->setFont(Look::font(11.5));
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->setTwoLines(true);
    status_->installEventFilter(this);
    updates::setTextColor(status_, Look::secondaryText());
    statusLayout->addWidget(spinner_);
    statusLayout->addWidget(status_, 1);
    meters_ = new QWidget(statusRow);
    meters_->setObjectName(QStringLiteral("footer.meters"));
    auto* meterRow = new QHBoxLayout(meters_);
    meterRow->setContentsMargins(0, 0, 0, 0);
    meterRow->setSpacing(18);
    micMeter_ = new CompactMeter(QStringLiteral("mic.fill"), q(localized("我的麦克风")), model_->levelMeters(),
                                 MeterRow::Source::mic, meters_);
    micMeter_->setObjectName(QStringLiteral("footer.meter.mic"));
    virtualMeter_ = new CompactMeter(QStringLiteral("arrow.up.forward"), q(localized("送给对方")),
                                     model_->levelMeters(), MeterRow::Source::virtualDevice, meters_);
    virtualMeter_->setObjectName(QStringLiteral("footer.meter.virtual"));
    meterRow->addWidget(micMeter_);
    meterRow->addWidget(virtualMeter_);
    statusLayout->addWidget(meters_);
    micLink_ = new QPushButton(statusRow);
    micLink_->setObjectName(QStringLiteral("footer.microphoneLink"));
    micLink_->setFlat(true);
    micLink_->setCursor(Qt::PointingHandCursor);
    micLink_->setFont(Look::font(11));
    micLink_->setIcon(QIcon(Icons::pixmap(QStringLiteral("mic.slash"), Palette::amber(), 12, devicePixelRatioF())));
    Icons::tag(micLink_, QStringLiteral("mic.slash"));
    {
        QPalette palette = micLink_->palette();
        palette.setColor(QPalette::ButtonText, Palette::amber());
        micLink_->setPalette(palette);
    }
    connect(micLink_, &QPushButton::clicked, this, [] { SystemSettings::shared().open(microphonePane); });
    statusLayout->addWidget(micLink_);
    column->addWidget(statusRow);

    auto* hairline = new QFrame(this);
    hairline->setFixedHeight(1);
    hairline->setAutoFillBackground(true);
    {
        QPalette palette = hairline->palette();
        palette.setColor(QPalette::Window, Palette::hairline());
        hairline->setPalette(palette);
    }
    column->addWidget(hairline);

    // Input row. The talk control and the pills keep room for their glows
    // around their capsules, so the row's padding and spacing are what is
    // left of 20 and 14 once that room is counted: the capsules stand 14
    // apart, as far as the talk control's glow allows.
    auto* inputRow = new QWidget(this);
    inputRow->setObjectName(QStringLiteral("footer.inputRow"));
    auto* input = new QHBoxLayout(inputRow);
    const int pillRoom = glowMargin(PillButton::glowRadius);
    input->setContentsMargins(std::max(0, 20 - HoldToTalkControl::glowRoom), 0, std::max(0, 20 - pillRoom), 0);
    input->setSpacing(0);
    talk_ = new HoldToTalkControl(inputRow);
    talk_->setObjectName(QStringLiteral("footer.talk"));
    if (shortcuts_)
        talk_->setOwnShortcutHeld([shortcuts = shortcuts_] { return shortcuts->isHeldNow(); });
    // Its width follows its title up to what the row can spare: see fitTalk().
    // The control cancels its hold when it is destroyed, after this view's
    // own destructor ran, so the callbacks hold the model, not the view.
    std::weak_ptr<AppModel> weak = model_;
    talk_->setCallbacks(
        [weak] {
            if (auto m = weak.lock())
                m->beginHoldToTalk(AppModel::HoldSource::talkControl);
        },
        [weak] {
            // In free listening the release is not the end.
            if (auto m = weak.lock(); m && !m->freeListening.get())
                m->endHoldToTalk(AppModel::HoldSource::talkControl);
        },
        [weak] {
            if (auto m = weak.lock())
                m->cancelHold(AppModel::HoldSource::talkControl);
        });
    talk_->setOnRefusedPress([weak] {
        if (auto m = weak.lock())
            m->tellWhyNoHold();
    });
    input->addWidget(talk_);

    typed_ = new QLineEdit(inputRow);
    typed_->setObjectName(QStringLiteral("footer.typed"));
    typed_->setFont(Look::font(13));
    typed_->setMinimumWidth(minTypedWidth);
    applyInputFieldStyle(typed_);
    connect(typed_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_->editTypedText(text.toStdString()); });
    connect(typed_, &QLineEdit::returnPressed, this,
            [this] { spawnOnModel(model_, [](AppModel& m) { return m.translateTypedText(); }); });
    input->addWidget(typed_, 1);

    phrases_ = new SymbolPill(QStringLiteral("text.bubble"), q(localized("快捷短语")), inputRow);
    phrases_->setObjectName(QStringLiteral("footer.quickPhrases"));
    phrases_->setTint(Palette::violet());
    menu_ = new QMenu(phrases_);
    menu_->setObjectName(QStringLiteral("footer.quickPhrases.menu"));
    menu_->setToolTipsVisible(true);
    for (const QuickPhrase& phrase : quickPhrases) {
        QAction* action = menu_->addAction(q(localized(phrase.zh)));
        action->setData(QString::fromUtf8(phrase.en));
        connect(action, &QAction::triggered, this, [this, phrase] {
            spawnOnModel(model_, [phrase](AppModel& m) { return m.sendQuickPhrase(phrase.en, phrase.zh); });
        });
    }
    menu_->addSeparator();
    confirm_ = menu_->addAction(q(localized("文字发送前核对")));
    confirm_->setCheckable(true);
    connect(confirm_, &QAction::toggled, this, [this](bool on) { model_->setConfirmBeforeSend(on); });
    connect(phrases_, &QPushButton::clicked, this,
            [this] { menu_->popup(phrases_->mapToGlobal(phrases_->capsuleRect().bottomLeft())); });
    input->addSpacing(std::max(0, 14 - pillRoom));
    input->addWidget(phrases_);
    input->addSpacing(std::max(0, 14 - pillRoom));

    auto* separator = new QFrame(inputRow);
    separator->setFixedSize(1, 22);
    separator->setAutoFillBackground(true);
    separator->setPalette(hairline->palette());
    input->addWidget(separator);
    input->addSpacing(std::max(0, 14 - pillRoom));

    stop_ = new SymbolPill(QStringLiteral("stop.fill"), q(localized("停止播放")), inputRow);
    stop_->setObjectName(QStringLiteral("footer.stop"));
    stop_->setTint(Palette::alertRed());
    connect(stop_, &QPushButton::clicked, this, [this] { stopPlayback(); });
    input->addWidget(stop_);
    // Esc stops the playback only while no hold runs: a hold of the talk
    // control claims Esc before any shortcut sees it, and one of the global
    // shortcut is not the playback's to end.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, [this] {
        if (!model_->isHoldingToTalk.get())
            stopPlayback();
    });

    clear_ = new PillButton(q(localized("清空")), inputRow);
    clear_->setObjectName(QStringLiteral("footer.clear"));
    clear_->setTint(Palette::violet());
    connect(clear_, &QPushButton::clicked, this, [this] { model_->clearConversation(); });
    input->addSpacing(std::max(0, 14 - 2 * pillRoom));
    input->addWidget(clear_);
    column->addWidget(inputRow);

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

FooterView::~FooterView() = default;

void FooterView::setAppActivity(AppActivity* activity)
{
    talk_->setAppActivity(activity);
}

void FooterView::stopPlayback()
{
    model_->stopPlayback();
}

void FooterView::refresh()
{
    AppModel& m = *model_;
    bool speaking = m.isSpeaking.get();
    const std::string my = m.myLanguage.get().displayName();
    const std::string their = m.theirLanguage.get().displayName();

    // Status row.
    updates::setVisible(spinner_, speaking);
    std::string line = m.status.get();
    // The standing line says what reaches the other party with this pair
    // here: nothing translated where it cannot be, and no release where
    // only typing speaks.
    if (line.empty())
        line = m.untranslatablePairLine();
    if (line.empty()) {
        if (!m.originalVoiceOn.get())
            line = localized("原声已关：对方只听到%@翻译", their);
        else if (!m.myEngine.get())
            line = localized("原声已开：对方听到你说的%@，也听到你打的字的%@翻译", my, their);
        else if (m.translateWhileHolding.get())
            line = localized("原声已开：对方听到你说的%@，每说完一句再听到%@", my, their);
        else
            line = localized("原声已开：对方先听到你说的%@，松开后再听到%@", my, their);
    }
    updates::setText(status_, q(line));
    bool authorized = m.micAuthorized.get();
    updates::setVisible(meters_, authorized);
    updates::setVisible(micLink_, !authorized);
    updates::setText(micLink_, q(localized("授权麦克风后显示音量")));
    bool live = m.callActive.get() || m.isHearTesting.get() || m.showMicCheck.get();
    micMeter_->setLive(live);
    virtualMeter_->setLive(live);
    updates::setToolTip(meters_,
                        live ? q(localized("本机音量不代表对方已收到声音"))
                             : q(localized("通话或测试时显示音量（平时不占用麦克风）")));

    // Talk control.
    bool holding = m.isHoldingToTalk.get();
    bool freeListening = m.freeListening.get();
    talk_->setTitle(q(m.holdButtonTitle()));
    // Every title one hold goes through, so the control keeps its width
    // from the press to the playback.
    talk_->setReservedTitles({q(localized("按住说%@", my)), q(localized("正在准备…")), q(localized("松开翻译")),
                              q(localized("正在听…松开结束")), q(localized("自由说话")), q(localized("正在识别…")),
                              q(localized("正在翻译…")), q(localized("正在播放…"))});
    talk_->setRecording(m.isRecording.get() || holding);
    // Without a recognizer for my language no hold can start; the control
    // says so, and the typed-text field beside it stays the way to speak.
    const std::optional<std::string> unavailable = m.holdToTalkUnavailable();
    talk_->setUnavailable(unavailable ? std::optional<QString>(q(*unavailable)) : std::nullopt);
    talk_->setHoldEnabled(holding || (m.canStartSpeaking() && !unavailable));
    std::optional<QString> chip;
    if (shortcuts_ && shortcuts_->status() == HoldShortcutCenter::Status::active && !freeListening && !unavailable
        && shortcuts_->shortcut())
        chip = q(shortcuts_->shortcut()->label());
    talk_->setShortcut(chip);
    talk_->setWhileHolding(m.translateWhileHolding.get());
    talk_->setLiveLevel(freeListening ? m.levelMeters() : nullptr);

    // Typed text: written only when the model's text differs, so typing
    // keeps its cursor.
    bool busy = m.isMicBusy();
    QString typed = q(m.typedText.get());
    if (typed_->text() != typed)
        typed_->setText(typed);
    // Where the pair cannot be translated here the field says so, in the
    // setup steps' words, and takes nothing that could only fail.
    const std::string refusal = m.untranslatablePairLine();
    // A pair that cannot be translated: the line above says why in full;
    // the disabled field says what it means for typing in words that fit
    // the narrowest window, and its tooltip gives the whole line.
    placeholder_ = refusal.empty() ? q(localized("或者直接打字（%@，地址、数字更准确），回车翻译", my))
                                   : q(localized("在这里打的字不会翻译"));
    shortPlaceholder_ = refusal.empty() ? q(localized("打字：地址、数字更准确")) : placeholder_;
    updates::setToolTip(typed_, q(refusal));
    // The placeholder is a hint that goes as soon as one types, not a name.
    updates::setAccessibleName(typed_, q(localized("打字说话")));
    focusReturn_.setEnabled(typed_, refusal.empty() && !(speaking || m.isTranslatingDraft.get() || busy));

    // Quick phrases; the labels follow the interface language. Where none
    // can reach the other party's language here, none is offered, and the
    // button and each phrase say why.
    updates::setText(phrases_, q(localized("快捷短语")));
    const bool phrasesWork = m.quickPhrasesWork();
    const QString phraseRefusal = phrasesWork ? QString() : q(m.untranslatablePairLine());
    const auto actions = menu_->actions();
    for (std::size_t i = 0; i < quickPhrases.size(); ++i) {
        QAction* action = actions[static_cast<int>(i)];
        QString title = q(localized(quickPhrases[i].zh));
        if (action->text() != title)
            action->setText(title);
        if (action->isEnabled() != phrasesWork)
            action->setEnabled(phrasesWork);
        if (action->toolTip() != (phrasesWork ? title : phraseRefusal))
            action->setToolTip(phrasesWork ? title : phraseRefusal);
    }
    QString confirmTitle = q(localized("文字发送前核对"));
    if (confirm_->text() != confirmTitle)
        confirm_->setText(confirmTitle);
    if (confirm_->isChecked() != m.confirmBeforeSend.get()) {
        QSignalBlocker block(confirm_);
        confirm_->setChecked(m.confirmBeforeSend.get());
    }
    updates::setEnabled(phrases_, phrasesWork && !(speaking || busy));
    updates::setToolTip(phrases_, phraseRefusal);

    updates::setText(stop_, q(localized("停止播放")));
    stop_->setActive(speaking);
    updates::setEnabled(stop_, speaking);
    updates::setText(clear_, q(localized("清空")));
    updates::setEnabled(clear_, !m.entries.get().empty());
    micMeter_->setTitle(q(localized("我的麦克风")));
    virtualMeter_->setTitle(q(localized("送给对方")));
    // Once the meters carry this language's titles.
    fitStatus();
    fitTalk();
}

void FooterView::fitTalk()
{
    // What the rest of the input row needs at its ideal sizes; the talk
    // control and the text field share the remainder. The control keeps
    // what shows its titles whole (set smaller or on two lines where
    // that is short); the field takes the rest until its placeholder is
    // whole, so at the window's least width it is wide enough to read a
    // sentence being typed; whatever is left widens the control again.
    //
    // Short of room, the pills beside the field first show their symbols
    // alone (their words stay in their tooltips and names), then the field
    // takes its shorter hint; never is the title or the hint cut.
    const QLayout* row = talk_->parentWidget()->layout();
    const QMargins margins = row->contentsMargins();
    auto hintWidth = [this](const QString& hint) {
        return typed_->fontMetrics().horizontalAdvance(hint) + 2 * (typedPadding + 1 + 2) + 1;
    };
    int shared = width() - margins.left() - margins.right() - 2 * HoldToTalkControl::glowRoom;
    int saving = 0;
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem* item = row->itemAt(i);
        if (item->widget() == talk_ || item->widget() == typed_)
            continue;
        shared -= item->sizeHint().width();
        if (auto* pill = qobject_cast<SymbolPill*>(item->widget()); pill && !pill->isHidden()) {
            shared -= pill->fullWidth() - pill->sizeHint().width();
            saving += pill->fullWidth() - pill->compactWidth();
        }
    }
    const int title = talk_->leastWholeCapsuleWidth();
    const bool compact = shared - title < hintWidth(placeholder_);
    for (SymbolPill* pill : {phrases_, stop_})
        pill->setCompact(compact);
    if (compact)
        shared += saving;
    const QString hint = shared - title < hintWidth(placeholder_) ? shortPlaceholder_ : placeholder_;
    if (typed_->placeholderText() != hint)
        typed_->setPlaceholderText(hint);
    const int placeholder = hintWidth(hint);
    const int typedWanted = std::max(minTypedWidth, std::min(std::max(placeholder, workingTypedWidth), shared - title));
    int room = shared - typedWanted;
    // No hold can start: the control only says why at its resting width,
    // and the field, the user's one way to speak, takes the rest.
    if (talk_->unavailable())
        room = std::min(room, HoldToTalkControl::minCapsuleWidth);
    talk_->setMaxCapsuleWidth(room);
}

void FooterView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitStatus();
    fitTalk();
}

bool FooterView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == status_ && event->type() == QEvent::Resize)
        fitStatus();
    return QWidget::eventFilter(watched, event);
}

void FooterView::fitStatus()
{
    // Beside the meters the line has what they leave. A line that needs
    // more than two lines there takes the row's whole width instead, and
    // the meters stand on a line of their own under it, whole. Weighed from
    // the footer's width, never from the line's own, which this sets.
    const QMargins margins = statusRow_->layout()->contentsMargins();
    int whole = width() - margins.left() - margins.right();
    if (!spinner_->isHidden())
        whole -= spinner_->sizeHint().width() + statusSpacing;
    if (!micLink_->isHidden())
        whole -= micLink_->sizeHint().width() + statusSpacing;
    const bool metersShown = !meters_->isHidden();
    const int beside = whole - (metersShown ? meters_->sizeHint().width() + statusSpacing : 0);
    const bool under = metersShown && !status_->fitsTwoLines(beside);
    if (under != (metersUnder_->indexOf(meters_) >= 0)) {
        if (under) {
            statusLine_->removeWidget(meters_);
            metersUnder_->addWidget(meters_);
        } else {
            metersUnder_->removeWidget(meters_);
            statusLine_->insertWidget(statusLine_->indexOf(micLink_), meters_);
        }
    }
    int height = status_->needsTwoLines(under ? whole : beside)
        ? std::max(statusRowHeight, 2 * status_->fontMetrics().lineSpacing() + 6)
        : statusRowHeight;
    if (under)
        height += meters_->sizeHint().height() + metersUnderPadding;
    if (statusRow_->height() != height || statusRow_->minimumHeight() != height)
        statusRow_->setFixedHeight(height);
}

bool FooterView::metersUnderStatus() const
{
    return metersUnder_->indexOf(meters_) >= 0;
}

void FooterView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::withOpacity(Palette::paleGrey(), 0.7));
}

}  // namespace parlaro::app
