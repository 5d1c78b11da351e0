#include "platform/AudioConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace parlaro {
namespace {

using Status = AudioConverter::OutputStatus;
using InputStatus = AudioConverter::InputStatus;

AudioFormat mono(double rate, SampleType type = SampleType::float32)
{
    return {.sampleRate = rate, .channelCount = 1, .sampleType = type, .interleaved = type == SampleType::int16};
}

PcmBuffer sine(const AudioFormat& format, std::size_t frames, double frequency, double amplitude = 0.5)
{
    PcmBuffer buffer(format, frames);
    buffer.setFrameLength(frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double value = amplitude * std::sin(2 * std::numbers::pi * frequency * double(frame) / format.sampleRate);
        for (std::uint32_t channel = 0; channel < format.channelCount; ++channel) {
            buffer.setFloatSample(frame, channel, static_cast<float>(value));
        }
    }
    return buffer;
}

// Serves a recorded signal in chunks of the given sizes, cycling through
// them; a size of 0 answers noDataNow once. Ends with endOfStream.
class Source {
public:
    Source(const PcmBuffer& signal, std::vector<std::size_t> chunks)
        : signal_(signal), chunk_(signal.format(), 8192), chunks_(std::move(chunks))
    {
    }

    AudioConverter::InputBlock block()
    {
        return [this](std::size_t, InputStatus& status) -> const PcmBuffer* {
            ++calls;
            if (position_ == signal_.frameLength()) {
                status = InputStatus::endOfStream;
                return nullptr;
            }
            const std::size_t size = chunks_[next_++ % chunks_.size()];
            if (size == 0) {
                status = InputStatus::noDataNow;
                return nullptr;
            }
            const std::size_t count = std::min({size, signal_.frameLength() - position_, chunk_.frameCapacity()});
            for (std::size_t frame = 0; frame < count; ++frame) {
                for (std::uint32_t channel = 0; channel < signal_.format().channelCount; ++channel) {
                    chunk_.setFloatSample(frame, channel, signal_.floatSample(position_ + frame, channel));
                }
            }
            chunk_.setFrameLength(count);
            position_ += count;
            status = InputStatus::haveData;
            return &chunk_;
        };
    }

    int calls = 0;

private:
    const PcmBuffer& signal_;
    PcmBuffer chunk_;
    std::vector<std::size_t> chunks_;
    std::size_t next_ = 0;
    std::size_t position_ = 0;
};

struct Drained {
    std::vector<std::vector<float>> channels;
    int dryCalls = 0;
};

// Converts until the end of the stream, asking for `capacity` frames a call.
Drained drain(AudioConverter& converter, Source& source, std::size_t capacity)
{
    Drained result;
    result.channels.resize(converter.outputFormat().channelCount);
    PcmBuffer output(converter.outputFormat(), capacity);
    auto block = source.block();
    for (int call = 0; call < 100000; ++call) {
        const auto [status, error] = converter.convert(output, block);
        EXPECT_NE(status, Status::error) << (error ? error->localizedDescription() : "");
        for (std::size_t frame = 0; frame < output.frameLength(); ++frame) {
            for (std::uint32_t channel = 0; channel < output.format().channelCount; ++channel) {
                result.channels[channel].push_back(output.floatSample(frame, channel));
            }
        }
        if (status == Status::inputRanDry) {
            ++result.dryCalls;
        }
        if (status == Status::endOfStream) {
            EXPECT_EQ(output.frameLength(), 0u);
            return result;
        }
        if (status == Status::error) {
            return result;
        }
    }
    ADD_FAILURE() << "the stream never ended";
    return result;
}

std::size_t risingZeroCrossings(const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    std::size_t count = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        count += samples[i - 1] < 0 && samples[i] >= 0;
    }
    return count;
}

