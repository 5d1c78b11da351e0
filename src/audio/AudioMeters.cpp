#include "audio/AudioMeters.h"

#include "runtime/Error.h"
#include "runtime/Sleep.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace parlaro {

AudioMeters::AudioMeters() = default;

AudioMeters::~AudioMeters()
{
    poll_.cancel();
}

float AudioMeters::nextLevel(float level, float peak)
{
    const float loudness = (20.0f * std::log10(std::max(peak, 0.000001f)) + 60.0f) / 60.0f;
    // NaN samples (a broken device) read as silence.
    const float target = std::isnan(loudness) ? 0.0f : std::clamp(loudness, 0.0f, 1.0f);
    const float next = std::max(target, level - fallPerTick);
    if (std::fabs(next - level) < smallestChange && next != 0.0f) {
        return level;
    }
    return next;
}

std::optional<std::string> AudioMeters::configure(InputLevelTap& tap, const std::optional<AudioDevice>& device,
                                                  std::int64_t& ticks)
{
    if (!device || device->uid.empty() || device->inputChannels <= 0) {
        tap.stop();
        return std::nullopt;
    }
    const std::string key = device->uid + "#" + std::to_string(device->id);
    if (tap.deviceKey() == key) {
        return std::nullopt;
    }
    ticks = 0;
    try {
        tap.start(device->uid, device->inputChannels, key);
        return std::nullopt;
    } catch (const std::exception& error) {
        tap.stop();
        return describe(error);
    }
}

void AudioMeters::update(std::optional<AudioDevice> mic, std::optional<AudioDevice> virtualDevice)
{
    micDevice_ = std::move(mic);
    virtualDevice_ = std::move(virtualDevice);
    micError.set(configure(*micTap, micDevice_, micTicks_));
    configure(*virtualTap, virtualDevice_, virtualTicks_);
    if (!micTap->deviceUID() && !virtualTap->deviceUID()) {
        stop();
        return;
    }
    if (!isPolling()) {
        startPolling();
    }
}

void AudioMeters::startPolling()
{
    std::weak_ptr<AudioMeters> weak = weak_from_this();
    poll_ = rt::spawn([weak]() -> rt::Async<void> {
        for (;;) {
            if (auto meters = weak.lock()) {
                meters->poll();
            } else {
                co_return;
            }
            try {
                co_await rt::sleepFor(pollInterval);
            } catch (const rt::CancellationError&) {
                co_return;
            }
        }
    });
}

void AudioMeters::poll()
{
    ++micTicks_;
    ++virtualTicks_;
    if (micTicks_ >= healthCheckTicks) {
        micTicks_ = 0;
        if (micDevice_ && !micTap->isQueueRunning()) {
            micTap->stop();
            micError.set(configure(*micTap, micDevice_, micTicks_));
        }
    }
    if (virtualTicks_ >= healthCheckTicks) {
        virtualTicks_ = 0;
        if (virtualDevice_ && !virtualTap->isQueueRunning()) {
            virtualTap->stop();
            configure(*virtualTap, virtualDevice_, virtualTicks_);
        }
    }
    micLevel.set(nextLevel(micLevel.get(), micTap->takePeak()));
    virtualLevel.set(nextLevel(virtualLevel.get(), virtualTap->takePeak()));
}

void AudioMeters::stop()
{
    micDevice_.reset();
    virtualDevice_.reset();
    poll_.cancel();
    poll_ = {};
    micTap->stop();
    virtualTap->stop();
    micLevel.set(0.0f);
    virtualLevel.set(0.0f);
}

}  // namespace parlaro
