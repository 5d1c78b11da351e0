#pragma once

#include "platform/AudioInputEngine.h"
#include "platform/sim/SimAudioCore.h"

#include <memory>
#include <mutex>
#include <optional>

namespace parlaro::sim {

// An input engine of the sim. It reads its device's format and signal from
// the sim; a test delivers tap buffers and fires configuration changes.
// Failures come from the sim's rules on the engine's id (engineSetInputDevice
// with the device as object, engineInputFormat, engineStart) and are thrown
// as DomainError("AudioEngine", status, "audio engine error <status>").
class SimInputEngine final : public AudioInputEngine, public std::enable_shared_from_this<SimInputEngine> {
public:
    SimInputEngine(std::weak_ptr<SimAudioCore> core, AudioObjectId id);

    void setInputDevice(AudioObjectId device) override;
    AudioFormat inputFormat() const override;
    void installTap(std::uint32_t bufferFrames, const AudioFormat& format, AudioTapBlock block) override;
    void removeTap() override;
    void prepare() override;
    void start() override;
    void stop() override;
    bool isRunning() const override;
    AudioListenerToken observeConfigurationChanges(AudioCallbackQueue queue, std::function<void()> onChange) override;

    // What a test looks at and does.
    AudioObjectId id() const { return id_; }
    // The device set on the engine; nullopt while it follows the default.
    std::optional<AudioObjectId> inputDevice() const;
    bool hasTap() const;
    // The tap was still there at the last stop, to take what the real
    // engines hand on from the part buffer they hold.
    bool tappedAtStop() const;
    std::uint32_t tapBufferFrames() const;
    std::optional<AudioFormat> tapFormat() const;
    std::size_t observerCount() const;
    // One tap buffer of `frames` (the tap's size when 0) from the device's
    // signal, stamped with the current host time unless told otherwise.
    // False when the engine is not running or has no tap.
    bool deliver(std::uint32_t frames = 0, bool hostTimeValid = true);
    // The audio configuration changed; `stopsEngine` says whether the change
    // stopped the engine. Observers run on their queues.
    void changeConfiguration(bool stopsEngine);

    // The address under which configuration observers are registered.
    static constexpr AudioPropertyAddress configurationAddress{AudioSelectors::inputEngineConfiguration};

private:
    [[noreturn]] static void throwStatus(AudioStatus status);

    std::weak_ptr<SimAudioCore> core_;
    const AudioObjectId id_;
    mutable std::mutex mutex_;
    std::optional<AudioObjectId> device_;
    AudioTapBlock tap_;
    std::uint32_t tapFrames_ = 0;
    std::optional<AudioFormat> tapFormat_;
    bool running_ = false;
    bool tappedAtStop_ = false;
    double framesDelivered_ = 0;
};

}  // namespace parlaro::sim
