#pragma once

#include "ui/CardBackground.h"

#include <memory>
#include <vector>

class QLabel;

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

class PillButton;
class SectionTitle;
class SymbolView;
class ViewBinding;

// The amber checklist above the conversation: the four things a call
// needs, each ticked or with the one action that gets it done.
class SetupCard : public Card {
    Q_OBJECT
public:
    explicit SetupCard(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~SetupCard() override;

    // Short of room, the rows are drawn closer to each other and to the
    // card's edges.
    void setCompact(bool compact);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Row {
        SymbolView* mark = nullptr;
        QLabel* title = nullptr;
        QWidget* actions = nullptr;
    };
    Row addRow(const QString& name);
    void refresh();
    static void setDone(Row& row, bool done);

    std::shared_ptr<AppModel> model_;
    // The layout's own margins, before the card's room is added to them.
    QMargins edges_;
    bool compact_ = false;
    std::vector<Row> rows_;
    SectionTitle* title_ = nullptr;
    PillButton* grant_ = nullptr;
    QWidget* packSpinner_ = nullptr;
    QLabel* packConfirm_ = nullptr;
    PillButton* packDownload_ = nullptr;
    PillButton* install_ = nullptr;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
