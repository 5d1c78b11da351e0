#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

namespace parlaro::ui {
class StatusDot;
}

namespace parlaro::app {

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
    QLabel* label_;
};

}  // namespace parlaro::app
