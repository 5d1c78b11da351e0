#pragma once

namespace parlaro::ui {

// Whether views animate their changes. Widget tests turn it off, so every
// change shows at once and grabs never catch a frame in between (Qt's
// animations run on real time, not the runtime's clock).
namespace Motion {

bool enabled();
void setEnabled(bool enabled);

}  // namespace Motion
}  // namespace parlaro::ui
