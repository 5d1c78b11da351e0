#pragma once

#include "settings/HttpGet.h"

#include <string>

class QNetworkAccessManager;

namespace parlaro::settings {

// GET through Qt's network access: always from the network, the request's
// timeout as the transfer timeout. Qt reports 404 or 500 as reply errors, so
// the outcome goes by the HTTP status: an answer with any status is a
// response, no status at all means the server was never reached. Up to
// five redirects are followed, each within home (see below); a body over
// the request's limit, a redirect that leaves home or one past the fifth
// ends the GET at once as another failure.
HttpGet networkHttpGet(QNetworkAccessManager& manager);

// Whether a redirect from `from` to `to` is followed: only to the same
// origin (scheme, host and port), and only over https, so that no other
// site can answer in the update service's name.
bool redirectStaysHome(const std::string& from, const std::string& to);

}  // namespace parlaro::settings
