#include "platform/linux/pulse/PulseTapIO.h"

#include "platform/linux/pulse/PulseDeviceIO.h"

#include <algorithm>
#include <cstdio>

namespace parlaro::sys {

namespace {

// The mixer's clock: the host clock, in the microseconds the loop's timers
// take (both are CLOCK_MONOTONIC).
std::uint64_t nowMicros() noexcept
{
    return pulseHostNow() / 1000;
}

}  // namespace

PulseTapIO::PulseTapIO(AudioObjectId device, AudioIOProc proc, void* context)
    : device_(device), proc_(proc), context_(context)
{
}

PulseTapIO::~PulseTapIO() = default;

void PulseTapIO::start(pa_context* context, pa_mainloop_api* api, std::uint32_t frames,
                       const std::vector<PulsePlayingStream>& playing)
{
    stop();
    pulse_ = context;
    api_ = api;
    mixer_ = std::make_unique<PulseTapMixer>(frames);
    follow(playing);
    const std::uint64_t now = nowMicros();
    mixer_->start(now);
    timer_ = pa_context_rttime_new(pulse_, mixer_->wakeMicros(), onTimer, this);
}

void PulseTapIO::stop()
{
    if (timer_) {
        api_->time_free(timer_);
        timer_ = nullptr;
    }
    for (auto& member : members_)
        leave(*member);
    members_.clear();
    pace({});
    if (!mixer_)
        return;
    const std::uint64_t dropped = mixer_->droppedFrames();
    const std::uint64_t skipped = mixer_->skippedFrames();
    if (dropped > 0 || skipped > 0)
        std::fprintf(stderr,
                     "parlaro: far-end capture fell more than %.1f s behind: %llu frames of sound dropped, %llu "
                     "frames of time skipped\n",
                     static_cast<double>(PulseTapMixer::backlogMicros) * 1e-6, static_cast<unsigned long long>(dropped),
                     static_cast<unsigned long long>(skipped));
    mixer_.reset();
}

void PulseTapIO::follow(const std::vector<PulsePlayingStream>& playing, const std::vector<std::string>& monitors)
{
    pace(monitors);
    std::erase_if(members_, [&](const std::unique_ptr<Member>& member) {
        if (std::find(playing.begin(), playing.end(), member->source) != playing.end())
            return false;
        leave(*member);
        return true;
    });
    for (const auto& stream : playing) {
        const bool known =
            std::any_of(members_.begin(), members_.end(), [&](const auto& member) { return member->source == stream; });
        if (!known)
            join(stream);
    }
}

void PulseTapIO::join(const PulsePlayingStream& playing)
{
    if (!pulse_ || !mixer_ || playing.monitor.empty())
        return;
    auto member = std::make_unique<Member>();
    member->io = this;
    member->source = playing;
    pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, rate, channels};
    member->stream = pa_stream_new(pulse_, "far end", &sampleFormat, nullptr);
    if (!member->stream)
        return;
    if (pa_stream_set_monitor_stream(member->stream, playing.sinkInput) < 0) {
        pa_stream_unref(member->stream);
        return;
    }
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = mixer_->frames() * channels * 4;
    member->sound = &mixer_->join();
    pa_stream_set_read_callback(member->stream, onRead, member.get());
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(member->stream, playing.monitor.c_str(), &attr, flags) < 0) {
        pa_stream_set_read_callback(member->stream, nullptr, nullptr);
        pa_stream_unref(member->stream);
        mixer_->leave(*member->sound);
        return;
    }
    members_.push_back(std::move(member));
}

void PulseTapIO::pace(const std::vector<std::string>& monitors)
{
    // One the server ended is made again while its monitor is there.
    std::erase_if(paced_, [&](Paced& paced) {
        if (std::find(monitors.begin(), monitors.end(), paced.monitor) != monitors.end()
            && PA_STREAM_IS_GOOD(pa_stream_get_state(paced.stream)))
            return false;
        release(paced.stream);
        return true;
    });
    if (!pulse_)
        return;
    for (const auto& monitor : monitors) {
        if (monitor.empty()
            || std::any_of(paced_.begin(), paced_.end(), [&](const Paced& paced) { return paced.monitor == monitor; }))
            continue;
        // Peaks at a low rate: the server neither resamples nor sends the
        // sound itself, and one value a fragment sets the latency asked.
        pa_sample_spec peaks{PA_SAMPLE_FLOAT32LE, pacedRate, 1};
        pa_stream* stream = pa_stream_new(pulse_, "far end pace", &peaks, nullptr);
        if (!stream)
            continue;
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = sizeof(float);
        pa_stream_set_read_callback(stream, onPacedRead, nullptr);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_PEAK_DETECT);
        if (pa_stream_connect_record(stream, monitor.c_str(), &attr, flags) < 0) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
            continue;
        }
        paced_.push_back({monitor, stream});
    }
}

void PulseTapIO::release(pa_stream*& stream)
{
    if (!stream)
        return;
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void PulseTapIO::onPacedRead(pa_stream* stream, std::size_t, void*)
{
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0)
            break;
        pa_stream_drop(stream);
    }
}

void PulseTapIO::leave(Member& member)
{
    if (member.sound && mixer_)
        mixer_->leave(*member.sound);
    member.sound = nullptr;
    release(member.stream);
}

void PulseTapIO::onRead(pa_stream* stream, std::size_t, void* data)
{
    auto* member = static_cast<Member*>(data);
    PulseTapIO& io = *member->io;
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0)
            break;
        io.mixer_->write(*member->sound, static_cast<const float*>(bytes), length / sizeof(float));
        pa_stream_drop(stream);
    }
    // Cycles that waited for this sound go out now, not at the next tick.
    io.pump();
}

void PulseTapIO::onTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    static_cast<PulseTapIO*>(self)->pump();
}

void PulseTapIO::pump() noexcept
{
    if (!timer_)
        return;
    const std::uint64_t now = nowMicros();
    int sent = 0;
    while (sent < burst && mixer_->pull(now)) {
        deliver();
        ++sent;
    }
    // After a burst the loop serves the streams (whose sound the next
    // cycles may need) and comes straight back.
    pa_context_rttime_restart(pulse_, timer_, sent == burst ? now : mixer_->wakeMicros());
}

void PulseTapIO::deliver() noexcept
{
    const auto mix = mixer_->mix();
    const std::uint32_t frames = mixer_->frames();
    const std::uint64_t start = mixer_->startMicros() * 1000;
    const std::uint64_t end = start + static_cast<std::uint64_t>(static_cast<double>(frames) * 1e9 / rate);
    const double sample = mixer_->sampleTime();
    const std::uint32_t flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
    AudioTimeStamp nowStamp{sample + frames, end, 1, flags};
    AudioTimeStamp inputTime{sample, start, 1, flags};
    AudioTimeStamp outputTime{sample + frames, end, 1, flags};
    AudioIOBuffer input{channels, static_cast<std::uint32_t>(mix.size() * sizeof(float)), mix.data()};
    proc_(device_, nowStamp, std::span<const AudioIOBuffer>(&input, 1), inputTime, std::span<AudioIOBuffer>(),
          outputTime, context_);
}

}  // namespace parlaro::sys
