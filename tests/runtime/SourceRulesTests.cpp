// Rules the compiler cannot check, checked on the sources themselves.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path root(PARLARO_SOURCE_DIR);

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct SourceFile {
    std::string name;  // relative to the source tree, with forward slashes
    std::string text;
};

std::vector<SourceFile> sourcesUnder(const std::vector<std::string>& folders)
{
    std::vector<SourceFile> files;
    for (const auto& folder : folders)
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const auto ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h")
                continue;
            files.push_back({fs::relative(entry.path(), root).generic_string(), readFile(entry.path())});
        }
    return files;
}

// "file:line: text" for every line of the sources that matches.
std::vector<std::string> linesMatching(const std::vector<SourceFile>& files, const std::regex& pattern,
                                       const std::set<std::string>& exempt = {})
{
    std::vector<std::string> found;
    for (const auto& file : files) {
        if (exempt.contains(file.name))
            continue;
        std::istringstream lines(file.text);
        std::string line;
        for (int number = 1; std::getline(lines, line); ++number)
            if (std::regex_search(line, pattern))
                found.push_back(file.name + ":" + std::to_string(number) + ": " + line);
    }
    return found;
}

std::set<std::string> filesOf(const std::vector<std::string>& lines)
{
    std::set<std::string> files;
    for (const auto& line : lines)
        files.insert(line.substr(0, line.find(':')));
    return files;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

}  // namespace

// Main-actor code and everything a test drives take time from rt::clock(),
// so the manual clock controls every deadline. Only the places below read a
// clock themselves, each because the runtime's clock cannot serve it there:
// the runtime's own system clock; start-up steps that run before a runtime
// exists; threads of real backends that wait on the operating system with
// deadlines of their own; the stream loop's time stamps, on the monotonic
// base hostTime() reads too; the wake observer, which compares two clocks;
// and file ages, which only the file system's clock measures.
TEST(SourceRules, OnlyTheListedPlacesReadAClockThemselves)
{
    const std::regex read(R"(clock::now\(|Clock::now\(|clock_gettime|gettimeofday|std::time\(|QDateTime::current)"
                          R"(|QElapsedTimer|QTime::current)");
    const std::set<std::string> allowed{
        "src/runtime/SystemClock.cpp",
        // Before the runtime exists.
        "src/app/SingleInstance.cpp",
        "src/platform/linux/JsonFileSettingsStore.cpp",
        // Backend threads: the sound server's retry worker, its loops' waits
        // and the stream loop's time stamps; the translator's stall watch.
        "src/platform/linux/pulse/PulseAudioSystemConnection.cpp",
        "src/platform/linux/pulse/PulseLoop.cpp",
        "src/platform/linux/pulse/PulseDeviceIO.cpp",
        "src/platform/linux/apertium/ApertiumPipeline.cpp",
        "src/platform/linux/power/ClockGapWakeObserver.cpp",
        "src/platform/AtomicFile.cpp",
    };
    const auto reads = linesMatching(sourcesUnder({"src"}), read);
    std::vector<std::string> elsewhere;
    for (const auto& line : reads)
        if (!allowed.contains(line.substr(0, line.find(':'))))
            elsewhere.push_back(line);
    EXPECT_TRUE(elsewhere.empty()) << "take the time from rt::clock() instead:\n" << joined(elsewhere);
    // A listed place that no longer reads a clock leaves the list.
    EXPECT_EQ(filesOf(reads), allowed);
}

// Every four-character code has one name in the selector header; spelling
// one out elsewhere lets a typo pass as a new selector.
TEST(SourceRules, FourCharacterCodesAreNamedOnlyInTheSelectorHeader)
{
    const std::regex literal(R"("[^"]{4}"_fcc)");
    const auto raw = linesMatching(sourcesUnder({"src"}), literal, {"src/platform/AudioSelectors.h"});
    EXPECT_TRUE(raw.empty()) << "use the name from platform/AudioSelectors.h:\n" << joined(raw);
    const auto named = linesMatching(sourcesUnder({"src/platform"}), literal);
    EXPECT_EQ(filesOf(named), std::set<std::string>{"src/platform/AudioSelectors.h"});
}

// A file long enough to need section markers is split by concern instead.
TEST(SourceRules, NoSectionMarkers)
{
    const std::regex marker("//\\s*" + std::string("MARK") + ":");
    const auto found = linesMatching(sourcesUnder({"src", "tests", "bench"}), marker);
    EXPECT_TRUE(found.empty()) << joined(found);
}
