#include "speech/HostView.h"

#include "runtime/Runtime.h"
#include "runtime/UuidSource.h"
#include "speech/TranslationHost.h"
#include "speech/TranslationService.h"

#include <set>
#include <vector>

namespace parlaro {

HostView::HostView(HostStore& store, std::weak_ptr<TranslationHost> host, HostedSessionRunner& runner)
    : store_(store), host_(std::move(host)), runner_(runner)
{
    slotsSubscription_ = store_.slots.subscribe([this] { update(); });
    update();
}

HostView::~HostView()
{
    slotsSubscription_.reset();
    for (auto& [id, subscription] : shown_) {
        subscription.reset();
        runner_.slotRemoved(id);
    }
}

void HostView::update()
{
    const auto slots = store_.slots.get();
    std::set<rt::Uuid> present;
    for (const auto& slot : slots)
        present.insert(slot->id);

    std::vector<rt::Uuid> gone;
    for (const auto& [id, subscription] : shown_) {
        if (!present.contains(id))
            gone.push_back(id);
    }
    for (const auto& id : gone) {
        shown_.erase(id);
        runner_.slotRemoved(id);
    }

    for (const auto& slot : slots) {
        if (shown_.contains(slot->id))
            continue;
        std::weak_ptr<HostSlot> weakSlot = slot;
        auto* runner = &runner_;
        const rt::Uuid id = slot->id;
        shown_.emplace(id, slot->configuration.subscribe([weakSlot, runner, id] {
            if (auto s = weakSlot.lock())
                runner->configurationChanged(id, s->configuration.get());
        }));
        auto host = host_;
        runner_.slotAppeared(id, slot->configuration.get(), [host, slot](std::shared_ptr<TranslationSession> session) {
            return SlotView::serve(host, slot, std::move(session));
        });
    }
}

namespace SlotView {

rt::Async<void> serve(std::weak_ptr<TranslationHost> host, std::shared_ptr<HostSlot> slot,
                      std::shared_ptr<TranslationSession> session)
{
    const rt::Uuid run = rt::newUuid();
    for (;;) {
        if (rt::isCancelled())
            co_return;

        std::optional<HostJob> job;
        if (slot->queue.empty()) {
            std::weak_ptr<HostSlot> weakSlot = slot;
            // May run on the cancelling thread: it only hands the work over.
            rt::CancellationHandler onCancel([weakSlot, run] {
                rt::postToMain([weakSlot, run] {
                    if (auto s = weakSlot.lock())
                        s->cancelWaiter(run);
                });
            });
            job = co_await slot->next(run);
        } else {
            job = std::move(slot->queue.front());
            slot->queue.pop_front();
        }
        if (!job)
            co_return;

        std::optional<std::string> text;
        std::optional<ModuleError> failure;
        try {
            if (const auto* translate = std::get_if<HostJob::Translate>(&job->kind)) {
                text = co_await session->translate(translate->text);
            } else {
                co_await session->prepareTranslation();
                text = std::string();
            }
        } catch (...) {
            failure = translationErrorMessage(std::current_exception());
        }

        if (text)
            slot->answered = true;
        if (auto owner = host.lock()) {
            if (text)
                owner->finish(job->id, std::move(*text));
            else
                owner->finish(job->id, *failure);
        }
        if (failure)
            slot->invalidate();
    }
}

}  // namespace SlotView

}  // namespace parlaro
