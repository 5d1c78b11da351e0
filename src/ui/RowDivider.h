#pragma once

#include <QWidget>

namespace parlaro::ui {

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

}  // namespace parlaro::ui
