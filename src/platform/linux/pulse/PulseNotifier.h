#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace parlaro::sys {

// The audio system's notification thread: listeners run here (or are
// dispatched from here to their queues), never on a server loop thread, so a
// listener may call back into the audio system, blocking calls included.
class PulseNotifier {
public:
    PulseNotifier();
    // Runs what is queued, then ends the thread.
    ~PulseNotifier();
    PulseNotifier(const PulseNotifier&) = delete;
    PulseNotifier& operator=(const PulseNotifier&) = delete;

    void post(std::function<void()> job);
    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace parlaro::sys
