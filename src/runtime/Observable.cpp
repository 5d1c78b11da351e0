#include "runtime/Observable.h"

#include <cassert>
#include <set>

namespace parlaro::rt {

namespace {
thread_local std::vector<const ObservationHub*>* tracked = nullptr;
}

ObservationHub::ObservationHub() : observers_(std::make_shared<Observers>())
{
}

Subscription ObservationHub::subscribe(std::function<void()> observer)
{
    assert(onMainActor() && "an observer subscribed off the main actor");
    auto id = observers_->nextId++;
    observers_->entries.emplace(id, std::make_shared<std::function<void()>>(std::move(observer)));
    std::weak_ptr<Observers> weak = observers_;
    return Subscription([weak, id] {
        if (auto observers = weak.lock())
            observers->entries.erase(id);
    });
}

void ObservationHub::notify() const
{
    notifier().notify();
}

void ObservationHub::Notifier::notify() const
{
    assert(onMainActor() && "observers notified off the main actor");
    // Keep the set alive and take a snapshot: observers may change it.
    auto observers = observers_;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<std::function<void()>>>> round(observers->entries.begin(),
                                                                                        observers->entries.end());
    for (auto& [id, observer] : round) {
        if (observers->entries.count(id))
            (*observer)();
    }
}

std::size_t ObservationHub::observerCount() const
{
    return observers_->entries.size();
}

void ObservationHub::noteAccess() const
{
    if (tracked)
        tracked->push_back(this);
}

Subscription withObservationTracking(const std::function<void()>& apply, std::function<void()> onChange)
{
    std::vector<const ObservationHub*> reads;
    auto* previous = std::exchange(tracked, &reads);
    try {
        apply();
    } catch (...) {
        tracked = previous;
        throw;
    }
    tracked = previous;

    struct Shared {
        std::vector<Subscription> subscriptions;
        std::function<void()> onChange;
        bool fired = false;
    };
    auto shared = std::make_shared<Shared>();
    shared->onChange = std::move(onChange);
    std::weak_ptr<Shared> weak = shared;
    std::set<const ObservationHub*> unique(reads.begin(), reads.end());
    for (auto* hub : unique) {
        shared->subscriptions.push_back(const_cast<ObservationHub*>(hub)->subscribe([weak] {
            auto s = weak.lock();
            if (!s || s->fired)
                return;
            s->fired = true;
            auto callback = std::move(s->onChange);
            callback();
        }));
    }
    return Subscription([shared] { shared->subscriptions.clear(); });
}

}  // namespace parlaro::rt
