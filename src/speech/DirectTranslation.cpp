#include "speech/DirectTranslation.h"

#include "platform/TranslationPlatform.h"
#include "runtime/Continuation.h"
#include "runtime/Sleep.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

namespace parlaro {

namespace {

// One call racing its session's answer against the pair's patience; the
// first outcome wins. Main actor only.
struct PatienceRace {
    std::optional<rt::Continuation<std::optional<std::string>>> waiting;
    rt::TaskHandle<> timer;

    template <class Resume>
    void settle(Resume resume)
    {
        auto continuation = std::exchange(waiting, std::nullopt);
        if (!continuation)
            return;
        timer.cancel();
        timer = {};
        resume(*continuation);
    }
};

// The session's answer, or none when it did not come within `patience`
// seconds. The caller's cancellation does not end the wait, as with the host.
rt::Async<std::optional<std::string>> answerWithin(std::shared_ptr<TranslationSession> session, std::string text,
                                                   double patience)
{
    auto race = std::make_shared<PatienceRace>();
    co_return co_await rt::withContinuation<std::optional<std::string>>(
        [&](rt::Continuation<std::optional<std::string>> continuation) {
            race->waiting = continuation;
            rt::spawn([race, session, text = std::move(text)]() -> rt::Async<void> {
                std::optional<std::string> answer;
                std::exception_ptr failure;
                try {
                    answer = co_await session->translate(text);
                } catch (...) {
                    failure = std::current_exception();
                }
                race->settle([&](const auto& done) {
                    if (failure)
                        done.resumeThrowing(failure);
                    else
                        done.resume(std::move(answer));
                });
            });
            race->timer = rt::spawn([race, patience]() -> rt::Async<void> {
                try {
                    co_await rt::sleepFor(patience);
                } catch (const rt::CancellationError&) {
                    co_return;  // answered first
                }
                race->settle([](const auto& done) { done.resume(std::optional<std::string>()); });
            });
        });
}

bool isAbandoned(const DirectTranslation::State& state, const std::shared_ptr<TranslationSession>& session)
{
    return std::any_of(state.abandoned.begin(), state.abandoned.end(),
                       [&](const std::weak_ptr<TranslationSession>& dropped) { return dropped.lock() == session; });
}

rt::Async<std::string> translateDirectly(std::shared_ptr<DirectTranslation::State> state, std::string text,
                                         std::string source, std::string target)
{
    const auto key = pairKey(source, target);
    std::shared_ptr<TranslationSession> session;
    if (auto it = state->sessions.find(key); it != state->sessions.end())
        session = it->second;
    else
        session = translationPlatform().makeInstalledSession(source, target);
    state->sessions[key] = session;
    const double patience =
        state->answered.count(key) ? TranslationHost::laterPatience : TranslationHost::firstPatience;

    std::optional<std::string> result;
    std::exception_ptr error;
    try {
        result = co_await answerWithin(session, std::move(text), patience);
    } catch (...) {
        error = std::current_exception();
    }
    if (!result) {
        // A reset or a newer failure may already have put another session
        // under the key while this one was busy; that one stays.
        if (auto it = state->sessions.find(key); it != state->sessions.end() && it->second == session)
            state->sessions.erase(it);
        if (error) {
            throw isAbandoned(*state, session) ? hostNotRespondingError() : translationErrorMessage(error);
        }
        if (!isAbandoned(*state, session)) {
            std::erase_if(state->abandoned, [](const auto& dropped) { return dropped.expired(); });
            state->abandoned.push_back(session);
            // Ends the calls still waiting on the silent session.
            session->cancel();
        }
        throw hostNotRespondingError();
    }
    state->answered.insert(key);
    co_return normalizeChineseScript(*result, target);
}

}  // namespace

DirectTranslation::DirectTranslation(std::shared_ptr<TranslationHost> host)
    : state_(std::make_shared<State>()), host_(std::move(host))
{
    if (!host_)
        throw std::invalid_argument("a translation back end needs the host that downloads its languages");
}

rt::Async<std::string> DirectTranslation::translate(std::string text, std::string source, std::string target)
{
    return translateDirectly(state_, std::move(text), std::move(source), std::move(target));
}

rt::Async<void> DirectTranslation::prepare(std::string source, std::string target)
{
    return host_->prepare(std::move(source), std::move(target));
}

void DirectTranslation::reset()
{
    auto sessions = std::exchange(state_->sessions, {});
    state_->answered.clear();
    for (auto& [key, session] : sessions)
        session->cancel();
}

}  // namespace parlaro
