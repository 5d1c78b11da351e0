#pragma once

#include "model/ModelField.h"
#include "model/ModelTestAccess.h"

#include <utility>

namespace parlaro::test {

// Puts a model, or a part of it built alone, into a state no operation
// reaches quickly (a call already on, a sheet already showing, a download
// already done): stores the values through the writer the model hands to
// its parts, with no operation run. A state reads as one chain:
//
//     given.set(model.micConfirmed, true).set(model.showMicCheck, false);
//
// A reacting field takes no store here; its setter runs its reaction.
class ModelState {
public:
    template <class T, class V = T>
    const ModelState& set(ModelField<T>& field, V&& value) const
    {
        write_.set(field, std::forward<V>(value));
        return *this;
    }

private:
    FieldWriter write_ = ModelTestAccess::writer();
};

inline const ModelState given;

}  // namespace parlaro::test
