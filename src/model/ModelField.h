#pragma once

#include "runtime/Observable.h"

#include <functional>
#include <utility>

namespace parlaro {

class AppModel;
class FieldWriter;
struct ModelTestAccess;

// How the model stores into a field: directly, or only through a setter of
// its own that runs the field's reaction after the store.
enum class FieldStore { direct, reacting };

// An observable field of the model. Anyone may read and observe it; only the
// model stores into it, itself or through the FieldWriter it hands to the
// parts it owns, so every change a view makes goes through one of the
// model's named operations and a reader can find who changes what.
//
// A direct field is stored with set(); tests that need a state no operation
// reaches quickly store through a writer ModelTestAccess makes for them. A
// reacting field (ReactiveField) has store() instead, which only the
// model's setter for that field calls, so no write, not even a test's, can
// skip the reaction.
template <class T, FieldStore kind = FieldStore::direct>
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
    friend class FieldWriter;
    // True when the value changed.
    bool set(T value) requires(kind == FieldStore::direct) { return value_.set(std::move(value)); }
    bool store(T value) requires(kind == FieldStore::reacting) { return value_.set(std::move(value)); }

    rt::Observable<T> value_;
};

template <class T>
using ReactiveField = ModelField<T, FieldStore::reacting>;

// Stores into direct fields for a part the model owns (its session filing,
// its hold). Only the model makes one, and hands it to those parts when it
// makes them, so the writers of a field are the model and what it owns.
class FieldWriter {
public:
    // True when the value changed.
    template <class T, class V = T>
    bool set(ModelField<T>& field, V&& value) const
    {
        return field.set(T(std::forward<V>(value)));
    }

private:
    friend class AppModel;
    friend struct ModelTestAccess;
    FieldWriter() = default;
};

}  // namespace parlaro
