#include "RecordingSet.h"

#include "platform/AudioConverter.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <utility>

namespace parlaro::bench {

namespace {

const std::string testData = "/usr/share/pocketsphinx/test/data/";

std::vector<std::string> splitWords(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '\'') {
            word.push_back(static_cast<char>(std::tolower(u)));
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// 16-bit mono samples and their rate, from a raw 16 kHz file or a WAVE file.
bool readSamples(const std::string& path, std::vector<std::int16_t>& samples, double& rate)
{
    const std::string bytes = readFile(path);
    std::size_t data = 0;
    std::size_t length = bytes.size();
    rate = 16000;
    if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0) {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data() + 24, 4);
        rate = value;
        for (std::size_t at = 12; at + 8 <= bytes.size();) {
            std::uint32_t size = 0;
            std::memcpy(&size, bytes.data() + at + 4, 4);
            if (bytes.compare(at, 4, "data") == 0) {
                data = at + 8;
                length = std::min<std::size_t>(size, bytes.size() - data);
                break;
            }
            at += 8 + size;
        }
        if (data == 0)
            return false;
    }
    samples.resize(length / 2);
    std::memcpy(samples.data(), bytes.data() + data, samples.size() * 2);
    return !samples.empty();
}

std::vector<float> resampled(const std::vector<std::int16_t>& samples, double from, double to)
{
    PcmBuffer input(AudioFormat{from, 1, SampleType::int16, true}, samples.size());
    input.setFrameLength(samples.size());
    std::copy(samples.begin(), samples.end(), input.int16ChannelData(0));
    AudioConverter converter(input.format(), AudioFormat{to, 1, SampleType::float32, false});
    bool handed = false;
    auto converted = converter.convert(static_cast<std::size_t>(samples.size() * to / from) + 1024,
                                       [&](std::size_t, AudioConverter::InputStatus& status) -> const PcmBuffer* {
                                           status = AudioConverter::InputStatus::endOfStream;
                                           if (handed)
                                               return nullptr;
                                           handed = true;
                                           return &input;
                                       });
    const float* out = converted.buffer.floatChannelData(0);
    return std::vector<float>(out, out + converted.buffer.frameLength());
}

bool add(std::vector<Recording>& set, const std::string& name, const std::string& path, const std::string& text)
{
    std::vector<std::int16_t> samples;
    double rate = 0;
    if (!readSamples(path, samples, rate))
        return false;
    Recording recording;
    recording.name = name;
    recording.words = splitWords(text);
    recording.at48k = resampled(samples, rate, 48000);
    if (rate != 16000) {
        auto floats = resampled(samples, rate, 16000);
        samples.resize(floats.size());
        std::transform(floats.begin(), floats.end(), samples.begin(), floatToInt16);
    }
    recording.at16k = PcmBuffer(AudioFormat{16000, 1, SampleType::int16, true}, samples.size());
    recording.at16k.setFrameLength(samples.size());
    std::copy(samples.begin(), samples.end(), recording.at16k.int16ChannelData(0));
    set.push_back(std::move(recording));
    return true;
}

bool endsSentence(const std::string& text)
{
    const auto last = text.find_last_not_of(" \t");
    return last != std::string::npos && (text[last] == '.' || text[last] == '?' || text[last] == '!');
}

// The words of SSML markup and the pauses its breaks make.
std::pair<std::string, std::vector<Pause>> readMarkup(const std::string& markup)
{
    std::string text;
    std::vector<Pause> pauses;
    std::size_t at = 0;
    while (at < markup.size()) {
        const auto open = markup.find('<', at);
        text += markup.substr(at, open == std::string::npos ? std::string::npos : open - at);
        if (open == std::string::npos)
            break;
        const auto words = splitWords(text).size();
        if (words > 0)
            pauses.push_back(Pause{words - 1, endsSentence(text)});
        const auto close = markup.find('>', open);
        at = close == std::string::npos ? markup.size() : close + 1;
        text += ' ';
    }
    return {text, pauses};
}

bool englishModelInstalled()
{
    auto models = sys::installedSphinxModels();
    return std::any_of(models.begin(), models.end(), [](const auto& m) { return m.locale == "en-US"; });
}

// The folder `family` spoke the sets into at build time; empty where it
// did not (nor for the programs built without them).
std::string spokenFolder([[maybe_unused]] VoiceFamily family)
{
#ifdef PARLARO_SPOKEN_DIR
    if (family == VoiceFamily::espeakNg)
        return PARLARO_SPOKEN_DIR;
#endif
#ifdef PARLARO_SPOKEN_FESTIVAL_DIR
    if (family == VoiceFamily::festival)
        return PARLARO_SPOKEN_FESTIVAL_DIR;
#endif
    return {};
}

}  // namespace

std::vector<Recording> spokenRecordings(const std::string& table, VoiceFamily family)
{
    const std::string folder = spokenFolder(family);
    if (folder.empty() || !englishModelInstalled())
        return {};
    std::vector<Recording> set;
    std::istringstream lines(readFile(folder + "/" + table));
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        auto [text, pauses] = readMarkup(line.substr(tab + 1));
        if (add(set, line.substr(0, tab), folder + "/" + line.substr(0, tab), text))
            set.back().pauses = std::move(pauses);
    }
    return set;
}

