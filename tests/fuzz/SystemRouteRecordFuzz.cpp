// The saved record of the system microphone's takeover as the settings hand
// it over: read without throwing on any shape, read the same through the
// settings as on its own, and a record it accepts is written back as itself.

#include "FuzzSupport.h"

#include "audio/SystemAudioRoute.h"
#include "platform/sim/SimSettingsStore.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace parlaro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::SimSettingsStore defaults;
    defaults.set(SystemAudioRoute::recoveryKey, DefaultsData(text.begin(), text.end()));
    const std::optional<SystemAudioRoute::Snapshot> record = SystemAudioRoute::savedSnapshot(defaults);
    FUZZ_CHECK(record == SystemAudioRoute::Snapshot::decode(text));
    if (record)
        FUZZ_CHECK(SystemAudioRoute::Snapshot::decode(record->json()) == record);
    return 0;
}
