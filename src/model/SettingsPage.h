#pragma once

namespace parlaro {

// The pages of the settings view, in the order they are listed.
enum class SettingsPage { general, speaking, voice, virtualMic, history, updates, status };

}  // namespace parlaro
