// The settings file as the disk hands it over: opened, read, written once
// and opened again.

#include "FuzzSupport.h"

#include "platform/JsonInput.h"
#include "platform/linux/JsonFileSettingsStore.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace parlaro;

namespace {

// How deep the parsed value nests, found without recursion.
std::size_t depthOf(const nlohmann::json& root)
{
    std::size_t deepest = 0;
    std::vector<std::pair<const nlohmann::json*, std::size_t>> open{{&root, 1}};
    while (!open.empty()) {
        const auto [value, depth] = open.back();
        open.pop_back();
        if (!value->is_structured())
            continue;
        deepest = std::max(deepest, depth);
        for (const auto& child : *value)
            open.emplace_back(&child, depth + 1);
    }
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fuzz::ScratchFolder scratch("settings");
    const std::filesystem::path& folder = scratch.path();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto file = folder / "settings.json";
    const auto keptAs = folder / "settings.json.corrupt-fuzz";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
    }
    const auto stamp = [] { return std::string("fuzz"); };

    // The nesting check before parsing agrees with the parsed value.
    const nlohmann::json plain = nlohmann::json::parse(text, nullptr, false);
    std::optional<nlohmann::json> read = parseJsonInput(text);
    if (!plain.is_discarded()) {
        const bool within = depthOf(plain) <= jsonDepthLimit;
        FUZZ_CHECK(jsonNestsWithin(text) == within);
        FUZZ_CHECK(read.has_value() == within);
    } else {
        FUZZ_CHECK(!read);
    }
    const bool usable = read && read->is_object();
    sys::JsonFileSettingsStore store(file, stamp);
    const auto problem = store.openProblem();
    FUZZ_CHECK(problem.has_value() == !usable);
    if (problem) {
        // Set aside whole, never rewritten.
        FUZZ_CHECK(problem->kind == sys::JsonFileSettingsStore::OpenProblem::Kind::setAside);
        std::ifstream kept(keptAs, std::ios::binary);
        const std::string keptText((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        FUZZ_CHECK(keptText == text);
        std::filesystem::remove(keptAs);
        FUZZ_CHECK(!store.has("fuzz"));
    }

    store.set("fuzz.probe", std::int64_t{7});
    // Every entry it holds, readable or not, survives the write as it was,
    // and the file stays about the size of what it holds.
    const auto written = std::filesystem::file_size(file);
    FUZZ_CHECK(written <= 8 * size + 64);
    sys::JsonFileSettingsStore reopened(file, stamp);
    FUZZ_CHECK(!reopened.openProblem());
    FUZZ_CHECK(reopened.get<std::int64_t>("fuzz.probe") == 7);
    if (usable) {
        for (const auto& [key, value] : read->items()) {
            if (key == "fuzz.probe")
                continue;
            FUZZ_CHECK(reopened.has(key));
            FUZZ_CHECK(reopened.value(key) == store.value(key));
        }
    }
    std::filesystem::remove(file);
    return 0;
}
