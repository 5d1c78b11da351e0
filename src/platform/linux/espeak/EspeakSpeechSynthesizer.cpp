#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"

#include "runtime/Error.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <pthread.h>
#include <string_view>
#include <utility>

// The engine opens an audio device as it sets up its output, even for the
// synchronous rendering it is used for here, which never plays through one;
// its audio library then connects to the sound server to see that it is
// there, and waits without end on a server held still, keeping the voice
// list, and with it the program's start, waiting too. Defined in the program,
// this comes before the audio library's own, and the engine gets no device.
extern "C" struct audio_object* create_audio_device_object(const char* device, const char* application,
                                                           const char* description);
extern "C" struct audio_object* create_audio_device_object(const char*, const char*, const char*)
{
    return nullptr;
}

namespace parlaro::sys {

namespace {

constexpr const char* errorDomain = "SpeechSynthesizer";
// Marks the second entry of a voice that serves a second locale.
constexpr char localeSuffix = '#';

// The engine is process-wide: one lock for all its calls, from any instance.
std::mutex& engineMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct Engine {
    bool tried = false;
    int sampleRate = 0;  // 0 while unavailable
};

// Under engineMutex().
Engine& engine()
{
    static Engine state;
    return state;
}

std::string lowercase(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> subtags(const std::string& tag)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= tag.size()) {
        const std::size_t end = std::min(tag.find('-', start), tag.size());
        parts.push_back(tag.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool isAlpha(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalpha(c); });
}
bool isDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}
bool isRegion(const std::string& s)
{
    return (s.size() == 2 && isAlpha(s)) || (s.size() == 3 && isDigits(s));
}
bool isScript(const std::string& s)
{
    return s.size() == 4 && isAlpha(s);
}

std::string likelyRegion(const std::string& languageAndScript)
{
    char maximal[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(languageAndScript.c_str(), maximal, sizeof maximal, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    char country[ULOC_COUNTRY_CAPACITY] = {};
    status = U_ZERO_ERROR;
    uloc_getCountry(maximal, country, sizeof country, &status);
    return U_FAILURE(status) ? std::string() : std::string(country);
}

// The language names of an espeak voice: a priority byte, then the name,
// repeated, ending with an empty name.
std::vector<std::string> languageNames(const char* list)
{
    std::vector<std::string> names;
    if (list == nullptr) {
        return names;
    }
    while (*list != 0) {
        ++list;  // priority
        std::string name(list);
        list += name.size() + 1;
        names.push_back(name);
    }
    return names;
}

std::string displayName(const char* name)
{
    std::string out = name ? name : "";
    std::replace(out.begin(), out.end(), '_', ' ');
    return out;
}

std::string engineVoiceName(const std::string& identifier)
{
    return identifier.substr(0, identifier.find(localeSuffix));
}

// The longest stretch without a space the engine is given. It copies a
// word into buffers of 160 bytes, and an abbreviation before a longer word
// ("U.S.A" and 160 letters) overruns its stack; no word of a reply is
// anywhere near this long, so the cut is never heard in speech.
constexpr std::size_t maxWordBytes = 96;

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at text[i], 0 when there is
// none.
std::size_t sequenceLength(std::string_view text, std::size_t i, UChar32& c)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (!isContinuation(byte)) {
            return 0;
        }
        c = (c << 6) | (byte & 0x3F);
    }
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    const bool outside = c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF);
    return overlong || outside ? 0 : length;
}

// The text as the engine can read it safely: well-formed UTF-8 (a broken
// sequence, a control character or a NUL becomes a space), no stretch
// without a space longer than maxWordBytes (cut where no combining mark
// follows), and room after the terminator, since the engine reads a whole
// UTF-8 sequence once it has seen its first byte.
std::string engineText(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 4);
    std::size_t word = 0;
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c = 0;
        const std::size_t length = sequenceLength(text, i, c);
        if (length == 0 || (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            out += ' ';
            word = 0;
            i += std::max<std::size_t>(length, 1);
            continue;
        }
        const bool space = c == ' ' || c == '\n' || c == '\t' || u_isUWhiteSpace(c);
        if (space) {
            word = 0;
        } else {
            if (word + length > maxWordBytes && !u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) {
                out += ' ';
                word = 0;
            }
            word += length;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    out.append(3, '\0');
    return out;
}

// True when the voice reads the sentence in its own language: espeak marks
// every stretch it hands to another language with "(en)" and the like.
bool readsWithoutSwitching(const std::string& sentence)
{
    const std::string safe = engineText(sentence);
    const void* text = safe.c_str();
    while (text != nullptr) {
        const char* phonemes = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, 0);
        if (phonemes != nullptr && std::strchr(phonemes, '(') != nullptr) {
            return false;
        }
    }
    return true;
}

