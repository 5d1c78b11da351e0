#pragma once

#include "model/ModelField.h"
#include "model/ModelTestAccess.h"

#include <utility>

namespace parlaro::test {

// Puts a model, or a part of it built alone, into a state no operation
// reaches quickly, one chain a state: given.set(model.callActive, true)
// .set(model.showMicCheck, false). It stores through the writer the model
// hands to its parts; a reacting field takes no store here.
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
