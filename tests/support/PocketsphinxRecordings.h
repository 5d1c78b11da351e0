#pragma once

// What the tests of real recognition share: whether pocketsphinx's US English
// model and test recordings are installed, the recordings' samples, and a run
// of the executor that waits for the decoder's answer. Header-only: only the
// tests that link the Linux platform include it.
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "runtime/ManualRuntime.h"
#include "support/TempDirectory.h"

#include <samplerate.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parlaro::test {

// Why a test of real recognition cannot run here: the US English model is
// not installed, or one of `recordings` is not; nullopt when all are.
inline std::optional<std::string> missingEnglishSphinx(std::initializer_list<const char*> recordings = {})
{
    auto models = sys::installedSphinxModels();
    if (std::none_of(models.begin(), models.end(), [](const auto& m) { return m.locale == "en-US"; }))
        return "The US English pocketsphinx model is not installed (package pocketsphinx-en-us)";
    if (std::all_of(recordings.begin(), recordings.end(),
                    [](const char* path) { return std::filesystem::exists(path); }))
        return std::nullopt;
    const bool one = recordings.size() == 1;
    std::string names;
    for (const char* path : recordings)
        names += (names.empty() ? "" : " and ") + std::string(path);
    return std::string(one ? "The recording " : "The recordings ") + names + (one ? " is" : " are")
        + " not installed (package pocketsphinx-testdata)";
}

// The 16 kHz mono 16-bit samples of a recording, after `headerBytes` (44 for
// a WAVE file with a plain header, none for a raw one).
inline std::vector<std::int16_t> readSamples(const char* path, std::streamoff headerBytes = 0)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(headerBytes);
    std::vector<std::int16_t> samples;
    std::int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    return samples;
}

// Two raw recordings one second apart, as a speaker pauses between sentences.
inline std::vector<std::int16_t> readWithPauseBetween(const char* first, const char* second)
{
    auto samples = readSamples(first);
    samples.insert(samples.end(), 16000, 0);
    const auto more = readSamples(second);
    samples.insert(samples.end(), more.begin(), more.end());
    return samples;
}

// What espeak-ng says of the SSML `markup` in `voice`, as 16 kHz samples;
// none when the program is not installed. Its breaks are exact silences, as
// a speaker's pauses.
inline std::optional<std::vector<std::int16_t>> espoken(const std::string& voice, const std::string& markup)
{
    TempDirectory folder;
    const auto wave = folder / "spoken.wav";
    const std::string command =
        "espeak-ng -m -v " + voice + " -s 140 -w '" + wave.string() + "' \"<speak>" + markup + "</speak>\" 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return std::nullopt;
    // A plain 44-byte header before 22.05 kHz samples.
    const auto at22k = readSamples(wave.c_str(), 44);
    std::vector<float> in(at22k.size());
    std::transform(at22k.begin(), at22k.end(), in.begin(), int16ToFloat);
    std::vector<float> out(in.size());
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = static_cast<long>(in.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = 16000.0 / 22050.0;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1) != 0)
        return std::nullopt;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(data.output_frames_gen));
    std::transform(out.begin(), out.begin() + data.output_frames_gen, samples.begin(), floatToInt16);
    return samples;
}

// Drives the main executor until a callback stops it. The decoder answers
// from its own thread in real time; a watchdog ends the wait should it
// never answer.
inline void runUntilStopped(rt::ManualRuntime& runtime)
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!done.wait_for(lock, std::chrono::seconds(120), [&] { return finished; }))
            runtime.executor().stop();
    });
    runtime.executor().run();
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    done.notify_all();
    watchdog.join();
}

}  // namespace parlaro::test
