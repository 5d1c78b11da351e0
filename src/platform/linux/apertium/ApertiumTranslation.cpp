#include "platform/linux/apertium/ApertiumTranslation.h"

#include "platform/linux/apertium/ApertiumSpanish.h"
#include "runtime/Continuation.h"

#include <atomic>
#include <vector>

namespace parlaro::sys {

namespace {

using Reason = TranslationPlatformError::Reason;
using Status = LanguageAvailability::Status;

// One call waiting for its pipeline, which may answer from its own thread
// while a cancel on the main actor fails it: whichever comes first wins.
struct PendingCall {
    explicit PendingCall(rt::Continuation<std::string> c) : continuation(std::move(c)) {}
    rt::Continuation<std::string> continuation;
    std::atomic<bool> settled{false};

    bool claim() { return !settled.exchange(true); }
};

// Asked about a pair when the languages of a call are set, so a translation
// through it is likely to follow: an installed pair's chain starts then, in
// the background, rather than under the first sentence of the call.
class Availability : public LanguageAvailability {
public:
    explicit Availability(ApertiumTranslation& backEnd) : backEnd_(backEnd) {}
    rt::Async<Status> status(std::string source, std::string target) override
    {
        const auto pair = backEnd_.modes().resolve(source, target);
        if (pair.status == Status::installed)
            if (auto pipeline = backEnd_.pipeline(pair.mode))
                pipeline->warmUp();
        co_return pair.status;
    }

private:
    ApertiumTranslation& backEnd_;
};

class Session : public TranslationSession {
public:
    Session(ApertiumTranslation& backEnd, std::string source, std::string target)
        : backEnd_(backEnd), source_(std::move(source)), target_(std::move(target)), state_(std::make_shared<State>())
    {
    }

    rt::Async<std::string> translate(std::string text) override
    {
        auto pair = backEnd_.modes().resolve(source_, target_);
        std::shared_ptr<ApertiumPipeline> pipeline;
        if (pair.status == Status::installed)
            pipeline = backEnd_.pipeline(pair.mode);
        return run(state_, std::move(pipeline), pair, std::move(text), source_, target_);
    }

    rt::Async<void> prepareTranslation() override
    {
        return check(state_, backEnd_.modes().resolve(source_, target_), source_, target_);
    }

    void cancel() override
    {
        std::vector<std::shared_ptr<PendingCall>> pending;
        {
            std::lock_guard lock(state_->mutex);
            state_->cancelled = true;
            pending.swap(state_->pending);
        }
        for (auto& call : pending) {
            if (call->claim())
                call->continuation.fail(TranslationPlatformError(Reason::cancelled, source_, target_));
        }
    }

private:
    struct State {
        std::mutex mutex;
        bool cancelled = false;
        std::vector<std::shared_ptr<PendingCall>> pending;
    };

    static void requireUsable(const std::shared_ptr<State>& state, const ApertiumPair& pair, const std::string& source,
                              const std::string& target)
    {
        {
            std::lock_guard lock(state->mutex);
            if (state->cancelled)
                throw TranslationPlatformError(Reason::cancelled, source, target);
        }
        if (pair.status == Status::supported)
            throw TranslationPlatformError(Reason::notInstalled, source, target, pair.package);
        if (pair.status != Status::installed)
            throw TranslationPlatformError(Reason::unsupported, source, target);
    }

    static rt::Async<void> check(std::shared_ptr<State> state, ApertiumPair pair, std::string source,
                                 std::string target)
    {
        requireUsable(state, pair, source, target);
        co_return;
    }

