#pragma once

#include "ui/ViewBinding.h"

namespace parlaro::ui {

// Keeps the application's layout direction on the interface language's:
// right to left for Arabic, re-applied whenever the language changes.
class LayoutDirectionFollower {
public:
    LayoutDirectionFollower();

private:
    ViewBinding binding_;
};

}  // namespace parlaro::ui
