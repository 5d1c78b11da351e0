// String tables as installed files, and their values worded with counts
// and placeholders.

#include "FuzzSupport.h"

#include "platform/linux/FileResourceBundles.h"
#include "speech/KoreanParticles.h"
#include "speech/Localization.h"
#include "speech/PluralForms.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

using namespace parlaro;

namespace {

void word(const std::string& value)
{
    static const std::vector<std::vector<std::string>> argumentSets = {
        {"1", "%1$@"}, {"0.5", "21", "many"}, {"-3", "1e400", "#", "{0, plural, other {x}}"}};
    for (const char* locale : {"en", "ar"}) {
        for (const auto& arguments : argumentSets) {
            const std::string chosen = choosePluralForms(value, arguments, locale);
            // Text without a block comes back as it was.
            if (value.find("plural") == std::string::npos)
                FUZZ_CHECK(chosen == value);
            fillPlaceholders(chooseKoreanParticles(chosen, arguments), arguments);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::ScratchFolder root("tables");
    std::filesystem::create_directories(root.path() / "i18n" / "xx");
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(root.path() / "i18n" / "xx" / "table.json", std::ios::binary | std::ios::trunc);
        out << text;
    }
    const sys::FileResourceBundles bundles(root.path());
    const auto table = bundles.openTable("xx");
    FUZZ_CHECK(table != nullptr);
    for (const auto& [key, value] : *table)
        word(value);
    // The input as one value too, so that wording is explored beyond what
    // parses as a table.
    word(text);
    return 0;
}
