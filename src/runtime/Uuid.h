#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace parlaro::rt {

// A 128-bit identifier. Text form is the canonical 8-4-4-4-12 hex in upper
// case, which is also how history files name sessions.
class Uuid {
public:
    Uuid() = default;  // all zero
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();  // version 4
    // Accepts upper or lower case hex in canonical form; nullopt otherwise.
    static std::optional<Uuid> parse(std::string_view text);

    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace parlaro::rt

template <>
struct std::hash<parlaro::rt::Uuid> {
    std::size_t operator()(const parlaro::rt::Uuid& id) const noexcept;
};
