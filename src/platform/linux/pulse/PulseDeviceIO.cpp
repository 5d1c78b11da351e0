#include "platform/linux/pulse/PulseDeviceIO.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace parlaro::sys {

std::uint64_t pulseHostNow() noexcept
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

PulseDeviceIO::PulseDeviceIO(AudioObjectId device, AudioIOProc proc, void* context)
    : device_(device), proc_(proc), context_(context)
{
}

PulseDeviceIO::~PulseDeviceIO() = default;

pa_stream* PulseDeviceIO::makeStream(pa_context* context, const PulseSide& side, const char* name)
{
    pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, side.rate, static_cast<std::uint8_t>(side.channels)};
    if (!pa_sample_spec_valid(&sampleFormat))
        return nullptr;
    return pa_stream_new(context, name, &sampleFormat, nullptr);
}

bool PulseDeviceIO::start(pa_context* context, pa_threaded_mainloop* loop, const PulseSide& input,
                          const PulseSide& output, std::uint32_t frames, std::function<void()> onOverload)
{
    stop();
    loop_ = loop;
    frames_ = std::max<std::uint32_t>(frames, 1);
    onOverload_ = std::move(onOverload);
    inputChannels_ = input.name.empty() ? 0 : input.channels;
    outputChannels_ = output.name.empty() ? 0 : output.channels;
    rate_ = !input.name.empty() ? input.rate : output.rate;
    input_.assign(static_cast<std::size_t>(frames_) * inputChannels_, 0.0f);
    output_.assign(static_cast<std::size_t>(frames_) * outputChannels_, 0.0f);
    inputFilled_ = 0;
    outputPending_ = 0;
    inputSample_ = 0;
    outputSample_ = 0;
    inputClock_.reset();
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE
                                                      | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_DONT_MOVE);
    if (inputChannels_ > 0) {
        record_ = makeStream(context, {input.name, input.channels, static_cast<std::uint32_t>(rate_)}, "input");
        if (record_) {
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<std::uint32_t>(-1);
            attr.fragsize = frames_ * inputChannels_ * 4;
            pa_stream_set_state_callback(record_, onState, this);
            pa_stream_set_read_callback(record_, onRead, this);
            pa_stream_set_overflow_callback(record_, onXrun, this);
            if (pa_stream_connect_record(record_, input.name.c_str(), &attr, flags) < 0) {
                pa_stream_unref(record_);
                record_ = nullptr;
            }
        }
    }
    if (outputChannels_ > 0) {
        playback_ = makeStream(context, {output.name, output.channels, static_cast<std::uint32_t>(rate_)}, "output");
        if (playback_) {
            const std::uint32_t block = frames_ * outputChannels_ * 4;
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<std::uint32_t>(-1);
            // With a latency request the server runs the sink at about
            // (tlength - 2 minreq) / 2: two cycles with the server's own
            // minreq keep the sink under a cycle (minreq at one cycle would
            // ask for no latency at all and starve the sink).
            attr.tlength = 2 * block;
            attr.prebuf = block;
            attr.minreq = static_cast<std::uint32_t>(-1);
            attr.fragsize = static_cast<std::uint32_t>(-1);
            pa_stream_set_state_callback(playback_, onState, this);
            if (!record_)
                pa_stream_set_write_callback(playback_, onWrite, this);
            pa_stream_set_underflow_callback(playback_, onXrun, this);
            if (pa_stream_connect_playback(playback_, output.name.c_str(), &attr, flags, nullptr, nullptr) < 0) {
                pa_stream_unref(playback_);
                playback_ = nullptr;
            }
        }
    }
    if (!record_ && !playback_)
        return false;
    return true;
}

