#pragma once

#include "runtime/Uuid.h"

#include <atomic>
#include <cstdint>

namespace parlaro::rt {

// Where new identifiers come from: session ids, generation tokens, device
// and tap names. Every part of the program takes them through newUuid(), so
// a test can make them predictable. next() may be called from any thread.
class UuidSource {
public:
    virtual ~UuidSource() = default;
    virtual Uuid next() = 0;
};

// Random version 4 identifiers: the program's source.
class RandomUuidSource final : public UuidSource {
public:
    Uuid next() override { return Uuid::random(); }
};

// 00000000-0000-0000-0000-000000000001, then ...0002 and so on: for tests.
class CountingUuidSource final : public UuidSource {
public:
    Uuid next() override;
    // How many identifiers it has given.
    std::uint64_t count() const { return count_.load(); }

private:
    std::atomic<std::uint64_t> count_{0};
};

// The identifier the current source gives next (a random one unless a
// UuidSourceScope is filling the seat).
Uuid newUuid();

// Fills the process-wide seat with `source` for its lifetime and restores
// the previous one afterwards.
class UuidSourceScope {
public:
    explicit UuidSourceScope(UuidSource& source);
    ~UuidSourceScope();
    UuidSourceScope(const UuidSourceScope&) = delete;
    UuidSourceScope& operator=(const UuidSourceScope&) = delete;

private:
    UuidSource* previous_;
};

}  // namespace parlaro::rt
