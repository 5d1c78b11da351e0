#pragma once

#include "history/ConversationEntry.h"
#include "history/DateFormats.h"
#include "ui/CardBackground.h"

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

    // The tags come from the current languages, not from the entry.
    void show(const ConversationEntry& entry, const std::string& theirTag, const std::string& myTag,
              const LocaleContext& locale);

    QLabel* original() const { return original_; }
    QLabel* translated() const { return translated_; }

private:
    CardTag* tag_;
    QLabel* time_;
    QLabel* original_;
    QLabel* translated_;
};

}  // namespace parlaro::app
