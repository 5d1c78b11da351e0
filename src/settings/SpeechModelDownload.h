#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class PillButton;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// The controls of the speech-model download wherever setup asks for it:
// the progress with its percentage while a download runs, "下载" while a
// model is missing, or why this computer cannot recognise the language.
// Its parts are named `name` + ".progress", ".percent", ".download" and
// ".unsupported".
class SpeechModelDownload : public QWidget {
    Q_OBJECT
public:
    SpeechModelDownload(std::shared_ptr<AppModel> model, const QString& name, int progressWidth,
                        QWidget* parent = nullptr);
    ~SpeechModelDownload() override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    QProgressBar* progress_;
    QLabel* percent_;
    ui::PillButton* download_;
    QLabel* unsupported_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
