#pragma once

#include "audio/DevicePlayer.h"
#include "audio/FarEndActivity.h"
#include "audio/SpeechPlaying.h"
#include "platform/SpeechSynthesizer.h"
#include "runtime/Continuation.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parlaro {

// Turns a translated sentence into speech with a synthesis voice and plays it
// on one or more output devices at once (the virtual microphone, and the
// headphones when the user wants to hear it too).
//
// Main actor. Create with std::make_shared: tasks keep it while they run.
class Speaker : public SpeechPlaying, public std::enable_shared_from_this<Speaker> {
public:
    // How long rendering may take.
    static constexpr double renderTimeout = 20.0;
    // The synthesizer's normal pace; the application speaks a little slower.
    static constexpr float defaultRate = 0.5f;
    // Silence the synthesizer adds after each utterance.
    static constexpr double postUtteranceDelay = 0.1;

    // farEnd receives what the players play on real devices, so that the
    // echo gate reading it knows the program's own voice; required
    // (std::invalid_argument without one).
    Speaker(SpeechSynthesizer& synthesizer, std::shared_ptr<FarEndActivity> farEnd);
    // On the process-wide synthesizer.
    explicit Speaker(std::shared_ptr<FarEndActivity> farEnd);
    ~Speaker() override;
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;

    float rate() const { return rate_; }
    void setRate(float rate) { rate_ = rate; }
    std::int64_t generation() const { return generation_; }

    using SpeechPlaying::speak;
    // Renders under the 20 s deadline ("生成翻译语音", TTS-3), then plays on
    // each distinct device at once and waits for all of them. The first
    // player's error is rethrown once every player has ended. An empty
    // device list renders and returns.
    rt::Async<void> speak(std::string text, std::vector<AudioObjectId> devices,
                          std::optional<std::string> voiceIdentifier) override;
    // The rendered buffers in the standard float format, possibly none.
    rt::Async<std::vector<PcmBuffer>> render(std::string text, std::optional<std::string> voiceIdentifier);
    rt::Async<void> play(std::vector<PcmBuffer> buffers, AudioObjectId deviceID) override;
    // Ends rendering and playback at once; a speak in flight throws a
    // cancellation error. Does not wait.
    void stop() override;

    // The player for a device, made on first use and kept.
    std::shared_ptr<DevicePlayer> player(AudioObjectId deviceID);
    // True while no stop has happened since `generation` was read and the
    // speaker still exists.
    DevicePlayer::CurrentCheck isCurrentPlayback(std::int64_t generation);

private:
    class RenderState;

    std::shared_ptr<RenderState> beginRender();
    rt::Async<std::vector<PcmBuffer>> renderInto(std::shared_ptr<RenderState> state, std::string text,
                                                 std::optional<std::string> voiceIdentifier);
    void endRender(const std::shared_ptr<RenderState>& state);

    SpeechSynthesizer& synthesizer_;
    std::shared_ptr<FarEndActivity> farEnd_;
    std::map<AudioObjectId, std::shared_ptr<DevicePlayer>> players_;
    // Renders under way. Speaks may overlap, so each keeps its own state and
    // ends only that one.
    std::vector<std::shared_ptr<RenderState>> rendering_;
    std::int64_t generation_ = 0;
    float rate_ = defaultRate;
};

}  // namespace parlaro
