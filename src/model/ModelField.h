#pragma once

#include "runtime/Observable.h"

#include <functional>
#include <utility>

namespace parlaro {

class AppModel;
struct ModelTestAccess;

// An observable field of the model. Anyone may read and observe it; only the
// model stores into it, so every change a view makes goes through one of the
// model's named operations and a reader can find who changes what. Tests
// that need a state no operation reaches quickly store through
// ModelTestAccess, which says so where it is used.
template <class T>
class ModelField {
public:
    explicit ModelField(T initial = T{}, rt::ObservationHub* owner = nullptr) : value_(std::move(initial), owner) {}
    ModelField(const ModelField&) = delete;
    ModelField& operator=(const ModelField&) = delete;

    const T& get() const { return value_.get(); }
    const T& operator()() const { return value_.get(); }
    rt::Subscription subscribe(std::function<void()> observer) { return value_.subscribe(std::move(observer)); }
    const rt::ObservationHub& hub() const { return value_.hub(); }

private:
    friend class AppModel;
    friend struct ModelTestAccess;
    // True when the value changed.
    bool set(T value) { return value_.set(std::move(value)); }

    rt::Observable<T> value_;
};

}  // namespace parlaro
