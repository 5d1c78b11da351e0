#pragma once

#include "runtime/Task.h"

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro::settings {

struct HttpRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // How long the answer may stay silent.
    int timeoutMs = 15000;
    // A longer body is not read on: the GET ends as another failure.
    std::size_t maxBodyBytes = 64 * 1024;
};

// How a GET ended: an answer with its status (whatever the status), no
// answer because the server could not be reached or did not answer in time,
// or some other failure.
struct HttpResult {
    enum class Kind { response, connectionFailed, otherFailure };
    Kind kind = Kind::otherFailure;
    int status = 0;
    std::string body;
};

// Sends one GET, ignoring any local cache. Cancelling the waiting task ends
// the transfer.
using HttpGet = std::function<rt::Async<HttpResult>(HttpRequest)>;

}  // namespace parlaro::settings
