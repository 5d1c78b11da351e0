#include "platform/sim/SimSpeechSynthesizer.h"

#include "runtime/Clock.h"
#include "runtime/Runtime.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <numbers>

namespace parlaro::sim {

struct SimSpeechSynthesizer::State {
    struct Render {
        BufferCallback onBuffer;
        std::vector<PcmBuffer> buffers;
        bool fails = false;
    };

    mutable std::mutex mutex;
    std::vector<SynthesisVoice> voices;
    Behavior behavior = Behavior::speak;
    double renderDelay = 0;
    std::exception_ptr failure;
    AudioFormat format{.sampleRate = 22050, .channelCount = 1, .sampleType = SampleType::float32, .interleaved = false};
    double secondsPerCharacter = 0.06;
    std::size_t framesPerBuffer = 2205;

    std::vector<Utterance> utterances;
    std::vector<RenderID> stopped;
    std::size_t stopSpeakingCount = 0;
    RenderID nextID = 1;
    std::map<RenderID, Render> pending;

    std::size_t frames(std::string_view text) const
    {
        std::size_t codePoints = 0;
        for (unsigned char c : text) {
            if ((c & 0xC0) != 0x80) {
                ++codePoints;
            }
        }
        return static_cast<std::size_t>(std::llround(double(codePoints) * secondsPerCharacter * format.sampleRate));
    }

    std::vector<PcmBuffer> tone(std::string_view text) const
    {
        std::vector<PcmBuffer> out;
        const std::size_t total = frames(text);
        const std::size_t step = std::max<std::size_t>(framesPerBuffer, 1);
        for (std::size_t start = 0; start < total; start += step) {
            const std::size_t count = std::min(step, total - start);
            PcmBuffer buffer(format, count);
            buffer.setFrameLength(count);
            for (std::size_t f = 0; f < count; ++f) {
                const double t = double(start + f) / format.sampleRate;
                const auto value = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440.0 * t));
                for (std::uint32_t c = 0; c < format.channelCount; ++c) {
                    buffer.setFloatSample(f, c, value);
                }
            }
            out.push_back(std::move(buffer));
        }
        return out;
    }

    static void deliver(const std::weak_ptr<State>& weak, RenderID id)
    {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        Render render;
        {
            std::lock_guard lock(self->mutex);
            auto it = self->pending.find(id);
            if (it == self->pending.end()) {
                return;
            }
            render = std::move(it->second);
            self->pending.erase(it);
        }
        for (const auto& buffer : render.buffers) {
            render.onBuffer(buffer);
        }
        if (render.fails) {
            render.onBuffer(renderFailureMark());
            return;
        }
        PcmBuffer end(self->format, 0);
        render.onBuffer(end);
    }
};

SimSpeechSynthesizer::SimSpeechSynthesizer() : state_(std::make_shared<State>()), scope_(*this)
{
}

SimSpeechSynthesizer::~SimSpeechSynthesizer() = default;

void SimSpeechSynthesizer::setVoices(std::vector<SynthesisVoice> voices)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->voices = std::move(voices);
    }
    voicesChanged();
}

void SimSpeechSynthesizer::setBehavior(Behavior behavior)
{
    std::lock_guard lock(state_->mutex);
    state_->behavior = behavior;
}

void SimSpeechSynthesizer::setRenderDelay(double seconds)
{
    std::lock_guard lock(state_->mutex);
    state_->renderDelay = seconds;
}

void SimSpeechSynthesizer::setFailure(std::exception_ptr error)
{
    std::lock_guard lock(state_->mutex);
    state_->failure = std::move(error);
}

void SimSpeechSynthesizer::setFormat(const AudioFormat& format)
{
    std::lock_guard lock(state_->mutex);
    state_->format = format;
}

void SimSpeechSynthesizer::setSecondsPerCharacter(double seconds)
{
    std::lock_guard lock(state_->mutex);
    state_->secondsPerCharacter = seconds;
}

void SimSpeechSynthesizer::setFramesPerBuffer(std::size_t frames)
{
    std::lock_guard lock(state_->mutex);
    state_->framesPerBuffer = frames;
}

double SimSpeechSynthesizer::renderedSeconds(std::string_view text) const
{
    std::lock_guard lock(state_->mutex);
    return double(state_->frames(text)) / state_->format.sampleRate;
}

std::vector<Utterance> SimSpeechSynthesizer::utterances() const
{
    std::lock_guard lock(state_->mutex);
    return state_->utterances;
}

std::vector<SpeechSynthesizer::RenderID> SimSpeechSynthesizer::stoppedRenders() const
{
    std::lock_guard lock(state_->mutex);
    return state_->stopped;
}

std::size_t SimSpeechSynthesizer::stopSpeakingCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->stopSpeakingCount;
}

std::size_t SimSpeechSynthesizer::pendingRenders() const
{
    std::lock_guard lock(state_->mutex);
    return state_->pending.size();
}

std::vector<SynthesisVoice> SimSpeechSynthesizer::voices()
{
    std::lock_guard lock(state_->mutex);
    return state_->voices;
}

SpeechSynthesizer::RenderID SimSpeechSynthesizer::write(const Utterance& utterance, BufferCallback onBuffer)
{
    RenderID id = 0;
    double delay = 0;
    {
        std::lock_guard lock(state_->mutex);
        state_->utterances.push_back(utterance);
        if (state_->failure) {
            std::rethrow_exception(state_->failure);
        }
        id = state_->nextID++;
        State::Render render{std::move(onBuffer), {}};
        if (state_->behavior == Behavior::speak || state_->behavior == Behavior::failPartWay) {
            render.buffers = state_->tone(utterance.text);
        }
        render.fails = state_->behavior == Behavior::failPartWay;
        state_->pending.emplace(id, std::move(render));
        if (state_->behavior == Behavior::hang) {
            return id;
        }
        delay = state_->renderDelay;
    }
    std::weak_ptr<State> weak = state_;
    auto deliver = [weak, id] { State::deliver(weak, id); };
    if (delay > 0) {
        auto& clock = rt::clock();
        clock.schedule(rt::TimeBase::continuous, clock.now() + delay, [deliver] { rt::postToMain(deliver); });
    } else {
        rt::postToMain(deliver);
    }
    return id;
}

void SimSpeechSynthesizer::stopRender(RenderID render)
{
    std::lock_guard lock(state_->mutex);
    state_->stopped.push_back(render);
    state_->pending.erase(render);
}

void SimSpeechSynthesizer::stopSpeaking()
{
    std::lock_guard lock(state_->mutex);
    ++state_->stopSpeakingCount;
    for (auto& [id, render] : state_->pending) {
        state_->stopped.push_back(id);
    }
    state_->pending.clear();
}

}  // namespace parlaro::sim