// Under engineMutex().
bool ensureEngine(const std::optional<std::string>& dataPath)
{
    Engine& state = engine();
    if (!state.tried) {
        state.tried = true;
        espeak_ng_InitializePath(dataPath ? dataPath->c_str() : nullptr);
        espeak_ng_ERROR_CONTEXT context = nullptr;
        espeak_ng_STATUS status = espeak_ng_Initialize(&context);
        espeak_ng_ClearErrorContext(&context);
        if (status == ENS_OK) {
            status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr);
        }
        if (status == ENS_OK) {
            state.sampleRate = espeak_ng_GetSampleRate();
        }
    }
    return state.sampleRate > 0;
}

}  // namespace

struct EspeakSpeechSynthesizer::Job {
    RenderID id = 0;
    Utterance utterance;
    BufferCallback onBuffer;
    std::atomic<bool> cancelled{false};
    // Some sound came out. Until then silence is dropped: the engine hands
    // out a little even for text with nothing to say, and that must not pass
    // for speech.
    bool spoke = false;
};

namespace {

// The render under way; the engine calls back on the thread that holds
// engineMutex(), so a plain pointer guarded by that lock suffices.
EspeakSpeechSynthesizer::Job* renderingJob = nullptr;

}  // namespace

// Defined outside the anonymous namespace so it can name the private Job.
static int synthCallback(short* samples, int count, espeak_EVENT*);

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

EspeakSpeechSynthesizer::EspeakSpeechSynthesizer(std::vector<ReadingCheck> checks, std::optional<std::string> dataPath)
    : checks_(std::move(checks)), dataPath_(std::move(dataPath))
{
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
    worker_.join();
}

int EspeakSpeechSynthesizer::wordsPerMinute(float rate)
{
    if (!std::isfinite(rate)) {
        return espeakRATE_NORMAL;
    }
    const double r = std::clamp(double(rate), 0.0, 1.0);
    const double wpm = r <= 0.5 ? espeakRATE_MINIMUM + (r / 0.5) * (espeakRATE_NORMAL - espeakRATE_MINIMUM)
                                : espeakRATE_NORMAL + ((r - 0.5) / 0.5) * (espeakRATE_MAXIMUM - espeakRATE_NORMAL);
    return static_cast<int>(std::lround(wpm));
}

std::string EspeakSpeechSynthesizer::languageTag(const std::string& primary, const std::vector<std::string>& others)
{
    auto parts = subtags(lowercase(primary));
    // The Chinese voices are named by spoken language; the "latn" qualifiers
    // say how Latin letters are read, not what the voice speaks.
    if (parts[0] == "cmn") {
        return "zh-CN";
    }
    if (parts[0] == "yue") {
        return "zh-HK";
    }
    const bool hasRegion = std::any_of(parts.begin() + 1, parts.end(), isRegion);
    if (!hasRegion) {
        for (const auto& other : others) {
            auto otherParts = subtags(lowercase(other));
            if (otherParts.size() == 2 && otherParts[0] == parts[0] && isRegion(otherParts[1])) {
                parts.push_back(otherParts[1]);
                break;
            }
        }
    }
    std::string tag = parts[0];
    std::string languageAndScript = parts[0];
    bool privateUse = false;
    bool regionSeen = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::string part = parts[i];
        if (part == "x") {
            privateUse = true;
        }
        if (!privateUse && !regionSeen && isRegion(part)) {
            std::transform(part.begin(), part.end(), part.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            regionSeen = true;
        } else if (!privateUse && isScript(part)) {
            part[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])));
            if (!regionSeen) {
                languageAndScript += "-" + part;
            }
        }
        tag += "-" + part;
    }
    if (!regionSeen) {
        const std::string region = likelyRegion(languageAndScript);
        if (!region.empty()) {
            tag.insert(languageAndScript.size(), "-" + region);
        }
    }
    return tag;
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
        render(*job);
        std::lock_guard lock(mutex_);
        current_.reset();
    }
}

