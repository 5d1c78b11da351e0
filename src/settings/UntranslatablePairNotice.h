#pragma once

#include <QWidget>

#include <memory>

class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class ViewBinding;
}

namespace parlaro::settings {

// Where setup offers the translation pack, what it says instead when this
// computer cannot translate the pair at all: which pairs it can, to choose
// with the language pickers. Hidden while the pair can be translated. Its
// text is named `name` + ".note".
class UntranslatablePairNotice : public QWidget {
    Q_OBJECT
public:
    UntranslatablePairNotice(std::shared_ptr<AppModel> model, const QString& name, double pixelSize,
                             QWidget* parent = nullptr);
    ~UntranslatablePairNotice() override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    QLabel* note_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
