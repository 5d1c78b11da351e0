#include "app/SetupCard.h"

#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "settings/SpeechModelDownload.h"
#include "settings/UntranslatablePairNotice.h"
#include "speech/Localization.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SectionTitle.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace parlaro::ui {

namespace {

PillButton* cardPill(QWidget* parent, const QString& name, const QString& text)
{
    auto* pill = new PillButton(text, parent);
    pill->setObjectName(name);
    pill->setTint(Palette::violet());
    pill->setActive(true);
    return pill;
}

QLabel* smallText(QWidget* parent, const QString& name, const QColor& color)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFont(Look::font(11));
    updates::setTextColor(label, color);
    return label;
}

}  // namespace

SetupCard::SetupCard(std::shared_ptr<AppModel> model, QWidget* parent)
    : Card(Palette::amber(), 14, 0.08, parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("setupCard"));
    auto* column = new QVBoxLayout(this);
    edges_ = column->contentsMargins();
    column->setContentsMargins(edges_ + QMargins(16, 16, 16, 16));
    column->setSpacing(10);
    title_ = new SectionTitle(QString(), this);
    auto* title = title_;
    title->setObjectName(QStringLiteral("setupCard.title"));
    column->addWidget(title);

    rows_ = {addRow(QStringLiteral("setupCard.speech")), addRow(QStringLiteral("setupCard.pack")),
             addRow(QStringLiteral("setupCard.mic")), addRow(QStringLiteral("setupCard.device"))};

    rows_[0].actions->layout()->addWidget(
        new settings::SpeechModelDownload(model_, QStringLiteral("setupCard.speech"), 120, rows_[0].actions));

    auto* pack = rows_[1].actions;
    packSpinner_ = new QProgressBar(pack);
    packSpinner_->setObjectName(QStringLiteral("setupCard.pack.spinner"));
    static_cast<QProgressBar*>(packSpinner_)->setRange(0, 0);
    static_cast<QProgressBar*>(packSpinner_)->setTextVisible(false);
    packSpinner_->setFixedSize(28, 8);
    packConfirm_ = smallText(pack, QStringLiteral("setupCard.pack.confirm"), Look::secondaryText());
    packDownload_ = cardPill(pack, QStringLiteral("setupCard.pack.download"), QString());
    pack->layout()->addWidget(packSpinner_);
    pack->layout()->addWidget(packConfirm_);
    pack->layout()->addWidget(packDownload_);
    connect(packDownload_, &QPushButton::clicked, this, [this] { model_->downloadTranslation(); });

    grant_ = cardPill(rows_[2].actions, QStringLiteral("setupCard.mic.grant"), QString());
    auto* grant = grant_;
    rows_[2].actions->layout()->addWidget(grant);
    connect(grant, &QPushButton::clicked, this,
            [this] { spawnOnModel(model_, [](AppModel& model) { return model.requestMicPermission(); }); });

    install_ = cardPill(rows_[3].actions, QStringLiteral("setupCard.device.install"), QString());
    rows_[3].actions->layout()->addWidget(install_);
    connect(install_, &QPushButton::clicked, this, [this] { model_->openInstallSheet(); });

    auto* pairs = new settings::UntranslatablePairNotice(model_, QStringLiteral("setupCard.pack.pairs"), 11, this);
    for (auto& row : rows_) {
        column->addWidget(row.title->parentWidget());
        if (&row == &rows_[1])
            column->addWidget(pairs);
    }
    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

SetupCard::~SetupCard() = default;

void SetupCard::setCompact(bool compact)
{
    if (compact_ == compact)
        return;
    compact_ = compact;
    const int room = compact ? 6 : 16;
    layout()->setContentsMargins(edges_ + QMargins(room, room, room, room));
    layout()->setSpacing(compact ? 4 : 10);
}

void SetupCard::resizeEvent(QResizeEvent* event)
{
    Card::resizeEvent(event);
    // A layout short of height squeezes a card by its least size, which
    // knows nothing of its notes wrapping onto more lines at this width:
    // they would be cut to a sliver. The card keeps the height its width
    // needs; the conversation under it gives way and scrolls.
    const int needed = heightForWidth(width());
    if (needed > 0 && minimumHeight() != needed)
        setMinimumHeight(needed);
}

SetupCard::Row SetupCard::addRow(const QString& name)
{
    auto* line = new QWidget(this);
    line->setObjectName(name);
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    Row row;
    row.mark = new SymbolView(QString(), Palette::amber(), 14, line);
    row.mark->setObjectName(name + QStringLiteral(".mark"));
    row.title = new QLabel(line);
    row.title->setObjectName(name + QStringLiteral(".title"));
    row.title->setFont(Look::font(13));
    row.actions = new QWidget(line);
    row.actions->setObjectName(name + QStringLiteral(".actions"));
    auto* actions = new QHBoxLayout(row.actions);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(6);
    layout->addWidget(row.mark);
    layout->addWidget(row.title);
    layout->addStretch(1);
    layout->addWidget(row.actions);
    return row;
}

void SetupCard::setDone(Row& row, bool done)
{
    if (done)
        row.mark->setSymbol(QStringLiteral("checkmark.circle.fill"), Palette::violet(), 14);
    else
        row.mark->setSymbol(QStringLiteral("exclamationmark.circle"), Palette::amber(), 14);
    updates::setVisible(row.actions, !done);
    auto* line = row.title->parentWidget();
    if (line->property("done").toBool() != done || !line->property("done").isValid())
        line->setProperty("done", done);
}

void SetupCard::refresh()
{
    // Every text is read here, so a change of interface language reaches
    // the card too.
    title_->setTitle(q(localized("准备工作（只需一次）")));
    updates::setText(packDownload_, q(localized("下载")));
    updates::setText(packConfirm_, q(localized("请在系统弹窗里确认下载")));
    updates::setText(rows_[2].title, q(localized("麦克风权限")));
    updates::setText(grant_, q(localized("授权")));
    const auto my = model_->myLanguage().displayName();
    const auto their = model_->theirLanguage().displayName();

    // Speech models.
    // Only languages this computer can recognize have a model to list.
    QString speechTitle = q(localized("语音识别模型（%@）", my));
    if (model_->theirEngine() && model_->myEngine())
        speechTitle = q(localized("语音识别模型（%@ + %@）", their, my));
    else if (model_->theirEngine())
        speechTitle = q(localized("语音识别模型（%@）", their));
    updates::setText(rows_[0].title, speechTitle);
    setDone(rows_[0], model_->speechReady());

    // Translation pack.
    updates::setText(rows_[1].title, q(localized("翻译语言包（%@ ⇄ %@）", their, my)));
    setDone(rows_[1], model_->translationReady());
    bool downloading = model_->isDownloadingTranslation();
    updates::setVisible(packSpinner_, downloading);
    updates::setVisible(packConfirm_, downloading);
    // Nothing to download for a pair this computer cannot translate; the
    // notice under the row says which pairs it can.
    updates::setVisible(packDownload_, !downloading && model_->translationSupported());

    // Microphone.
    setDone(rows_[2], model_->micAuthorized());

    // Virtual device.
    bool needsUpdate = model_->virtualMicNeedsUpdate();
    updates::setText(rows_[3].title,
                     needsUpdate ? q(localized("wenmora 音频设备有新版本"))
                                 : q(localized("wenmora 音频设备（让对方听到翻译）")));
    setDone(rows_[3], model_->virtualMicStatus() && !needsUpdate);
    updates::setText(install_, needsUpdate ? q(localized("更新")) : q(localized("安装")));
}

}  // namespace parlaro::ui
