#include "platform/AudioCallbackQueue.h"

#include "runtime/Runtime.h"

namespace parlaro {

std::string AudioCallbackQueue::label() const
{
    switch (kind_) {
    case Kind::main:
        return "main";
    case Kind::serial:
        return queue_ ? queue_->label() : std::string();
    case Kind::notificationThread:
        break;
    }
    return {};
}

void AudioCallbackQueue::dispatch(rt::Job job) const
{
    switch (kind_) {
    case Kind::main:
        rt::postToMain(std::move(job));
        return;
    case Kind::serial:
        if (queue_)
            queue_->async(std::move(job));
        return;
    case Kind::notificationThread:
        job();
        return;
    }
}

}  // namespace parlaro
