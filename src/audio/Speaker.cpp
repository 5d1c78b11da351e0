#include "audio/Speaker.h"

#include "audio/VoiceOption.h"
#include "runtime/Error.h"
#include "speech/Deadline.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace parlaro {

// One render: the buffers collected so far and the waiter, resumed exactly
// once by whichever comes first: the end mark, a stop, or the clean-up of
// a speak that gave up on it. The synthesizer's thread touches it only
// under its lock.
class Speaker::RenderState {
public:
    using Buffers = std::vector<PcmBuffer>;

    void wait(rt::Continuation<Buffers> continuation)
    {
        std::lock_guard lock(lock_);
        continuation_ = std::move(continuation);
    }
    // The waiter is settled elsewhere (the render could not be started).
    void abandon()
    {
        std::lock_guard lock(lock_);
        continuation_.reset();
        finished_ = true;
    }
    void setRenderID(SpeechSynthesizer::RenderID id)
    {
        std::lock_guard lock(lock_);
        renderID_ = id;
    }
    std::optional<SpeechSynthesizer::RenderID> renderID() const
    {
        std::lock_guard lock(lock_);
        return renderID_;
    }
    // The engine failed part way: nothing of this reply is spoken.
    bool failed() const
    {
        std::lock_guard lock(lock_);
        return failed_;
    }

    // On the synthesizer's thread.
    void receive(const PcmBuffer& buffer)
    {
        if (isRenderFailureMark(buffer)) {
            {
                std::lock_guard lock(lock_);
                failed_ = !finished_;
                buffers_.clear();
            }
            finish();
            return;
        }
        if (buffer.frameLength() == 0) {
            finish();
            return;
        }
        auto converted = VoiceOption::toStandardFloat(buffer);
        if (!converted) {
            return;
        }
        std::lock_guard lock(lock_);
        if (!finished_) {
            buffers_.push_back(std::move(*converted));
        }
    }

    // The waiter, if any, gets what was collected; later calls do nothing.
    void finish()
    {
        std::optional<rt::Continuation<Buffers>> waiting;
        Buffers collected;
        {
            std::lock_guard lock(lock_);
            finished_ = true;
            waiting = std::exchange(continuation_, std::nullopt);
            if (waiting) {
                collected = buffers_;
            }
        }
        if (waiting) {
            waiting->resume(std::move(collected));
        }
    }

private:
    mutable std::mutex lock_;
    Buffers buffers_;
    std::optional<rt::Continuation<Buffers>> continuation_;
    std::optional<SpeechSynthesizer::RenderID> renderID_;
    bool finished_ = false;
    bool failed_ = false;
};

namespace {

// The voice's engine failed on this reply; it is restarted for the next one.
ModuleError notSpoken()
{
    return ModuleError(ModuleID::speech, 5, localized("语音引擎出错，这条回复未能朗读；下一条会照常朗读。"));
}

}  // namespace

Speaker::Speaker(SpeechSynthesizer& synthesizer, std::shared_ptr<FarEndActivity> farEnd)
    : synthesizer_(synthesizer), farEnd_(std::move(farEnd))
{
    if (!farEnd_)
        throw std::invalid_argument("a speaker needs the far-end record its players feed");
}

Speaker::Speaker(std::shared_ptr<FarEndActivity> farEnd) : Speaker(speechSynthesizer(), std::move(farEnd))
{
}

Speaker::~Speaker() = default;

std::shared_ptr<DevicePlayer> Speaker::player(AudioObjectId deviceID)
{
    auto& slot = players_[deviceID];
    if (!slot)
        slot = std::make_shared<DevicePlayer>(deviceID, farEnd_);
    return slot;
}

DevicePlayer::CurrentCheck Speaker::isCurrentPlayback(std::int64_t generation)
{
    std::weak_ptr<Speaker> weak = weak_from_this();
    return [weak, generation] {
        auto speaker = weak.lock();
        return speaker && speaker->generation_ == generation;
    };
}

std::shared_ptr<Speaker::RenderState> Speaker::beginRender()
{
    auto state = std::make_shared<RenderState>();
    rendering_.push_back(state);
    return state;
}

void Speaker::endRender(const std::shared_ptr<RenderState>& state)
{
    std::erase(rendering_, state);
}

