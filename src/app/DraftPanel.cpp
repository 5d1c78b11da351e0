#include "app/DraftPanel.h"

#include "app/InputFieldStyle.h"
#include "app/Spinner.h"
#include "app/SymbolPill.h"
#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "ui/Icons.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace parlaro::app {

using namespace ui;

namespace {

QLabel* makeTag(const QColor& color, QWidget* parent)
{
    auto* tag = new QLabel(parent);
    tag->setFont(Look::monospacedFont(11));
    tag->setFixedWidth(34);
    tag->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    tag->setContentsMargins(0, 8, 0, 0);
    updates::setTextColor(tag, color);
    return tag;
}

QPlainTextEdit* makeField(double fontSize, QWidget* parent)
{
    auto* edit = new QPlainTextEdit(parent);
    edit->setFont(Look::font(fontSize));
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setTabChangesFocus(true);
    edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    applyInputFieldStyle(edit);
    return edit;
}

PillButton* makePill(QWidget* parent, const char* name)
{
    auto* pill = new PillButton(QString(), parent);
    pill->setObjectName(QString::fromLatin1(name));
    pill->setTint(Palette::violet());
    return pill;
}

// The height of each line of the field's text, laid out at the field's own
// text width in whole pixels, as the field itself scrolls them, and with
// `starts` the text position each line starts at. The document's layout
// lags behind the text and the width (a field hidden while its text
// arrives, a window resized), so it is not asked.
std::vector<int> lineHeights(const QPlainTextEdit* edit, std::vector<int>& starts)
{
    const qreal margin = edit->document()->documentMargin();
    const qreal width = std::max<qreal>(1, edit->viewport()->width() - 2 * margin);
    QTextOption option = edit->document()->defaultTextOption();
    option.setWrapMode(edit->wordWrapMode());
    std::vector<int> heights;
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout layout(block.text(), edit->font());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            heights.push_back(static_cast<int>(line.height()));
            starts.push_back(block.position() + line.textStart());
        }
        layout.endLayout();
        if (layout.lineCount() == 0) {
            heights.push_back(static_cast<int>(QFontMetricsF(edit->font()).lineSpacing()));
            starts.push_back(block.position());
        }
    }
    return heights;
}

// What a field adds around its lines: the document's margin above, and
// below it the same margin and one pixel more so that it scrolls nothing;
// a field that scrolls ends with its last whole line instead, where the
// margin would show the top of the next one. Then the style's padding (7)
// and border (1).
int fieldFrame(const QPlainTextEdit* edit, bool scrolls = false)
{
    const double margin = edit->document()->documentMargin();
    return static_cast<int>(std::ceil(scrolls ? margin : 2 * margin + 1)) + 2 * 7 + 2 * 1;
}

// How many lines the first `length` characters run over, one at least.
int linesHolding(const std::vector<int>& starts, int length)
{
    return std::max<int>(1, std::ranges::count_if(starts, [length](int start) { return start < length; }));
}

int firstLines(const std::vector<int>& heights, int count)
{
    return std::accumulate(heights.begin(), heights.begin() + std::min<std::ptrdiff_t>(count, std::ssize(heights)), 0);
}

