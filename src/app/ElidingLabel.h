#pragma once

#include <QLabel>

namespace parlaro::app {

// A one-line label that gives way when its row runs short: it shrinks to a
// few characters and ends what no longer fits with "…", where a plain label
// would push its neighbours over each other.
class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as drawn at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace parlaro::app