std::vector<Recording> recordingSet(VoiceFamily family)
{
    auto spoken = spokenRecordings("sentences.tsv", family);
    // The test recordings alone would pass for the family's.
    if (!englishModelInstalled() || (family != VoiceFamily::espeakNg && spoken.empty()))
        return {};
    std::vector<Recording> set;
    add(set, "goforward", testData + "goforward.raw", "go forward ten meters");
    add(set, "something", testData + "something.raw", "go somewhere and do something");
    // "<s> words </s> (file)" a line.
    std::istringstream lines(readFile(testData + "librivox/transcription"));
    for (std::string line; std::getline(lines, line);) {
        auto open = line.rfind('(');
        auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        std::string file = line.substr(open + 1, close - open - 1);
        std::string text = line.substr(0, open);
        for (const char* tag : {"<s>", "</s>"})
            if (auto at = text.find(tag); at != std::string::npos)
                text.erase(at, std::strlen(tag));
        add(set, file, testData + "librivox/" + file + ".wav", text);
    }
    set.insert(set.end(), std::make_move_iterator(spoken.begin()), std::make_move_iterator(spoken.end()));
    if (set.size() < 2)
        return {};
    return set;
}

SentenceEnds sentenceEnds(const Recording& recording, const std::string& recognized)
{
    // Each recognized word, and whether its token closes a sentence.
    std::vector<std::string> heard;
    std::vector<bool> closes;
    std::istringstream tokens(recognized);
    for (std::string token; tokens >> token;) {
        const auto words = splitWords(token);
        for (std::size_t i = 0; i < words.size(); ++i) {
            heard.push_back(words[i]);
            closes.push_back(i + 1 == words.size() && endsSentence(token));
        }
    }
    const auto& reference = recording.words;
    const std::size_t n = reference.size();
    const std::size_t m = heard.size();
    std::vector<std::vector<std::size_t>> cost(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i)
        cost[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j)
        cost[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j)
            cost[i][j] = std::min({cost[i - 1][j] + 1, cost[i][j - 1] + 1,
                                   cost[i - 1][j - 1] + (reference[i - 1] == heard[j - 1] ? 0 : 1)});
    // The recognized word each reference word was aligned with, if any.
    std::vector<std::optional<std::size_t>> alignedTo(n);
    for (std::size_t i = n, j = m; i > 0 || j > 0;) {
        if (i > 0 && j > 0 && cost[i][j] == cost[i - 1][j - 1] + (reference[i - 1] == heard[j - 1] ? 0 : 1)) {
            alignedTo[i - 1] = j - 1;
            --i;
            --j;
        } else if (i > 0 && cost[i][j] == cost[i - 1][j] + 1) {
            --i;
        } else {
            --j;
        }
    }
    SentenceEnds ends;
    for (const auto& pause : recording.pauses) {
        if (pause.afterWord >= n || !alignedTo[pause.afterWord] || *alignedTo[pause.afterWord] + 1 >= m)
            continue;
        const bool ended = closes[*alignedTo[pause.afterWord]];
        (pause.betweenSentences ? ends.between : ends.inside) += 1;
        (pause.betweenSentences ? ends.betweenEnded : ends.insideEnded) += ended ? 1 : 0;
    }
    return ends;
}

std::vector<float> farEndStream(const std::vector<Recording>& set, double gapSeconds)
{
    std::vector<float> stream;
    const auto gap = static_cast<std::size_t>(gapSeconds * 48000) * 2;
    for (const auto& recording : set) {
        stream.insert(stream.end(), gap, 0.0f);
        for (float sample : recording.at48k) {
            stream.push_back(sample);
            stream.push_back(sample);
        }
    }
    stream.insert(stream.end(), gap, 0.0f);
    return stream;
}

std::vector<std::string> allWords(const std::vector<Recording>& set)
{
    std::vector<std::string> words;
    for (const auto& recording : set)
        words.insert(words.end(), recording.words.begin(), recording.words.end());
    return words;
}

std::vector<std::shared_ptr<const PcmBuffer>> microphoneBuffers(const Recording& recording, std::size_t frames)
{
    std::vector<std::shared_ptr<const PcmBuffer>> buffers;
    // A little room before and after the words, as a press has.
    std::vector<float> samples(4800, 0.0f);
    samples.insert(samples.end(), recording.at48k.begin(), recording.at48k.end());
    samples.insert(samples.end(), 24000, 0.0f);
    for (std::size_t at = 0; at < samples.size(); at += frames) {
        const std::size_t count = std::min(frames, samples.size() - at);
        auto buffer = std::make_shared<PcmBuffer>(AudioFormat{48000, 1, SampleType::float32, false}, count);
        buffer->setFrameLength(count);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), count, buffer->floatChannelData(0));
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

WordErrors wordErrors(const std::vector<std::string>& reference, const std::string& recognized)
{
    const auto heard = splitWords(recognized);
    std::vector<std::size_t> row(heard.size() + 1);
    for (std::size_t j = 0; j <= heard.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= reference.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= heard.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (reference[i - 1] == heard[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return WordErrors{row[heard.size()], reference.size()};
}

WordErrors wordErrors(const std::string& said, const std::string& recognized)
{
    return wordErrors(splitWords(said), recognized);
}

}  // namespace parlaro::bench
