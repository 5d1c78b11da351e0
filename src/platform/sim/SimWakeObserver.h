#pragma once

#include "platform/WakeObserver.h"

#include <cstdint>
#include <map>
#include <memory>

namespace parlaro::sim {

// Wakes when the test says so. Main actor only.
class SimWakeObserver final : public WakeObserver {
public:
    SimWakeObserver();

    rt::Subscription subscribe(std::function<void()> onWake) override;

    // The machine woke: every subscriber is told on the main executor.
    void wake();
    std::size_t subscriberCount() const;

private:
    struct Subscribers {
        std::uint64_t next = 1;
        std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> entries;
    };
    std::shared_ptr<Subscribers> subscribers_;
};

}  // namespace parlaro::sim
