#pragma once

#include <QColor>
#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace parlaro::ui {
class StatusDot;
}

namespace parlaro::app {

// A coloured dot and a short text saying one thing's state. Short of room
// the badge gives way as a whole: the dot goes with the text (a trailing
// part alone stays), to be read in the tooltip and heard through the
// accessible name, never cut to a fragment or left as a bare dot.
class HeaderBadge : public QWidget {
    Q_OBJECT
public:
    explicit HeaderBadge(QWidget* parent = nullptr);

    // Touches the widgets only where they differ.
    void setState(const QColor& dot, const QString& text);
    QColor dotColor() const;
    QString text() const;
    // The text's label, for a badge that draws its text in another style.
    QLabel* label() const { return label_; }
    // A part drawn after the text, kept when the text gives way.
    void addTrailing(QWidget* part);

    // Asks for the dot alone (the header decides which badges give way).
    void setCompact(bool compact);
    bool isCompact() const { return compact_; }
    // Whether the text is drawn: not compact, and given its whole width.
    bool showsText() const;
    // The width with the text and the width of the dot alone.
    int fullWidth() const;
    int compactWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int trailingWidth() const;
    void syncLabel();

    QHBoxLayout* row_;
    ui::StatusDot* dot_;
    QLabel* label_;
    bool compact_ = false;
};

}  // namespace parlaro::app
