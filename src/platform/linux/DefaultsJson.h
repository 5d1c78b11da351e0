#pragma once

#include "platform/DefaultsValue.h"

#include <nlohmann/json.hpp>

#include <optional>

namespace parlaro::sys {

// How a settings value is written in JSON. Strings, bools, integers, finite
// doubles and string lists are plain JSON (a double always carries a decimal
// point, so it reads back as a double). Objects are tagged, so nothing is
// ambiguous: {"$data": "<base64>"}, {"$dictionary": {...}}, and
// {"$double": "nan" | "inf" | "-inf"} for what JSON numbers cannot hold.
nlohmann::json encodeDefaultsValue(const DefaultsValue& value);
// nullopt for JSON that no value encodes to.
std::optional<DefaultsValue> decodeDefaultsValue(const nlohmann::json& json);

}  // namespace parlaro::sys
