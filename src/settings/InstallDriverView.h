#pragma once

#include <QWidget>

#include <memory>

class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

class PillButton;
class ViewBinding;

// The sheet's page that installs or updates the virtual audio device. It
// shows what the model says and starts the model's installation; the sheet
// closes when the model clears its request.
class InstallDriverView : public QWidget {
    Q_OBJECT
public:
    explicit InstallDriverView(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~InstallDriverView() override;

    // The page's title, which also names the sheet.
    static QString title(const AppModel& model);

    PillButton* installButton() const { return install_; }

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    QLabel* title_ = nullptr;
    QLabel* explanation_ = nullptr;
    QWidget* spinner_ = nullptr;
    PillButton* later_ = nullptr;
    PillButton* install_ = nullptr;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
