// Translation mode files as the installed language pairs hand them over.

#include "FuzzSupport.h"

#include "platform/linux/apertium/ApertiumModes.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace parlaro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Every stage is a program with the null-flush option after it.
    for (const auto& stage : sys::ApertiumModes::parseMode(text)) {
        FUZZ_CHECK(stage.size() >= 2);
        FUZZ_CHECK(stage[1] == "-z");
    }
    return 0;
}