bool isPlayKey(const QKeyEvent* key)
{
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        && (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

}  // namespace

DraftPanel::DraftPanel(std::shared_ptr<AppModel> model, QWidget* parent)
    : Card(Palette::violet(), 14, 0.1, parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("draft"));
    auto* column = new QVBoxLayout(this);
    int m = cardMargin() + 16;
    column->setContentsMargins(m, m, m, m);
    column->setSpacing(10);

    auto* sourceRow = new QHBoxLayout();
    sourceRow->setSpacing(10);
    sourceTag_ = makeTag(Palette::violetAlt(), this);
    sourceTag_->setObjectName(QStringLiteral("draft.sourceTag"));
    source_ = makeField(13, this);
    source_->setObjectName(QStringLiteral("draft.source"));
    retranslate_ = makePill(this, "draft.retranslate");
    sourceRow->addWidget(sourceTag_, 0, Qt::AlignTop);
    sourceRow->addWidget(source_, 1, Qt::AlignTop);
    sourceRow->addWidget(retranslate_, 0, Qt::AlignTop);
    column->addLayout(sourceRow);

    auto* targetRow = new QHBoxLayout();
    targetRow->setSpacing(10);
    targetTag_ = makeTag(Palette::violet(), this);
    targetTag_->setObjectName(QStringLiteral("draft.targetTag"));
    target_ = makeField(17, this);
    target_->setObjectName(QStringLiteral("draft.target"));
    spinnerBox_ = new QWidget(this);
    auto* spinnerLayout = new QHBoxLayout(spinnerBox_);
    spinnerLayout->setContentsMargins(0, 6, 0, 0);
    spinner_ = new Spinner(16, spinnerBox_);
    spinner_->setObjectName(QStringLiteral("draft.spinner"));
    spinnerLayout->addWidget(spinner_, 0, Qt::AlignTop);
    spinnerLayout->addStretch(1);
    spinnerBox_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    spinnerBox_->hide();
    clear_ = makePill(this, "draft.clear");
    play_ = new SymbolPill(QStringLiteral("speaker.wave.2.fill"), QString(), this);
    play_->setObjectName(QStringLiteral("draft.play"));
    play_->setTint(Palette::violet());
    play_->setActive(true);
    targetRow->addWidget(targetTag_, 0, Qt::AlignTop);
    targetRow->addWidget(target_, 1, Qt::AlignTop);
    targetRow->addWidget(spinnerBox_, 1);
    targetRow->addWidget(play_, 0, Qt::AlignTop);
    column->addLayout(targetRow);
    // Clearing sits with the original, so the translation keeps the width of
    // its row less one action however narrow the window.
    sourceRow->addWidget(clear_, 0, Qt::AlignTop);
    // Tab in reading order, row by row.
    setTabOrder(retranslate_, clear_);
    setTabOrder(clear_, target_);

    connect(source_, &QPlainTextEdit::textChanged, this, [this] {
        fitHeights();
        model_->editDraftText(source_->toPlainText().toStdString());
    });
    connect(target_, &QPlainTextEdit::textChanged, this, [this] {
        fitHeights();
        model_->editDraftTranslation(target_->toPlainText().toStdString());
    });
    connect(retranslate_, &QPushButton::clicked, this,
            [this] { spawnOnModel(model_, [](AppModel& m) { return m.retranslateDraft(); }); });
    connect(clear_, &QPushButton::clicked, this, [this] { model_->clearDraft(); });
    connect(play_, &QPushButton::clicked, this, [this] { play(); });
    // Ctrl+Return plays from inside either field, where a text edit would
    // otherwise take the key for a new line.
    source_->installEventFilter(this);
    target_->installEventFilter(this);
    source_->viewport()->installEventFilter(this);
    target_->viewport()->installEventFilter(this);
    fitHeights();

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

DraftPanel::~DraftPanel() = default;

bool DraftPanel::eventFilter(QObject* watched, QEvent* event)
{
    // A new width wraps the text anew, once the field gave it to its text.
    if (event->type() == QEvent::Resize && (watched == source_->viewport() || watched == target_->viewport()))
        fitHeights();
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (isPlayKey(key)) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            play();
            return true;
        }
    }
    return Card::eventFilter(watched, event);
}

void DraftPanel::play()
{
    if (!model_->canPlayDraft() || model_->isMicBusy())
        return;
    spawnOnModel(model_, [](AppModel& m) { return m.playDraftToPeer(); });
}

void DraftPanel::setRoom(int height, int forSentence)
{
    if (room_ == height && sentenceRoom_ == forSentence)
        return;
    room_ = height;
    sentenceRoom_ = forSentence;
    claimTight_ = false;
    fitHeights();
}

