#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QHBoxLayout;
class QLabel;

namespace parlaro::ui {

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
    void addTrailing(QWidget* widget);

protected:
    void changeEvent(QEvent* event) override;

private:
    void alignTextsWithLayout();

    QLabel* label_;
    QLabel* detail_;
    QHBoxLayout* trailing_;
};

}  // namespace parlaro::ui