TEST(AudioConverter, ResampledLengthsFollowTheRateRatio)
{
    const PcmBuffer second = sine(mono(48000), 48000, 440);
    AudioConverter down(mono(48000), mono(16000));
    Source source(second, {480});
    const Drained at16k = drain(down, source, 1024);
    EXPECT_NEAR(double(at16k.channels[0].size()), 16000.0, 3.0);

    PcmBuffer back(mono(16000), at16k.channels[0].size());
    back.setFrameLength(at16k.channels[0].size());
    for (std::size_t i = 0; i < back.frameLength(); ++i) {
        back.setFloatSample(i, 0, at16k.channels[0][i]);
    }
    AudioConverter up(mono(16000), mono(48000));
    Source again(back, {333});
    const Drained at48k = drain(up, again, 4000);
    EXPECT_NEAR(double(at48k.channels[0].size()), 48000.0, 9.0);

    AudioConverter odd(mono(44100), mono(48000));
    const PcmBuffer cd = sine(mono(44100), 44100, 1000);
    Source cdSource(cd, {4410});
    EXPECT_NEAR(double(drain(odd, cdSource, 512).channels[0].size()), 48000.0, 3.0);
}

TEST(AudioConverter, ResamplingKeepsFrequencyAndLevel)
{
    const PcmBuffer signal = sine(mono(48000), 48000, 440, 0.5);
    AudioConverter converter(mono(48000), mono(16000, SampleType::int16));
    Source source(signal, {960});
    const std::vector<float> out = drain(converter, source, 800).channels[0];
    ASSERT_GE(out.size(), 15990u);

    // Half a second from the middle, away from the filter's edges.
    EXPECT_NEAR(double(risingZeroCrossings(out, 4000, 12000)), 220.0, 1.0);
    float peak = 0;
    for (std::size_t i = 4000; i < 12000; ++i) {
        peak = std::max(peak, std::fabs(out[i]));
    }
    EXPECT_NEAR(peak, 0.5f, 0.01f);

    // Output frame n lies at input time n / 16000: the signal is not delayed.
    for (std::size_t n : {5000u, 8001u, 11111u}) {
        const double expected = 0.5 * std::sin(2 * std::numbers::pi * 440 * double(n) / 16000);
        EXPECT_NEAR(out[n], expected, 0.002) << n;
    }
}

TEST(AudioConverter, ChannelMapping)
{
    auto convertOnce = [](const PcmBuffer& input, const AudioFormat& to) {
        AudioConverter converter(input.format(), to);
        bool given = false;
        auto result = converter.convert(input.frameLength(), [&](std::size_t, InputStatus& status) {
            status = given ? InputStatus::endOfStream : InputStatus::haveData;
            const PcmBuffer* buffer = given ? nullptr : &input;
            given = true;
            return buffer;
        });
        EXPECT_EQ(result.status, Status::haveData);
        EXPECT_EQ(result.buffer.frameLength(), input.frameLength());
        return std::move(result.buffer);
    };
    auto layout = [](std::uint32_t channels, SampleType type, bool interleaved) {
        return AudioFormat{
            .sampleRate = 16000, .channelCount = channels, .sampleType = type, .interleaved = interleaved};
    };

    PcmBuffer stereo(layout(2, SampleType::int16, true), 2);
    stereo.setFrameLength(2);
    stereo.setFloatSample(0, 0, 0.25f);
    stereo.setFloatSample(0, 1, 0.75f);
    stereo.setFloatSample(1, 0, -0.5f);
    stereo.setFloatSample(1, 1, 0.5f);
    const PcmBuffer averaged = convertOnce(stereo, layout(1, SampleType::float32, false));
    EXPECT_FLOAT_EQ(averaged.floatSample(0, 0), 0.5f);
    EXPECT_FLOAT_EQ(averaged.floatSample(1, 0), 0.0f);

    const PcmBuffer single = convertOnce(averaged, layout(3, SampleType::int16, false));
    for (std::uint32_t channel = 0; channel < 3; ++channel) {
        EXPECT_EQ(single.int16ChannelData(channel)[0], 16384);
    }

    PcmBuffer three(layout(3, SampleType::float32, false), 1);
    three.setFrameLength(1);
    three.setFloatSample(0, 0, 0.1f);
    three.setFloatSample(0, 1, 0.2f);
    three.setFloatSample(0, 2, 0.3f);
    const PcmBuffer two = convertOnce(three, layout(2, SampleType::float32, true));
    EXPECT_FLOAT_EQ(two.floatSample(0, 0), 0.1f);
    EXPECT_FLOAT_EQ(two.floatSample(0, 1), 0.2f);
    const PcmBuffer four = convertOnce(two, layout(4, SampleType::float32, false));
    EXPECT_FLOAT_EQ(four.floatSample(0, 2), 0.1f);
    EXPECT_FLOAT_EQ(four.floatSample(0, 3), 0.2f);
}

