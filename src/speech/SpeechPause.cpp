#include "speech/SpeechPause.h"

#include <algorithm>

namespace parlaro {

namespace {

constexpr double onsetTime = 0.08;
constexpr double minimumSpeech = 0.3;
constexpr double pauseTime = 0.5;
constexpr double longestSentence = 15.0;
// Levels at or below this are digital silence and say nothing about the
// room's noise.
constexpr double silenceLevel = -119.0;

}  // namespace

bool SpeechPause::feed(double levelDB, double seconds)
{
    const double threshold = std::clamp(floorDB_ + 10.0, -45.0, -33.0);
    // Speech stays alive down to 6 dB below the threshold; starting it, or
    // resuming it after a pause, takes the full threshold.
    const bool quiet = levelDB < threshold - 6.0;
    const bool loud = levelDB >= threshold;
    const double d = seconds;

    auto adaptFloor = [&] {
        if (!(levelDB > silenceLevel))
            return;
        // Falls fast, rises slowly, so speech barely lifts it.
        const double k = levelDB < floorDB_ ? 0.25 : 0.002;
        floorDB_ = std::clamp(floorDB_ + (levelDB - floorDB_) * k, -100.0, -20.0);
    };

    if (std::holds_alternative<Silence>(state_)) {
        adaptFloor();
        if (loud)
            state_ = Onset{d};
        return false;
    }
    if (const auto* onset = std::get_if<Onset>(&state_)) {
        if (quiet) {
            adaptFloor();
            state_ = Silence{};
        } else if (onset->loud + d < onsetTime) {
            state_ = Onset{onset->loud + d};
        } else {
            state_ = Speech{onset->loud + d};
        }
        return false;
    }
    if (const auto* speech = std::get_if<Speech>(&state_)) {
        if (quiet) {
            state_ = Hangover{speech->speech, d};
            return false;
        }
        if (speech->speech + d < longestSentence) {
            state_ = Speech{speech->speech + d};
            return false;
        }
        state_ = Silence{};
        return true;
    }
    const Hangover hangover = std::get<Hangover>(state_);
    if (loud) {
        // A short pause followed by speech counts as speech.
        state_ = Speech{hangover.speech + hangover.quiet + d};
        return false;
    }
    if (hangover.quiet + d < pauseTime) {
        state_ = Hangover{hangover.speech, hangover.quiet + d};
        return false;
    }
    state_ = Silence{};
    // A click or a cough is not a sentence.
    return hangover.speech >= minimumSpeech;
}

}  // namespace parlaro
