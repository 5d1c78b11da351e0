#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

class ViewBinding;

// The one error alert: shows the model's errorMessage over `host` while
// `active` says so, and clears the message when the user acknowledges or
// dismisses it. The start-up sheet keeps one over itself; the window keeps
// one that is active while no sheet is up, so only the top-most surface
// ever shows the alert. A message cleared or replaced by the model closes
// or updates the alert without clearing anything. The alert waits for its
// host to be on screen, so that it never comes up behind it, and takes the
// keyboard when it shows, unless a hold is under way: then it takes it when
// the hold ends.
class ErrorAlert : public QObject {
    Q_OBJECT
public:
    ErrorAlert(std::shared_ptr<AppModel> model, QWidget* host, std::function<bool()> active);
    ~ErrorAlert() override;

    // The alert on screen, or null.
    QMessageBox* box() const { return box_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void takeFocus();
    void finished();

    std::shared_ptr<AppModel> model_;
    QPointer<QWidget> host_;
    std::function<bool()> active_;
    QPointer<QMessageBox> box_;
    bool focusOwed_ = false;
    bool awaitingHost_ = false;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
