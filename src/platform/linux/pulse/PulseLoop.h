#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
#include <string>

namespace parlaro::sys {

// One threaded server loop and its thread. Everything that touches the loop's
// objects holds its lock; callbacks run on its thread with the lock held.
class PulseLoop {
public:
    explicit PulseLoop(const char* name);
    ~PulseLoop();
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }
    bool inThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }
    void lock() const { pa_threaded_mainloop_lock(loop_); }
    void unlock() const { pa_threaded_mainloop_unlock(loop_); }
    // On the loop thread: wakes every waiter.
    void signal() const { pa_threaded_mainloop_signal(loop_, 0); }
    // Under the lock, off the loop thread: waits until `done` holds or
    // `seconds` have passed; the answer is `done()` at the end.
    bool waitLocked(const std::function<bool()>& done, double seconds) const;

private:
    pa_threaded_mainloop* loop_;
};

class PulseLoopLock {
public:
    explicit PulseLoopLock(const PulseLoop& loop) : loop_(loop) { loop_.lock(); }
    ~PulseLoopLock() { loop_.unlock(); }
    PulseLoopLock(const PulseLoopLock&) = delete;
    PulseLoopLock& operator=(const PulseLoopLock&) = delete;

private:
    const PulseLoop& loop_;
};

// An operation's completion, waited for under the loop lock. Callbacks given
// `this` as user data set the outcome and signal the loop.
struct PulseCompletion {
    const PulseLoop* loop = nullptr;
    bool done = false;
    bool success = false;
    std::uint32_t index = PA_INVALID_INDEX;

    static void onSuccess(pa_context*, int success, void* self);
    static void onIndex(pa_context*, std::uint32_t index, void* self);
    // Waits for the operation (taking over its reference); on timeout it is
    // cancelled, so no callback can reach this completion afterwards.
    bool wait(pa_operation* operation, double seconds);
};

// The text of a server error code.
std::string pulseErrorText(int code);

}  // namespace parlaro::sys
