#pragma once

#include "runtime/Task.h"

namespace parlaro::sim {

// Takes `seconds` of virtual time the way a platform call takes time: the
// caller's cancellation does not cut it short. Returns at once for 0 or less.
rt::Async<void> simDelay(double seconds);

}  // namespace parlaro::sim
