#pragma once

#include "ui/ViewBinding.h"

namespace parlaro::ui {

// Keeps the fonts' family order on the interface language's: the CJK family
// first under a Chinese interface, the desktop's first under any other,
// re-applied whenever the language changes.
class InterfaceFontFollower {
public:
    InterfaceFontFollower();

private:
    ViewBinding binding_;
};

}  // namespace parlaro::ui
