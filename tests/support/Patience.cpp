#include "Patience.h"

#include <cstdlib>

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

}  // namespace parlaro::test
