#include "platform/linux/pulse/PulseTapIO.h"

#include "platform/linux/pulse/PulseDeviceIO.h"

#include <algorithm>
#include <cstring>

namespace parlaro::sys {

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
    frames_ = std::max<std::uint32_t>(frames, 1);
    mix_.assign(static_cast<std::size_t>(frames_) * channels, 0.0f);
    sample_ = 0;
    follow(playing);
    pa_gettimeofday(&next_);
    pa_timeval_add(&next_, static_cast<pa_usec_t>(frames_ * 1e6 / rate));
    timer_ = api_->time_new(api_, &next_, onTimer, this);
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
}

void PulseTapIO::follow(const std::vector<PulsePlayingStream>& playing)
{
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
    if (!pulse_ || playing.monitor.empty())
        return;
    auto member = std::make_unique<Member>();
    member->source = playing;
    // A second of sound: far more than a cycle, so a late timer loses nothing.
    member->ring.assign(static_cast<std::size_t>(rate) * channels, 0.0f);
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
    attr.fragsize = frames_ * channels * 4;
    pa_stream_set_read_callback(member->stream, onRead, member.get());
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(member->stream, playing.monitor.c_str(), &attr, flags) < 0) {
        pa_stream_set_read_callback(member->stream, nullptr, nullptr);
        pa_stream_unref(member->stream);
        return;
    }
    members_.push_back(std::move(member));
}

void PulseTapIO::leave(Member& member)
{
    if (!member.stream)
        return;
    pa_stream_set_read_callback(member.stream, nullptr, nullptr);
    pa_stream_disconnect(member.stream);
    pa_stream_unref(member.stream);
    member.stream = nullptr;
}

void PulseTapIO::onRead(pa_stream* stream, std::size_t, void* data)
{
    auto* member = static_cast<Member*>(data);
    const std::size_t size = member->ring.size();
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0)
            return;
        const std::size_t floats = length / sizeof(float);
        const auto* samples = static_cast<const float*>(bytes);
        for (std::size_t i = 0; i < floats; ++i)
            member->ring[(member->written + i) % size] = samples ? samples[i] : 0.0f;
        member->written += floats;
        // A ring that overflows keeps its newest second.
        if (member->written - member->read > size)
            member->read = member->written - size;
        pa_stream_drop(stream);
    }
}

void PulseTapIO::onTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self)
{
    auto* io = static_cast<PulseTapIO*>(self);
    io->cycle();
    pa_timeval_add(&io->next_, static_cast<pa_usec_t>(io->frames_ * 1e6 / rate));
    struct timeval now;
    pa_gettimeofday(&now);
    // After a long stall the clock starts over rather than racing to catch up.
    if (pa_timeval_cmp(&io->next_, &now) < 0)
        io->next_ = now;
    api->time_restart(event, &io->next_);
}

void PulseTapIO::cycle()
{
    std::fill(mix_.begin(), mix_.end(), 0.0f);
    const std::size_t wanted = mix_.size();
    for (const auto& member : members_) {
        const std::size_t size = member->ring.size();
        std::size_t available = member->written - member->read;
        // The server hands a stream's sound over in bursts: a member plays
        // once two cycles wait, and waits again after running dry.
        if (!member->primed) {
            if (available < 2 * wanted)
                continue;
            member->primed = true;
        }
        // Far more waiting than bursts explain means the stream's clock runs
        // ahead of the timer; skip to two cycles so the delay stays bounded.
        if (available > 8 * wanted) {
            member->read = member->written - 2 * wanted;
            available = 2 * wanted;
        }
        const std::size_t n = std::min(available, wanted);
        for (std::size_t i = 0; i < n; ++i)
            mix_[i] += member->ring[(member->read + i) % size];
        member->read += n;
        if (n < wanted)
            member->primed = false;
    }
    const std::uint64_t now = pulseHostNow();
    const std::uint32_t flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
    const double seconds = static_cast<double>(frames_) / rate;
    const auto start = static_cast<std::uint64_t>(std::max(0.0, static_cast<double>(now) - seconds * 1e9));
    AudioTimeStamp nowStamp{sample_ + frames_, now, 1, flags};
    AudioTimeStamp inputTime{sample_, start, 1, flags};
    AudioTimeStamp outputTime{sample_ + frames_, now, 1, flags};
    AudioIOBuffer input{channels, static_cast<std::uint32_t>(mix_.size() * sizeof(float)), mix_.data()};
    proc_(device_, nowStamp, std::span<const AudioIOBuffer>(&input, 1), inputTime, std::span<AudioIOBuffer>(),
          outputTime, context_);
    sample_ += frames_;
}

}  // namespace parlaro::sys
