#pragma once

#include "runtime/Observable.h"

#include <functional>

namespace parlaro {

// Tells when the machine woke from sleep, so that whatever was running
// (a held press, a capture, timers measured on uptime) can be checked again.
class WakeObserver {
public:
    virtual ~WakeObserver() = default;

    // Calls `onWake` on the main executor once per wake, never inside the
    // call that noticed it, until the subscription is released.
    virtual rt::Subscription subscribe(std::function<void()> onWake) = 0;
};

}  // namespace parlaro
