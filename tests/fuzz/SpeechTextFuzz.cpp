// A reply's text as translation hands it to the voice: cleaned, then spoken
// by the real engine in several languages, one after another as a call does.
// The engine runs in a process of its own in the program; here it runs in
// this one, so that an overrun the cleaning lets through is found.

#include "FuzzSupport.h"

#include "platform/linux/espeak/EngineText.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// As in the voice process: the engine gets no audio device.
extern "C" struct audio_object* create_audio_device_object(const char* device, const char* application,
                                                           const char* description);
extern "C" struct audio_object* create_audio_device_object(const char*, const char*, const char*)
{
    return nullptr;
}

namespace {

int discard(short*, int, espeak_EVENT*)
{
    return 0;
}

bool engineReady()
{
    static const bool ready = [] {
        espeak_ng_InitializePath(nullptr);
        if (espeak_ng_Initialize(nullptr) != ENS_OK ||
            espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr) != ENS_OK) {
            return false;
        }
        espeak_SetSynthCallback(discard);
        return true;
    }();
    return ready;
}

// What the cleaning promises whatever it is given.
void checkClean(std::string_view clean)
{
    FUZZ_CHECK(clean.size() >= 3 && clean.substr(clean.size() - 3) == std::string_view("\0\0\0", 3));
    clean.remove_suffix(3);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(clean.data());
    const auto length = static_cast<int32_t>(clean.size());
    std::size_t run = 0;
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        FUZZ_CHECK(c >= 0x20 || c == '\n' || c == '\t');
        FUZZ_CHECK(c != 0x7F && c != 0x202E);
        run = (c == ' ' || c == '\n' || c == '\t') ? 0 : run + std::size_t(i - start);
        // A run of the longest characters after the longest cut.
        FUZZ_CHECK(run <= 600 + 9 * 4);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || !engineReady()) {
        return 0;
    }
    static const char* const voices[] = {"en-us", "th", "ja", "cmn", "de", "ar", "hi", "ru", "ko", "vi", "es", "fr"};
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string clean = parlaro::sys::engineText(text);
    checkClean(clean);
    // Each reply in the language the first byte picks, and the next one too,
    // as a conversation in two languages switches voices.
    for (int turn = 0; turn < 2; ++turn) {
        const auto voice = voices[(data[0] + turn * 5) % std::size(voices)];
        if (espeak_SetVoiceByName(voice) == EE_OK) {
            espeak_Synth(clean.c_str(), clean.size(), 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        }
    }
    return 0;
}
