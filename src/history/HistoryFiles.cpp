#include "history/HistoryFiles.h"

#include "platform/AtomicFile.h"

#include "runtime/Uuid.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <system_error>

namespace parlaro::HistoryFiles {

namespace fs = std::filesystem;

std::optional<std::string> read(const fs::path& file)
{
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return std::nullopt;
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::string contents((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad())
        return std::nullopt;
    return contents;
}

bool writeAtomically(const fs::path& file, std::string_view contents)
{
    try {
        writeFileAtomically(file, contents);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

rt::Date date(fs::file_time_type time)
{
    using namespace std::chrono;
    const auto system = file_clock::to_sys(time);
    const auto micro = duration_cast<microseconds>(system.time_since_epoch()).count();
    // Whole seconds and the fraction apart, so the offset to 2001 costs no
    // precision beyond the double's own.
    const auto seconds = micro / 1'000'000 - static_cast<std::int64_t>(rt::Date::unixOffset);
    const auto fraction = micro % 1'000'000;
    return rt::Date{static_cast<double>(seconds) + static_cast<double>(fraction) / 1e6};
}

fs::file_time_type fileTime(rt::Date date)
{
    using namespace std::chrono;
    const double micro = std::round(date.unixTime() * 1e6);
    const sys_time<microseconds> system{microseconds{static_cast<std::int64_t>(micro)}};
    return file_clock::from_sys(system);
}

std::optional<rt::Date> modificationDate(const fs::path& file)
{
    std::error_code error;
    const auto time = fs::last_write_time(file, error);
    if (error)
        return std::nullopt;
    return date(time);
}

} // namespace parlaro::HistoryFiles
