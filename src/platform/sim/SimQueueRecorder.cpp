#include "platform/sim/SimQueueRecorder.h"

#include <algorithm>

namespace parlaro::sim {

SimQueueRecorder::SimQueueRecorder(AudioSystem& system) : AudioSystemDecorator(system)
{
}

std::vector<std::shared_ptr<SimAudioQueue>> SimQueueRecorder::made() const
{
    std::lock_guard lock(mutex_);
    return made_;
}

bool SimQueueRecorder::allDisposed() const
{
    auto queues = made();
    return std::all_of(queues.begin(), queues.end(), [](const auto& queue) { return queue->isDisposed(); });
}

void SimQueueRecorder::keep(const std::shared_ptr<AudioQueue>& queue)
{
    if (auto simulated = std::dynamic_pointer_cast<SimAudioQueue>(queue)) {
        std::lock_guard lock(mutex_);
        made_.push_back(std::move(simulated));
    }
}

AudioStatus SimQueueRecorder::newOutputQueue(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                                             void* userData, std::shared_ptr<AudioQueue>& queue)
{
    const AudioStatus status = system_.newOutputQueue(format, callback, userData, queue);
    keep(queue);
    return status;
}

AudioStatus SimQueueRecorder::newInputQueue(const AudioStreamDescription& format, AudioQueueInputCallback callback,
                                            void* userData, std::shared_ptr<AudioQueue>& queue)
{
    const AudioStatus status = system_.newInputQueue(format, callback, userData, queue);
    keep(queue);
    return status;
}

}  // namespace parlaro::sim
