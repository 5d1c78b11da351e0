#pragma once

#include "runtime/Task.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace parlaro::settings {

struct HttpRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    int timeoutMs = 15000;
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

// Sends one GET, ignoring any local cache.
using HttpGet = std::function<rt::Async<HttpResult>(HttpRequest)>;

}  // namespace parlaro::settings
