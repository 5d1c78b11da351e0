#pragma once

#include "runtime/ManualRuntime.h"
#include "runtime/Task.h"

#include <optional>
#include <stdexcept>
#include <utility>

namespace parlaro::test {

// Spawns `body` and runs the executor until idle; returns the handle so a
// test can inspect the outcome.
template <class F>
auto runTask(rt::ManualRuntime& runtime, F body)
{
    auto handle = rt::spawn(std::move(body));
    runtime.runUntilIdle();
    return handle;
}

}  // namespace parlaro::test
