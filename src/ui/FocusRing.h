#pragma once

#include <QFocusFrame>
#include <QPointer>
#include <QRectF>

namespace parlaro::ui {

// The one visible mark of the keyboard focus: a ring in the accent colour
// around the focused control, drawn over its neighbours so that controls
// painted by hand need not draw it themselves. It follows the shape of
// the control (a capsule for pills and the talk button).
//
// It shows while the keyboard is in use and on text fields always; after
// a click on a button it waits for the next key, as a mouse user knows
// where they clicked.
class FocusRing : public QFocusFrame {
    Q_OBJECT
public:
    // Starts following the focus of the application (once).
    static void install();
    // The control the ring is drawn around; null when none shows.
    static QWidget* shownAround();

    static constexpr double width = 2.0;

    // The outline the ring follows, in the control's coordinates, and its
    // corner radius.
    struct Shape {
        QRectF rect;
        double radius = 0.0;
    };
    static Shape shapeOf(const QWidget* control);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    explicit FocusRing(QWidget* control);
};

}  // namespace parlaro::ui
