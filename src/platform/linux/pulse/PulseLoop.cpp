#include "platform/linux/pulse/PulseLoop.h"

#include <stdexcept>

namespace parlaro::sys {

PulseLoop::PulseLoop(const char* name) : loop_(pa_threaded_mainloop_new())
{
    if (!loop_)
        throw std::runtime_error("cannot make a sound server loop");
    pa_threaded_mainloop_set_name(loop_, name);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        throw std::runtime_error("cannot start a sound server loop");
    }
}

PulseLoop::~PulseLoop()
{
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

namespace {

struct Alarm {
    const PulseLoop* loop;
    bool fired = false;
};

void ring(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data)
{
    auto* alarm = static_cast<Alarm*>(data);
    alarm->fired = true;
    alarm->loop->signal();
}

}  // namespace

bool PulseLoop::waitLocked(const std::function<bool()>& done, double seconds) const
{
    if (done())
        return true;
    Alarm alarm{this};
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(seconds * 1e6));
    pa_time_event* event = api()->time_new(api(), &when, ring, &alarm);
    while (!done() && !alarm.fired)
        pa_threaded_mainloop_wait(loop_);
    api()->time_free(event);
    return done();
}

void PulseCompletion::onSuccess(pa_context*, int success, void* self)
{
    auto* completion = static_cast<PulseCompletion*>(self);
    completion->success = success != 0;
    completion->done = true;
    completion->loop->signal();
}

void PulseCompletion::onIndex(pa_context*, std::uint32_t index, void* self)
{
    auto* completion = static_cast<PulseCompletion*>(self);
    completion->index = index;
    completion->success = index != PA_INVALID_INDEX;
    completion->done = true;
    completion->loop->signal();
}

bool PulseCompletion::wait(pa_operation* operation, double seconds)
{
    if (!operation)
        return false;
    loop->waitLocked([&] { return done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, seconds);
    if (!done)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done && success;
}

std::string pulseErrorText(int code)
{
    const char* text = pa_strerror(code);
    return text ? text : "Unknown error code";
}

}  // namespace parlaro::sys
