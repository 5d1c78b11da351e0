#pragma once

#include "platform/HostWindow.h"
#include "runtime/Task.h"
#include "runtime/Uuid.h"
#include "speech/HostSlot.h"
#include "speech/ModuleError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

namespace parlaro {

class HostView;

// What a job ends with: the session's text, or the error for its caller.
using HostResult = std::variant<std::string, ModuleError>;

// Turns the sessions that the system hands to slots of a hidden window into a
// service that any code can await. Each language pair gets a slot that queues
// its jobs; the pair's session serves them in turn. A job that is not
// answered within the pair's patience (30 s until the pair has answered once,
// then 10 s) fails with TR-5 and the pair reconnects with a new session. A
// download (prepare) has no time-out and reveals the window while it runs, so
// the system's download prompt has a window to appear over; a back end that
// has no such prompt installs no window maker and gets no window. Main actor
// only.
//
// Cancelling the task that awaits translate() or prepare() does not withdraw
// the job; a caller that wants an earlier end puts its own deadline around it.
class TranslationHost : public std::enable_shared_from_this<TranslationHost> {
public:
    // The process-wide host, made on first use over the installed
    // translation platform and host window maker.
    static TranslationHost& shared();
    // A host of one's own (tests); hosts are always owned by a shared_ptr.
    static std::shared_ptr<TranslationHost> make();

    ~TranslationHost();
    TranslationHost(const TranslationHost&) = delete;
    TranslationHost& operator=(const TranslationHost&) = delete;

    // The session's text as the system returns it.
    rt::Async<std::string> translate(std::string text, std::string source, std::string target);
    rt::Async<void> prepare(std::string source, std::string target);
    // Fails every waiting caller with TR-5 and drops every pair.
    void resetAll();

    static constexpr double firstPatience = 30.0;
    static constexpr double laterPatience = 10.0;

    const HostStore& store() const { return store_; }
    // None until first needed, and always where no window maker is installed.
    std::shared_ptr<HostWindow> window() const { return window_; }
    std::int64_t visibleRequests() const { return visibleRequests_; }
    std::size_t waitingCount() const { return waiting_.size(); }

    // Called by a slot's serving run when it has finished a job: answers the
    // job's caller unless a time-out or a reset already did.
    void finish(const rt::Uuid& job, HostResult result);

private:
    TranslationHost() = default;

    struct Waiting {
        std::string slot;
        std::function<void(HostResult)> reply;
    };

    rt::Async<std::string> run(HostJob::Kind kind, std::string source, std::string target,
                               std::optional<double> patience);
    void ensureWindow();
    void setRevealed(bool reveal);
    std::shared_ptr<HostSlot> slot(const std::string& source, const std::string& target);
    void enqueue(rt::Continuation<std::string> continuation, const std::shared_ptr<HostSlot>& slot, rt::Uuid job,
                 HostJob::Kind kind, std::optional<double> patience);
    void failWaiting(const std::string& slotKey);
    void reconnect(HostSlot& slot);

    HostStore store_;
    std::shared_ptr<HostWindow> window_;
    std::unique_ptr<HostView> view_;
    std::unordered_map<rt::Uuid, Waiting> waiting_;
    std::int64_t visibleRequests_ = 0;
};

// The failure of every job that was given up on: "系统翻译没有响应，已重新连接，请重试（TR-5）".
ModuleError hostNotRespondingError();

}  // namespace parlaro
