#include "app/ContentView.h"

#include "app/ConversationView.h"
#include "app/DraftPanel.h"
#include "app/FooterView.h"
#include "app/HeaderView.h"
#include "app/LanguageBar.h"
#include "app/LanguageChangeAlert.h"
#include "app/SetupCard.h"
#include "model/AppModel.h"
#include "model/ModelTask.h"
#include "platform/SpeechSynthesizer.h"
#include "settings/ErrorAlert.h"
#include "settings/SettingsView.h"
#include "settings/StartupSheet.h"
#include "settings/UpdateModel.h"
#include "ui/AppActivity.h"
#include "ui/GroupNotice.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/StatusDot.h"
#include "ui/Text.h"
#include "ui/ViewBinding.h"
#include "ui/WidgetUpdates.h"

#include <QEvent>
#include <QLayout>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <stdexcept>

namespace parlaro::app {

namespace updates = ui::updates;

namespace {

QVBoxLayout* column(QWidget* widget)
{
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

}  // namespace

ContentView::ContentView(std::shared_ptr<AppModel> model, std::shared_ptr<settings::UpdateModel> updates,
                         Services services, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), updates_(std::move(updates)), services_(services)
{
    setObjectName(QStringLiteral("content"));
    setMinimumSize(minimumWidth, minimumHeight);
    if (!services_.activity)
        services_.activity = &ui::AppActivity::application();

    background_ = new ui::AppBackground(this);
    background_->setObjectName(QStringLiteral("content.background"));
    column(this)->addWidget(background_);
    stack_ = new QStackedLayout(background_);
    stack_->setContentsMargins(0, 0, 0, 0);

    callScreen_ = new QWidget(background_);
    callScreen_->setObjectName(QStringLiteral("callScreen"));
    auto* call = column(callScreen_);
    header_ = new HeaderView(
        model_, [model = model_.get(), updates = updates_.get()] { return attentionPage(*model, *updates); },
        callScreen_);
    call->addWidget(header_);
    call->addWidget(new ui::Hairline(false, callScreen_));
    call->addWidget(header_->languageBar()->pickNote());

    auto* middle = new QWidget(callScreen_);
    middle_ = middle;
    middle->setObjectName(QStringLiteral("callScreen.middle"));
    auto* inner = column(middle);
    setupBox_ = new QWidget(middle);
    setupBox_->setObjectName(QStringLiteral("callScreen.setup"));
    column(setupBox_)->setContentsMargins(setupPadding, setupPadding, setupPadding, 0);
    setupCard_ = new ui::SetupCard(model_, setupBox_);
    setupBox_->layout()->addWidget(setupCard_);
    inner->addWidget(setupBox_);
    historyBox_ = new QWidget(middle);
    historyBox_->setObjectName(QStringLiteral("callScreen.historyNotice"));
    column(historyBox_)->setContentsMargins(setupPadding, setupPadding, setupPadding, 0);
    historyNotice_ = new ui::GroupNotice(QString(), ui::Palette::amber(), std::nullopt, historyBox_);
    historyBox_->layout()->addWidget(historyNotice_);
    historyBox_->hide();
    inner->addWidget(historyBox_);
    conversation_ = new ConversationView(model_, middle);
    // Short of height, the conversation gives way and scrolls, never the
    // cards above and below it, which would be cut.
    conversation_->setMinimumHeight(1);
    inner->addWidget(conversation_, 1);
    draftBox_ = new QWidget(middle);
    draftBox_->setObjectName(QStringLiteral("callScreen.draft"));
    column(draftBox_)->setContentsMargins(setupPadding, 0, setupPadding, setupPadding);
    draftPanel_ = new DraftPanel(model_, draftBox_);
    draftBox_->layout()->addWidget(draftPanel_);
    inner->addWidget(draftBox_);
    call->addWidget(middle, 1);
    middle->installEventFilter(this);

    call->addWidget(new ui::Hairline(false, callScreen_));
    footer_ = new FooterView(model_, services_.shortcuts, callScreen_);
    footer_->setAppActivity(services_.activity);
    call->addWidget(footer_);
    stack_->addWidget(callScreen_);

    // Observers.
    activation_ = services_.activity->subscribeBecomeActive([this] { activationRefresh(); });
    SpeechSynthesizer* synthesizer = services_.synthesizer;
    if (!synthesizer) {
        try {
            synthesizer = &speechSynthesizer();
        } catch (const std::logic_error&) {
            // No synthesizer: no voices to follow.
        }
    }
    if (synthesizer)
        voices_ = synthesizer->observeVoicesChanged([this] { model_->refreshVoices(); });

    // Presentations, the sheet first; the window's error alert stands aside
    // while the sheet is up, since the sheet shows errors itself.
    sheet_ = new ui::StartupSheet(model_, this);
    languageAlert_ = new LanguageChangeAlert(model_, this);
    errorAlert_ = new ui::ErrorAlert(model_, this, [model = model_.get()] { return !model->isShowingSheet(); });

    binding_ = std::make_unique<ui::ViewBinding>([this] { refresh(); });
}

bool ContentView::eventFilter(QObject* watched, QEvent* event)
{
    // Weighed once the pass under way has laid the middle out.
    if (watched == middle_ && event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(
            this, [this] { fitDraft(); }, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void ContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Below the window's usual least height the cards above the
    // conversation draw their rows closer and stand closer to each other,
    // so that under them the empty call's message keeps its heading in
    // sight and its body where it can.
    const bool compact = height() < ContentView::minimumHeight;
    setupCard_->setCompact(compact);
    const int padding = compact ? setupPadding / 3 : setupPadding;
    for (QWidget* box : {setupBox_, historyBox_})
        if (box->layout()->contentsMargins().top() != padding)
            box->layout()->setContentsMargins(setupPadding, padding, setupPadding, 0);
}

void ContentView::fitDraft()
{
    // However long a draft grows, a conversation with captions keeps a
    // third of the window: the draft's fields show fewer lines and scroll
    // the rest. A sentence of the usual length is read whole before it is
    // played all the same: for it the conversation gives up its third down
    // to the end of its last caption, and scrolls. An empty one has
    // nothing to keep, and gives all its room to the draft.
    int room = middle_->height();
    for (QWidget* box : {setupBox_, historyBox_})
        if (!box->isHidden())
            room -= box->height();
    const QMargins margins = draftBox_->layout()->contentsMargins();
    room -= margins.top() + margins.bottom();
    const int shared = room - (conversationEmpty_ ? 0 : (height() + 2) / 3);
    const int forSentence = room - (conversationEmpty_ ? 0 : leastConversation);
    draftPanel_->setRoom(std::max(1, shared), std::max(1, forSentence));
}

ContentView::~ContentView()
{
    binding_.reset();
    activation_.reset();
    voices_.reset();
}

std::optional<SettingsPage> ContentView::attentionPage(const AppModel& model, const settings::UpdateModel& updates)
{
    for (SettingsPage page : settings::SettingsView::pages) {
        if (settings::SettingsView::needsAttention(page, model, updates))
            return page;
    }
    return std::nullopt;
}

bool ContentView::needsSetup(const AppModel& model)
{
    return !(model.speechReady() && model.translationReady() && model.selectedVirtualOutputID().has_value()
             && model.micAuthorized() && model.virtualMicStatus() && !model.virtualMicNeedsUpdate());
}

void ContentView::activationRefresh()
{
    model_->refreshMicAuthorization();
    model_->refreshVoices();
    model_->checkDriverUpdate();
    // Not kept: a later activation starts its own, and both may overlap.
    spawnOnModel(model_, [](AppModel& model) { return model.recheckCapturePermission(); });
}

void ContentView::refresh()
{
    const Qt::LayoutDirection direction = ui::Look::layoutDirection();
    if (layoutDirection() != direction)
        setLayoutDirection(direction);
    // The meters come alive while the microphone is checked: that sheet
    // stands above them wherever the window has the room. Every other
    // sheet stays centred on the window.
    if (sheet_->dialog()) {
        const bool checking = !model_->showInstallSheet() && model_->showMicCheck();
        sheet_->dialog()->keepInSight(checking ? footer_->statusRow() : nullptr);
    }

    const auto page = model_->settingsPage();
    if (page && !settingsView_) {
        settingsView_ = new settings::SettingsView(model_, updates_, services_.shortcuts, background_);
        settingsView_->setObjectName(QStringLiteral("settingsView"));
        stack_->addWidget(settingsView_);
        stack_->setCurrentWidget(settingsView_);
        settingsView_->setFocus();
    } else if (!page && settingsView_) {
        stack_->setCurrentWidget(callScreen_);
        stack_->removeWidget(settingsView_);
        settingsView_->hide();
        // Its own key press may be what brought us here.
        settingsView_->deleteLater();
        settingsView_ = nullptr;
    }

    updates::setVisible(setupBox_, needsSetup(*model_));
    updates::setVisible(draftBox_, model_->hasDraft());
    const bool empty = model_->entries().empty() && model_->themPartial().empty() && model_->mePartial().empty();
    if (empty != conversationEmpty_) {
        conversationEmpty_ = empty;
        fitDraft();
    }
    const auto& historyNotice = model_->historyNotice();
    if (historyNotice && historyNotice_->text() != ui::q(*historyNotice))
        historyNotice_->setNotice(ui::q(*historyNotice), ui::Palette::amber(), std::nullopt);
    updates::setVisible(historyBox_, historyNotice.has_value());
}

}  // namespace parlaro::app
