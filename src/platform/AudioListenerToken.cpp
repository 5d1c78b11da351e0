#include "platform/AudioListenerToken.h"

#include <utility>

namespace parlaro {

AudioListenerToken::AudioListenerToken(AudioListenerToken&& other) noexcept
    : remove_(std::exchange(other.remove_, nullptr)), status_(other.status_)
{
}

AudioListenerToken& AudioListenerToken::operator=(AudioListenerToken&& other) noexcept
{
    if (this != &other) {
        release();
        remove_ = std::exchange(other.remove_, nullptr);
        status_ = other.status_;
    }
    return *this;
}

void AudioListenerToken::release()
{
    if (auto remove = std::exchange(remove_, nullptr))
        remove();
}

}  // namespace parlaro
