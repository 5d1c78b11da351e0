#pragma once

#include <QColor>
#include <QWidget>

namespace parlaro::ui {
class StatusDot;
}

namespace parlaro::app {

class ElidingLabel;

// A coloured dot and a short text saying one thing's state.
class HeaderBadge : public QWidget {
    Q_OBJECT
public:
    explicit HeaderBadge(QWidget* parent = nullptr);

    // Touches the widgets only where they differ.
    void setState(const QColor& dot, const QString& text);
    QColor dotColor() const;
    QString text() const;

private:
    ui::StatusDot* dot_;
    ElidingLabel* label_;
};

}  // namespace parlaro::app
