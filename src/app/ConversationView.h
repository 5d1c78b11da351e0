#pragma once

#include "history/DateFormats.h"
#include "runtime/Uuid.h"
#include "ui/ViewBinding.h"

#include <QScrollArea>

#include <map>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QVBoxLayout;
class QVariantAnimation;

namespace parlaro {
class AppModel;
}

namespace parlaro::app {

class PartialCard;
class TranscriptCard;

// The scrolling middle of the call screen: a card per entry, the live
// captions of both sides below them, and a hint while nothing was said.
// Cards are kept per entry id and updated in place; the view follows the
// newest content.
class ConversationView : public QScrollArea {
    Q_OBJECT
public:
    explicit ConversationView(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~ConversationView() override;

    // Times are shown in this locale and zone (the system's when empty).
    void setLocaleContext(LocaleContext context);

    // The card of an entry; null when it has none.
    TranscriptCard* cardFor(const rt::Uuid& id) const;
    int cardCount() const { return static_cast<int>(cards_.size()); }
    PartialCard* themPartial() const { return themPartial_; }
    PartialCard* mePartial() const { return mePartial_; }
    QWidget* hint() const { return hint_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    // Fits the hint into the view: the room above it and then its symbol
    // give way where the view is short, so its words stay in sight.
    void fitHint();
    void placeCards();
    void scrollToBottom(bool animated);

    std::shared_ptr<AppModel> model_;
    LocaleContext locale_;
    QWidget* content_;
    QVBoxLayout* column_;
    QWidget* hint_;
    QVBoxLayout* hintColumn_;
    QWidget* hintSymbol_;
    QLabel* hintTitle_;
    QLabel* hintDetail_;
    std::map<rt::Uuid, TranscriptCard*> cards_;
    PartialCard* themPartial_;
    PartialCard* mePartial_;
    QVariantAnimation* scrollAnimation_ = nullptr;
    bool followEnd_ = false;
    std::optional<std::size_t> shownEntryCount_;
    std::string shownThemPartial_;
    std::string shownMePartial_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
