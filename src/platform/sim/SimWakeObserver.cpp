#include "platform/sim/SimWakeObserver.h"

#include "runtime/Runtime.h"

namespace parlaro::sim {

SimWakeObserver::SimWakeObserver() : subscribers_(std::make_shared<Subscribers>())
{
}

rt::Subscription SimWakeObserver::subscribe(std::function<void()> onWake)
{
    const std::uint64_t id = subscribers_->next++;
    subscribers_->entries.emplace(id, std::make_shared<std::function<void()>>(std::move(onWake)));
    std::weak_ptr<Subscribers> weak = subscribers_;
    return rt::Subscription([weak, id] {
        if (auto subscribers = weak.lock())
            subscribers->entries.erase(id);
    });
}

void SimWakeObserver::wake()
{
    std::weak_ptr<Subscribers> weak = subscribers_;
    for (const auto& [id, entry] : subscribers_->entries) {
        // One released before its turn is not called.
        rt::postToMain([weak, id = id] {
            auto subscribers = weak.lock();
            if (!subscribers)
                return;
            auto found = subscribers->entries.find(id);
            if (found == subscribers->entries.end())
                return;
            auto callback = found->second;
            (*callback)();
        });
    }
}

std::size_t SimWakeObserver::subscriberCount() const
{
    return subscribers_->entries.size();
}

}  // namespace parlaro::sim
