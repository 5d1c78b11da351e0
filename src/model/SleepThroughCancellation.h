#pragma once

#include "runtime/Task.h"

namespace parlaro {

// Waits `seconds` on the continuous clock whether or not the task is
// cancelled. For waits that pace a loop with a deadline of its own: an
// ordinary sleep in a cancelled task returns at once, and such a loop would
// spin until its deadline without time passing.
rt::Async<void> sleepThroughCancellation(double seconds);

}  // namespace parlaro
