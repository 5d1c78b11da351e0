// The hear test: records what the virtual microphone carries, judges whether
// anything was audible and plays the recording back on the headphones.

#include "model/AppModel.h"
#include "model/ModelTask.h"

#include "runtime/Error.h"
#include "runtime/Runtime.h"
#include "runtime/Sleep.h"
#include "speech/Localization.h"

#include <cmath>
#include <exception>

namespace parlaro {

namespace {

// The loudest recorded sample must be above this to count as heard.
constexpr float hearTestThreshold = 0.01f;

bool anythingHeard(const std::vector<float>& samples)
{
    for (const float sample : samples) {
        if (std::fabs(sample) > hearTestThreshold)
            return true;
    }
    return false;
}

}  // namespace

rt::Async<void> AppModel::startHearTest()
{
    if (!isIdle())
        co_return;
    const std::optional<AudioDevice> virtualMic = virtualMicDevice();
    const std::optional<AudioObjectId> virtualOutput = selectedVirtualOutputID.get();
    if (!virtualMic || !virtualOutput) {
        errorMessage.set(localized("没有找到 wenmora 音频设备，无法测试。请先安装。"));
        co_return;
    }
    const std::optional<AudioObjectId> monitorID = selectedMonitorOutputID.get();
    const auto monitor = findDevice(outputDevices.get(), monitorID);
    if (!monitor || !isPhysicalDevice(*monitor)) {
        errorMessage.set(localized("请先选择耳机或扬声器，用来回放测试录音。"));
        co_return;
    }
    // The test owns the probe's tap, the forwarder and the speaker until it
    // has put them back, however its caller ends.
    const std::shared_ptr<AppModel> self = shared_from_this();
    if (!micAuthorized.get()) {
        co_await requestMicPermission();
        // Another test or a playback may have begun while the user answered.
        if (!micAuthorized.get() || !isIdle())
            co_return;
    }
    const CallLanguage their = theirLanguage.get();
    std::optional<std::string> voice;
    if (!originalVoiceOn.get()) {
        voice = speakingVoiceID();
        if (!voice) {
            hearTest.set(HearTest::failed(localized("没有%@音色", their.displayName())));
            co_return;
        }
    }

    isHearTesting.set(true);
    updateMeters();
    co_await startOriginalVoice();
    hearTest.set(HearTest::recording());

    const std::shared_ptr<InputLevelTap> tap = probe->levelTap();
    const std::shared_ptr<SpeechPlaying> output = speaker;
    bool speaking = false;
    bool paused = false;
    std::exception_ptr failure;
    bool cancelled = false;
    try {
        tap->start(virtualMic->uid, virtualMic->inputChannels, std::nullopt);
        tap->beginRecording(hearTestSeconds + 8.0);
        if (originalVoiceOn.get()) {
            status.set(localized("请现在说几句话…"));
            co_await rt::sleepFor(hearTestSeconds);
        } else {
            status.set(localized("正在向虚拟麦克风播放%@测试语音…", their.displayName()));
            isSpeaking.set(true);
            speaking = true;
            const rt::Instant began = rt::clock().now();
            co_await output->speak(their.sample, std::vector<AudioObjectId>{*virtualOutput}, voice);
            // At least the test's length from the start of speaking; a longer
            // speech is recorded whole.
            const double remainder = hearTestSeconds - (rt::clock().now() - began);
            if (remainder > 0)
                co_await rt::sleepFor(remainder);
            isSpeaking.set(false);
            speaking = false;
        }

        InputLevelTap::Recording recording = tap->takeRecording();
        tap->stop();
        const bool heard = anythingHeard(recording.samples);
        hearTest.set(HearTest::playingBack(heard));

        // Speakers would carry the playback back into the microphone and on
        // to the other party.
        const auto monitorNow = findDevice(outputDevices.get(), monitorID);
        if (forwardingActive.get() && (!monitorNow || !monitorNow->isHeadphones())) {
            directVoice->stop();
            forwardingActive.set(false);
            paused = true;
            status.set(localized("回放期间暂停原声，避免音箱的声音传给对方…"));
        } else {
            status.set(localized("正在回放本机麦克风测试声音…"));
        }
        std::vector<PcmBuffer> buffers =
            InputLevelTap::makeBuffers(recording.samples, recording.sampleRate, recording.channels);
        if (!buffers.empty())
            co_await output->play(std::move(buffers), *monitorID);

        if (paused && originalVoiceOn.get())
            reapplyOriginalVoice();
        hearTest.set(heard ? HearTest::heard() : HearTest::silent());
        std::string verdict =
            heard ? localized("本机测试有声音；对方是否听到仍需通话确认") : localized("测试完成：没有检测到声音");
        if (paused)
            verdict += localized("（原声已恢复）");
        status.set(verdict);
    } catch (const rt::CancellationError&) {
        cancelled = true;
    } catch (...) {
        failure = std::current_exception();
    }

    if (cancelled || failure) {
        if (speaking)
            isSpeaking.set(false);
        if (paused && originalVoiceOn.get())
            reapplyOriginalVoice();
        tap->takeRecording();
        tap->stop();
        if (cancelled) {
            hearTest.set(HearTest::idle());
            status.set(localized("已停止测试"));
        } else {
            hearTest.set(HearTest::failed(describe(failure)));
            status.set(localized("测试失败"));
        }
    }

    isHearTesting.set(false);
    updateMeters();
    // Without a test running, forwarding goes on only for a call.
    spawnOnModel(weak_from_this(), [](AppModel& model) { return model.startOriginalVoice(); });
}

}  // namespace parlaro
