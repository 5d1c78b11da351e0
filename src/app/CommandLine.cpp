#include "app/CommandLine.h"

#include <optional>
#include <string_view>

namespace parlaro::app {

namespace {

// Qt's own options, which it takes with one dash or two, and what follows
// each: nothing, the next argument, or either that or "=value". Known before
// Qt starts, so anything else is refused without a display.
enum class Takes { nothing, next, nextOrEquals };
struct QtOption {
    std::string_view name;
    Takes takes;
};
constexpr QtOption qtOptions[] = {{"platform", Takes::next},
                                  {"platformpluginpath", Takes::next},
                                  {"platformtheme", Takes::next},
                                  {"plugin", Takes::next},
                                  {"qwindowgeometry", Takes::next},
                                  {"qwindowicon", Takes::next},
                                  {"qwindowtitle", Takes::next},
                                  {"geometry", Takes::next},
                                  {"title", Takes::next},
                                  {"icon", Takes::next},
                                  {"session", Takes::next},
                                  {"display", Takes::next},
                                  {"name", Takes::next},
                                  {"visual", Takes::next},
                                  {"style", Takes::nextOrEquals},
                                  {"stylesheet", Takes::nextOrEquals},
                                  {"qmljsdebugger", Takes::nextOrEquals},
                                  {"reverse", Takes::nothing},
                                  {"testability", Takes::nothing},
                                  {"widgetcount", Takes::nothing},
                                  {"nograb", Takes::nothing},
                                  {"dograb", Takes::nothing},
                                  {"qdevel", Takes::nothing},
                                  {"qdebug", Takes::nothing}};

// The option `argument` names and whether it needs the next argument as its
// value; none when it is not one of Qt's.
std::optional<bool> qtOptionNeedsNext(std::string_view argument)
{
    if (!argument.starts_with('-'))
        return std::nullopt;
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    for (const QtOption& option : qtOptions) {
        if (argument == option.name)
            return option.takes != Takes::nothing;
        if (option.takes == Takes::nextOrEquals && argument.starts_with(option.name)
            && argument.substr(option.name.size()).starts_with('='))
            return false;
    }
    return std::nullopt;
}

}  // namespace

CommandLine CommandLine::early(const std::vector<std::string>& arguments)
{
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.action = Action::help;
            return line;
        }
        if (argument == "--version") {
            line.action = Action::version;
            continue;
        }
        if (argument == "--sim" || !line.unknown.empty())
            continue;
        if (const auto needsNext = qtOptionNeedsNext(argument)) {
            if (!*needsNext)
                continue;
            if (i + 1 < arguments.size()) {
                ++i;
                continue;
            }
            line.valueMissing = true;
        }
        line.unknown = argument;
    }
    if (line.action == Action::run && !line.unknown.empty())
        line.action = Action::usageError;
    return line;
}

CommandLine CommandLine::parse(const std::vector<std::string>& arguments)
{
    CommandLine line = early(arguments);
    if (line.action != Action::run)
        return line;
    for (const std::string& argument : arguments) {
        if (argument == "--sim") {
            line.simulated = true;
            continue;
        }
        line.action = Action::usageError;
        line.unknown = argument;
        return line;
    }
    return line;
}

std::string CommandLine::usage()
{
    return "Usage: parlaro [--sim]\n"
           "Interprets a voice call in both directions while it happens.\n"
           "\n"
           "Options:\n"
           "  --sim        simulate the whole machine: no sound server, speech engine,\n"
           "               translator, global keys or settings file is touched\n"
           "  -h, --help   show this help and exit\n"
           "  --version    show the version and exit\n"
           "\n"
           "Qt's own options, such as -platform, are accepted as well.\n";
}

std::string CommandLine::versionLine(const std::string& version)
{
    return "Parlaro " + version + "\n";
}

}  // namespace parlaro::app
