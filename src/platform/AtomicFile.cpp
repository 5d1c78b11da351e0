#include "platform/AtomicFile.h"

#include "platform/FolderWalk.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
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

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
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

std::filesystem::path FilePlace::path() const
{
    std::filesystem::path path = folder->path();
    for (const std::string& missing : folder->missing())
        path /= missing;
    return path / name;
}

namespace {

FilePlace refused(FilePlace&& link, const std::filesystem::path& at, std::string why, bool untrusted = true)
{
    link.refusedLink = FilePlace::RefusedLink{at, std::move(why), untrusted};
    return std::move(link);
}

// Where a chain of links at `link` ends, when every link of it lies in a
// folder of the user's alone (in one another may change, a link can be
// swapped while the program runs for one that leads to any file of the
// user's) and so does the file it ends at, which is the user's, or not
// there yet; else the link itself, refused.
FilePlace followToOwnFile(FilePlace&& link)
{
    const FolderWalk* linkFolder = link.folder.get();
    std::string linkName = link.name;
    std::shared_ptr<FolderWalk> hop;
    for (int step = 0; step < mostLinks; ++step) {
        if (auto why = linkFolder->whyNotTheUsers())
            return refused(std::move(link), linkFolder->path(), *why);
        std::string target;
        if ((link.error = readLink(linkFolder->descriptor(), linkName, target)) != 0)
            return std::move(link);
        const std::filesystem::path leadsTo(target);
        const std::string name = leadsTo.filename().string();
        if (name.empty() || name == "." || name == "..")
            return refused(std::move(link), linkFolder->path(), "it leads to a folder", false);
        hop = std::make_shared<FolderWalk>(leadsTo.is_absolute() ? leadsTo.parent_path()
                                                                 : linkFolder->path() / leadsTo.parent_path());
        if (hop->refusal())
            return refused(std::move(link), hop->refusedAt(), *hop->refusal());
        if (hop->error()) {
            link.error = hop->error();
            return std::move(link);
        }
        if (!hop->missing().empty())
            return refused(std::move(link), hop->path(), "it leads into a folder that is not there", false);
        struct stat status {};
        const bool found = ::fstatat(hop->descriptor(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found && errno != ENOENT) {
            link.error = errno;
            return std::move(link);
        }
        if (found && S_ISLNK(status.st_mode)) {
            linkFolder = hop.get();
            linkName = name;
            continue;
        }
        // The file is replaced from its own folder: one that another may
        // change could have a link of theirs put in its place. A file not
        // there yet is made where the link leads only in such a folder too.
        if (auto why = hop->whyNotTheUsers())
            return refused(std::move(link), hop->path(), *why);
        if (found && !S_ISREG(status.st_mode))
            return refused(std::move(link), hop->path() / name, "it is not a regular file", false);
        if (found && status.st_uid != ::geteuid())
            return refused(std::move(link), hop->path() / name, "another user owns it");
        return FilePlace{std::move(hop), name, std::nullopt, 0};
    }
    link.error = ELOOP;
    return std::move(link);
}

// A name of its own for each temporary, as mkostemp() makes them.
std::string uniqueLetters()
{
    static constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[uniqueLength] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        static std::atomic<unsigned> counter{0};
        const unsigned seed = counter++ ^ static_cast<unsigned>(::getpid());
        for (std::size_t at = 0; at < uniqueLength; ++at)
            random[at] = static_cast<unsigned char>(seed >> (at * 5));
    }
    std::string unique;
    for (const unsigned char byte : random)
        unique += letters[byte % letters.size()];
    return unique;
}

}  // namespace

FilePlace placeOf(const std::filesystem::path& file, AtALink atALink)
{
    FilePlace place{std::make_shared<FolderWalk>(folderOf(file)), file.filename().string(), std::nullopt, 0};
    if (atALink == AtALink::replace || place.folder->refusal() || place.folder->error()
        || !place.folder->missing().empty())
        return place;
    struct stat status {};
    if (::fstatat(place.folder->descriptor(), place.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISLNK(status.st_mode))
        return place;
    return followToOwnFile(std::move(place));
}

void writeFileAtomically(FilePlace& place, std::string_view contents)
{
    if (place.error)
        throwErrno(place.error, "Cannot follow the links at " + place.path().string());
    // The temporary is made with O_EXCL and renamed over the name itself, so
    // a link there is replaced, never written through.
    FolderWalk& walk = *place.folder;
    walk.makeMissing();
    const int folder = walk.descriptor();
    std::string temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        temporary = "." + place.name + std::string(temporaryInfix) + uniqueLetters();
        file =
            Descriptor(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file && errno != EEXIST)
            break;
    }
    if (!file)
        throwErrno(errno, "Cannot create a temporary file in " + walk.path().string());
    try {
        writeAll(file.get(), contents, "Cannot write " + (walk.path() / temporary).string());
        if (::fsync(file.get()) != 0)
            throwErrno(errno, "Cannot sync " + (walk.path() / temporary).string());
        if (::close(file.release()) != 0)
            throwErrno(errno, "Cannot close " + (walk.path() / temporary).string());
    } catch (...) {
        file = Descriptor();
        ::unlinkat(folder, temporary.c_str(), 0);
        throw;
    }
    if (::renameat(folder, temporary.c_str(), folder, place.name.c_str()) != 0) {
        const int renameError = errno;
        ::unlinkat(folder, temporary.c_str(), 0);
        throwErrno(renameError, "Cannot replace " + place.path().string());
    }
    // Makes the rename itself durable; a folder that cannot be synced is not
    // an error worth failing the write for, the data is already safe.
    const Descriptor synced(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (synced)
        ::fsync(synced.get());
}

std::optional<std::string> moveAside(int folder, const std::string& name, const std::string& base, int most)
{
    for (int attempt = 1; attempt <= most; ++attempt) {
        const std::string kept = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (::renameat2(folder, name.c_str(), folder, kept.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                continue;
            if (errno != EINVAL && errno != ENOSYS)
                return std::nullopt;
            // Filesystems without RENAME_NOREPLACE: a hard link also refuses
            // to replace an existing name.
            if (::linkat(folder, name.c_str(), folder, kept.c_str(), 0) != 0) {
                if (errno == EEXIST)
                    continue;
                return std::nullopt;
            }
            ::unlinkat(folder, name.c_str(), 0);
        }
        keepToTheUser(folder, kept, S_IFREG);
        return kept;
    }
    return std::nullopt;
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view contents, AtALink atALink)
{
    FilePlace place = placeOf(file, atALink);
    writeFileAtomically(place, contents);
}

}  // namespace parlaro