void DraftPanel::fitHeights()
{
    // Each field grows with its text up to maxFieldLines, then scrolls. A
    // field is never cut inside a line: short of room it shows fewer whole
    // lines, the original giving way first, down to one, then the
    // translation, down to the two the user reads before it is played.
    std::vector<int> sourceStarts;
    std::vector<int> targetStarts;
    const std::vector<int> source = lineHeights(source_, sourceStarts);
    const std::vector<int> target = lineHeights(target_, targetStarts);
    int sourceLines = std::min<int>(std::ssize(source), maxFieldLines);
    int targetLines = std::min<int>(std::ssize(target), maxFieldLines);
    QMargins margins = layout()->contentsMargins() + contentsMargins();
    // A row is as tall as its field or as the pills beside it.
    auto tallest = [](std::initializer_list<const QWidget*> parts) {
        int tallest = 0;
        for (const QWidget* part : parts)
            tallest = std::max(tallest, part->sizeHint().height());
        return tallest;
    };
    const int sourceRow = tallest({sourceTag_, retranslate_, clear_});
    const int targetRow = tallest({targetTag_, play_});
    // Short of room the card first draws its rows closer to its edges.
    auto* column = static_cast<QBoxLayout*>(layout());
    auto height = [&] {
        return margins.top() + margins.bottom() + layout()->spacing()
            + std::max(sourceRow,
                       firstLines(source, sourceLines) + fieldFrame(source_, std::ssize(source) > sourceLines))
            + std::max(targetRow,
                       firstLines(target, targetLines) + fieldFrame(target_, std::ssize(target) > targetLines));
    };
    const int roomy = cardMargin() + 16;
    const int tight = cardMargin() + 6;
    auto space = [&](int edge, int between) {
        column->setContentsMargins(edge, edge, edge, edge);
        if (column->spacing() != between)
            column->setSpacing(between);
        margins = column->contentsMargins() + contentsMargins();
    };
    space(roomy, 10);
    int room = room_;
    if (room > 0 && sentenceRoom_ > room) {
        // The sentence the user checks before playing it is read whole:
        // the lines holding its first characters take what they need of
        // the wider room, the rows drawn close to the edges, as short of
        // room.
        const int shownSource =
            std::exchange(sourceLines, std::min(sourceLines, linesHolding(sourceStarts, sentenceLength)));
        const int shownTarget =
            std::exchange(targetLines, std::min(targetLines, linesHolding(targetStarts, sentenceLength)));
        // Once close, they stay so while the room stays: the wider fields
        // wrap into fewer lines, which would fit the roomy edges again, and
        // those the close ones again.
        if (claimTight_ || height() > room) {
            claimTight_ = true;
            space(tight, 6);
            room = std::clamp(height(), room, sentenceRoom_);
        }
        sourceLines = shownSource;
        targetLines = shownTarget;
    }
    if (room > 0) {
        // Whether the fewest lines fit with the roomy edges.
        const int shownSource = std::exchange(sourceLines, std::min(sourceLines, 1));
        const int shownTarget = std::exchange(targetLines, std::min(targetLines, 2));
        if (height() > room)
            space(tight, 6);
        sourceLines = shownSource;
        targetLines = shownTarget;
    }
    while (room > 0 && height() > room && (sourceLines > 1 || targetLines > 2)) {
        if (sourceLines > 1)
            --sourceLines;
        else
            --targetLines;
    }
    auto apply = [](QPlainTextEdit* edit, const std::vector<int>& lines, int shown) -> bool {
        const bool scrolls = std::ssize(lines) > shown;
        edit->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        const int height = firstLines(lines, shown) + fieldFrame(edit, scrolls);
        // The field's own limits, not its present size, which a layout
        // under way may not have set yet.
        if (edit->minimumHeight() == height && edit->maximumHeight() == height)
            return false;
        edit->setFixedHeight(height);
        return true;
    };
    const bool sourceChanged = apply(source_, source, sourceLines);
    const bool changed = apply(target_, target, targetLines) || sourceChanged;
    // A field that lost lines would otherwise keep its old place in the
    // layouts above until something else moved them, cut in the middle of
    // a line: the new heights are laid out at once, up to the window.
    if (changed && isVisible())
        for (QWidget* widget = this; widget && !widget->isWindow(); widget = widget->parentWidget())
            if (QLayout* layout = widget->layout()) {
                layout->invalidate();
                layout->activate();
            }
}

void DraftPanel::refresh()
{
    AppModel& m = *model_;
    bool speaking = m.isSpeaking.get();
    bool translating = m.isTranslatingDraft.get();
    bool busy = m.isMicBusy();
    const CallLanguage& my = m.myLanguage.get();
    const CallLanguage& their = m.theirLanguage.get();

    // Named by their part, not by the language in their placeholders.
    updates::setAccessibleName(source_, q(localized("原文")));
    updates::setAccessibleName(target_, q(localized("译文")));
    updates::setText(sourceTag_, q(my.tag));
    updates::setText(targetTag_, q(their.tag));
    QString sourcePlaceholder = q(my.displayName());
    if (source_->placeholderText() != sourcePlaceholder)
        source_->setPlaceholderText(sourcePlaceholder);
    QString targetPlaceholder = q(their.displayName());
    if (target_->placeholderText() != targetPlaceholder)
        target_->setPlaceholderText(targetPlaceholder);

    // A field is written only when the model's text differs from it, so the
    // user's own edits never come back as a rewrite.
    QString chinese = q(m.draftText.get());
    if (source_->toPlainText() != chinese)
        source_->setPlainText(chinese);
    QString english = q(m.draftTranslation.get());
    if (target_->toPlainText() != english)
        target_->setPlainText(english);

    sourceFocus_.setEnabled(source_, !(speaking || translating || busy));
    updates::setText(retranslate_, q(localized("重新翻译")));
    retranslateFocus_.setEnabled(retranslate_, !(speaking || translating || busy));
    updates::setVisible(target_, !translating);
    updates::setVisible(spinnerBox_, translating);
    updates::setEnabled(target_, !(speaking || m.isRecording.get()));
    updates::setText(clear_, q(localized("清空这句")));
    updates::setEnabled(clear_, !(speaking || translating));
    updates::setText(play_, q(m.playDraftTitle()));
    updates::setEnabled(play_, m.canPlayDraft() && !busy);
}

}  // namespace parlaro::app