rt::Async<std::vector<PcmBuffer>> Speaker::renderInto(std::shared_ptr<RenderState> state, std::string text,
                                                      std::optional<std::string> voiceIdentifier)
{
    auto self = shared_from_this();
    std::optional<SynthesisVoice> voice;
    if (voiceIdentifier) {
        voice = synthesizer_.voice(*voiceIdentifier);
    }
    if (!voice) {
        voice = VoiceOption::fallbackVoice(synthesizer_);
    }
    const Utterance utterance{std::move(text), std::move(voice), rate_, postUtteranceDelay};
    co_return co_await rt::withContinuation<RenderState::Buffers>([&](rt::Continuation<RenderState::Buffers> done) {
        state->wait(done);
        try {
            state->setRenderID(
                synthesizer_.write(utterance, [state](const PcmBuffer& buffer) { state->receive(buffer); }));
        } catch (...) {
            // The awaiter hands the error to the waiter; nobody else may.
            state->abandon();
            throw;
        }
    });
}

rt::Async<std::vector<PcmBuffer>> Speaker::render(std::string text, std::optional<std::string> voiceIdentifier)
{
    auto self = shared_from_this();
    auto state = beginRender();
    std::vector<PcmBuffer> buffers;
    try {
        buffers = co_await renderInto(state, std::move(text), std::move(voiceIdentifier));
    } catch (...) {
        endRender(state);
        throw;
    }
    endRender(state);
    if (state->failed()) {
        throw notSpoken();
    }
    co_return buffers;
}

rt::Async<void> Speaker::speak(std::string text, std::vector<AudioObjectId> devices,
                               std::optional<std::string> voiceIdentifier)
{
    auto self = shared_from_this();
    const std::int64_t generation = generation_;

    auto state = beginRender();
    std::vector<PcmBuffer> buffers;
    std::exception_ptr failure;
    try {
        std::weak_ptr<Speaker> weak = self;
        buffers = co_await withDeadline<std::vector<PcmBuffer>>(
            renderTimeout, localized("生成翻译语音"), "TTS-3", std::nullopt,
            [weak, state, text, voiceIdentifier]() -> rt::Async<std::vector<PcmBuffer>> {
                auto speaker = weak.lock();
                if (!speaker) {
                    co_return std::vector<PcmBuffer>{};
                }
                co_return co_await speaker->renderInto(state, text, voiceIdentifier);
            });
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // Only this speak's render ends here; another one started meanwhile
        // goes on.
        if (auto id = state->renderID()) {
            synthesizer_.stopRender(*id);
        }
        state->finish();
        endRender(state);
        std::rethrow_exception(failure);
    }
    endRender(state);

    if (generation_ != generation) {
        throw rt::CancellationError();
    }
    if (state->failed()) {
        throw notSpoken();
    }
    if (buffers.empty()) {
        throw ModuleError(ModuleID::speech, 3,
                          localized("所选音色未能生成声音，请换一个音色或在系统设置中下载完整声音。"));
    }

    std::vector<AudioObjectId> distinct;
    for (AudioObjectId id : devices) {
        if (std::find(distinct.begin(), distinct.end(), id) == distinct.end()) {
            distinct.push_back(id);
        }
    }

    // The players run side by side; each failure is kept, and the first one
    // in time is what the speak reports once all have ended.
    struct Group {
        std::exception_ptr firstError;
    };
    auto group = std::make_shared<Group>();
    auto check = isCurrentPlayback(generation);
    std::vector<rt::TaskHandle<>> children;
    for (AudioObjectId id : distinct) {
        children.push_back(rt::spawn([player = player(id), buffers, check, group]() -> rt::Async<void> {
            try {
                co_await player->play(buffers, check);
            } catch (...) {
                if (!group->firstError) {
                    group->firstError = std::current_exception();
                }
            }
        }));
    }
    rt::CancellationHandler cancelChildren([children] {
        for (const auto& child : children) {
            child.cancel();
        }
    });
    for (const auto& child : children) {
        co_await child.join();
    }
    if (group->firstError) {
        std::rethrow_exception(group->firstError);
    }
    if (generation_ != generation) {
        throw rt::CancellationError();
    }
}

rt::Async<void> Speaker::play(std::vector<PcmBuffer> buffers, AudioObjectId deviceID)
{
    auto self = shared_from_this();
    auto target = player(deviceID);
    co_await target->play(std::move(buffers), isCurrentPlayback(generation_));
}

void Speaker::stop()
{
    ++generation_;
    synthesizer_.stopSpeaking();
    for (auto& state : std::exchange(rendering_, {})) {
        state->finish();
    }
    for (auto& [id, player] : players_) {
        player->stop();
    }
}

}  // namespace parlaro
