#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"

#include "platform/linux/espeak/VoiceWire.h"
#include "runtime/Error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#ifndef PARLARO_VOICE_PROCESS_FROM_BINDIR
#define PARLARO_VOICE_PROCESS_FROM_BINDIR "../libexec/parlaro"
#endif
#ifndef PARLARO_VOICE_PROCESS_BUILT
#define PARLARO_VOICE_PROCESS_BUILT ""
#define PARLARO_BUILD_ROOT ""
#endif

extern char** environ;

namespace parlaro::sys {

namespace {

namespace wire = voicewire;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* errorDomain = "SpeechSynthesizer";
constexpr const char* voiceProcessName = "parlaro-voice";

std::string engineVoiceName(const std::string& identifier)
{
    return identifier.substr(0, identifier.find(wire::localeSuffix));
}

// The most sound one text may bring, which the caller holds until the reply
// ends: far more than the slowest voice takes for any text (at the slowest
// rate a digit or a symbol alone takes under two seconds, a long number
// less a character), so that only a process gone wrong, sending sound
// without end, reaches it.
double mostSeconds(const std::string& text)
{
    return 60.0 + 10.0 * double(text.size());
}

bool isExecutable(const fs::path& path)
{
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

struct EspeakSpeechSynthesizer::Job {
    RenderID id = 0;
    Utterance utterance;
    BufferCallback onBuffer;
    std::atomic<bool> cancelled{false};
    // Some sound came out; the voice process drops the silence before it, so
    // text with nothing to say brings none.
    bool spoke = false;
    // The worker's own: the process was told to stop this render.
    bool cancelSent = false;
    // The worker's own: the end, or the failure mark, went to the caller.
    bool ended = false;
};

std::vector<EspeakSpeechSynthesizer::ReadingCheck> EspeakSpeechSynthesizer::defaultReadingChecks()
{
    return {
        {"zh", "你好，这是我的声音试听。"},
        {"zh", "你好，這是我的聲音試聽。"},
        {"en", "Hello, this is a preview of my voice."},
        {"ja", "こんにちは、これは私の声のプレビューです。"},
        {"ko", "안녕하세요, 제 목소리 미리 듣기입니다."},
        {"de", "Hallo, das ist eine Vorschau meiner Stimme."},
        {"fr", "Bonjour, ceci est un aperçu de ma voix."},
        {"es", "Hola, esta es una muestra de mi voz."},
        {"it", "Ciao, questa è un'anteprima della mia voce."},
        {"pt", "Olá, esta é uma prévia da minha voz."},
        {"ru", "Здравствуйте, это пример моего голоса."},
        {"ar", "مرحبًا، هذه معاينة لصوتي."},
        {"th", "สวัสดี นี่คือตัวอย่างเสียงของฉัน"},
        {"vi", "Xin chào, đây là bản nghe thử giọng của tôi."},
        {"tr", "Merhaba, bu sesimin bir önizlemesidir."},
        {"nl", "Hallo, dit is een voorbeeld van mijn stem."},
        {"pl", "Cześć, to jest próbka mojego głosu."},
        {"uk", "Привіт, це попередній перегляд мого голосу."},
        {"hi", "नमस्ते, यह मेरी आवाज़ का नमूना है।"},
        {"id", "Halo, ini adalah contoh suara saya."},
    };
}

EspeakSpeechSynthesizer::EspeakSpeechSynthesizer(std::vector<ReadingCheck> checks, std::optional<std::string> dataPath,
                                                 VoiceProcess process)
    : checks_(std::move(checks)), dataPath_(std::move(dataPath)), process_(std::move(process))
{
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        throw DomainError(errorDomain, 2, std::string("eventfd: ") + std::strerror(errno));
    }
    worker_ = std::thread([this] { run(); });
}

EspeakSpeechSynthesizer::~EspeakSpeechSynthesizer()
{
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
        jobs_.clear();
        if (current_) {
            current_->cancelled = true;
        }
    }
    wake_.notify_all();
    signalWorker();
    worker_.join();
    stopProcess();
    ::close(wakeFd_);
}

std::string EspeakSpeechSynthesizer::voiceProcessPath()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const fs::path folder = self.parent_path();
    for (const fs::path& candidate :
         {folder / voiceProcessName,
          (folder / PARLARO_VOICE_PROCESS_FROM_BINDIR / voiceProcessName).lexically_normal()}) {
        if (isExecutable(candidate)) {
            return candidate;
        }
    }
    // Tests and benchmarks run from the build tree, away from the program.
    // Only they look there: an installed program must not run whatever
    // someone put where its build tree once was.
    const fs::path root = PARLARO_BUILD_ROOT;
    if (!root.empty() && std::mismatch(root.begin(), root.end(), self.begin(), self.end()).first == root.end()) {
        return PARLARO_VOICE_PROCESS_BUILT;
    }
    return {};
}

