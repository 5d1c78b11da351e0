// SpeechTextSeeds <folder>: writes the synthesizer's hostile texts into the
// folder as the speech fuzz target's seeds, one file each.

#include "support/HostileTexts.h"

#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    for (const auto& hostile : parlaro::test::hostileTexts()) {
        std::ofstream(folder / std::string(hostile.name), std::ios::binary | std::ios::trunc) << hostile.seed();
    }
    return 0;
}
