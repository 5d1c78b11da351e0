// A reply's text as translation hands it to the voice: cleaned (here, so
// that the fuzzer follows the cleaning's branches), then spoken by the real
// engine through the program's synthesizer, in the language the first byte
// picks and then in another, as a call switches voices. The engine has
// faults of its own that no cleaning reaches (some voice switches read freed
// memory); what must hold is that each reply ends, a lost one says so, and
// the next reply is spoken. It starts from the synthesizer's tests' hostile
// texts, which SpeechTextSeeds writes out for it.

#include "FuzzSupport.h"
#include "support/HostileTexts.h"
#include "support/SpokenReply.h"

#include "platform/linux/espeak/EngineText.h"
#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"

#include <unicode/utf8.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

using namespace parlaro;

namespace {

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
        FUZZ_CHECK(c != 0x7F && c != 0x202E && c != 0xFEFF);
        run = (c == ' ' || c == '\n' || c == '\t') ? 0 : run + std::size_t(i - start);
        // The longest cut plus one more character of the longest kind.
        FUZZ_CHECK(run <= 600 + 9 * 4);
    }
}

sys::EspeakSpeechSynthesizer& synthesizer()
{
    // A hang is given up on well inside libFuzzer's own limit.
    static sys::EspeakSpeechSynthesizer made({}, std::nullopt, {{}, std::chrono::seconds(5)});
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    checkClean(sys::engineText(text));
    if (!synthesizer().isAvailable()) {
        return 0;
    }
    const auto& languages = test::speechLanguages;
    // Past the synthesizer's own limit for a silent process.
    constexpr std::chrono::seconds bound(15);
    bool lost = false;
    for (int turn = 0; turn < 2; ++turn) {
        const auto voice =
            synthesizer().voiceForLanguage(std::string(languages[(data[0] + turn * 5) % languages.size()]));
        test::SpokenReply reply(bound);
        synthesizer().write({text, voice, 0.5f, 0}, reply.callback());
        FUZZ_CHECK(reply.waitFor());
        std::lock_guard lock(reply.mutex);
        lost = lost || reply.failed;
    }
    if (lost) {
        // After a lost reply the next one is spoken.
        test::SpokenReply next(bound);
        synthesizer().write({"Hello again.", synthesizer().voiceForLanguage("en"), 0.5f, 0}, next.callback());
        FUZZ_CHECK(next.waitFor());
        std::lock_guard lock(next.mutex);
        FUZZ_CHECK(!next.failed && next.begun);
    }
    return 0;
}
