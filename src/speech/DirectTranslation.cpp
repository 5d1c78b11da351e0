#include "speech/DirectTranslation.h"

#include "platform/TranslationPlatform.h"

#include <optional>

namespace parlaro {

namespace {

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

    std::optional<std::string> result;
    std::optional<ModuleError> failure;
    try {
        result = co_await session->translate(std::move(text));
    } catch (...) {
        failure = translationErrorMessage(std::current_exception());
    }
    if (failure) {
        // A reset or a newer failure may already have put another session
        // under the key while this one was busy; that one stays.
        if (auto it = state->sessions.find(key); it != state->sessions.end() && it->second == session)
            state->sessions.erase(it);
        throw *failure;
    }
    co_return normalizeChineseScript(*result, target);
}

} // namespace

DirectTranslation::DirectTranslation(std::shared_ptr<TranslationHost> host)
    : state_(std::make_shared<State>()),
      host_(host ? std::move(host) : TranslationHost::shared().shared_from_this())
{
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
    for (auto& [key, session] : sessions)
        session->cancel();
}

} // namespace parlaro
