#pragma once

#include <functional>

namespace parlaro::test {

// The bound on a real part's wait for an event (a server's readiness, a
// stream's first buffer, a process's exit): `seconds` stretched by how much
// slower this build runs under its sanitizers, and by PARLARO_TEST_PATIENCE
// (a factor) where a machine needs more. A busy machine stretches what takes
// milliseconds alone to seconds, so the seconds given are those only a hang
// runs out.
double patience(double seconds);

// Polls `done` every 2 ms; true when it came true, false once
// patience(seconds) ran out: only a hang reaches the default.
bool waitUntil(const std::function<bool()>& done, double seconds = 30.0);

}  // namespace parlaro::test
