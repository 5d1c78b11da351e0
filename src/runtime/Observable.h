#pragma once

#include "runtime/Runtime.h"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
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
// Main actor only.
class ObservationHub {
    struct Observers;

public:
    // Notifies a hub's observers without touching the hub, which an
    // observer may destroy (a view closing itself and its model).
    class Notifier {
    public:
        void notify() const;

    private:
        friend class ObservationHub;
        explicit Notifier(std::shared_ptr<Observers> observers) : observers_(std::move(observers)) {}
        std::shared_ptr<Observers> observers_;
    };

    ObservationHub();
    ObservationHub(const ObservationHub&) = delete;
    ObservationHub& operator=(const ObservationHub&) = delete;

    Subscription subscribe(std::function<void()> observer);
    void notify() const;
    Notifier notifier() const { return Notifier(observers_); }
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

namespace detail {

template <class T>
struct IsOptional : std::false_type {
};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
};

// Equality as observation means it: two NaNs are the same stored value.
template <class T>
bool sameValue(const T& a, const T& b)
{
    if constexpr (std::is_floating_point_v<T>) {
        return a == b || (std::isnan(a) && std::isnan(b));
    } else if constexpr (IsOptional<T>::value) {
        if (a.has_value() != b.has_value())
            return false;
        return !a.has_value() || sameValue(*a, *b);
    } else {
        return a == b;
    }
}

}  // namespace detail

// An observable value. Storing an equal value (two NaNs count as equal) is
// silent; storing a different one notifies the field's observers, then its
// owner's, exactly once, after the store. The observers may destroy the
// field and its owner. Main actor only.
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
        assert(onMainActor() && "an observable field is set off the main actor");
        if (detail::sameValue(value_, value))
            return false;
        value_ = std::move(value);
        auto field = hub_.notifier();
        auto owner = owner_ ? std::optional(owner_->notifier()) : std::nullopt;
        field.notify();
        if (owner)
            owner->notify();
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

}  // namespace parlaro::rt
