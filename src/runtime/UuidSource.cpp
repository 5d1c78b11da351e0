#include "runtime/UuidSource.h"

#include <array>

namespace parlaro::rt {

namespace {

RandomUuidSource randomSource;
std::atomic<UuidSource*> seat{nullptr};

}  // namespace

Uuid CountingUuidSource::next()
{
    const std::uint64_t n = ++count_;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < 8; ++i)
        bytes[15 - i] = static_cast<std::uint8_t>(n >> (8 * i));
    return Uuid(bytes);
}

Uuid newUuid()
{
    UuidSource* source = seat.load(std::memory_order_acquire);
    return source ? source->next() : randomSource.next();
}

UuidSourceScope::UuidSourceScope(UuidSource& source) : previous_(seat.exchange(&source, std::memory_order_acq_rel))
{
}

UuidSourceScope::~UuidSourceScope()
{
    seat.store(previous_, std::memory_order_release);
}

}  // namespace parlaro::rt
