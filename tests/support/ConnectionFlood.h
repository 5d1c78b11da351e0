#pragma once

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace parlaro::test {

// Connects to the Unix socket at `path` over and over, as fast as it can,
// holding the last 300 connections in a ring and closing the oldest first,
// until `stop` (a pipe's read end) is readable or closed; then ends the
// process. Run in a forked child of a threaded process: it allocates
// nothing.
[[noreturn]] inline void floodConnections(const std::string& path, int stop)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int open[300];
    std::fill(std::begin(open), std::end(open), -1);
    for (std::size_t next = 0;; next = (next + 1) % std::size(open)) {
        pollfd entry{stop, POLLIN, 0};
        if (::poll(&entry, 1, 0) != 0)
            ::_exit(0);
        if (open[next] >= 0)
            ::close(open[next]);
        open[next] = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::connect(open[next], reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(open[next]);
            open[next] = -1;
        }
    }
}

}  // namespace parlaro::test
