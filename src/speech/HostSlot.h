#pragma once

#include "platform/HostedSessionRunner.h"
#include "runtime/Continuation.h"
#include "runtime/Observable.h"
#include "runtime/Task.h"
#include "runtime/Uuid.h"
#include "runtime/UuidSource.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace parlaro {

// One job for a hosted pair.
struct HostJob {
    struct Translate {
        std::string text;
    };
    struct Prepare {};
    using Kind = std::variant<Translate, Prepare>;

    rt::Uuid id;
    Kind kind;
};

// One language pair kept alive in the host's window: its session's
// configuration (observed: a change gives the pair a new session), the jobs
// no run has taken yet, and the run waiting for its next job. Main actor only.
class HostSlot {
public:
    HostSlot(std::string key, std::string source, std::string target)
        : id(rt::newUuid()), key(std::move(key)),
          configuration(TranslationConfiguration{std::move(source), std::move(target), 0})
    {
    }
    HostSlot(const HostSlot&) = delete;
    HostSlot& operator=(const HostSlot&) = delete;

    struct Waiter {
        rt::Uuid run;
        rt::Continuation<std::optional<HostJob>> continuation;
    };

    const rt::Uuid id;
    const std::string key;
    rt::Observable<TranslationConfiguration> configuration;
    std::deque<HostJob> queue;
    std::optional<Waiter> waiter;
    // Set each time the pair's session completes a job; never cleared.
    bool answered = false;

    // Hands the job to the waiting run, or queues it when none waits.
    void deliver(HostJob job);
    // The next job for the run, or nothing when the run is to stop: at once
    // when its task is cancelled; later when a newer run takes its place.
    rt::Async<std::optional<HostJob>> next(rt::Uuid run);
    // Stops the waiting run if it is still this run.
    void cancelWaiter(rt::Uuid run);
    // Asks for a new session for the pair.
    void invalidate() { configuration.set(configuration.get().invalidated()); }
};

// The slots the host's window shows, in creation order.
class HostStore {
public:
    rt::Observable<std::vector<std::shared_ptr<HostSlot>>> slots;
};

}  // namespace parlaro
