#include "audio/CallAudioCapturing.h"

#include <exception>

namespace parlaro {

void syncOnQueue(rt::SerialQueue& queue, const std::function<void()>& job)
{
    std::exception_ptr failure;
    queue.sync([&] {
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace parlaro
