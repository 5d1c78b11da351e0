#pragma once

#include <QComboBox>

#include <optional>

namespace parlaro::ui {

// A picker of call languages whose items read "name  ·  state". Closed, it
// shows the chosen language's name alone and is as wide as that name needs
// (never narrower than the width it is given), so no name is cut in any
// interface language; the chosen item's state is its tooltip. The open list
// shows every item whole, state included.
//
// The tooltip (and so what a screen reader hears of the picker) follows
// the current index through its change signal: setting the index with the
// picker's signals blocked would leave it describing another language. A
// pick in the open list is described as it is made: the list gives the
// focus back before the index changes, and a screen reader reads the
// picker then.
class LanguagePicker : public QComboBox {
    Q_OBJECT
public:
    explicit LanguagePicker(int width, QWidget* parent = nullptr);

    // What an item's text holds between the name and the readiness state.
    static constexpr const char* separator = "  ·  ";
    // The name part of an item's text.
    static QString nameOf(const QString& label);

    // The text on the closed picker.
    QString shownText() const { return nameOf(currentText()); }
    // The room the closed picker gives its text.
    QRect textRect() const;

    // Short of room the picker is only as wide as its name needs.
    void setSnug(bool snug);
    bool isSnug() const { return snug_; }
    // The width with its floor, and the width the name alone needs.
    int fullWidth() const;
    int snugWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void showPopup() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void itemsChanged();
    void syncToolTip();
    void describe(const QString& label);

    int width_;
    bool snug_ = false;
    // The label of a pick made in the open list, until it lands.
    std::optional<QString> picking_;
};

}  // namespace parlaro::ui
