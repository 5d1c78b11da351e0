#pragma once

#include "audio/EchoGate.h"
#include "audio/FarEndActivity.h"
#include "audio/MicWindows.h"
#include "platform/PcmBuffer.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace parlaro {

// The echo gate on the microphone path. It copies each microphone buffer,
// holds the copy until the far-end record covers its time (at most about a
// second past its end), silences its echo windows and releases it. The
// caller's buffers are never changed.
//
// Lock order: the guard's lock is taken before the far-end record's, never the
// other way round; the far-end producers never take the guard's lock.
class EchoGuard {
public:
    using Buffers = std::vector<std::shared_ptr<PcmBuffer>>;

    explicit EchoGuard(std::shared_ptr<FarEndActivity> farEnd, EchoGate::Config config = {});
    EchoGuard(const EchoGuard&) = delete;
    EchoGuard& operator=(const EchoGuard&) = delete;

    // The process-wide guard, made on first use together with the one
    // far-end record that the capture and the players write.
    static const std::shared_ptr<EchoGuard>& shared();

    const std::shared_ptr<FarEndActivity>& farEnd() const { return farEnd_; }

    // A microphone buffer starting at `start` (now minus its duration when
    // none), `now` being the host clock as the caller read it. Returns the
    // buffers released now, oldest first. A buffer without frames, or one
    // that cannot be copied, is dropped.
    Buffers push(const PcmBuffer& buffer, std::optional<double> start, double now);
    // Releases every waiting buffer, gated, without waiting for the far end.
    Buffers flush();
    // Forgets what the gate learned; waiting buffers stay.
    void reset();
    // Drops every waiting buffer unreleased.
    void discardWaiting();

    EchoGate::Route route() const;
    std::optional<EchoGate::Fit> lastFit() const;
    std::size_t waitingCount() const;

private:
    struct Waiting {
        std::shared_ptr<PcmBuffer> buffer;
        double start;
    };

    Buffers drain(bool force, double now);
    void observe(PcmBuffer& buffer, double start);
    // Evidence of one finished window, and a refit when one is due.
    void learnFrom(const MicWindows::Window& window);

    std::shared_ptr<FarEndActivity> farEnd_;
    mutable std::mutex lock_;
    EchoGate gate_;
    std::deque<Waiting> waiting_;  // oldest first
    MicWindows windows_;           // of the buffers released so far
};

}  // namespace parlaro
