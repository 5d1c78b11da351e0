#include "platform/linux/sphinx/SphinxKeptOutWords.h"

#include "platform/linux/sphinx/SphinxEnglishWords.h"

#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace parlaro::sys {

namespace {

// The word an entry "word(2) PHONES" or "word PHONES" is for.
std::string_view headword(std::string_view line)
{
    const auto end = line.find_first_of(" \t(");
    return line.substr(0, end);
}

}  // namespace

std::vector<std::string> sphinxWordForms(std::string_view word)
{
    std::vector<std::string> forms{std::string(word)};
    std::string_view bare = word;
    if (bare.ends_with("'s"))
        bare.remove_suffix(2);
    else if (bare.ends_with('\''))
        bare.remove_suffix(1);
    if (bare != word)
        forms.emplace_back(bare);
    // English adds "es" only after a hiss or an "o" ("negroes", "spazes"):
    // "spices" is no form of anything kept out.
    if (bare.ends_with("ies") && bare.size() > 3)
        forms.push_back(std::string(bare.substr(0, bare.size() - 3)) + 'y');
    if (bare.ends_with("es") && bare.size() > 2) {
        const std::string_view stem = bare.substr(0, bare.size() - 2);
        if (stem.ends_with('s') || stem.ends_with('x') || stem.ends_with('z') || stem.ends_with("ch")
            || stem.ends_with("sh") || stem.ends_with('o'))
            forms.emplace_back(stem);
    }
    if (bare.ends_with('s') && bare.size() > 1)
        forms.emplace_back(bare.substr(0, bare.size() - 1));
    return forms;
}

bool sphinxKeptOut(std::string_view word)
{
    const auto& keptOut = SphinxEnglishWords::shared().keptOut;
    for (const auto& form : sphinxWordForms(word))
        if (keptOut.contains(form))
            return true;
    return false;
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