bool EspeakSpeechSynthesizer::startProcess()
{
    stopProcess();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    int child = ends[1];
    if (child == 3) {
        // dup2 onto itself would leave close-on-exec set.
        child = ::fcntl(ends[1], F_DUPFD_CLOEXEC, 4);
        ::close(ends[1]);
    }
    const std::string path = voiceProcessPath();
    std::vector<std::string> arguments{path};
    if (dataPath_) {
        arguments.push_back("--data=" + *dataPath_);
    }
    arguments.insert(arguments.end(), process_.arguments.begin(), process_.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child, 3);
    // The engine's process holds nothing of the program's but its socket:
    // descriptors others opened without close-on-exec (a pipe whose reader
    // waits for its end, a lock) must not live on in it.
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    pid_t pid = -1;
    const int spawned = child < 0 ? EBADF : ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (child >= 0) {
        ::close(child);
    }
    if (spawned != 0) {
        ::close(ends[0]);
        return false;
    }
    pid_ = pid;
    socket_ = ends[0];
    // A process that stops part way through a message, or stops reading a
    // long text, must not hold the worker (and with it every later reply
    // and the program's quit) in a read or a send.
    const auto limit = std::chrono::duration_cast<std::chrono::microseconds>(process_.silenceLimit).count();
    const timeval timeout{.tv_sec = limit / 1'000'000, .tv_usec = limit % 1'000'000};
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

    std::string payload;
    char kind = 0;
    std::uint32_t rate = 0;
    if (await(process_.startLimit, nullptr, payload, kind) != Heard::message || kind != wire::hello
        || !wire::Reader(payload).u32(rate) || rate == 0) {
        stopProcess();
        return false;
    }
    sampleRate_ = rate;
    return true;
}

void EspeakSpeechSynthesizer::stopProcess()
{
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
    if (pid_ > 0) {
        // It may be stuck in the engine; nothing it holds is worth waiting for.
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
        pid_ = -1;
    }
}

EspeakSpeechSynthesizer::Heard EspeakSpeechSynthesizer::await(std::chrono::milliseconds limit, Job* job,
                                                              std::string& payload, char& kind)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (quitting_) {
                return Heard::stopped;
            }
        }
        if (job != nullptr && job->cancelled && !job->cancelSent) {
            job->cancelSent = true;
            if (!wire::send(socket_, wire::cancel)) {
                return Heard::gone;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Heard::silent;
        }
        pollfd entries[2] = {{socket_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(entries, 2, int(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            return Heard::gone;
        }
        if (ready <= 0) {
            continue;
        }
        if (entries[1].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto drained = ::read(wakeFd_, &count, sizeof count);
        }
        if (entries[0].revents != 0) {
            auto message = wire::receive(socket_, wire::largestReply);
            if (!message) {
                return Heard::gone;
            }
            kind = static_cast<char>(message->kind);
            payload = std::move(message->payload);
            return Heard::message;
        }
    }
}

void EspeakSpeechSynthesizer::run()
{
    pthread_setname_np(pthread_self(), "espeak-voice");
    scanVoices();
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quitting_ || !jobs_.empty(); });
            if (quitting_) {
                return;
            }
            job = jobs_.front();
            jobs_.pop_front();
            current_ = job;
        }
        // Nothing may leave the worker, or the program ends: a render that
        // throws (out of memory for a message, or in the caller's own
        // handling of a buffer) is lost as one whose process died, and the
        // next one goes on.
        try {
            render(*job);
        } catch (...) {
            lose(*job);
        }
        std::lock_guard lock(mutex_);
        current_.reset();
    }
}

void EspeakSpeechSynthesizer::scanVoices()
{
    Scan scan;
    try {
        scan.available = startProcess();
        listVoices(scan);
    } catch (...) {
        // Out of memory for the list: as a list that never came.
        scan.voices.clear();
        stopProcess();
    }
    scan.done = true;
    {
        std::lock_guard lock(mutex_);
        scan_ = std::move(scan);
    }
    wake_.notify_all();
}

void EspeakSpeechSynthesizer::listVoices(Scan& scan)
{
    if (scan.available) {
        wire::Writer request;
        for (const auto& check : checks_) {
            request.text(check.language);
            request.text(check.sentence);
        }
        std::string payload;
        char kind = 0;
        if (wire::send(socket_, wire::listVoices, request.payload())
            && await(process_.startLimit, nullptr, payload, kind) == Heard::message && kind == wire::voices) {
            wire::Reader reply(payload);
            std::uint32_t count = 0;
            reply.u32(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                SynthesisVoice voice;
                std::uint32_t system = 0;
                if (!reply.text(voice.identifier) || !reply.text(voice.name) || !reply.text(voice.language)
                    || !reply.u32(system)) {
                    break;
                }
                voice.quality = SynthesisVoice::defaultQuality;
                voice.isSystemVoice = system != 0;
                scan.voices.push_back(std::move(voice));
            }
        } else {
            // Its voices are unknown, but it may well speak with the default.
            stopProcess();
        }
    }
}

