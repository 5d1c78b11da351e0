#pragma once

#include "speech/ModuleError.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QHBoxLayout;
class QVBoxLayout;

namespace parlaro::ui {

class PillButton;
class SymbolView;

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

// One row: a label, an optional detail under it, and trailing controls at
// the far end. Texts wrap to the width they are given.
class SidebarRow : public QWidget {
    Q_OBJECT
public:
    explicit SidebarRow(const QString& label = {}, std::optional<QString> detail = std::nullopt,
                        QWidget* parent = nullptr);

    void setLabel(const QString& label);
    // None hides the detail line.
    void setDetail(const std::optional<QString>& detail);
    QLabel* labelWidget() const { return label_; }
    QLabel* detailWidget() const { return detail_; }
    // Trailing controls, in reading order.
    QHBoxLayout* trailingLayout() const { return trailing_; }
    void addTrailing(QWidget* widget);

private:
    QLabel* label_;
    QLabel* detail_;
    QHBoxLayout* trailing_;
};

// A hairline between rows, indented at the leading side to line up with
// the row texts.
class RowDivider : public QWidget {
    Q_OBJECT
public:
    explicit RowDivider(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {24, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A coloured note inside a group, with an optional button at its end.
class GroupNotice : public QWidget {
    Q_OBJECT
public:
    struct Action {
        QString title;
        std::function<void()> run;
    };

    GroupNotice(const QString& text, const QColor& color, std::optional<Action> action = std::nullopt,
                QWidget* parent = nullptr);

    void setNotice(const QString& text, const QColor& color, std::optional<Action> action);
    QString text() const;
    QColor color() const { return color_; }
    // Null without an action.
    PillButton* button() const { return button_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
    SymbolView* symbol_;
    QLabel* text_;
    QHBoxLayout* layout_;
    PillButton* button_ = nullptr;
    std::function<void()> run_;
};

// The status page's list of modules and how ready each one is.
class ModuleStatusGroup : public SidebarGroup {
    Q_OBJECT
public:
    explicit ModuleStatusGroup(QWidget* parent = nullptr);

    // Rebuilds the rows only when the reports differ from those shown.
    void setReports(const std::vector<ModuleReport>& reports);

    static constexpr int stateWidth = 150;

private:
    std::vector<ModuleReport> reports_;
    bool built_ = false;
};

} // namespace parlaro::ui
