#include "speech/AnalyzerSession.h"

#include "platform/LevelSpans.h"
#include "platform/SpeechServices.h"
#include "runtime/Runtime.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string_view>

namespace parlaro {

namespace {

constexpr double defaultAnalyzerRate = 16000;
constexpr double pauseWindow = 0.01;
constexpr std::uint32_t conversionHeadroom = 1024;
constexpr std::size_t drainFrames = 4096;

// Languages whose sentences are left to the transcriber: its own final
// results are good enough there.
const std::set<std::string>& pauseExemptLanguages()
{
    static const std::set<std::string> exempt{"en"};
    return exempt;
}

constexpr std::array<std::string_view, 6> sentenceEndMarks{"。", "？", "！", ".", "?", "!"};

// Japanese endings after which a sentence goes on; a pause there is breath,
// not the end.
constexpr std::array<std::string_view, 16> japaneseContinuations{
    "けど", "けれど", "けれども", "から", "ので", "のに", "とか", "って",
    "で",   "て",     "が",       "を",   "に",   "へ",   "と",   "し",
};

std::optional<std::string> languageCode(const std::string& locale)
{
    auto end = locale.find_first_of("-_");
    auto code = locale.substr(0, end);
    if (code.empty())
        return std::nullopt;
    return code;
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

template <std::size_t N>
bool endsWithAny(std::string_view text, const std::array<std::string_view, N>& suffixes)
{
    return std::any_of(suffixes.begin(), suffixes.end(), [&](auto suffix) { return endsWith(text, suffix); });
}

bool isWhitespaceOrNewline(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the code point starting at `at`; `length` gets its byte count (1
// for a malformed byte, which then counts as no white space).
char32_t decodeAt(std::string_view text, std::size_t at, std::size_t& length)
{
    auto byte = static_cast<unsigned char>(text[at]);
    std::size_t count = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
    if (count == 0 || at + count > text.size()) {
        length = 1;
        return 0xFFFD;
    }
    char32_t c = count == 1 ? byte : byte & (0x7F >> count);
    for (std::size_t i = 1; i < count; ++i) {
        auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            return 0xFFFD;
        }
        c = (c << 6) | (next & 0x3F);
    }
    length = count;
    return c;
}

std::string_view trimmed(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t length = 0;
        if (!isWhitespaceOrNewline(decodeAt(text, begin, length)))
            break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4)
            --start;
        std::size_t length = 0;
        char32_t c = decodeAt(text, start, length);
        if (start + length != end || !isWhitespaceOrNewline(c))
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

void copySamples(const PcmBuffer& from, PcmBuffer& to, std::size_t frames)
{
    const auto& format = from.format();
    const bool isFloat = format.sampleType == SampleType::float32;
    const std::size_t runs = format.interleaved ? 1 : format.channelCount;
    const std::size_t perRun = format.interleaved ? frames * format.channelCount : frames;
    for (std::uint32_t run = 0; run < runs; ++run) {
        if (isFloat)
            std::memcpy(to.floatChannelData(run), from.floatChannelData(run), perRun * sizeof(float));
        else
            std::memcpy(to.int16ChannelData(run), from.int16ChannelData(run), perRun * sizeof(std::int16_t));
    }
}

}  // namespace

AnalyzerSession::AnalyzerSession(Token, std::string locale, SpeechEngine engine, RecognitionMode mode)
    : locale_(std::move(locale)), engine_(engine), mode_(mode)
{
}

std::shared_ptr<AnalyzerSession> AnalyzerSession::make(std::string locale, SpeechEngine engine, RecognitionMode mode)
{
    return std::make_shared<AnalyzerSession>(Token{}, std::move(locale), engine, mode);
}

std::optional<AudioFormat> AnalyzerSession::analyzerFormat() const
{
    std::lock_guard lock(audioLock_);
    return analyzerFormat_;
}

bool AnalyzerSession::isEnding()
{
    std::lock_guard lock(audioLock_);
    return ending_;
}

AnalyzerSession::Transcription AnalyzerSession::makeTranscriber()
{
    // Held speech wants sentences soon enough to send them while the key is
    // down; everything else takes the more careful results.
    const ReportingOptions reporting{true, engine_ != SpeechEngine::dictation && mode_ == RecognitionMode::held};
    const auto kind = engine_ == SpeechEngine::dictation ? TranscriberKind::dictation : TranscriberKind::speech;
    auto module = TranscriberModule::withReporting(kind, locale_, reporting);
    auto transcriber = speechAnalyzers().makeTranscriber(module);

    auto made = rt::AsyncStream<TranscriberResult>::make();
    auto queue = std::move(made.first);
    auto feed = made.second;
    auto source = std::make_shared<rt::AsyncStream<TranscriberResult>>(transcriber->results());
    auto forward = rt::spawn([source, feed]() -> rt::Async<void> {
        try {
            while (auto result = co_await source->next())
                feed.yield(std::move(*result));
            feed.finish();
        } catch (...) {
            feed.finish(std::current_exception());
        }
    });
    feed.setOnTermination([forward](rt::StreamTermination how) {
        if (how == rt::StreamTermination::cancelled)
            forward.cancel();
    });
    return Transcription{{transcriber}, std::move(queue)};
}

rt::TaskHandle<> AnalyzerSession::startResultsTask(rt::AsyncStream<TranscriberResult> results)
{
    std::weak_ptr<AnalyzerSession> weak = weak_from_this();
    auto queue = std::make_shared<rt::AsyncStream<TranscriberResult>>(std::move(results));
    return rt::spawn([weak, queue, onResult = onResult_, onFailure = onFailure_]() -> rt::Async<void> {
        std::string reason;
        try {
            while (auto pair = co_await queue->next()) {
                if (auto self = weak.lock()) {
                    std::lock_guard lock(self->audioLock_);
                    self->openText_ = pair->isFinal ? std::string() : pair->text;
                }
                if (onResult)
                    onResult(pair->text, pair->isFinal);
            }
            reason = localized("结果已结束");
        } catch (...) {
            auto error = std::current_exception();
            if (rt::isCancellation(error))
                co_return;
            reason = describe(error);
        }
        auto self = weak.lock();
        if (!self || self->isEnding())
            co_return;
        self.reset();
        if (onFailure)
            onFailure(ModuleError(ModuleID::recognition, 5, localized("语音识别意外停止：%@", reason)));
    });
}

rt::Async<void> AnalyzerSession::start(ResultHandler onResult, FailureHandler onFailure)
{
    auto self = shared_from_this();
    onResult_ = std::move(onResult);
    onFailure_ = std::move(onFailure);

    auto transcription = makeTranscriber();
    SpeechAnalyzers& analyzers = speechAnalyzers();
    auto analyzer = analyzers.makeAnalyzer(transcription.modules);
    auto best = co_await analyzers.bestAvailableAudioFormat(transcription.modules);
    auto [input, continuation] = rt::AsyncStream<AnalyzerInput>::make();
    {
        std::lock_guard lock(audioLock_);
        if (ending_)
            throw rt::CancellationError();
        AudioFormat format;
        format.sampleType = SampleType::int16;
        format.interleaved = true;
        format.sampleRate = best && best->sampleRate > 0 ? best->sampleRate : defaultAnalyzerRate;
        format.channelCount = best ? std::max<std::uint32_t>(1, best->channelCount) : 1;
        analyzerFormat_ = format;
        converter_.reset();
        converterInputFormat_.reset();
        continuation_ = continuation;
        analyzer_ = analyzer;
    }
    auto task = startResultsTask(std::move(transcription.results));
    {
        std::lock_guard lock(audioLock_);
        resultsTask_ = task;
    }
    co_await analyzer->start(std::move(input));
    if (isEnding()) {
        co_await analyzer->cancelAndFinishNow();
        throw rt::CancellationError();
    }
}

void AnalyzerSession::append(std::shared_ptr<const PcmBuffer> buffer)
{
    if (!buffer)
        return;
    std::lock_guard lock(audioLock_);
    if (!continuation_ || !analyzerFormat_ || buffer->frameLength() == 0)
        return;
    if (mode_ == RecognitionMode::held)
        detectPauses(*buffer, *analyzerFormat_);
    if (buffer->format() == *analyzerFormat_)
        queueCopy(*buffer);
    else
        queueConverted(*buffer);
}

void AnalyzerSession::queueCopy(const PcmBuffer& buffer)
{
    std::shared_ptr<PcmBuffer> copy;
    try {
        copy = std::make_shared<PcmBuffer>(*analyzerFormat_, buffer.frameLength());
    } catch (const std::bad_alloc&) {
        return;
    }
    copy->setFrameLength(buffer.frameLength());
    copySamples(buffer, *copy, buffer.frameLength());
    hasAudio_ = true;
    continuation_->yield(makeInput(std::move(copy)));
}

void AnalyzerSession::queueConverted(const PcmBuffer& buffer)
{
    const AudioFormat& inputFormat = buffer.format();
    if (!converter_ || converterInputFormat_ != inputFormat) {
        converterInputFormat_ = inputFormat;
        try {
            converter_.emplace(inputFormat, *analyzerFormat_);
        } catch (const Error&) {
            converter_.reset();
        }
    }
    if (!converter_)
        return;

    const double ratio = analyzerFormat_->sampleRate / inputFormat.sampleRate;
    const auto capacity =
        static_cast<std::uint32_t>(static_cast<double>(buffer.frameLength()) * ratio) + conversionHeadroom;
    std::shared_ptr<PcmBuffer> output;
    try {
        output = std::make_shared<PcmBuffer>(*analyzerFormat_, capacity);
    } catch (const std::bad_alloc&) {
        return;
    }
    bool supplied = false;
    auto supplyOnce = [&](std::size_t, AudioConverter::InputStatus& status) -> const PcmBuffer* {
        if (supplied) {
            status = AudioConverter::InputStatus::noDataNow;
            return nullptr;
        }
        supplied = true;
        status = AudioConverter::InputStatus::haveData;
        return &buffer;
    };
    auto result = converter_->convert(*output, supplyOnce);
    if (result.status == AudioConverter::OutputStatus::error) {
        // A failed conversion costs this buffer only.
        converter_->reset();
        return;
    }
    if (output->frameLength() > 0) {
        hasAudio_ = true;
        continuation_->yield(makeInput(std::move(output)));
    }
}

AnalyzerInput AnalyzerSession::makeInput(std::shared_ptr<const PcmBuffer> buffer)
{
    std::optional<MediaTime> start;
    if (mode_ == RecognitionMode::held)
        start = MediaTime(fedFrames_, static_cast<std::int32_t>(buffer->format().sampleRate));
    fedFrames_ += static_cast<std::int64_t>(buffer->frameLength());
    return AnalyzerInput(std::move(buffer), start);
}

bool AnalyzerSession::shouldFinalizeAtPause() const
{
    auto text = trimmed(openText_);
    auto code = languageCode(locale_);
    if (text.empty() || endsWithAny(text, sentenceEndMarks) || !code || *code != "ja")
        return true;
    return !endsWithAny(text, japaneseContinuations);
}

void AnalyzerSession::detectPauses(const PcmBuffer& buffer, const AudioFormat& format)
{
    auto code = languageCode(locale_);
    if (code && pauseExemptLanguages().count(*code))
        return;
    if (!analyzer_)
        return;
    for (const auto& span : levelSpans(buffer, 0.0, pauseWindow)) {
        if (!pause_.feed(span.levelDB, span.end - span.start))
            continue;
        if (!shouldFinalizeAtPause())
            continue;
        const double frames = static_cast<double>(fedFrames_) + span.end * format.sampleRate;
        const MediaTime through(static_cast<std::int64_t>(frames), static_cast<std::int32_t>(format.sampleRate));
        rt::postToMain([analyzer = analyzer_, through] {
            rt::spawn([analyzer, through]() -> rt::Async<void> {
                try {
                    co_await analyzer->finalize(through);
                } catch (...) {
                    // The next pause or the finish finalizes again.
                }
            });
        });
    }
}

AnalyzerSession::Ended AnalyzerSession::endInput()
{
    std::lock_guard lock(audioLock_);
    ending_ = true;
    drainConverter();
    if (continuation_)
        continuation_->finish();
    continuation_.reset();
    converter_.reset();
    return Ended{analyzer_, resultsTask_, hasAudio_};
}

void AnalyzerSession::drainConverter()
{
    if (!converter_ || !analyzerFormat_ || !continuation_)
        return;
    for (;;) {
        std::shared_ptr<PcmBuffer> output;
        try {
            output = std::make_shared<PcmBuffer>(*analyzerFormat_, drainFrames);
        } catch (const std::bad_alloc&) {
            return;
        }
        auto ended = [](std::size_t, AudioConverter::InputStatus& status) -> const PcmBuffer* {
            status = AudioConverter::InputStatus::endOfStream;
            return nullptr;
        };
        auto result = converter_->convert(*output, ended);
        if (result.status == AudioConverter::OutputStatus::error)
            return;
        const bool gotFrames = output->frameLength() > 0;
        if (gotFrames)
            continuation_->yield(makeInput(std::move(output)));
        if (result.status != AudioConverter::OutputStatus::haveData || !gotFrames)
            return;
    }
}

rt::Async<void> AnalyzerSession::finish()
{
    auto self = shared_from_this();
    auto ended = endInput();
    if (ended.hasAudio && ended.analyzer) {
        bool finalized = true;
        try {
            co_await ended.analyzer->finalizeAndFinishThroughEndOfInput();
        } catch (...) {
            finalized = false;
        }
        if (!finalized) {
            ended.resultsTask.cancel();
            co_return;
        }
        if (ended.resultsTask)
            co_await ended.resultsTask.join();
        co_return;
    }
    if (ended.hasAudio) {
        if (ended.resultsTask)
            co_await ended.resultsTask.join();
        co_return;
    }
    ended.resultsTask.cancel();
    if (ended.analyzer)
        co_await ended.analyzer->cancelAndFinishNow();
}

rt::Async<void> AnalyzerSession::cancel()
{
    auto self = shared_from_this();
    auto ended = endInput();
    ended.resultsTask.cancel();
    if (ended.analyzer)
        co_await ended.analyzer->cancelAndFinishNow();
}

}  // namespace parlaro
