#include "platform/sim/SimTranslationPlatform.h"

#include "runtime/Clock.h"
#include "runtime/Continuation.h"
#include "runtime/Runtime.h"

#include <vector>

namespace parlaro::sim {

struct SimTranslationPlatform::PairState {
    SimResponder responder;
    int made = 0;
    int cancelled = 0;
};

namespace {

// One call waiting for its virtual answer, a cancel, or forever.
struct PendingCall {
    rt::Continuation<std::string> continuation;
    bool settled = false;

    explicit PendingCall(rt::Continuation<std::string> c) : continuation(std::move(c)) {}

    void answer(std::string text)
    {
        if (!std::exchange(settled, true))
            continuation.resume(std::move(text));
    }
    void fail(std::exception_ptr error)
    {
        if (!std::exchange(settled, true))
            continuation.resumeThrowing(std::move(error));
    }
};

class SimSession : public TranslationSession {
public:
    SimSession(std::string source, std::string target, int number,
               std::shared_ptr<SimTranslationPlatform::PairState> pair)
        : source_(std::move(source)), target_(std::move(target)), number_(number), pair_(std::move(pair)),
          state_(std::make_shared<State>())
    {
    }

    rt::Async<std::string> translate(std::string text) override
    {
        return perform(state_, request(std::move(text), false));
    }

    rt::Async<void> prepareTranslation() override { return prepareWith(state_, request({}, true)); }

    void cancel() override
    {
        if (state_->cancelled)
            return;
        state_->cancelled = true;
        ++pair_->cancelled;
        auto pending = std::exchange(state_->pending, {});
        for (auto& call : pending)
            call->fail(cancelledError(source_, target_));
    }

private:
    struct State {
        bool cancelled = false;
        std::vector<std::shared_ptr<PendingCall>> pending;
    };

    struct Call {
        SimRequest request;
        SimReply reply;
    };

    Call request(std::string text, bool prepare) const
    {
        SimRequest req{source_, target_, std::move(text), prepare, number_};
        SimReply reply = pair_->responder ? pair_->responder(req) : SimReply::answer(req.text);
        return {std::move(req), std::move(reply)};
    }

    static std::exception_ptr cancelledError(const std::string& source, const std::string& target)
    {
        return std::make_exception_ptr(
            TranslationPlatformError(TranslationPlatformError::Reason::cancelled, source, target));
    }

    static rt::Async<void> prepareWith(std::shared_ptr<State> state, Call call)
    {
        co_await perform(std::move(state), std::move(call));
    }

    static rt::Async<std::string> perform(std::shared_ptr<State> state, Call call)
    {
        const auto& reply = call.reply;
        if (state->cancelled)
            std::rethrow_exception(cancelledError(call.request.source, call.request.target));
        if (reply.kind != SimReply::Kind::hang && reply.delay <= 0) {
            if (reply.kind == SimReply::Kind::fail)
                std::rethrow_exception(reply.error);
            co_return reply.text;
        }
        co_return co_await rt::withContinuation<std::string>([&](rt::Continuation<std::string> c) {
            auto pending = std::make_shared<PendingCall>(c);
            state->pending.push_back(pending);
            if (reply.kind == SimReply::Kind::hang)
                return;
            std::weak_ptr<State> weakState = state;
            auto settle = [weakState, pending, reply] {
                if (auto s = weakState.lock())
                    std::erase(s->pending, pending);
                if (reply.kind == SimReply::Kind::fail)
                    pending->fail(reply.error);
                else
                    pending->answer(reply.text);
            };
            auto& clock = rt::clock();
            clock.schedule(rt::TimeBase::continuous, clock.now() + reply.delay, [settle] { rt::postToMain(settle); });
        });
    }

    std::string source_;
    std::string target_;
    int number_;
    std::shared_ptr<SimTranslationPlatform::PairState> pair_;
    std::shared_ptr<State> state_;
};

// Answers from the platform's table at the time of asking.
class SimAvailability : public LanguageAvailability {
public:
    using Lookup = std::function<Status(const std::string&, const std::string&)>;
    explicit SimAvailability(Lookup lookup) : lookup_(std::move(lookup)) {}
    rt::Async<Status> status(std::string source, std::string target) override { co_return lookup_(source, target); }

private:
    Lookup lookup_;
};

}  // namespace

SimTranslationPlatform::SimTranslationPlatform()
    : runner([this](const TranslationConfiguration& c) { return makeSession(c.source, c.target); }),
      scope_(TranslationPlatformServices{this, &windows})
{
}

SimTranslationPlatform::~SimTranslationPlatform() = default;

void SimTranslationPlatform::setStatus(const std::string& source, const std::string& target,
                                       LanguageAvailability::Status status)
{
    statuses_[{source, target}] = status;
}

void SimTranslationPlatform::setResponder(const std::string& source, const std::string& target, SimResponder responder)
{
    pair(source, target)->responder = std::move(responder);
}

int SimTranslationPlatform::sessionsMade(const std::string& source, const std::string& target) const
{
    auto it = pairs_.find({source, target});
    return it == pairs_.end() ? 0 : it->second->made;
}

int SimTranslationPlatform::sessionsCancelled(const std::string& source, const std::string& target) const
{
    auto it = pairs_.find({source, target});
    return it == pairs_.end() ? 0 : it->second->cancelled;
}

int SimTranslationPlatform::sessionsMade() const
{
    int total = 0;
    for (const auto& [key, state] : pairs_)
        total += state->made;
    return total;
}

std::unique_ptr<LanguageAvailability> SimTranslationPlatform::makeLanguageAvailability()
{
    return std::make_unique<SimAvailability>([this](const std::string& source, const std::string& target) {
        auto it = statuses_.find({source, target});
        return it == statuses_.end() ? LanguageAvailability::Status::unsupported : it->second;
    });
}

std::shared_ptr<TranslationSession> SimTranslationPlatform::makeInstalledSession(std::string source, std::string target)
{
    return makeSession(source, target);
}

std::shared_ptr<SimTranslationPlatform::PairState> SimTranslationPlatform::pair(const std::string& source,
                                                                                const std::string& target)
{
    auto& entry = pairs_[{source, target}];
    if (!entry)
        entry = std::make_shared<PairState>();
    return entry;
}

std::shared_ptr<TranslationSession> SimTranslationPlatform::makeSession(const std::string& source,
                                                                        const std::string& target)
{
    auto state = pair(source, target);
    ++state->made;
    return std::make_shared<SimSession>(source, target, state->made, state);
}

}  // namespace parlaro::sim
