#include "runtime/Log.h"

#include <cstdio>
#include <mutex>

namespace parlaro::rt {

namespace {

std::mutex logMutex;
int captures = 0;
std::vector<std::string> captured;

}  // namespace

void logMessage(std::string_view text)
{
    std::lock_guard lock(logMutex);
    if (captures > 0) {
        captured.emplace_back(text);
        return;
    }
    std::fprintf(stderr, "parlaro: %.*s\n", static_cast<int>(text.size()), text.data());
}

void debugLog([[maybe_unused]] std::string_view text)
{
#ifndef NDEBUG
    logMessage(text);
#endif
}

LogCapture::LogCapture()
{
    std::lock_guard lock(logMutex);
    if (captures++ == 0)
        captured.clear();
}

LogCapture::~LogCapture()
{
    std::lock_guard lock(logMutex);
    --captures;
}

std::vector<std::string> LogCapture::messages() const
{
    std::lock_guard lock(logMutex);
    return captured;
}

}  // namespace parlaro::rt
