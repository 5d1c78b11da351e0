#include "history/HistoryFiles.h"

#include "platform/AtomicFile.h"
#include "platform/FolderWalk.h"
#include "runtime/Log.h"

#include "runtime/Uuid.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

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
    if (static_cast<std::uintmax_t>(status.st_size) > largestFile) {
        errno = EFBIG;
        return std::nullopt;
    }
    std::string contents(static_cast<std::size_t>(status.st_size) + 1, '\0');
    std::size_t filled = 0;
    while (true) {
        if (filled > largestFile) {
            errno = EFBIG;
            return std::nullopt;
        }
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

std::error_code makeFolder(const fs::path& folder)
{
    keepToTheUser(folder);
    return makeFolders(folder);
}

void keepToTheUser(const fs::path& folder)
{
    // Once a run: every save comes here, and neither walks the path again
    // nor repeats a narrowing that failed, nor its line in the log. A folder
    // not there yet is made for the user alone, and looked at once it is.
    static std::mutex mutex;
    static std::set<fs::path> settled;
    std::lock_guard lock(mutex);
    if (settled.contains(folder))
        return;
    const FolderWalk walk(folder);
    if (!walk.missing().empty())
        return;
    settled.insert(folder);
    if (walk.error() || walk.refusal())
        return;
    // The very folder walked, opened for reading: O_PATH takes no change of
    // mode.
    const auto narrowing = parlaro::keepToTheUser(walk.descriptor(), ".", S_IFDIR);
    if (!narrowing)
        return;
    char was[8];
    std::snprintf(was, sizeof was, "%04o", static_cast<unsigned>(narrowing->was));
    if (narrowing->error != 0) {
        rt::logMessage("the conversation history folder " + walk.path().string() + " is open to others (mode " + was
                       + ") and cannot be narrowed: " + std::generic_category().message(narrowing->error));
        return;
    }
    rt::logMessage("the conversation history folder " + walk.path().string() + " was open to others (mode " + was
                   + "); it is now for the user alone.");
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

std::optional<rt::Uuid> sessionId(const fs::path& file)
{
    if (file.extension() != ".json")
        return std::nullopt;
    return rt::Uuid::parse(file.stem().string());
}

fs::path sessionFile(const fs::path& folder, const rt::Uuid& id)
{
    const std::string name = id.toString();
    const fs::path upper = folder / (name + ".json");
    std::error_code error;
    if (fs::exists(upper, error))
        return upper;
    std::string lowerName = name;
    for (char& c : lowerName)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const fs::path lower = folder / (lowerName + ".json");
    if (fs::exists(lower, error))
        return lower;
    return upper;
}

bool isHistoryFileName(const std::string& name)
{
    return name == "index.json" || sessionId(name);
}

namespace {

// Removes the entries of the folder that `doomed` picks. The listing ends
// before the first removal, so removing does not disturb it. Why the last
// removal that failed did, if one did.
std::optional<std::string> removeWhere(const fs::path& folder,
                                       const std::function<bool(const fs::directory_entry&)>& doomed)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (doomed(*it))
            found.push_back(it->path());
    }
    std::optional<std::string> failure;
    if (error && error != std::errc::no_such_file_or_directory)
        failure = error.message();
    for (const auto& file : found) {
        std::error_code removal;
        if (!fs::remove(file, removal) && removal)
            failure = removal.message();
    }
    return failure;
}

// The file an unfinished write of ours was to replace: a session file or
// the index.
std::optional<fs::path> temporaryTarget(const fs::path& file)
{
    auto target = atomicWriteTarget(file.filename().string());
    if (!target)
        return std::nullopt;
    if (!isHistoryFileName(*target))
        return std::nullopt;
    return fs::path(*target);
}

}  // namespace

std::optional<std::string> removeSessionFiles(const fs::path& folder, const std::unordered_set<rt::Uuid>& ids)
{
    if (ids.empty())
        return std::nullopt;
    return removeWhere(folder, [&](const fs::directory_entry& entry) {
        fs::path name = entry.path().filename();
        if (auto target = temporaryTarget(name))
            name = *target;
        auto id = sessionId(name);
        return id && ids.contains(*id);
    });
}

bool hasSessionFile(const fs::path& folder, const rt::Uuid& id)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(sessionFile(folder, id), error));
}

}  // namespace parlaro::HistoryFiles
