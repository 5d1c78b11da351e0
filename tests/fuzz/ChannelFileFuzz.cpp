// The recognition cache as the disk hands it over: read, one input kept,
// and read again by the next run.

#include "FuzzSupport.h"

#include "platform/linux/sphinx/SphinxChannelFile.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

using namespace parlaro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::ScratchFolder scratch("channels");
    const auto file = scratch.path() / "recognition-channels.json";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const sys::ChannelMean probe{std::vector<float>(13, 1.5f), 300};
    {
        sys::SphinxChannelFile channels(file);
        // Whatever it holds, what it yields is what a decoder could use.
        for (const std::size_t length : {13u, 1u, 64u})
            if (const auto found = channels.find("en-US", "microphone", length)) {
                FUZZ_CHECK(found->mean.size() == length);
                FUZZ_CHECK(found->frames >= 1);
            }
        channels.keep("en-US", "fuzz", probe);
    }
    // Written over as this program's own, and what was kept is there.
    std::ifstream in(file, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    FUZZ_CHECK(!nlohmann::json::parse(written, nullptr, false).is_discarded());
    FUZZ_CHECK(written.size() <= sys::SphinxChannelFile::sizeLimit);
    FUZZ_CHECK(sys::SphinxChannelFile(file).find("en-US", "fuzz", 13) == probe);
    // Each input a first run's: damaged files set aside by earlier inputs
    // would otherwise use up the names they are set aside under.
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
        std::filesystem::remove_all(entry.path());
    return 0;
}
