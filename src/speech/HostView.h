#pragma once

#include "platform/HostedSessionRunner.h"
#include "platform/TranslationSession.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"
#include "speech/HostSlot.h"

#include <map>
#include <memory>

namespace parlaro {

class TranslationHost;

// The contents of the host's window: one slot view per slot of the store,
// each bound to the system's session runner. A new slot starts a run, a
// changed configuration restarts it, a slot that goes away ends it.
class HostView {
public:
    HostView(HostStore& store, std::weak_ptr<TranslationHost> host, HostedSessionRunner& runner);
    ~HostView();
    HostView(const HostView&) = delete;
    HostView& operator=(const HostView&) = delete;

private:
    void update();

    HostStore& store_;
    std::weak_ptr<TranslationHost> host_;
    HostedSessionRunner& runner_;
    rt::Subscription slotsSubscription_;
    std::map<rt::Uuid, rt::Subscription> shown_;
};

namespace SlotView {
// One serving run of a slot with the session the system gave it: takes the
// slot's jobs in turn until its task is cancelled or a newer run displaces
// it. A failed job restarts the pair's session; queued jobs stay.
rt::Async<void> serve(std::weak_ptr<TranslationHost> host, std::shared_ptr<HostSlot> slot,
                      std::shared_ptr<TranslationSession> session);
}  // namespace SlotView

}  // namespace parlaro
