#pragma once

#include <ostream>

namespace parlaro::test {

// What the current thread did while inside a CountingScope: heap calls
// (malloc, calloc, realloc, aligned allocations, free; operator new and
// delete go through them) and lock calls (pthread_mutex_lock, and the
// condition signals that take the C library's internal lock).
struct RealTimeCounts {
    int allocations = 0;
    int frees = 0;
    int locks = 0;

    bool operator==(const RealTimeCounts&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const RealTimeCounts& c)
    {
        return out << c.allocations << " allocations, " << c.frees << " frees, " << c.locks << " locks";
    }
};

// Counts on this thread while it lives, as a real-time callback would run.
class CountingScope {
public:
    CountingScope();
    ~CountingScope();
    CountingScope(const CountingScope&) = delete;
    CountingScope& operator=(const CountingScope&) = delete;
};

// The counts on this thread since the last reset.
RealTimeCounts countsInside();
void resetCounts();

}  // namespace parlaro::test
