#pragma once

namespace parlaro::test {

// The bound on a real part's wait for an event (a server's readiness, a
// stream's first buffer, a process's exit): `seconds` stretched by how much
// slower this build runs under its sanitizers, and by PARLARO_TEST_PATIENCE
// (a factor) where a machine needs more. A busy machine stretches what takes
// milliseconds alone to seconds, so the seconds given are those only a hang
// runs out.
double patience(double seconds);

}  // namespace parlaro::test
