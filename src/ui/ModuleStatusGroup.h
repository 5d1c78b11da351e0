#pragma once

#include "speech/ModuleError.h"
#include "ui/SidebarGroup.h"

#include <vector>

namespace parlaro::ui {

// The status page's list of modules and how ready each one is.
class ModuleStatusGroup : public SidebarGroup {
    Q_OBJECT
public:
    explicit ModuleStatusGroup(QWidget* parent = nullptr);

    // Rebuilds the rows only when the reports differ from those shown.
    void setReports(const std::vector<ModuleReport>& reports);

    // The widest a state grows before it wraps: the rows' titles are short,
    // and a narrow state breaks a script without spaces into shreds.
    static constexpr int stateWidth = 230;

private:
    std::vector<ModuleReport> reports_;
};

}  // namespace parlaro::ui
