// The update feed as the network hands it over.

#include "FuzzSupport.h"

#include "settings/UpdateModel.h"
#include "settings/UpdateVersion.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace parlaro;
using namespace parlaro::settings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HttpResult answer{HttpResult::Kind::response, 200, std::string(reinterpret_cast<const char*>(data), size)};
    const std::optional<std::string> offered = UpdateModel::parseFeed(answer);
    if (offered) {
        FUZZ_CHECK(versionIsValid(*offered));
        // Newer is a strict order.
        FUZZ_CHECK(!isVersionNewer(*offered, *offered));
        if (isVersionNewer(*offered, "1.2.3"))
            FUZZ_CHECK(!isVersionNewer("1.2.3", *offered));
    }
    // Only a 200 answer offers a version.
    answer.status = 203;
    FUZZ_CHECK(!UpdateModel::parseFeed(answer));
    // The body as a version of its own.
    if (versionIsValid(answer.body))
        FUZZ_CHECK(!isVersionNewer(answer.body, answer.body));
    return 0;
}
