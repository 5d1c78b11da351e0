#include "platform/ResourceBundles.h"

#include <algorithm>

namespace parlaro {

bool ResourceBundles::isPlainCode(std::string_view code)
{
    return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    });
}

}  // namespace parlaro
