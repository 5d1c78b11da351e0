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
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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
    targetRow->addWidget(clear_, 0, Qt::AlignTop);
    targetRow->addWidget(play_, 0, Qt::AlignTop);
    column->addLayout(targetRow);

    connect(source_, &QPlainTextEdit::textChanged, this, [this] {
        fitHeight(source_);
        model_->editDraftText(source_->toPlainText().toStdString());
    });
    connect(target_, &QPlainTextEdit::textChanged, this, [this] {
        fitHeight(target_);
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
    fitHeight(source_);
    fitHeight(target_);

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

DraftPanel::~DraftPanel() = default;

bool DraftPanel::eventFilter(QObject* watched, QEvent* event)
{
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

void DraftPanel::fitHeight(QPlainTextEdit* edit)
{
    // Grows with its text: the document's lines plus the field's padding.
    QFontMetricsF metrics(edit->font());
    int lines = 0;
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next())
        lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
    lines = std::clamp(lines, 1, 6);
    int height = static_cast<int>(std::ceil(lines * metrics.lineSpacing())) + 2 * 7 + 2 * 4 + 2;
    if (edit->height() != height)
        edit->setFixedHeight(height);
}

void DraftPanel::refresh()
{
    AppModel& m = *model_;
    bool speaking = m.isSpeaking.get();
    bool translating = m.isTranslatingDraft.get();
    bool busy = m.isMicBusy();
    const CallLanguage& my = m.myLanguage.get();
    const CallLanguage& their = m.theirLanguage.get();

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

    updates::setEnabled(source_, !(speaking || translating || busy));
    updates::setText(retranslate_, q(localized("重新翻译")));
    updates::setEnabled(retranslate_, !(speaking || translating || busy));
    updates::setVisible(target_, !translating);
    updates::setVisible(spinnerBox_, translating);
    updates::setEnabled(target_, !(speaking || m.isRecording.get()));
    updates::setText(clear_, q(localized("清空这句")));
    updates::setEnabled(clear_, !(speaking || translating));
    updates::setText(play_, q(m.playDraftTitle()));
    updates::setEnabled(play_, m.canPlayDraft() && !busy);
}

}  // namespace parlaro::app
