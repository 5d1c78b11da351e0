#pragma once

#include "history/ConversationEntry.h"
#include "history/DateFormats.h"
#include "ui/CardBackground.h"

#include <optional>
#include <string>

class QLabel;

namespace parlaro::app {

class CardTag;

// One entry of the conversation: the side tag and the time, the original
// in small type and the translation large. Both texts can be selected.
// Updated in place, so a late translation keeps the selection.
class TranscriptCard : public ui::Card {
    Q_OBJECT
public:
    explicit TranscriptCard(QWidget* parent = nullptr);

    // `sideTag` ("对方 EN", "我 中") is made by the list, which knows the
    // languages the entry was spoken in and the ones now set.
    void show(const ConversationEntry& entry, const QString& sideTag, const LocaleContext& locale);

    QLabel* original() const { return original_; }
    QLabel* translated() const { return translated_; }

protected:
    // A double click on a cut text shows its next screenful.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showTexts();

    CardTag* tag_;
    // The time as last formatted: every caption refresh shows every card
    // again, and a formatter is costly to make.
    struct ShownTime {
        rt::Date time;
        LocaleContext locale;
    };
    std::optional<ShownTime> shownTime_;
    QLabel* time_;
    QLabel* original_;
    QLabel* translated_;
    // The texts whole; the labels show a screenful of them at first (see
    // ui::screenfulsOf).
    std::string originalText_;
    std::string translatedText_;
    qsizetype screenfuls_ = 1;
};

}  // namespace parlaro::app