TEST(AudioConverter, SameRateBypassesResamplingAndConvertsSamplesExactly)
{
    const AudioFormat floats = mono(48000);
    const AudioFormat shorts = mono(48000, SampleType::int16);
    PcmBuffer input(floats, 6);
    input.setFrameLength(6);
    const float values[] = {0.5f, -1.0f, 1.5f, -1.5f, NAN, 0.25f};
    for (std::size_t i = 0; i < 6; ++i) {
        input.setFloatSample(i, 0, values[i]);
    }
    AudioConverter toInt(floats, shorts);
    bool given = false;
    auto once = [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = given ? InputStatus::endOfStream : InputStatus::haveData;
        return std::exchange(given, true) ? nullptr : &input;
    };
    // Asking for fewer frames than the input holds keeps the rest for later.
    auto first = toInt.convert(4, once);
    EXPECT_EQ(first.status, Status::haveData);
    auto second = toInt.convert(4, once);
    EXPECT_EQ(second.status, Status::haveData);
    ASSERT_EQ(second.buffer.frameLength(), 2u);
    const std::int16_t* head = first.buffer.int16ChannelData(0);
    EXPECT_EQ(std::vector<int>(head, head + 4), (std::vector<int>{16384, -32768, 32767, -32768}));
    EXPECT_EQ(second.buffer.int16ChannelData(0)[0], 0);
    EXPECT_EQ(second.buffer.int16ChannelData(0)[1], 8192);
    EXPECT_EQ(toInt.convert(4, once).status, Status::endOfStream);

    // int16 -> float -> int16 returns every value unchanged.
    PcmBuffer ramp(shorts, 65536);
    ramp.setFrameLength(65536);
    for (int i = 0; i < 65536; ++i) {
        ramp.int16ChannelData(0)[i] = static_cast<std::int16_t>(i - 32768);
    }
    AudioConverter toFloat(shorts, floats);
    AudioConverter toShort(floats, shorts);
    bool rampGiven = false;
    auto floatsOut = toFloat.convert(65536, [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = InputStatus::haveData;
        return std::exchange(rampGiven, true) ? nullptr : &ramp;
    });
    EXPECT_FLOAT_EQ(floatsOut.buffer.floatSample(0, 0), -1.0f);
    bool floatsGiven = false;
    auto shortsOut = toShort.convert(65536, [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = InputStatus::haveData;
        return std::exchange(floatsGiven, true) ? nullptr : &floatsOut.buffer;
    });
    ASSERT_EQ(shortsOut.buffer.frameLength(), 65536u);
    int mismatches = 0;
    for (int i = 0; i < 65536; ++i) {
        mismatches += shortsOut.buffer.int16ChannelData(0)[i] != ramp.int16ChannelData(0)[i];
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(AudioConverter, EndOfStreamFlushesTheTailThenStaysEnded)
{
    const PcmBuffer signal = sine(mono(16000), 1600, 300);
    AudioConverter converter(mono(16000), mono(48000));
    PcmBuffer output(converter.outputFormat(), 10000);

    // Everything arrives with the end-of-stream answer itself.
    bool given = false;
    auto block = [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = InputStatus::endOfStream;
        return std::exchange(given, true) ? nullptr : &signal;
    };
    auto result = converter.convert(output, block);
    EXPECT_EQ(result.status, Status::haveData);
    EXPECT_NEAR(double(output.frameLength()), 4800.0, 3.0);
    // The last input samples made it out: the final cycles are not silence.
    float tail = 0;
    for (std::size_t i = output.frameLength() - 100; i < output.frameLength() - 10; ++i) {
        tail = std::max(tail, std::fabs(output.floatSample(i, 0)));
    }
    EXPECT_GT(tail, 0.4f);

    EXPECT_EQ(converter.convert(output, block).status, Status::endOfStream);
    EXPECT_EQ(converter.convert(output, block).status, Status::endOfStream);
    EXPECT_EQ(output.frameLength(), 0u);

    converter.reset();
    given = false;
    EXPECT_EQ(converter.convert(output, block).status, Status::haveData);
    EXPECT_NEAR(double(output.frameLength()), 4800.0, 3.0);

    // An empty stream ends at once.
    AudioConverter empty(mono(48000), mono(16000));
    auto nothing = [](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = InputStatus::endOfStream;
        return nullptr;
    };
    EXPECT_EQ(empty.convert(output.frameCapacity() / 3, nothing).status, Status::endOfStream);
}

TEST(AudioConverter, NoDataNowDelaysOutputWithoutChangingIt)
{
    const AudioFormat stereo48{.sampleRate = 48000, .channelCount = 2};
    const AudioFormat stereo16{.sampleRate = 16000, .channelCount = 2};
    PcmBuffer signal = sine(stereo48, 24000, 523.25);
    for (std::size_t i = 0; i < 24000; ++i) {
        signal.setFloatSample(i, 1, 0.3f * signal.floatSample(i, 0));
    }

    AudioConverter whole(stereo48, stereo16);
    Source all(signal, {24000});
    const Drained reference = drain(whole, all, 20000);
    EXPECT_EQ(reference.dryCalls, 0);

    // Irregular chunks with pauses in between, read in small pieces.
    AudioConverter streamed(stereo48, stereo16);
    Source trickle(signal, {7, 0, 1000, 0, 0, 1, 333, 0, 4096, 64});
    const Drained pieces = drain(streamed, trickle, 97);
    EXPECT_GT(pieces.dryCalls, 10);
    ASSERT_EQ(pieces.channels[0].size(), reference.channels[0].size());
    for (std::uint32_t channel = 0; channel < 2; ++channel) {
        for (std::size_t i = 0; i < reference.channels[channel].size(); ++i) {
            ASSERT_NEAR(pieces.channels[channel][i], reference.channels[channel][i], 1e-6) << channel << " " << i;
        }
    }

    // With no input at all the converter answers inputRanDry and nothing else.
    AudioConverter idle(stereo48, stereo16);
    int asked = 0;
    auto none = [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        ++asked;
        status = InputStatus::noDataNow;
        return nullptr;
    };
    auto result = idle.convert(100, none);
    EXPECT_EQ(result.status, Status::inputRanDry);
    EXPECT_EQ(result.buffer.frameLength(), 0u);
    EXPECT_EQ(asked, 1);
}

TEST(AudioConverter, RejectsFormatsItCannotHonour)
{
    auto codeOf = [](auto construct) -> std::int64_t {
        try {
            construct();
        } catch (const DomainError& error) {
            EXPECT_EQ(error.domain(), "AudioConverter");
            return error.code();
        }
        return 0;
    };
    EXPECT_EQ(codeOf([] { AudioConverter converter(mono(0), mono(16000)); }), 1);
    EXPECT_EQ(codeOf([] { AudioConverter converter(mono(48000), AudioFormat{.channelCount = 0}); }), 1);
    EXPECT_EQ(codeOf([] { AudioConverter converter(mono(48000 * 300), mono(100)); }), 2);

    AudioConverter converter(mono(48000), mono(16000));
    PcmBuffer wrongRate = sine(mono(44100), 100, 440);
    auto block = [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = InputStatus::haveData;
        return &wrongRate;
    };
    auto result = converter.convert(100, block);
    EXPECT_EQ(result.status, Status::error);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code(), 4);
    EXPECT_NE(result.error->localizedDescription().find("44100"), std::string::npos);
    // The failure sticks until the stream is reset.
    EXPECT_EQ(converter.convert(100, block).status, Status::error);
    converter.reset();
    PcmBuffer right = sine(mono(48000), 4800, 440);
    auto good = [&](std::size_t, InputStatus& status) -> const PcmBuffer* {
        status = InputStatus::haveData;
        return &right;
    };
    EXPECT_EQ(converter.convert(100, good).status, Status::haveData);

    PcmBuffer wrongOutput(AudioFormat{.sampleRate = 16000, .channelCount = 2}, 10);
    auto mismatch = converter.convert(wrongOutput, good);
    EXPECT_EQ(mismatch.status, Status::error);
    EXPECT_EQ(mismatch.error->code(), 5);
}

}  // namespace
}  // namespace parlaro
