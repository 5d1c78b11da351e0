#include "platform/linux/sphinx/SphinxRequest.h"

#include "platform/linux/sphinx/SphinxEngine.h"
#include "platform/linux/sphinx/SphinxTaskState.h"

#include <utility>

namespace parlaro::sys {

AudioFormat SphinxRequest::nativeAudioFormat() const
{
    return AudioFormat{sphinxSampleRate, 1, SampleType::int16, true};
}

void SphinxRequest::append(const PcmBuffer& buffer)
{
    if (buffer.format().sampleRate != sphinxSampleRate || buffer.frameLength() == 0)
        return;
    std::vector<std::int16_t> samples(buffer.frameLength());
    if (const auto* data = buffer.int16ChannelData(0)) {
        for (std::size_t f = 0; f < samples.size(); ++f)
            samples[f] = data[f * buffer.stride()];
    } else {
        for (std::size_t f = 0; f < samples.size(); ++f)
            samples[f] = floatToInt16(buffer.floatSample(f, 0));
    }
    std::lock_guard lock(mutex_);
    if (ended_)
        return;
    if (task_)
        engine_->audio(task_, std::move(samples));
    else
        pending_.insert(pending_.end(), samples.begin(), samples.end());
}

void SphinxRequest::endAudio()
{
    std::lock_guard lock(mutex_);
    if (ended_)
        return;
    ended_ = true;
    if (task_)
        engine_->end(task_);
}

// Audio that arrived before the task started goes to the decoder first.
bool SphinxRequest::attach(const std::shared_ptr<SphinxTaskState>& task)
{
    std::lock_guard lock(mutex_);
    if (task_)
        return false;
    task_ = task;
    engine_->begin(task);
    if (!pending_.empty())
        engine_->audio(task, std::exchange(pending_, {}));
    if (ended_)
        engine_->end(task);
    return true;
}

}  // namespace parlaro::sys
