#include "platform/linux/sphinx/SphinxEnglishWords.h"

#include <map>
#include <sstream>

namespace parlaro::sys {

extern const std::string_view sphinxEnglishWordsText;

namespace {

std::string_view trimmed(std::string_view line)
{
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t' || line.front() == '\r'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::vector<std::string> wordsOf(std::string_view phrase)
{
    std::vector<std::string> words;
    std::istringstream in{std::string(phrase)};
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

}  // namespace

SphinxEnglishWords SphinxEnglishWords::parse(std::string_view text)
{
    SphinxEnglishWords lists;
    const std::map<std::string_view, Words*> sets{
        {"kept-out", &lists.keptOut},
        {"joining", &lists.joining},
        {"subordinators", &lists.subordinators},
        {"question-words", &lists.questionWords},
        {"auxiliaries", &lists.auxiliaries},
        {"subjects", &lists.subjects},
    };
    std::string_view heading;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            heading = line.substr(1, line.size() - 2);
            continue;
        }
        if (heading == "short-replies") {
            lists.shortReplies.push_back(wordsOf(line));
        } else if (const auto found = sets.find(heading); found != sets.end()) {
            found->second->insert(std::string(line));
        }
    }
    return lists;
}

const SphinxEnglishWords& SphinxEnglishWords::shared()
{
    static const SphinxEnglishWords lists = parse(sphinxEnglishWordsText);
    return lists;
}

}  // namespace parlaro::sys
