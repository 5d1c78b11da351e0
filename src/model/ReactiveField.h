#pragma once

#include "runtime/Observable.h"

#include <functional>
#include <utility>

namespace parlaro {

class AppModel;

// An observable field of the model whose every store runs a reaction. Anyone
// may read and observe it; only the model stores into it, through the setter
// that runs the reaction, so no write can skip it.
template <class T>
class ReactiveField {
public:
    ReactiveField(T initial, rt::ObservationHub* owner) : value_(std::move(initial), owner) {}
    ReactiveField(const ReactiveField&) = delete;
    ReactiveField& operator=(const ReactiveField&) = delete;

    const T& get() const { return value_.get(); }
    const T& operator()() const { return value_.get(); }
    rt::Subscription subscribe(std::function<void()> observer) { return value_.subscribe(std::move(observer)); }
    const rt::ObservationHub& hub() const { return value_.hub(); }

private:
    friend class AppModel;
    // True when the value changed.
    bool store(T value) { return value_.set(std::move(value)); }

    rt::Observable<T> value_;
};

}  // namespace parlaro
