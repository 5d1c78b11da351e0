#pragma once

#include "runtime/Runtime.h"
#include "runtime/SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace parlaro::rt {

// A serial queue with a thread of its own.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;

    const std::string& label() const override { return label_; }
    void async(Job job) override;
    void sync(const Job& job) override;
    bool syncWithin(double seconds, const Job& job) override;
    bool isCurrent() const override { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void loop();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

class ThreadQueueFactory final : public QueueFactory {
public:
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override
    {
        return std::make_shared<ThreadSerialQueue>(std::move(label));
    }
};

} // namespace parlaro::rt
