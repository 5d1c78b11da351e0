#include "history/HistoryFiles.h"

#include "platform/AtomicFile.h"

#include "runtime/Uuid.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parlaro::HistoryFiles {

namespace fs = std::filesystem;

std::optional<std::string> read(const fs::path& file)
{
    // One read of the size the file has, rather than a character at a time;
    // a file that grows meanwhile is read on to its end.
    // Not blocking: a FIFO named like a session must not hang the caller.
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0)
        return std::nullopt;
    struct Closer {
        int descriptor;
        ~Closer() { ::close(descriptor); }
    } closer{descriptor};
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    std::string contents(static_cast<std::size_t>(status.st_size) + 1, '\0');
    std::size_t filled = 0;
    while (true) {
        if (filled == contents.size())
            contents.resize(contents.size() * 2);
        const ssize_t got = ::read(descriptor, contents.data() + filled, contents.size() - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    contents.resize(filled);
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
