#include "Patience.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace parlaro::test {

namespace {

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr double sanitizerSlowdown = 4;
#elif __has_feature(address_sanitizer)
constexpr double sanitizerSlowdown = 2;
#else
constexpr double sanitizerSlowdown = 1;
#endif
#else
constexpr double sanitizerSlowdown = 1;
#endif

double machineFactor()
{
    const char* value = std::getenv("PARLARO_TEST_PATIENCE");
    const double factor = value ? std::atof(value) : 1.0;
    return factor >= 1.0 ? factor : 1.0;
}

}  // namespace

double patience(double seconds)
{
    static const double factor = sanitizerSlowdown * machineFactor();
    return seconds * factor;
}

bool waitUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(patience(seconds));
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace parlaro::test