bool EspeakSpeechSynthesizer::sendRender(const Job& job)
{
    wire::Writer request;
    request.u32(static_cast<std::uint32_t>(wordsPerMinute(job.utterance.rate)));
    request.text(job.utterance.voice ? engineVoiceName(job.utterance.voice->identifier) : std::string());
    request.text(job.utterance.text);
    // A process that ended while idle (killed, out of memory) lost no reply,
    // so this one gets a new process rather than the failure. An idle
    // process says nothing: anything to read means it has gone.
    for (int attempt = 0; attempt < 2; ++attempt) {
        pollfd entry{socket_, POLLIN, 0};
        if (socket_ >= 0 && ::poll(&entry, 1, 0) != 0) {
            stopProcess();
        }
        if (socket_ < 0 && !startProcess()) {
            return false;
        }
        if (wire::send(socket_, wire::render, request.payload())) {
            return true;
        }
        stopProcess();
    }
    return false;
}

void EspeakSpeechSynthesizer::render(Job& job)
{
    bool failed = !sendRender(job);
    bool retried = false;
    const AudioFormat format{
        .sampleRate = sampleRate_, .channelCount = 1, .sampleType = SampleType::int16, .interleaved = true};
    const double mostFrames = mostSeconds(job.utterance.text) * sampleRate_;
    double frames = 0;
    while (!failed) {
        std::string payload;
        char kind = 0;
        const Heard heard = await(process_.silenceLimit, &job, payload, kind);
        if (heard == Heard::stopped) {
            return;
        }
        if (heard == Heard::gone && !job.spoke && !job.cancelled && !retried) {
            // It may have died while idle just as the text went to it: its
            // end of the socket closes a moment after it has gone. The text
            // gets one more process before the reply counts as lost.
            retried = true;
            stopProcess();
            failed = !sendRender(job);
            continue;
        }
        if (kind == wire::audio) {
            frames += double(payload.size() / sizeof(std::int16_t));
        }
        if (heard != Heard::message || (kind == wire::audio && payload.size() % sizeof(std::int16_t) != 0)
            || frames > mostFrames) {
            failed = true;
        } else if (kind == wire::end) {
            break;
        } else if (kind == wire::audio && !job.cancelled && !payload.empty()) {
            job.spoke = true;
            const std::size_t length = payload.size() / sizeof(std::int16_t);
            PcmBuffer buffer(format, length);
            buffer.setFrameLength(length);
            std::memcpy(buffer.int16ChannelData(0), payload.data(), payload.size());
            job.onBuffer(buffer);
        }
    }
    if (failed) {
        lose(job);
        return;
    }
    if (job.cancelled) {
        return;
    }
    // Text without speech yields no buffer at all, so the caller can tell
    // that the voice produced nothing.
    const double delay = job.utterance.postUtteranceDelay;
    if (job.spoke && std::isfinite(delay) && delay > 0) {
        const auto frames = static_cast<std::size_t>(std::lround(std::min(delay, 10.0) * sampleRate_));
        PcmBuffer silence(format, frames);
        silence.setFrameLength(frames);
        job.onBuffer(silence);
    }
    PcmBuffer end(format, 0);
    job.ended = true;
    job.onBuffer(end);
}

void EspeakSpeechSynthesizer::lose(Job& job) noexcept
{
    // The next render starts a new process; this one says it was lost.
    stopProcess();
    if (job.cancelled || std::exchange(job.ended, true)) {
        return;
    }
    try {
        job.onBuffer(renderFailureMark());
    } catch (...) {
        // The caller cannot take even that; the worker goes on all the same.
    }
}

bool EspeakSpeechSynthesizer::isAvailable()
{
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return scan_.done; });
    return scan_.available;
}

std::vector<SynthesisVoice> EspeakSpeechSynthesizer::voices()
{
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return scan_.done; });
    return scan_.voices;
}

SpeechSynthesizer::RenderID EspeakSpeechSynthesizer::write(const Utterance& utterance, BufferCallback onBuffer)
{
    if (!isAvailable()) {
        throw DomainError(errorDomain, 1, "espeak-ng data not found");
    }
    auto job = std::make_shared<Job>();
    job->utterance = utterance;
    job->onBuffer = std::move(onBuffer);
    {
        std::lock_guard lock(mutex_);
        job->id = nextID_++;
        jobs_.push_back(job);
    }
    wake_.notify_all();
    return job->id;
}

void EspeakSpeechSynthesizer::stopRender(RenderID render)
{
    {
        std::lock_guard lock(mutex_);
        if (current_ && current_->id == render) {
            current_->cancelled = true;
        }
        std::erase_if(jobs_, [render](const std::shared_ptr<Job>& job) { return job->id == render; });
    }
    signalWorker();
}

void EspeakSpeechSynthesizer::stopSpeaking()
{
    {
        std::lock_guard lock(mutex_);
        if (current_) {
            current_->cancelled = true;
        }
        jobs_.clear();
    }
    signalWorker();
}

void EspeakSpeechSynthesizer::signalWorker()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace parlaro::sys
