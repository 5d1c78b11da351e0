#pragma once

#include <QColor>
#include <QLabel>

class QHBoxLayout;
class QVBoxLayout;

namespace parlaro::ui {
class Card;
}

namespace parlaro::app {

// A side tag ("对方 EN"): semibold 10 px text in the tint's text colour.
// With a capsule, it sits on the tint at 0.12 opacity.
class CardTag : public QLabel {
    Q_OBJECT
public:
    explicit CardTag(bool capsule, QWidget* parent = nullptr);
    void setTint(const QColor& tint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool capsule_;
    QColor tint_;
};

// The layout every conversation card shares: a column packed at the top of
// the list (spare height goes below the last card) inside the card's glow
// margin, and an empty header row for the tag and what stands beside it.
struct CardColumn {
    QVBoxLayout* column;
    QHBoxLayout* header;
};
CardColumn makeCardColumn(ui::Card& card);

}  // namespace parlaro::app
