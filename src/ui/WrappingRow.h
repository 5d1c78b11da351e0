#pragma once

#include <QWidget>

#include <vector>

namespace parlaro::ui {

// A row of controls that stands them one under another where the width it
// is given cannot hold them side by side at their natural widths, so a
// page in a wordy language grows downwards instead of scrolling sideways.
// Its least width is that of its widest control.
class WrappingRow : public QWidget {
    Q_OBJECT
public:
    explicit WrappingRow(QWidget* parent = nullptr);

    // `inColumn`: where the control stands on its own line once the row
    // wraps; none fills the width. `fills`: side by side, it takes what is
    // left of the row, as a stretch would.
    void addWidget(QWidget* widget, Qt::Alignment inColumn = {}, bool fills = false);
    // Takes what is left of the row here; nothing once it wraps.
    void addStretch();
    void setMargins(QMargins margins);
    void setSpacing(int spacing);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Part {
        QWidget* widget = nullptr;  // none: the stretch
        Qt::Alignment inColumn;
        bool fills = false;
    };
    bool fits(int width) const;
    int rowWidth() const;
    // What a row `width` wide leaves over the controls' natural widths.
    int spare(int width) const;
    void place();

    std::vector<Part> parts_;
    QMargins margins_;
    int spacing_ = 6;
};

}  // namespace parlaro::ui
