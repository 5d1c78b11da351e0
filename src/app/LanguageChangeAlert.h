#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>

#include <memory>

class QWidget;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class ViewBinding;
}

namespace parlaro::app {

// "需要下载": asks whether to download what a language change needs. It is up
// while the model holds a pending change and no first-run wizard shows
// (the wizard handles its downloads itself). "下载" applies the change,
// "取消" keeps the languages, and any other way of closing it while the
// change is still pending keeps them too: one operation per answer.
class LanguageChangeAlert : public QObject {
    Q_OBJECT
public:
    LanguageChangeAlert(std::shared_ptr<AppModel> model, QWidget* host);
    ~LanguageChangeAlert() override;

    static QString message(const AppModel& model);
    // The alert on screen, or null.
    QMessageBox* box() const { return box_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* downloadButton() const { return download_; }

private:
    void refresh();
    void finished();

    std::shared_ptr<AppModel> model_;
    QPointer<QWidget> host_;
    QPointer<QMessageBox> box_;
    QPointer<QPushButton> cancel_;
    QPointer<QPushButton> download_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
