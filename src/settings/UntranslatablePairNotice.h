#pragma once

#include <QWidget>

#include <memory>
#include <vector>

class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {
class PillButton;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// Where setup offers the translation pack, what it says instead when this
// computer cannot translate the pair at all: which pairs it can, and a
// button for each of the first few that switches the call to it (one side
// at a time could only pass through pairs that are refused). Hidden while
// the pair can be translated. Its parts are named `name` + ".note" and
// ".pair.<n>".
class UntranslatablePairNotice : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t pairButtons = 3;

    UntranslatablePairNotice(std::shared_ptr<AppModel> model, const QString& name, double pixelSize,
                             QWidget* parent = nullptr);
    ~UntranslatablePairNotice() override;

private:
    void refresh();

    std::shared_ptr<AppModel> model_;
    QLabel* note_;
    std::vector<ui::PillButton*> buttons_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
