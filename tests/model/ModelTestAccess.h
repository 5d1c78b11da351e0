#pragma once

#include "model/ModelField.h"

#include <utility>

namespace parlaro {

// Stores into a model field directly, for a test that sets up a state no
// operation reaches quickly (a call that is already on, a sheet already
// showing). Product code changes the model through its operations only.
struct ModelTestAccess {
    template <class T, class V = T>
    static bool set(ModelField<T>& field, V&& value)
    {
        return field.set(T(std::forward<V>(value)));
    }
};

}  // namespace parlaro
