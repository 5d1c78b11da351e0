#include "app/CommandLine.h"

namespace parlaro::app {

CommandLine CommandLine::early(const std::vector<std::string>& arguments)
{
    CommandLine line;
    for (const std::string& argument : arguments) {
        // Whatever follows "--" is not an option.
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h") {
            line.action = Action::help;
            return line;
        }
        if (argument == "--version")
            line.action = Action::version;
    }
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