    static rt::Async<std::string> run(std::shared_ptr<State> state, std::shared_ptr<ApertiumPipeline> pipeline,
                                      ApertiumPair pair, std::string text, std::string source, std::string target)
    {
        requireUsable(state, pair, source, target);
        if (!pipeline)
            throw TranslationPlatformError(Reason::failedToStart, source, target, {}, pair.mode + ".mode");
        const bool toSpanish = target == "es" || target.starts_with("es-");
        const bool fromEnglish = source == "en" || source.starts_with("en-");
        const std::string original = text;
        if (toSpanish && fromEnglish)
            text = ApertiumSpanish::englishSource(text);
        std::string translated =
            co_await rt::withContinuation<std::string>([&](rt::Continuation<std::string> continuation) {
                auto call = std::make_shared<PendingCall>(continuation);
                {
                    std::lock_guard lock(state->mutex);
                    state->pending.push_back(call);
                }
                std::weak_ptr<State> weakState = state;
                pipeline->submit(std::move(text), [call, weakState, source, target](ApertiumPipeline::Outcome outcome) {
                    if (auto s = weakState.lock()) {
                        std::lock_guard lock(s->mutex);
                        std::erase(s->pending, call);
                    }
                    if (!call->claim())
                        return;
                    if (outcome.text)
                        call->continuation.resume(std::move(*outcome.text));
                    else
                        call->continuation.fail(
                            TranslationPlatformError(outcome.reason, source, target, {}, outcome.detail));
                });
            });
        if (toSpanish && fromEnglish)
            co_return ApertiumSpanish::written(original, translated);
        if (toSpanish)
            co_return ApertiumSpanish::withOpeningQuestionMarks(translated);
        co_return translated;
    }

    ApertiumTranslation& backEnd_;
    std::string source_;
    std::string target_;
    std::shared_ptr<State> state_;
};

}  // namespace

// Hands each slot a new session at once; a run is only a main-actor task.
class ApertiumTranslation::Runner : public HostedSessionRunner {
public:
    explicit Runner(ApertiumTranslation& backEnd) : backEnd_(backEnd) {}
    ~Runner() override
    {
        for (auto& [id, slot] : slots_)
            slot.run.cancel();
    }

    void slotAppeared(rt::Uuid slot, TranslationConfiguration configuration, Action action) override
    {
        auto& entry = slots_[slot];
        entry.run.cancel();
        entry.action = std::move(action);
        start(entry, configuration);
    }
    void configurationChanged(rt::Uuid slot, TranslationConfiguration configuration) override
    {
        auto it = slots_.find(slot);
        if (it == slots_.end())
            return;
        it->second.run.cancel();
        start(it->second, configuration);
    }
    void slotRemoved(rt::Uuid slot) override
    {
        auto it = slots_.find(slot);
        if (it == slots_.end())
            return;
        it->second.run.cancel();
        slots_.erase(it);
    }

private:
    struct Slot {
        Action action;
        rt::TaskHandle<> run;
    };

    void start(Slot& slot, const TranslationConfiguration& configuration)
    {
        auto session = backEnd_.makeInstalledSession(configuration.source, configuration.target);
        slot.run = rt::spawn([action = slot.action, session]() { return action(session); });
    }

    ApertiumTranslation& backEnd_;
    std::map<rt::Uuid, Slot> slots_;
};

ApertiumTranslation::ApertiumTranslation(const TextServices& text, std::filesystem::path modesFolder,
                                         double stallSeconds)
    : modes_(text, std::move(modesFolder)), stallSeconds_(stallSeconds), runner_(std::make_unique<Runner>(*this))
{
}

ApertiumTranslation::~ApertiumTranslation() = default;

std::unique_ptr<LanguageAvailability> ApertiumTranslation::makeLanguageAvailability()
{
    return std::make_unique<Availability>(*this);
}

std::shared_ptr<TranslationSession> ApertiumTranslation::makeInstalledSession(std::string source, std::string target)
{
    return std::make_shared<Session>(*this, std::move(source), std::move(target));
}

HostedSessionRunner& ApertiumTranslation::hostedSessions()
{
    return *runner_;
}

std::shared_ptr<ApertiumPipeline> ApertiumTranslation::pipeline(const std::string& mode)
{
    std::lock_guard lock(mutex_);
    auto& entry = pipelines_[mode];
    if (!entry) {
        auto stages = modes_.stages(mode);
        if (!stages) {
            pipelines_.erase(mode);
            return nullptr;
        }
        entry = std::make_shared<ApertiumPipeline>(std::move(*stages), stallSeconds_);
    }
    return entry;
}

}  // namespace parlaro::sys
