#pragma once

#include "model/AppModel.h"
#include "runtime/Task.h"

#include <memory>
#include <utility>

namespace parlaro::app {

// Starts one of the model's asynchronous operations as a main-actor task and
// drops the handle: superseding, cancelling and reporting are the model's.
// The task holds the model weakly and does nothing once it is gone.
template <class F>
void startModelTask(const std::shared_ptr<AppModel>& model, F operation)
{
    rt::spawn([weak = std::weak_ptr<AppModel>(model), operation = std::move(operation)]() -> rt::Async<void> {
        if (auto self = weak.lock())
            co_await operation(*self);
    });
}

}  // namespace parlaro::app
