#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace parlaro::ui {

// The grouped list of the settings and history pages: a small heading over
// a white rounded panel whose rows are stacked without spacing. Callers add
// rows (and dividers) to contentLayout().
class SidebarGroup : public QWidget {
    Q_OBJECT
public:
    explicit SidebarGroup(const QString& title = {}, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    QVBoxLayout* contentLayout() const { return content_; }
    QWidget* panel() const { return panel_; }

private:
    QLabel* title_;
    QWidget* panel_;
    QVBoxLayout* content_;
};

}  // namespace parlaro::ui
