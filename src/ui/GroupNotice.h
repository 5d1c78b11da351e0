#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;

namespace parlaro::ui {

class PillButton;
class SymbolView;

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

}  // namespace parlaro::ui
