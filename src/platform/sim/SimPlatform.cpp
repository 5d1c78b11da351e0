#include "platform/sim/SimPlatform.h"

namespace parlaro::sim {

namespace {

std::map<std::string, StringTable> emptyInterfaceTables()
{
    std::map<std::string, StringTable> tables;
    for (const char* code : {"zh-Hans", "zh-Hant", "en", "ja", "ko", "es", "de", "fr", "pt-BR", "it", "tr", "nl", "pl",
                             "vi", "th", "id", "ar"})
        tables.emplace(code, StringTable{});
    return tables;
}

}  // namespace

SimPlatform::SimPlatform()
    : bundles(emptyInterfaceTables()), scope_(PlatformServices{&defaults, &preferredLanguages, &text, &bundles})
{
}

}  // namespace parlaro::sim
