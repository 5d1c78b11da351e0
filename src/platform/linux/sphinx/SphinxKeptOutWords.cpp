#include "platform/linux/sphinx/SphinxKeptOutWords.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace parlaro::sys {

namespace {

// Sorted, for the binary search. Racial and ethnic slurs, slurs against gay
// people and people with a disability, and obscene sexual words, as the US
// English dictionary spells them. Left in on purpose: words whose everyday
// meaning is harmless or a name (chink, coon, cracker, gypsy, homo, negro,
// spastic, midget, bitch, cock, dick, cum, shag, hooker, boner).
constexpr std::array keptOut = {
    std::string_view("blowjob"),
    std::string_view("blowjobs"),
    std::string_view("cocksucker"),
    std::string_view("cunt"),
    std::string_view("darkie"),
    std::string_view("dildo"),
    std::string_view("dildos"),
    std::string_view("dyke"),
    std::string_view("dykes"),
    std::string_view("fag"),
    std::string_view("faggot"),
    std::string_view("fags"),
    std::string_view("fuck"),
    std::string_view("fuck's"),
    std::string_view("fucked"),
    std::string_view("fucked-up"),
    std::string_view("fucker"),
    std::string_view("fuckers"),
    std::string_view("fuckin"),
    std::string_view("fucking"),
    std::string_view("fucks"),
    std::string_view("gook"),
    std::string_view("gyp"),
    std::string_view("gypped"),
    std::string_view("honky"),
    std::string_view("jap"),
    std::string_view("japs"),
    std::string_view("kraut"),
    std::string_view("mongoloid"),
    std::string_view("motherfucker"),
    std::string_view("motherfucker's"),
    std::string_view("motherfuckers"),
    std::string_view("motherfucking"),
    std::string_view("nigger"),
    std::string_view("nigger's"),
    std::string_view("niggers"),
    std::string_view("nympho"),
    std::string_view("polack"),
    std::string_view("pussy"),
    std::string_view("redskin"),
    std::string_view("redskins"),
    std::string_view("retard"),
    std::string_view("retarded"),
    std::string_view("retards"),
    std::string_view("sambo"),
    std::string_view("slut"),
    std::string_view("sluts"),
    std::string_view("slutty"),
    std::string_view("spaz"),
    std::string_view("spazes"),
    std::string_view("spic"),
    std::string_view("tits"),
    std::string_view("twat"),
    std::string_view("twats"),
    std::string_view("wank"),
    std::string_view("wanker"),
    std::string_view("wankers"),
    std::string_view("whore"),
    std::string_view("whorehouse"),
    std::string_view("whores"),
    std::string_view("wop"),
    std::string_view("wops"),
};

// The word an entry "word(2) PHONES" or "word PHONES" is for.
std::string_view headword(std::string_view line)
{
    const auto end = line.find_first_of(" \t(");
    return line.substr(0, end);
}

}  // namespace

bool sphinxKeptOut(std::string_view word)
{
    return std::binary_search(keptOut.begin(), keptOut.end(), word);
}

std::string sphinxDictionaryWithoutKeptOut(std::string_view dictionary)
{
    std::string kept;
    kept.reserve(dictionary.size());
    std::size_t at = 0;
    while (at < dictionary.size()) {
        auto end = dictionary.find('\n', at);
        end = end == std::string_view::npos ? dictionary.size() : end + 1;
        const auto line = dictionary.substr(at, end - at);
        if (!sphinxKeptOut(headword(line)))
            kept += line;
        at = end;
    }
    return kept;
}

std::string sphinxSearchDictionary(const std::string& path)
{
    // Decoders are loaded on their engines' threads; each dictionary is
    // filtered once and its file in memory stays open for the process, so
    // its path stays valid for every later load.
    static std::mutex mutex;
    static std::map<std::string, std::string> paths;
    std::lock_guard lock(mutex);
    if (auto found = paths.find(path); found != paths.end())
        return found->second;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    const std::string kept = sphinxDictionaryWithoutKeptOut(text.str());
    const int fd = memfd_create("parlaro-dictionary", MFD_CLOEXEC);
    if (fd < 0)
        return {};
    for (std::size_t written = 0; written < kept.size();) {
        const auto n = ::write(fd, kept.data() + written, kept.size() - written);
        if (n <= 0) {
            ::close(fd);
            return {};
        }
        written += static_cast<std::size_t>(n);
    }
    return paths[path] = "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace parlaro::sys
