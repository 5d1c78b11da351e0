#include "platform/linux/espeak/voice/VoiceServer.h"

#include "platform/linux/espeak/EngineText.h"
#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"
#include "platform/linux/espeak/VoiceWire.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <unistd.h>
#include <vector>

// The engine opens an audio device as it sets up its output, even for the
// synchronous rendering it is used for here, which never plays through one;
// its audio library then connects to the sound server to see that it is
// there, and waits without end on a server held still. Defined in the
// program, this comes before the audio library's own, and the engine gets no
// device.
extern "C" struct audio_object* create_audio_device_object(const char* device, const char* application,
                                                           const char* description);
extern "C" struct audio_object* create_audio_device_object(const char*, const char*, const char*)
{
    return nullptr;
}

namespace parlaro::sys {

namespace {

namespace wire = voicewire;

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

int initialize(const std::optional<std::string>& dataPath)
{
    espeak_ng_InitializePath(dataPath ? dataPath->c_str() : nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    espeak_ng_STATUS status = espeak_ng_Initialize(&context);
    espeak_ng_ClearErrorContext(&context);
    if (status == ENS_OK) {
        status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr);
    }
    return status == ENS_OK ? espeak_ng_GetSampleRate() : 0;
}

std::string listVoices(wire::Reader request)
{
    std::vector<std::pair<std::string, std::string>> checks;
    for (std::string language, sentence; request.text(language) && request.text(sentence);) {
        checks.emplace_back(language, sentence);
    }
    std::uint32_t count = 0;
    wire::Writer entries;
    auto add = [&](const std::string& identifier, const std::string& name, const std::string& tag, bool system) {
        entries.text(identifier);
        entries.text(name);
        entries.text(tag);
        entries.u32(system ? 1 : 0);
        ++count;
    };
    const espeak_VOICE** list = espeak_ListVoices(nullptr);
    for (std::size_t i = 0; list != nullptr && list[i] != nullptr; ++i) {
        const espeak_VOICE& voice = *list[i];
        auto names = languageNames(voice.languages);
        if (names.empty() || voice.identifier == nullptr) {
            continue;
        }
        const std::string tag = EspeakSpeechSynthesizer::languageTag(names[0], {names.begin() + 1, names.end()});
        const std::string base = tag.substr(0, tag.find('-'));
        bool reads = true;
        bool selected = false;
        for (const auto& [language, sentence] : checks) {
            if (language != base) {
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
            if (!readsWithoutSwitching(sentence)) {
                reads = false;
                break;
            }
        }
        if (!reads) {
            continue;
        }
        // Voices on an external diphone database ("mb/...") are add-ons.
        const bool external = std::string_view(voice.identifier).starts_with("mb/");
        add(voice.identifier, displayName(voice.name), tag, !external);
        if (tag == "zh-CN") {
            add(voice.identifier + std::string(1, wire::localeSuffix) + "zh-TW", displayName(voice.name), "zh-TW",
                !external);
        }
    }
    wire::Writer reply;
    reply.u32(count);
    reply.bytes(entries.payload().data(), entries.payload().size());
    return reply.payload();
}

struct Render {
    int fd = -1;
    bool spoke = false;
    bool cancelled = false;
    bool gone = false;
    const VoiceFault* fault = nullptr;
};

Render* rendering = nullptr;

// A cancel waiting on the socket; the program sends nothing else while a
// render is under way.
void checkForCancel(Render& render)
{
    pollfd entry{render.fd, POLLIN, 0};
    while (!render.cancelled && ::poll(&entry, 1, 0) > 0) {
        auto message = wire::receive(render.fd, wire::largestRequest);
        if (!message) {
            render.gone = true;
            render.cancelled = true;
        } else if (message->kind == wire::cancel) {
            render.cancelled = true;
        }
    }
}

int synthCallback(short* samples, int count, espeak_EVENT*)
{
    Render* render = rendering;
    if (render == nullptr) {
        return 1;
    }
    checkForCancel(*render);
    if (render->cancelled) {
        return 1;
    }
    if (samples == nullptr || count <= 0) {
        return 0;
    }
    if (!render->spoke) {
        // The silence before the first sound is left out: the engine opens
        // with the closure of a first stop ("Qué" with 49 ms of it), which
        // nobody hears but which kept the listener waiting that long for
        // the first word.
        short* first = std::find_if(samples, samples + count, [](short sample) { return sample != 0; });
        if (first == samples + count) {
            return 0;
        }
        render->spoke = true;
        count -= int(first - samples);
        samples = first;
    }
    const std::string_view sound(reinterpret_cast<const char*>(samples), std::size_t(count) * sizeof(short));
    if (!wire::send(render->fd, wire::audio, sound)) {
        render->gone = true;
        return 1;
    }
    if (render->fault != nullptr) {
        if (render->fault->kind == VoiceFault::abort) {
            std::abort();
        }
        if (render->fault->kind == VoiceFault::flood) {
            while (wire::send(render->fd, wire::audio, sound)) {}
            render->gone = true;
            return 1;
        }
        for (;;) {
            ::pause();
        }
    }
    return 0;
}

void renderText(int fd, wire::Reader request, const VoiceFault& fault, bool& gone)
{
    std::uint32_t wordsPerMinute = 0;
    std::string voiceName;
    std::string text;
    if (!request.u32(wordsPerMinute) || !request.text(voiceName) || !request.text(text)) {
        gone = !wire::send(fd, wire::end);
        return;
    }
    bool voiceSet = false;
    if (!voiceName.empty()) {
        voiceSet = espeak_SetVoiceByName(voiceName.c_str()) == EE_OK;
    } else {
        espeak_VOICE wanted{};
        wanted.languages = "en-us";
        voiceSet = espeak_SetVoiceByProperties(&wanted) == EE_OK;
    }
    // A voice that cannot be loaded produces no sound; the end alone tells
    // the program so.
    if (voiceSet) {
        Render render{.fd = fd};
        if (fault.kind != VoiceFault::none && !fault.marker.empty() && text.find(fault.marker) != std::string::npos) {
            render.fault = &fault;
        }
        espeak_SetParameter(espeakRATE, int(wordsPerMinute), 0);
        espeak_SetSynthCallback(synthCallback);
        rendering = &render;
        const std::string safe = engineText(text);
        espeak_Synth(safe.c_str(), safe.size(), 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        rendering = nullptr;
        if (render.gone) {
            gone = true;
            return;
        }
    }
    gone = !wire::send(fd, wire::end);
}

}  // namespace

int serveVoices(int fd, const std::optional<std::string>& dataPath, const VoiceFault& fault)
{
    const int sampleRate = initialize(dataPath);
    wire::Writer hello;
    hello.u32(static_cast<std::uint32_t>(std::max(sampleRate, 0)));
    if (!wire::send(fd, wire::hello, hello.payload())) {
        return 0;
    }
    for (bool gone = false; !gone;) {
        auto message = wire::receive(fd, wire::largestRequest);
        if (!message) {
            break;
        }
        switch (message->kind) {
        case wire::listVoices:
            gone = !wire::send(fd, wire::voices, sampleRate > 0 ? listVoices(wire::Reader(message->payload)) : "");
            break;
        case wire::render:
            if (sampleRate > 0) {
                renderText(fd, wire::Reader(message->payload), fault, gone);
            } else {
                gone = !wire::send(fd, wire::end);
            }
            break;
        default:
            // A cancel that came after its render had ended.
            break;
        }
    }
    return 0;
}

}  // namespace parlaro::sys
