#pragma once

#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/Task.h"

#include <memory>
#include <string>
#include <utility>

namespace parlaro::test {

// How an asynchronous call ended, as its caller sees it.
struct Outcome {
    bool finished = false;
    bool cancelled = false;
    std::string error;  // empty: success
    double at = 0;      // continuous-clock seconds
};

// Spawns `call` (a callable returning rt::Async<void>) and records how and
// when it ends.
template <class Call>
std::pair<std::shared_ptr<Outcome>, rt::TaskHandle<>> track(Call call)
{
    auto outcome = std::make_shared<Outcome>();
    auto handle = rt::spawn([call = std::move(call), outcome]() mutable -> rt::Async<void> {
        try {
            co_await call();
        } catch (const rt::CancellationError&) {
            outcome->cancelled = true;
        } catch (const Error& error) {
            outcome->error = error.localizedDescription();
        }
        outcome->finished = true;
        outcome->at = rt::clock().now().seconds();
    });
    return {outcome, handle};
}

}  // namespace parlaro::test
