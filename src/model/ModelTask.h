#pragma once

#include "runtime/Task.h"

#include <memory>
#include <utility>

namespace parlaro {

// Starts one of the model's operations as a main-actor task: `start` makes
// the coroutine from the model (or from an object the model owns and that
// tasks hold as weakly, such as its session filing or its hold). The handle
// may be dropped; superseding, cancelling and reporting are the model's.
//
// The task holds the model only while `start` makes the coroutine, so it
// never keeps a released model alive, and it starts nothing when the model is
// gone before its first step. Releasing the model neither cancels nor ends an
// operation already suspended: the coroutine resumes when what it awaits
// comes back (or is destroyed with the executor), so every model coroutine
// re-checks its weak pointer after each suspension, or keeps the model itself
// where it must put back what it took.
template <class Model, class F>
rt::TaskHandle<> spawnOnModel(std::weak_ptr<Model> model, F start)
{
    return rt::spawn([weak = std::move(model), start = std::move(start)]() -> rt::Async<void> {
        auto self = weak.lock();
        if (!self)
            co_return;
        auto work = start(*self);
        self.reset();
        co_await std::move(work);
    });
}

template <class Model, class F>
rt::TaskHandle<> spawnOnModel(const std::shared_ptr<Model>& model, F start)
{
    return spawnOnModel(std::weak_ptr<Model>(model), std::move(start));
}

}  // namespace parlaro
