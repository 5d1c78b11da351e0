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
    // The text as drawn at the current width, a line break where it takes
    // a second line.
    QString shownText() const;
    // Up to two lines: a text too long for one wraps once, where its
    // language allows, and only the second line is cut.
    void setTwoLines(bool twoLines);
    // Whether the text as it stands needs the second line at `width`.
    bool needsTwoLines(int width) const;
    // Whether two lines of `width` hold the text whole.
    bool fitsTwoLines(int width) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // How much of the text its first line at `width` takes.
    int firstLineLength(int width) const;

    bool twoLines_ = false;
};

}  // namespace parlaro::app
