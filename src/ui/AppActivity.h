#pragma once

#include "runtime/Observable.h"

#include <functional>

namespace parlaro::ui {

// Tells when the application stops being the active one (the user switched
// to another program) and when it becomes active again. A seam so that tests
// can switch at will.
class AppActivity {
public:
    virtual ~AppActivity() = default;
    // `onResign` runs on the main thread each time the application goes
    // inactive, until the subscription is released.
    virtual rt::Subscription subscribeResignActive(std::function<void()> onResign) = 0;
    // `onBecome` runs on the main thread each time the application becomes
    // the active one.
    virtual rt::Subscription subscribeBecomeActive(std::function<void()> onBecome) = 0;

    // The running application's activity (Qt's application state).
    static AppActivity& application();
};

// Activity switched on demand, for tests.
class ManualAppActivity final : public AppActivity {
public:
    rt::Subscription subscribeResignActive(std::function<void()> onResign) override
    {
        return resign_.subscribe(std::move(onResign));
    }
    rt::Subscription subscribeBecomeActive(std::function<void()> onBecome) override
    {
        return become_.subscribe(std::move(onBecome));
    }
    void resignActive() { resign_.notify(); }
    void becomeActive() { become_.notify(); }
    std::size_t observerCount() const { return resign_.observerCount() + become_.observerCount(); }

private:
    rt::ObservationHub resign_;
    rt::ObservationHub become_;
};

}  // namespace parlaro::ui
