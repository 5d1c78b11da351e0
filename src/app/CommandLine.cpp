#include "app/CommandLine.h"

#include <string_view>

namespace parlaro::app {

namespace {

// Qt's own options, which it also takes with two dashes; any other
// two-dash option can be refused before Qt starts, display or not.
bool qtOption(std::string_view argument)
{
    static constexpr std::string_view names[] = {"platform",      "platformpluginpath",
                                                 "platformtheme", "plugin",
                                                 "qmljsdebugger", "qwindowgeometry",
                                                 "qwindowicon",   "qwindowtitle",
                                                 "reverse",       "session",
                                                 "style",         "stylesheet",
                                                 "widgetcount",   "display",
                                                 "geometry",      "name",
                                                 "title",         "visual",
                                                 "ncols",         "cmap",
                                                 "nograb",        "dograb",
                                                 "sync"};
    argument.remove_prefix(2);
    argument = argument.substr(0, argument.find('='));
    for (std::string_view name : names) {
        if (argument == name)
            return true;
    }
    return false;
}

}  // namespace

CommandLine CommandLine::early(const std::vector<std::string>& arguments)
{
    CommandLine line;
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            line.action = Action::help;
            return line;
        }
        if (argument == "--version")
            line.action = Action::version;
        else if (argument.starts_with("--") && argument != "--sim" && !qtOption(argument) && line.unknown.empty())
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
