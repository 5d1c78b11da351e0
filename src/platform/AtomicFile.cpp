#include "platform/AtomicFile.h"

#include "platform/UserFolders.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace parlaro {
namespace {

[[noreturn]] void throwErrno(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

void writeAll(int fd, std::string_view contents, const std::string& what)
{
    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, what);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

// Makes the rename itself durable; a folder that cannot be synced is not an
// error worth failing the write for, the data is already safe in the file.
void syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// As many links as the kernel itself follows in one lookup.
constexpr int mostLinks = 40;

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Every link of the chain at the path lies in a folder of the user's alone:
// in one that another user may change, a link can be swapped while the
// program runs for one that leads to any file of the user's.
bool linksOnlyTheUsers(const std::filesystem::path& link)
{
    std::filesystem::path current = link;
    for (int step = 0; step < mostLinks; ++step) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error)))
            return true;
        if (whyNotTheUsers(folderOf(current)))
            return false;
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error)
            return false;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return false;
}

constexpr std::string_view temporaryInfix = ".tmp-";
// The placeholder that mkostemp() fills with letters and digits.
constexpr std::size_t uniqueLength = 6;

}  // namespace

std::optional<std::string> atomicWriteTarget(std::string_view name)
{
    const std::size_t minimum = 1 + 1 + temporaryInfix.size() + uniqueLength;
    if (name.size() < minimum || name.front() != '.')
        return std::nullopt;
    const std::string_view unique = name.substr(name.size() - uniqueLength);
    for (char c : unique) {
        const bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric)
            return std::nullopt;
    }
    const std::string_view rest = name.substr(0, name.size() - uniqueLength);
    if (!rest.ends_with(temporaryInfix))
        return std::nullopt;
    return std::string(rest.substr(1, rest.size() - 1 - temporaryInfix.size()));
}

std::filesystem::path followLinks(const std::filesystem::path& file)
{
    std::filesystem::path current = file;
    for (int step = 0; step < mostLinks; ++step) {
        std::error_code error;
        const auto status = std::filesystem::symlink_status(current, error);
        if (error || !std::filesystem::is_symlink(status)) {
            if (step == 0)
                return current;
            // Links such as "../x" pile up; the folder's real name reads
            // better wherever the path is shown.
            const auto folder = std::filesystem::canonical(current.parent_path(), error);
            return error ? current : folder / current.filename();
        }
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error)
            throw std::system_error(error, "Cannot read the link " + current.string());
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throwErrno(ELOOP, "Cannot follow the links at " + file.string());
}

void removeStaleTemporaries(const std::filesystem::path& folder,
                            const std::function<bool(const std::string& target)>& isTarget,
                            std::optional<double> minimumAge)
{
    const auto now = std::filesystem::file_time_type::clock::now();
    std::vector<std::filesystem::path> stale;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const auto target = atomicWriteTarget(it->path().filename().string());
        if (!target || !isTarget(*target))
            continue;
        if (minimumAge) {
            std::error_code ignored;
            if (!it->is_regular_file(ignored))
                continue;
            const auto written = it->last_write_time(ignored);
            if (ignored || std::chrono::duration<double>(now - written).count() < *minimumAge)
                continue;
        }
        stale.push_back(it->path());
    }
    // The listing is over before the first removal, so removing does not
    // disturb it.
    for (const auto& path : stale) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
}

std::filesystem::path ownLinkTarget(const std::filesystem::path& link)
{
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(link, error)))
        return link;
    if (!linksOnlyTheUsers(link))
        return link;
    std::filesystem::path target;
    try {
        target = followLinks(link);
    } catch (const std::system_error&) {
        return link;
    }
    // The file is replaced from its own folder: one that another may
    // change could have a link of theirs put in its place.
    if (whyNotTheUsers(folderOf(target)))
        return link;
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0)
        return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() ? target : link;
    const bool nothing = errno == ENOENT;
    // Leads to nothing yet: made where it leads only in a folder of the
    // user's.
    const std::filesystem::path folder = folderOf(target);
    if (nothing && ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid())
        return target;
    return link;
}

void writeFileAtomically(const std::filesystem::path& link, std::string_view contents, AtALink atALink)
{
    // The temporary is made with O_EXCL and renamed over the path itself, so
    // a link at the path is replaced, never written through.
    const std::filesystem::path file = atALink == AtALink::followToOwnFile ? ownLinkTarget(link) : link;
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw std::system_error(error, "Cannot create " + folder.string());
    }

    std::string temporary =
        (folder / ("." + file.filename().string() + std::string(temporaryInfix) + std::string(uniqueLength, 'X')))
            .string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        throwErrno(errno, "Cannot create a temporary file in " + folder.string());
    }
    bool open = true;
    try {
        writeAll(fd, contents, "Cannot write " + temporary);
        if (::fsync(fd) != 0) {
            throwErrno(errno, "Cannot sync " + temporary);
        }
        open = false;
        if (::close(fd) != 0) {
            throwErrno(errno, "Cannot close " + temporary);
        }
    } catch (...) {
        if (open) {
            ::close(fd);
        }
        ::unlink(temporary.c_str());
        throw;
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        throwErrno(renameError, "Cannot replace " + file.string());
    }
    syncFolder(folder);
}

}  // namespace parlaro
