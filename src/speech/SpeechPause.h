#pragma once

#include <variant>

namespace parlaro {

// Decides from audio levels alone when a spoken sentence has ended. It keeps
// an adaptive noise floor, puts the speech threshold 10 dB above it (within
// [-45, -33] dB) and requires an onset of 0.08 s before counting speech,
// 0.3 s of speech before a pause can end it, and a 0.5 s pause; 15 s of
// speech without a pause ends a sentence too.
//
// A plain value without a lock: the owner serializes the calls. Safe on
// audio threads (no allocation).
class SpeechPause {
public:
    struct Onset {
        double loud;  // the loud time so far
        bool operator==(const Onset&) const = default;
    };
    struct Speech {
        double speech;  // the speech time so far
        bool operator==(const Speech&) const = default;
    };
    struct Hangover {
        double speech;  // speech time before the pause
        double quiet;   // quiet time so far
        bool operator==(const Hangover&) const = default;
    };
    struct Silence {
        bool operator==(const Silence&) const = default;
    };
    using State = std::variant<Onset, Speech, Hangover, Silence>;

    // Advances by one window of `seconds` at `levelDB` (dB full scale).
    // True exactly when this window ends a sentence; the detector is then
    // back in silence, so each sentence is reported once.
    bool feed(double levelDB, double seconds);

    const State& state() const { return state_; }
    double floorDB() const { return floorDB_; }

private:
    State state_ = Silence{};
    double floorDB_ = -70.0;
};

}  // namespace parlaro
