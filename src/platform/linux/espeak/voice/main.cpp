// The program's voice: the speech engine in a process of its own, so that
// text it cannot handle ends this process and one reply, never the program.
// Started by the program with its end of a stream socket as descriptor 3.

#include "platform/linux/espeak/voice/VoiceServer.h"

#include <csignal>
#include <cstring>
#include <string_view>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::optional<std::string> dataPath;
    parlaro::sys::VoiceFault fault;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with("--data=")) {
            dataPath = std::string(argument.substr(7));
        } else if (argument.starts_with("--abort-on=")) {
            fault = {parlaro::sys::VoiceFault::abort, std::string(argument.substr(11))};
        } else if (argument.starts_with("--hang-on=")) {
            fault = {parlaro::sys::VoiceFault::hang, std::string(argument.substr(10))};
        } else if (argument.starts_with("--flood-on=")) {
            fault = {parlaro::sys::VoiceFault::flood, std::string(argument.substr(11))};
        }
    }
    return parlaro::sys::serveVoices(3, dataPath, fault);
}
