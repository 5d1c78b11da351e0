#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace parlaro::keycodes {

// Stored shortcut key codes (the codes that saved shortcuts and every label
// table use) against Linux input-event codes. An X keycode is the input-event
// code plus 8.
struct Row {
    std::uint16_t code;
    std::uint16_t evdev;
};

std::span<const Row> table();
std::optional<std::uint16_t> toEvdev(std::uint32_t code);
std::optional<std::uint16_t> fromEvdev(std::uint32_t evdev);

inline constexpr std::uint32_t xKeycodeOffset = 8;

}  // namespace parlaro::keycodes
