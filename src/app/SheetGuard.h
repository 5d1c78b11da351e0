#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class QWidget;

namespace parlaro::app {

// Keeps the window's sheets (the start-up sheet, alerts, message boxes and
// file dialogs opened over it) in front of it and its input away from it,
// without the toolkit's own window modality: a window blocked that way
// never hears the close its title bar or the desktop asks for, so the
// program could not be closed while a sheet was up. A sheet is a dialog
// marked window-modal whose parent is in the window; it stays marked so,
// for whoever looks for the sheets.
class SheetGuard : public QObject {
    Q_OBJECT
public:
    explicit SheetGuard(QWidget* window);
    ~SheetGuard() override;

    // The sheet in front, if any is up.
    QWidget* sheetUp() const;
    // Whether `widget` is a sheet of `window`.
    static bool isSheetOf(const QWidget* widget, const QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool inWindow(QObject* watched) const;

    QPointer<QWidget> window_;
    std::vector<QPointer<QWidget>> sheets_;
};

}  // namespace parlaro::app
