#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QKeyEvent;

namespace parlaro::app {

// Makes the quit item's key quit from every window of the application: a
// window's own shortcuts do not reach a dialog or a sheet in front of it, and
// the window is blocked while they are modal. The key is taken from the item
// each time, so a changed shortcut follows, and it runs the item itself, so
// every way of quitting is the same sequence.
class QuitShortcut : public QObject {
    Q_OBJECT
public:
    explicit QuitShortcut(QAction* quit, QObject* parent = nullptr);
    ~QuitShortcut() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool matches(const QKeyEvent& key) const;

    QPointer<QAction> quit_;
};

}  // namespace parlaro::app