void EspeakSpeechSynthesizer::scanVoices()
{
    Scan scan;
    {
        std::lock_guard engineLock(engineMutex());
        scan.available = ensureEngine(dataPath_);
        const espeak_VOICE** list = scan.available ? espeak_ListVoices(nullptr) : nullptr;
        for (std::size_t i = 0; list != nullptr && list[i] != nullptr; ++i) {
            const espeak_VOICE& voice = *list[i];
            auto names = languageNames(voice.languages);
            if (names.empty() || voice.identifier == nullptr) {
                continue;
            }
            const std::string tag = languageTag(names[0], {names.begin() + 1, names.end()});
            const std::string base = tag.substr(0, tag.find('-'));
            bool reads = true;
            bool selected = false;
            for (const auto& check : checks_) {
                if (check.language != base) {
                    continue;
                }
                if (!selected) {
                    // An unknown voice leaves the engine without a language,
                    // which it cannot translate text in.
                    if (espeak_SetVoiceByName(voice.identifier) != EE_OK) {
                        reads = false;
                        break;
                    }
                    selected = true;
                }
                if (!readsWithoutSwitching(check.sentence)) {
                    reads = false;
                    break;
                }
            }
            if (!reads) {
                continue;
            }
            // Voices on an external diphone database ("mb/...") are add-ons.
            const bool external = std::string_view(voice.identifier).starts_with("mb/");
            SynthesisVoice entry{voice.identifier, displayName(voice.name), tag, SynthesisVoice::defaultQuality,
                                 !external};
            scan.voices.push_back(entry);
            if (tag == "zh-CN") {
                entry.identifier += std::string(1, localeSuffix) + "zh-TW";
                entry.language = "zh-TW";
                scan.voices.push_back(entry);
            }
        }
    }
    scan.done = true;
    {
        std::lock_guard lock(mutex_);
        scan_ = std::move(scan);
    }
    wake_.notify_all();
}

static int synthCallback(short* samples, int count, espeak_EVENT*)
{
    auto* job = renderingJob;
    if (job == nullptr || job->cancelled) {
        return 1;
    }
    if (samples == nullptr || count <= 0) {
        return 0;
    }
    const AudioFormat format{.sampleRate = double(engine().sampleRate),
                             .channelCount = 1,
                             .sampleType = SampleType::int16,
                             .interleaved = true};
    if (!job->spoke) {
        // The silence before the first sound is left out: the engine opens
        // with the closure of a first stop ("Qué" with 49 ms of it), which
        // nobody hears but which kept the listener waiting that long for
        // the first word.
        short* first = std::find_if(samples, samples + count, [](short sample) { return sample != 0; });
        if (first == samples + count) {
            return 0;
        }
        job->spoke = true;
        count -= int(first - samples);
        samples = first;
    }
    PcmBuffer buffer(format, std::size_t(count));
    buffer.setFrameLength(std::size_t(count));
    std::memcpy(buffer.int16ChannelData(0), samples, std::size_t(count) * sizeof(short));
    job->onBuffer(buffer);
    return job->cancelled ? 1 : 0;
}

void EspeakSpeechSynthesizer::render(Job& job)
{
    std::lock_guard engineLock(engineMutex());
    const double rate = engine().sampleRate;
    const AudioFormat format{
        .sampleRate = rate, .channelCount = 1, .sampleType = SampleType::int16, .interleaved = true};
    bool voiceSet = false;
    if (job.utterance.voice) {
        voiceSet = espeak_SetVoiceByName(engineVoiceName(job.utterance.voice->identifier).c_str()) == EE_OK;
    } else {
        espeak_VOICE wanted{};
        wanted.languages = "en-us";
        voiceSet = espeak_SetVoiceByProperties(&wanted) == EE_OK;
    }
    // A voice that cannot be loaded produces no sound; the end mark alone
    // tells the caller so.
    if (voiceSet) {
        espeak_SetParameter(espeakRATE, wordsPerMinute(job.utterance.rate), 0);
        espeak_SetSynthCallback(synthCallback);
        renderingJob = &job;
        const std::string text = engineText(job.utterance.text);
        espeak_Synth(text.c_str(), text.size(), 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        renderingJob = nullptr;
    }
    if (job.cancelled) {
        return;
    }
    // Text without speech yields no buffer at all, so the caller can tell
    // that the voice produced nothing.
    const double delay = job.utterance.postUtteranceDelay;
    if (job.spoke && std::isfinite(delay) && delay > 0) {
        const auto frames = static_cast<std::size_t>(std::lround(std::min(delay, 10.0) * rate));
        PcmBuffer silence(format, frames);
        silence.setFrameLength(frames);
        job.onBuffer(silence);
    }
    PcmBuffer end(format, 0);
    job.onBuffer(end);
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
    std::lock_guard lock(mutex_);
    if (current_ && current_->id == render) {
        current_->cancelled = true;
    }
    std::erase_if(jobs_, [render](const std::shared_ptr<Job>& job) { return job->id == render; });
}

void EspeakSpeechSynthesizer::stopSpeaking()
{
    std::lock_guard lock(mutex_);
    if (current_) {
        current_->cancelled = true;
    }
    jobs_.clear();
}

}  // namespace parlaro::sys
