#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parlaro::rt {

// Where the runtime reports what it has nobody to hand to: a job that threw
// on a queue, a continuation dropped without being resumed. Standard error,
// unless a LogCapture is listening. Never from a real-time thread.
void logMessage(std::string_view text);
// Like logMessage, in debug builds only.
void debugLog(std::string_view text);

// Collects the messages logged while it lives, instead of printing them.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> messages() const;
};

}  // namespace parlaro::rt
