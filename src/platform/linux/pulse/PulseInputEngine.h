#pragma once

#include "platform/AudioInputEngine.h"
#include "platform/linux/pulse/PulseHostClock.h"
#include "platform/linux/pulse/PulseStreamHost.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parlaro::sys {

// A microphone engine on a record stream. Without a chosen device it follows
// the default input: when the default moves, the engine stops and tells its
// observers, as when its device goes away. Tap buffers are cut on the
// engine's own thread, in the input's rate and channel count. Failing calls
// throw DomainError("AudioEngine", status, ...).
class PulseInputEngine final : public AudioInputEngine, public std::enable_shared_from_this<PulseInputEngine> {
public:
    explicit PulseInputEngine(std::shared_ptr<PulseStreamHost> host);
    ~PulseInputEngine() override;

    void setInputDevice(AudioObjectId device) override;
    AudioFormat inputFormat() const override;
    void installTap(std::uint32_t bufferFrames, const AudioFormat& format, AudioTapBlock block) override;
    void removeTap() override;
    void prepare() override;
    void start() override;
    void stop() override;
    bool isRunning() const override;
    AudioListenerToken observeConfigurationChanges(AudioCallbackQueue queue, std::function<void()> onChange) override;

    // The default input changed (the audio system calls this).
    void defaultInputChanged();
    // Keeps the audio system's registration for as long as the engine lives.
    void keep(AudioListenerToken token) { defaultWatch_ = std::move(token); }

private:
    struct Observer {
        AudioCallbackQueue queue;
        std::function<void()> onChange;
        bool alive = true;
    };

    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onState(pa_stream* stream, void* self);
    void closeLocked();
    void run();
    // Hands the next `frames` of the ring to the tap, without the lock.
    void handOn(std::unique_lock<std::mutex>& lock, std::uint32_t frames);
    void changed();

    const std::shared_ptr<PulseStreamHost> host_;
    mutable std::mutex mutex_;
    std::string deviceUID_;      // empty: follows the default input
    std::string recordingName_;  // the source the stream reads
    AudioTapBlock tap_;
    std::uint32_t tapFrames_ = 0;
    std::optional<AudioFormat> tapFormat_;
    AudioFormat streamFormat_{0, 0, SampleType::float32, true};
    bool running_ = false;
    bool lost_ = false;
    bool ending_ = false;
    // The stop came from outside the tap: what the ring holds past the last
    // whole buffer goes to the tap before the thread ends.
    bool handsOnRest_ = false;
    std::vector<float> ring_;
    std::size_t written_ = 0;  // floats
    std::size_t read_ = 0;
    PulseHostClock clock_;
    std::condition_variable wake_;
    std::thread thread_;
    std::vector<std::shared_ptr<Observer>> observers_;
    AudioListenerToken defaultWatch_;

    pa_stream* stream_ = nullptr;  // under the loop lock
};

}  // namespace parlaro::sys
