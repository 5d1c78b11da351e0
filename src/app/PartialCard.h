#pragma once

#include "ui/CardBackground.h"

class QLabel;

namespace parlaro::app {

class CardTag;

// A live caption still being spoken: the tag, "正在说…" and the text in
// italics, the whole card faded to 0.75.
class PartialCard : public ui::Card {
    Q_OBJECT
public:
    explicit PartialCard(const QColor& tint, QWidget* parent = nullptr);

    void show(const QString& tag, const QString& text);
    QLabel* text() const { return text_; }
    QString tagText() const;
    static constexpr double opacity = 0.75;

private:
    CardTag* tag_;
    QLabel* speaking_;
    QLabel* text_;
};

}  // namespace parlaro::app
