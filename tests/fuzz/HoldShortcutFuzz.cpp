// The stored hold shortcut as the settings file hands it over.

#include "FuzzSupport.h"

#include "ui/HoldShortcut.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace parlaro;
using ui::HoldShortcut;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<HoldShortcut> shortcut = HoldShortcut::fromJson(text);
    // What was read is stored as it reads back.
    if (shortcut)
        FUZZ_CHECK(HoldShortcut::fromJson(shortcut->json()) == shortcut);
    return 0;
}
