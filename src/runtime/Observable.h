#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace parlaro::rt {

// Removes its registration when released; move-only.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept
    {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset()
    {
        if (auto cancel = std::exchange(cancel_, {}))
            cancel();
    }
    explicit operator bool() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

// A set of observers notified together. Observers may subscribe or cancel
// from inside a notification; one cancelled during a round is not called.
class ObservationHub {
public:
    ObservationHub();
    ObservationHub(const ObservationHub&) = delete;
    ObservationHub& operator=(const ObservationHub&) = delete;

    Subscription subscribe(std::function<void()> observer);
    void notify() const;
    std::size_t observerCount() const;

    // Records this hub as read when an observation tracking scope is active.
    void noteAccess() const;

private:
    struct Observers {
        std::uint64_t nextId = 1;
        std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> entries;
    };
    std::shared_ptr<Observers> observers_;
};

// Runs `apply`, recording every observable it reads; the first later change
// of any of them calls `onChange` once. Returns what keeps the registration.
Subscription withObservationTracking(const std::function<void()>& apply, std::function<void()> onChange);

// An observable value. Storing an equal value is silent; storing a different
// one notifies the field's observers, then its owner's, exactly once, after
// the store.
template <class T>
class Observable {
public:
    explicit Observable(T initial = T{}, ObservationHub* owner = nullptr) : value_(std::move(initial)), owner_(owner) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const
    {
        hub_.noteAccess();
        return value_;
    }
    const T& operator()() const { return get(); }

    // True when the value changed.
    bool set(T value)
    {
        if (value_ == value)
            return false;
        value_ = std::move(value);
        hub_.notify();
        if (owner_)
            owner_->notify();
        return true;
    }

    Subscription subscribe(std::function<void()> observer) { return hub_.subscribe(std::move(observer)); }
    const ObservationHub& hub() const { return hub_; }

private:
    T value_;
    ObservationHub hub_;
    ObservationHub* owner_;
};

// Base for objects whose fields are observable together: subscribe() here
// hears a change of any field constructed with `this->changes()` as owner.
class ObservableObject {
public:
    Subscription subscribe(std::function<void()> observer) { return changes_.subscribe(std::move(observer)); }

protected:
    ObservationHub* changes() { return &changes_; }

private:
    ObservationHub changes_;
};

} // namespace parlaro::rt
