#pragma once

#include "platform/AudioSystem.h"

#include <memory>

namespace parlaro::sys {

// The audio system the program runs on: the in-memory one when the
// environment variable PARLARO_AUDIO is "sim", the sound server otherwise.
// The caller installs it (AudioSystemScope) for as long as it lives.
std::unique_ptr<AudioSystem> makeAudioSystem();

}  // namespace parlaro::sys
