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
    std::unique_lock lock(mutex_);
    if (ended_)
        return;
    if (!task_) {
        pending_.insert(pending_.end(), samples.begin(), samples.end());
        return;
    }
    steps_.push_back(Step{Step::Kind::audio, std::move(samples)});
    handOver(std::move(lock));
}

void SphinxRequest::endAudio()
{
    std::unique_lock lock(mutex_);
    if (ended_)
        return;
    ended_ = true;
    if (!task_)
        return;
    // Finishing from now on, even while another thread still hands the
    // end over.
    task_->finishing = true;
    steps_.push_back(Step{Step::Kind::end, {}});
    handOver(std::move(lock));
}

bool SphinxRequest::attach(const std::shared_ptr<SphinxTaskState>& task)
{
    std::unique_lock lock(mutex_);
    if (task_)
        return false;
    // Nothing was handed over before the task came, so this thread hands
    // over its start, and whatever is asked meanwhile comes after it.
    task_ = task;
    steps_.push_back(Step{Step::Kind::begin, {}});
    if (!pending_.empty())
        steps_.push_back(Step{Step::Kind::audio, std::exchange(pending_, {})});
    if (ended_)
        steps_.push_back(Step{Step::Kind::end, {}});
    handOver(std::move(lock));
    return true;
}

void SphinxRequest::handOver(std::unique_lock<std::mutex> lock)
{
    if (handingOver_)
        return;
    handingOver_ = true;
    while (!steps_.empty()) {
        auto steps = std::exchange(steps_, {});
        lock.unlock();
        try {
            for (auto& step : steps) {
                switch (step.kind) {
                case Step::Kind::begin:
                    engine_->begin(task_);
                    break;
                case Step::Kind::audio:
                    engine_->audio(task_, std::move(step.samples));
                    break;
                case Step::Kind::end:
                    engine_->end(task_);
                    break;
                }
            }
        } catch (...) {
            lock.lock();
            handingOver_ = false;
            throw;
        }
        lock.lock();
    }
    handingOver_ = false;
}

}  // namespace parlaro::sys
