#include "audio/MicCapture.h"

#include "platform/AudioSystem.h"
#include "runtime/Error.h"
#include "speech/Localization.h"

#include <utility>

namespace parlaro {

namespace {

// What the user reads when a restart fails. An error of the program's own
// is in their words; the engine's text is a bare status code, which tells
// them nothing, so the sentence then stands alone.
std::string restartFailureText(const std::exception& error)
{
    const auto* own = dynamic_cast<const Error*>(&error);
    const auto* coded = dynamic_cast<const DomainError*>(&error);
    if (!own || (coded && coded->domain() == "AudioEngine"))
        return localized("麦克风在录音时断开或发生变化");
    return localized("麦克风在录音时断开或发生变化（%@）", own->localizedDescription());
}

}  // namespace

void MicCapture::start(std::optional<AudioObjectId> deviceID, BufferHandler onBuffer, FailureHandler onFailure)
{
    stop();
    auto engine = startEngine(deviceID, onBuffer);
    engine_ = engine;
    observe(engine, 0, deviceID, std::move(onBuffer), std::move(onFailure));
}

void MicCapture::stop()
{
    observer_.release();
    if (auto engine = std::exchange(engine_, nullptr)) {
        // Stopped with its tap: the engine hands on what it heard since its
        // last whole buffer, the end of a press's last word.
        engine->stop();
        engine->removeTap();
    }
}

std::shared_ptr<AudioInputEngine> MicCapture::startEngine(std::optional<AudioObjectId> deviceID,
                                                          const BufferHandler& onBuffer)
{
    auto engine = audioSystem().makeInputEngine();
    if (deviceID)
        engine->setInputDevice(*deviceID);
    const AudioFormat format = engine->inputFormat();
    if (!(format.sampleRate > 0) || format.channelCount == 0)
        throw DomainError("Parlaro", 12, localized("麦克风当前不可用"));
    engine->installTap(tapFrames, format, [onBuffer](std::shared_ptr<PcmBuffer> buffer, const AudioTimeStamp& time) {
        std::optional<double> start;
        if (time.hasHostTime())
            start = time.hostSeconds();
        onBuffer(std::move(buffer), start);
    });
    engine->prepare();
    try {
        engine->start();
    } catch (...) {
        engine->removeTap();
        throw;
    }
    return engine;
}

void MicCapture::observe(const std::shared_ptr<AudioInputEngine>& engine, int attempt,
                         std::optional<AudioObjectId> deviceID, BufferHandler onBuffer, FailureHandler onFailure)
{
    std::weak_ptr<MicCapture> weak = weak_from_this();
    std::weak_ptr<AudioInputEngine> watched = engine;
    observer_ = engine->observeConfigurationChanges(
        AudioCallbackQueue::main(),
        [weak, watched, attempt, deviceID, onBuffer = std::move(onBuffer), onFailure = std::move(onFailure)] {
            auto self = weak.lock();
            auto changed = watched.lock();
            if (self && changed)
                self->restartAfterChange(changed, attempt, deviceID, onBuffer, onFailure);
        });
}

void MicCapture::restartAfterChange(const std::shared_ptr<AudioInputEngine>& changed, int attempt,
                                    std::optional<AudioObjectId> deviceID, const BufferHandler& onBuffer,
                                    const FailureHandler& onFailure)
{
    // Only the running engine's changes count, and only those that stopped it.
    if (!engine_ || engine_ != changed || changed->isRunning())
        return;
    // The handlers are copied out first: stop() ends the registration that
    // owns them.
    const BufferHandler buffers = onBuffer;
    const FailureHandler failed = onFailure;
    stop();
    if (attempt >= restartLimit) {
        if (failed)
            failed(localized("麦克风在录音时反复发生变化"));
        return;
    }
    try {
        auto engine = startEngine(deviceID, buffers);
        engine_ = engine;
        observe(engine, attempt + 1, deviceID, buffers, failed);
    } catch (const std::exception& error) {
        if (failed)
            failed(restartFailureText(error));
    }
}

}  // namespace parlaro
