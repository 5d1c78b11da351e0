#pragma once

#include "settings/HttpGet.h"

class QNetworkAccessManager;

namespace parlaro::settings {

// GET through Qt's network access: always from the network, the request's
// timeout as the transfer timeout. Qt reports 404 or 500 as reply errors, so
// the outcome goes by the HTTP status: an answer with any status is a
// response, no status at all means the server was never reached.
HttpGet networkHttpGet(QNetworkAccessManager& manager);

}  // namespace parlaro::settings
