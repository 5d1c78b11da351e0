#include "ui/Motion.h"

namespace parlaro::ui::Motion {

namespace {
bool animating = true;
}

bool enabled()
{
    return animating;
}

void setEnabled(bool enabled)
{
    animating = enabled;
}

}  // namespace parlaro::ui::Motion
