#include "settings/WizardView.h"

#include "model/AppModel.h"
#include "settings/PickRefusal.h"
#include "settings/SheetParts.h"
#include "settings/SpeechModelDownload.h"
#include "settings/UntranslatablePairNotice.h"
#include "settings/WizardStep.h"
#include "speech/InterfaceLanguage.h"
#include "speech/Localization.h"
#include "ui/Accessibility.h"
#include "ui/CardBackground.h"
#include "ui/FocusReturn.h"
#include "ui/LanguagePicker.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"
#include "ui/SystemSettings.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QAccessible>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace parlaro::ui {

namespace {

QComboBox* languagePicker(QWidget* parent, const QString& name, const QString& title)
{
    auto* picker = new LanguagePicker(120, parent);
    picker->setObjectName(name);
    picker->setAccessibleName(title);
    picker->setFont(Look::font(13));
    return picker;
}

}  // namespace

WizardView::WizardView(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model))
{
    setObjectName(QStringLiteral("wizard"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    auto* header = new QHBoxLayout();
    header->setSpacing(12);
    header->addWidget(glowingSymbol(this, QStringLiteral("sparkles"), Palette::violet(), 26));
    auto* title = sheetText(this, QStringLiteral("wizard.title"), 20, Look::primaryText(), true);
    title->setText(WizardView::title());
    header->addWidget(title, 1);
    column->addLayout(header);
    auto* intro = sheetText(this, QStringLiteral("wizard.intro"), 13, Look::secondaryText());
    intro->setText(q(localized("按顺序完成下面几步（只需一次）。都打勾后就可以打电话了。")));
    column->addWidget(intro);

    steps_ = {new WizardStep(1, q(localized("选择语言")), true, this),
              new WizardStep(2, q(localized("下载语音识别模型")), false, this),
              new WizardStep(3, q(localized("下载翻译语言包")), false, this),
              new WizardStep(4, q(localized("安装「wenmora」")), false, this),
              new WizardStep(5, q(localized("检测你的麦克风")), false, this),
              new WizardStep(6, q(localized("允许「系统录音」（听对方说话用）")), false, this)};

    // The first step: the two language pickers.
    pickers_ = new QWidget(steps_[0]);
    pickers_->setObjectName(QStringLiteral("wizard.pickers"));
    auto* pickerRow = new QHBoxLayout(pickers_);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->setSpacing(6);
    myPicker_ = languagePicker(pickers_, QStringLiteral("wizard.myLanguage"), q(localized("我说")));
    theirPicker_ = languagePicker(pickers_, QStringLiteral("wizard.theirLanguage"), q(localized("对方说")));
    pickerRow->addWidget(myPicker_);
    auto* arrow = new SymbolView(QStringLiteral("arrow.forward"), Look::secondaryText(), 12, pickers_);
    arrow->setObjectName(QStringLiteral("wizard.pairArrow"));
    pickerRow->addWidget(arrow);
    pickerRow->addWidget(theirPicker_);
    steps_[0]->controls()->addWidget(pickers_);
    connect(myPicker_, &QComboBox::activated, this, [this](int index) { pickMine(index); });
    connect(theirPicker_, &QComboBox::activated, this, [this](int index) { pickTheirs(index); });

    // A refused pick says why here, where the user is, rather than only on
    // the window's status line behind the sheet. Under the step's title,
    // past its badge.
    pickNote_ = sheetText(this, QStringLiteral("wizard.pickNote"), 12, Palette::amber());
    pickNote_->setContentsMargins(34, 0, 0, 0);
    Accessibility::setRole(pickNote_, QAccessible::AlertMessage);
    pickNote_->hide();

    // The change waiting for the user's agreement to its downloads.
    pending_ = new Card(Palette::amber(), 10, 0.08, this);
    pending_->setObjectName(QStringLiteral("wizard.pending"));
    auto* pendingColumn = new QVBoxLayout(pending_);
    auto margins = pendingColumn->contentsMargins();
    pendingColumn->setContentsMargins(margins.left() + 12, margins.top() + 12, margins.right() + 12,
                                      margins.bottom() + 12);
    pendingColumn->setSpacing(8);
    pendingText_ = sheetText(pending_, QStringLiteral("wizard.pending.text"), 12, Look::primaryText());
    pendingColumn->addWidget(pendingText_);
    auto* pendingButtons = new QHBoxLayout();
    auto* keep = sheetPill(pending_, QStringLiteral("wizard.pending.cancel"), false, Palette::violet());
    keep->setText(q(localized("取消")));
    auto* choose = sheetPill(pending_, QStringLiteral("wizard.pending.download"), true, Palette::violet());
    choose->setText(q(localized("下载")));
    pendingButtons->addWidget(keep);
    pendingButtons->addWidget(choose);
    pendingButtons->addStretch(1);
    pendingColumn->addLayout(pendingButtons);
    connect(keep, &QPushButton::clicked, this, [this] { model_->keepLanguages(); });
    connect(choose, &QPushButton::clicked, this, [this] { model_->chooseLanguage(); });

    // Then the speech models,
    steps_[1]->controls()->addWidget(
        new settings::SpeechModelDownload(model_, QStringLiteral("wizard.speech"), 140, steps_[1]));

    // the translation pack,
    packSpinner_ = sheetSpinner(steps_[2], QStringLiteral("wizard.pack.spinner"));
    packConfirm_ = new QLabel(q(localized("请在系统弹窗里确认")), steps_[2]);
    packConfirm_->setObjectName(QStringLiteral("wizard.pack.confirm"));
    packConfirm_->setFont(Look::font(11));
    updates::setTextColor(packConfirm_, Look::secondaryText());
    packDownload_ = sheetPill(steps_[2], QStringLiteral("wizard.pack.download"), true, Palette::violet());
    packDownload_->setText(q(localized("下载")));
    steps_[2]->controls()->addWidget(packSpinner_);
    steps_[2]->controls()->addWidget(packConfirm_);
    steps_[2]->controls()->addWidget(packDownload_);
    connect(packDownload_, &QPushButton::clicked, this, [this] { model_->downloadTranslation(); });
    // Under the step's title, past its badge.
    auto* pairs = new settings::UntranslatablePairNotice(model_, QStringLiteral("wizard.pack.pairs"), 12, this);
    pairs->setContentsMargins(34, 0, 0, 0);

    // the virtual device,
    install_ = sheetPill(steps_[3], QStringLiteral("wizard.device.install"), true, Palette::violet());
    steps_[3]->controls()->addWidget(install_);
    connect(install_, &QPushButton::clicked, this, [this] { model_->openInstallSheet(); });

    // the microphone check, opened without a reason,
    auto* check = sheetPill(steps_[4], QStringLiteral("wizard.mic.check"), true, Palette::violet());
    check->setText(q(localized("检测")));
    steps_[4]->controls()->addWidget(check);
    connect(check, &QPushButton::clicked, this, [this] { model_->openMicCheck(); });

    // and hearing the far end (system audio recording).
    auto* capture = sheetPill(steps_[5], QStringLiteral("wizard.capture.settings"), true, Palette::violet());
    capture->setText(q(localized("去设置")));
    steps_[5]->controls()->addWidget(capture);
    connect(capture, &QPushButton::clicked, this, [] { SystemSettings::shared().open(paneId::callAudioCapture); });

    column->addWidget(steps_[0]);
    column->addWidget(pickNote_);
    column->addWidget(pending_);
    for (std::size_t i = 1; i < steps_.size(); ++i) {
        column->addWidget(steps_[i]);
        if (i == 2)
            column->addWidget(pairs);
    }

    auto* buttons = new QHBoxLayout();
    auto* later = sheetPill(this, QStringLiteral("wizard.later"), false, Palette::violet());
    later->setText(q(localized("稍后再说")));
    auto* done = sheetPill(this, QStringLiteral("wizard.done"), true, Palette::violet());
    done->setText(q(localized("完成")));
    done->setDefault(true);
    buttons->addWidget(later);
    buttons->addStretch(1);
    buttons->addWidget(done);
    column->addSpacing(4);
    column->addLayout(buttons);
    connect(later, &QPushButton::clicked, this, [this] { model_->finishOnboarding(); });
    connect(done, &QPushButton::clicked, this, [this] { model_->finishOnboarding(); });

    binding_ = std::make_unique<ViewBinding>([this] { refresh(); });
}

WizardView::~WizardView() = default;

QString WizardView::title()
{
    return q(localized("欢迎使用Parlaro"));
}

void WizardView::fillPicker(QComboBox* picker, std::vector<CallLanguage>& shown,
                            const std::vector<CallLanguage>& choices, bool mine, const CallLanguage& current)
{
    QStringList labels;
    for (const auto& language : choices)
        labels << q(model_->languageMenuLabel(language, mine));
    bool same = shown == choices && picker->count() == labels.size();
    for (int i = 0; same && i < labels.size(); ++i)
        same = picker->itemText(i) == labels[i];
    if (!same) {
        shown = choices;
        picker->clear();
        picker->addItems(labels);
    }
    int index = -1;
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (shown[i].id == current.id)
            index = static_cast<int>(i);
    if (picker->currentIndex() != index)
        picker->setCurrentIndex(index);
}

void WizardView::pickMine(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= myShown_.size())
        return;
    pick(myShown_[static_cast<std::size_t>(index)], std::nullopt);
}

void WizardView::pickTheirs(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= theirShown_.size())
        return;
    pick(std::nullopt, theirShown_[static_cast<std::size_t>(index)]);
}

