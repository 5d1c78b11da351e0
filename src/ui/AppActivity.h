#pragma once

#include "runtime/Observable.h"

#include <functional>

namespace parlaro::ui {

// Tells when the application stops being the active one (the user switched
// to another program). A seam so that tests can deactivate at will.
class AppActivity {
public:
    virtual ~AppActivity() = default;
    // `onResign` runs on the main thread each time the application goes
    // inactive, until the subscription is released.
    virtual rt::Subscription subscribeResignActive(std::function<void()> onResign) = 0;

    // The running application's activity (Qt's application state).
    static AppActivity& application();
};

// Deactivation on demand, for tests.
class ManualAppActivity final : public AppActivity {
public:
    rt::Subscription subscribeResignActive(std::function<void()> onResign) override
    {
        return hub_.subscribe(std::move(onResign));
    }
    void resignActive() { hub_.notify(); }
    std::size_t observerCount() const { return hub_.observerCount(); }

private:
    rt::ObservationHub hub_;
};

}  // namespace parlaro::ui
