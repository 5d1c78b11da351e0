// The microphone check and the switch of the user's own voice.

#include "model/AppModel.h"

#include "speech/Localization.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace parlaro {

namespace {

// How long the check listens for the words it asks for, from when the
// microphone is chosen in it.
constexpr double checkListening = 30.0;
// Kept around the words: a press, too, begins and ends with a little quiet.
constexpr double quietAround = 0.3;

// The stretch of the recording that holds the words said into the
// microphone (from a little before the first loud moment to a little after
// the last), as one buffer; none when nothing was said.
std::optional<PcmBuffer> wordsOf(const InputLevelTap::Recording& heard)
{
    const std::size_t channels = std::max<std::uint32_t>(heard.channels, 1);
    const std::size_t frames = heard.samples.size() / channels;
    float loudest = 0;
    for (const float sample : heard.samples)
        loudest = std::max(loudest, std::fabs(sample));
    // Speech, against the room it is said in: a tenth of the loudest, and
    // never what the meters show as silence.
    const float threshold = std::max(loudest / 10, 0.01f);
    std::optional<std::size_t> first;
    std::size_t last = 0;
    for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < channels; ++c)
            if (std::fabs(heard.samples[f * channels + c]) >= threshold) {
                first = first.value_or(f);
                last = f;
            }
    if (!first)
        return std::nullopt;
    const auto around = static_cast<std::size_t>(quietAround * heard.sampleRate);
    const std::size_t begin = *first > around ? *first - around : 0;
    const std::size_t end = std::min(frames, last + 1 + around);
    const std::vector<float> words(heard.samples.begin() + static_cast<std::ptrdiff_t>(begin * channels),
                                   heard.samples.begin() + static_cast<std::ptrdiff_t>(end * channels));
    return InputLevelTap::recordingBuffer(words, static_cast<std::uint32_t>(channels), heard.sampleRate);
}

// Recognizes what was said in the check as a press from that microphone
// would, so that the recognizer learns how the microphone sounds before the
// first press: the text is not wanted. A failure costs only that lesson.
rt::Async<void> teach(std::shared_ptr<RecognitionSession> session, PcmBuffer words)
{
    try {
        co_await session->start([](const std::string&, bool) {}, [](const ModuleError&) {});
        session->append(std::make_shared<const PcmBuffer>(std::move(words)));
        co_await session->finish();
    } catch (...) {
    }
}

}  // namespace

rt::Async<void> AppModel::enableMeters()
{
    if (!micAuthorized.get()) {
        const std::weak_ptr<AppModel> weak = weak_from_this();
        const auto ask = microphonePermission;
        const bool granted = co_await ask();
        if (weak.expired())
            co_return;
        micAuthorized.set(granted);
    }
    refreshDevices();
    metersEnabled.set(true);
    updateMeters();
}

void AppModel::closeMicCheck()
{
    meterPreviewMicID.set(std::nullopt);
    micCheckReason.set(std::nullopt);
    showMicCheck.set(false);
    updateMeters();
}

void AppModel::previewMicrophone(std::optional<AudioObjectId> id)
{
    meterPreviewMicID.set(id);
    updateMeters();
    // What the user says into it from now on teaches recognition the
    // microphone, once it is confirmed.
    if (showMicCheck.get() && id && meters->micDevice() && meters->micDevice()->id == *id)
        meters->micTap->beginRecording(checkListening);
}

rt::Async<void> AppModel::confirmMicrophone(AudioObjectId id)
{
    if (!findDevice(inputDevices.get(), id)) {
        errorMessage.set(localized("这个麦克风已断开，请重新选择。"));
        co_return;
    }
    std::optional<PcmBuffer> words;
    if (meters->micDevice() && meters->micDevice()->id == id)
        words = wordsOf(meters->micTap->finishRecording());
    const bool changed = selectedInputID.get() != id;
    setSelectedInputID(id);
    micConfirmed.set(true);
    closeMicCheck();
    const auto device = findDevice(inputDevices.get(), selectedInputID.get());
    status.set(localized("已确认麦克风：%@", device ? device->name : std::string()));
    // A model still missing fails the session's start, which costs only
    // the lesson.
    if (words && device && myEngine.get()) {
        auto session =
            makeRecognitionSession(myLanguage.get().speechLocale, *myEngine.get(), RecognitionMode::utterance);
        if (session) {
            // The name a press from this microphone gives it.
            session->nameInput(device->uid);
            rt::spawn([session, words = std::move(*words)]() mutable { return teach(session, std::move(words)); });
        }
    }

    if (changed && originalVoiceOn.get()) {
        // Own voice follows the new microphone.
        stopForwarding();
        co_await setOriginalVoice(true);
    } else if (originalVoiceOnByDefault.get() && !originalVoiceAutoStarted.get() && !originalVoiceOn.get()) {
        originalVoiceAutoStarted.set(true);
        co_await setOriginalVoice(true);
    }
}

rt::Async<void> AppModel::setOriginalVoice(bool on)
{
    if (on == originalVoiceOn.get() || isChangingOriginalVoice.get())
        co_return;
    const std::string their = theirLanguage.get().displayName();
    if (!on) {
        stopForwarding();
        status.set(localized("原声已关闭：对方只听到%@翻译", their));
        co_return;
    }
    if (!micConfirmed.get()) {
        openMicCheck(localized("开启原声前，请先确认要用的麦克风。"));
        co_return;
    }
    isChangingOriginalVoice.set(true);
    const auto output = findDevice(outputDevices.get(), selectedVirtualOutputID.get());
    if (!findDevice(inputDevices.get(), selectedInputID.get()) || !output || !isOwnDevice(*output)) {
        errorMessage.set(localized("请先确认麦克风，并确认 wenmora 音频设备已安装。"));
        isChangingOriginalVoice.set(false);
        co_return;
    }

    const std::weak_ptr<AppModel> weak = weak_from_this();
    try {
        co_await requestMicPermission();
        if (weak.expired())
            co_return;
        if (!micAuthorized.get()) {
            isChangingOriginalVoice.set(false);
            co_return;
        }
        originalVoiceOn.set(true);
        co_await startOriginalVoice();
    } catch (...) {
        // A switch cut short must not leave the next one refused for good.
        if (!weak.expired())
            isChangingOriginalVoice.set(false);
        throw;
    }
    if (weak.expired())
        co_return;
    // A start that failed has switched own voice off and said why.
    if (!originalVoiceOn.get()) {
        isChangingOriginalVoice.set(false);
        co_return;
    }
    if (!callActive.get())
        status.set(localized("原声已开启：通话时自动转发你的声音"));
    else if (!translateWhileHolding.get())
        status.set(localized("原声已开启：对方先听到你说的%@，松开按钮后再听到%@", myLanguage.get().displayName(),
                             theirLanguage.get().displayName()));
    else
        status.set(localized("原声已开启：对方听到你说的%@，每说完一句再听到%@", myLanguage.get().displayName(),
                             theirLanguage.get().displayName()));
    isChangingOriginalVoice.set(false);
}

}  // namespace parlaro
