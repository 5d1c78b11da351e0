#pragma once

#include <QColor>
#include <QLabel>

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

}  // namespace parlaro::app