void PulseDeviceIO::stop()
{
    for (pa_stream** stream : {&record_, &playback_}) {
        if (!*stream)
            continue;
        pa_stream_set_state_callback(*stream, nullptr, nullptr);
        pa_stream_set_read_callback(*stream, nullptr, nullptr);
        pa_stream_set_write_callback(*stream, nullptr, nullptr);
        pa_stream_set_overflow_callback(*stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(*stream, nullptr, nullptr);
        pa_stream_disconnect(*stream);
        pa_stream_unref(*stream);
        *stream = nullptr;
    }
}

bool PulseDeviceIO::ready() const
{
    for (pa_stream* stream : {record_, playback_})
        if (stream && pa_stream_get_state(stream) != PA_STREAM_READY)
            return false;
    return true;
}

bool PulseDeviceIO::failed() const
{
    for (pa_stream* stream : {record_, playback_})
        if (stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            return true;
    return false;
}

void PulseDeviceIO::onState(pa_stream*, void* self)
{
    auto* io = static_cast<PulseDeviceIO*>(self);
    if (io->loop_)
        pa_threaded_mainloop_signal(io->loop_, 0);
}

void PulseDeviceIO::onXrun(pa_stream*, void* self)
{
    auto* io = static_cast<PulseDeviceIO*>(self);
    if (io->onOverload_)
        io->onOverload_();
}

void PulseDeviceIO::onRead(pa_stream* stream, std::size_t, void* self)
{
    auto* io = static_cast<PulseDeviceIO*>(self);
    const std::size_t capacity = io->input_.size();
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        std::size_t floats = bytes / sizeof(float);
        const auto* samples = static_cast<const float*>(data);
        std::size_t taken = 0;
        while (taken < floats) {
            const std::size_t n = std::min(capacity - io->inputFilled_, floats - taken);
            if (samples)
                std::memcpy(io->input_.data() + io->inputFilled_, samples + taken, n * sizeof(float));
            else
                std::memset(io->input_.data() + io->inputFilled_, 0, n * sizeof(float));
            io->inputFilled_ += n;
            taken += n;
            if (io->inputFilled_ == capacity) {
                io->cycle(true);
                io->inputFilled_ = 0;
            }
        }
        pa_stream_drop(stream);
    }
}

void PulseDeviceIO::onWrite(pa_stream* stream, std::size_t bytes, void* self)
{
    // The server asks for any amount; cycles stay whole, and what a cycle
    // made beyond the request waits for the next one.
    auto* io = static_cast<PulseDeviceIO*>(self);
    const std::size_t block = io->output_.size() * sizeof(float);
    if (block == 0)
        return;
    while (bytes > 0) {
        if (io->outputPending_ == 0) {
            io->cycle(false);
            io->outputPending_ = block;
        }
        const std::size_t n = std::min(bytes, io->outputPending_);
        const auto* data = reinterpret_cast<const std::uint8_t*>(io->output_.data()) + (block - io->outputPending_);
        if (pa_stream_write(stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        io->outputPending_ -= n;
        bytes -= n;
        if (io->outputPending_ == 0)
            io->outputSample_ += io->frames_;
    }
}

void PulseDeviceIO::cycle(bool write)
{
    const std::uint64_t now = pulseHostNow();
    const double seconds = frames_ / rate_;
    if (record_) {
        // The cycle's last frame was at the device `latency` ago.
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(record_, &latency, &negative) == 0)
            inputClock_.observe(now * 1e-9 - (negative ? 0.0 : latency / 1e6), inputSample_ + frames_, rate_);
    }
    double outputLatency = 0;
    if (playback_) {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(playback_, &latency, &negative) == 0)
            outputLatency = negative ? 0.0 : latency / 1e6;
    }
    const auto at = [now](double offset) {
        const double ns = static_cast<double>(now) + offset * 1e9;
        return ns <= 0 ? std::uint64_t{0} : static_cast<std::uint64_t>(ns);
    };
    const std::uint32_t flags = AudioTimeStamp::sampleTimeValid | AudioTimeStamp::hostTimeValid;
    AudioTimeStamp nowStamp{inputSample_ + frames_, now, 1, flags};
    AudioTimeStamp inputTime{
        inputSample_, inputClock_.known() ? hostTicks(inputClock_.hostSeconds(inputSample_, rate_)) : at(-seconds), 1,
        flags};
    AudioTimeStamp outputTime{outputSample_, at(outputLatency), 1, flags};

    AudioIOBuffer inputBuffer{inputChannels_, static_cast<std::uint32_t>(input_.size() * sizeof(float)), input_.data()};
    AudioIOBuffer outputBuffer{outputChannels_, static_cast<std::uint32_t>(output_.size() * sizeof(float)),
                               output_.data()};
    std::fill(output_.begin(), output_.end(), 0.0f);
    std::span<const AudioIOBuffer> inputs(&inputBuffer, inputChannels_ > 0 ? 1 : 0);
    std::span<AudioIOBuffer> outputs(&outputBuffer, outputChannels_ > 0 ? 1 : 0);
    proc_(device_, nowStamp, inputs, inputTime, outputs, outputTime, context_);
    if (inputChannels_ > 0)
        inputSample_ += frames_;
    if (write && playback_ && pa_stream_get_state(playback_) == PA_STREAM_READY) {
        pa_stream_write(playback_, output_.data(), output_.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
        outputSample_ += frames_;
    }
}

}  // namespace parlaro::sys