void WizardView::pick(std::optional<CallLanguage> mine, std::optional<CallLanguage> theirs)
{
    pickAndTell(model_, std::move(mine), std::move(theirs), pickNote_);
    // The picker shows the model's pair until the model has switched.
    binding_->refreshNow();
}

void WizardView::refresh()
{
    // The language pickers, and the change that waits for its downloads.
    steps_[0]->setDone(true);
    fillPicker(myPicker_, myShown_, model_->myLanguageChoices(), true, model_->myLanguage());
    fillPicker(theirPicker_, theirShown_, model_->theirLanguageChoices(), false, model_->theirLanguage());
    // While a switch runs the pickers rest; the keyboard waits where the
    // pick was made and goes on from there.
    pickersFocus_.setEnabled(pickers_, model_->canChangeLanguage());

    const auto& pending = model_->pendingLanguageChange();
    updates::setVisible(pending_, pending.has_value());
    if (pending)
        updates::setText(pendingText_,
                         q(localized("切换到 我说%@ → 对方说%@，需要下载：%@", pending->my.displayName(),
                                     pending->their.displayName(), InterfaceLanguage::list(pending->needs))));

    // Speech models.
    steps_[1]->setDone(model_->speechReady());

    // The translation pack.
    steps_[2]->setDone(model_->translationReady());
    bool downloading = model_->isDownloadingTranslation();
    updates::setVisible(packSpinner_, downloading);
    updates::setVisible(packConfirm_, downloading);
    // A pair this computer cannot translate has nothing to download; the
    // notice under the step says which pairs it can.
    updates::setVisible(packDownload_, !downloading && model_->translationSupported());

    // The virtual device, installed and of this build.
    bool needsUpdate = model_->virtualMicNeedsUpdate();
    steps_[3]->setDone(model_->virtualMicStatus() && !needsUpdate);
    updates::setText(install_, needsUpdate ? q(localized("更新")) : q(localized("安装")));

    // The microphone, allowed and confirmed by its check.
    steps_[4]->setDone(model_->micAuthorized() && model_->micConfirmed());

    // The far end can be heard. Where no permission guards that, it is
    // whether capture can start at all: a capture the sound server refused
    // leaves the step open. The permission cannot be observed, so it is asked
    // afresh on every refresh that something else brought about.
    const auto permission = model_->capturePermissionStatus();
    steps_[5]->setDone(permission != AudioCapturePermission::Status::denied && !model_->audioCaptureMissing()
                       && !model_->captureFailure() && !model_->listeningFailed());
}

}  // namespace parlaro::ui
