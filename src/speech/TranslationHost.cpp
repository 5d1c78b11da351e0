#include "speech/TranslationHost.h"

#include "platform/TranslationPlatform.h"
#include "runtime/Sleep.h"
#include "runtime/UuidSource.h"
#include "speech/HostView.h"
#include "speech/Localization.h"
#include "speech/TranslationService.h"

#include <algorithm>
#include <vector>

namespace parlaro {

ModuleError hostNotRespondingError()
{
    return ModuleError(ModuleID::translation, 5, localized("系统翻译没有响应，已重新连接，请重试"));
}

TranslationHost& TranslationHost::shared()
{
    // Never destroyed: it lives until the process ends, past the platform
    // objects its window and runs depend on.
    static const auto* instance = new std::shared_ptr<TranslationHost>(make());
    return **instance;
}

std::shared_ptr<TranslationHost> TranslationHost::make()
{
    return std::shared_ptr<TranslationHost>(new TranslationHost());
}

TranslationHost::~TranslationHost() = default;

rt::Async<std::string> TranslationHost::translate(std::string text, std::string source, std::string target)
{
    const auto key = pairKey(source, target);
    double patience = firstPatience;
    for (const auto& slot : store_.slots.get()) {
        if (slot->key == key && slot->answered)
            patience = laterPatience;
    }
    return run(HostJob::Translate{std::move(text)}, std::move(source), std::move(target), patience);
}

rt::Async<void> TranslationHost::prepare(std::string source, std::string target)
{
    std::weak_ptr<TranslationHost> weak = weak_from_this();
    setRevealed(true);
    std::exception_ptr failure;
    try {
        co_await run(HostJob::Prepare{}, std::move(source), std::move(target), std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (auto self = weak.lock())
        self->setRevealed(false);
    if (failure)
        std::rethrow_exception(failure);
}

rt::Async<std::string> TranslationHost::run(HostJob::Kind kind, std::string source, std::string target,
                                            std::optional<double> patience)
{
    ensureWindow();
    auto pair = slot(source, target);
    const rt::Uuid job = rt::newUuid();
    co_return co_await rt::withContinuation<std::string>([&](rt::Continuation<std::string> continuation) {
        enqueue(continuation, pair, job, std::move(kind), patience);
    });
}

void TranslationHost::enqueue(rt::Continuation<std::string> continuation, const std::shared_ptr<HostSlot>& slot,
                              rt::Uuid job, HostJob::Kind kind, std::optional<double> patience)
{
    waiting_[job] = Waiting{slot->key, [continuation](HostResult result) {
                                if (auto* text = std::get_if<std::string>(&result))
                                    continuation.resume(std::move(*text));
                                else
                                    continuation.fail(std::get<ModuleError>(std::move(result)));
                            }};
    slot->deliver(HostJob{job, std::move(kind)});
    if (!patience)
        return;
    // Never cancelled: if the job is answered first, it finds nothing to do.
    rt::spawn([weak = weak_from_this(), slot, job, seconds = *patience]() -> rt::Async<void> {
        try {
            co_await rt::sleepFor(seconds);
        } catch (const rt::CancellationError&) {
            // An interrupted wait counts as waited out.
        }
        auto host = weak.lock();
        if (!host)
            co_return;
        auto it = host->waiting_.find(job);
        if (it == host->waiting_.end())
            co_return;
        auto reply = std::move(it->second.reply);
        host->waiting_.erase(it);
        reply(hostNotRespondingError());
        host->reconnect(*slot);
    });
}

void TranslationHost::finish(const rt::Uuid& job, HostResult result)
{
    auto it = waiting_.find(job);
    if (it == waiting_.end())
        return;  // its caller was already failed by a time-out or a reset
    auto reply = std::move(it->second.reply);
    waiting_.erase(it);
    reply(std::move(result));
}

void TranslationHost::failWaiting(const std::string& slotKey)
{
    std::vector<std::function<void(HostResult)>> replies;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (it->second.slot == slotKey) {
            replies.push_back(std::move(it->second.reply));
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& reply : replies)
        reply(hostNotRespondingError());
}

void TranslationHost::reconnect(HostSlot& slot)
{
    failWaiting(slot.key);
    slot.queue.clear();
    slot.invalidate();
}

void TranslationHost::resetAll()
{
    for (const auto& slot : store_.slots.get())
        failWaiting(slot->key);
    store_.slots.set({});
}

void TranslationHost::ensureWindow()
{
    if (view_)
        return;
    view_ = std::make_unique<HostView>(store_, weak_from_this(), translationPlatform().hostedSessions());
    // A back end whose sessions need no view and that shows no download
    // prompt gets no window at all: nothing to map, to click or to focus.
    HostWindowFactory* windows = hostWindowFactoryIfAny();
    if (!windows)
        return;
    window_ = windows->makeHostWindow(
        HostWindowContent{localized("正在准备翻译语言包…"), localized("请在系统提示中确认下载翻译语言包")});
    window_->showHidden(true);
}

void TranslationHost::setRevealed(bool reveal)
{
    ensureWindow();
    const std::int64_t count = visibleRequests_ + (reveal ? 1 : -1);
    visibleRequests_ = std::max<std::int64_t>(count, 0);
    if (!window_)
        return;
    if (count < 1)
        window_->showHidden(false);
    else
        window_->showRevealed();
}

std::shared_ptr<HostSlot> TranslationHost::slot(const std::string& source, const std::string& target)
{
    const auto key = pairKey(source, target);
    auto slots = store_.slots.get();
    for (const auto& existing : slots) {
        if (existing->key == key)
            return existing;
    }
    auto created = std::make_shared<HostSlot>(key, source, target);
    slots.push_back(created);
    store_.slots.set(std::move(slots));
    return created;
}

}  // namespace parlaro
