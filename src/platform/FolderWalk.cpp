#include "platform/FolderWalk.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace parlaro {

namespace fs = std::filesystem;

namespace {

// A group of the user's alone: the user's own group of the same name with
// nobody else listed in it, as systems that give each user a group of their
// own make it. Their folders are made writable by the group.
bool privateGroup(gid_t group)
{
    if (group != ::getgid())
        return false;
    std::string storage(16384, '\0');
    struct passwd user {};
    struct passwd* foundUser = nullptr;
    if (::getpwuid_r(::getuid(), &user, storage.data(), storage.size(), &foundUser) != 0 || !foundUser)
        return false;
    const std::string userName = foundUser->pw_name;
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(group, &entry, storage.data(), storage.size(), &found) != 0 || !found)
        return false;
    if (userName != found->gr_name)
        return false;
    for (char** member = found->gr_mem; *member; ++member) {
        if (userName != *member)
            return false;
    }
    return true;
}

// The superuser may do anything anyway: a folder of theirs on the way is
// as safe as one of the user's.
bool usersOrSuperusers(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

std::vector<std::string> componentsOf(const fs::path& path)
{
    std::vector<std::string> components;
    for (const fs::path& part : path.relative_path())
        components.push_back(part.string());
    return components;
}

}  // namespace

Descriptor::~Descriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int Descriptor::release()
{
    return std::exchange(fd_, -1);
}

int readLink(int folder, const std::string& name, std::string& target)
{
    target.assign(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
    if (length < 0)
        return errno;
    if (static_cast<std::size_t>(length) >= target.size())
        return ENAMETOOLONG;
    target.resize(static_cast<std::size_t>(length));
    return 0;
}

std::optional<Narrowing> keepToTheUser(int folder, const std::string& name, mode_t type)
{
    const Descriptor opened(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!opened || ::fstat(opened.get(), &status) != 0 || (status.st_mode & S_IFMT) != type
        || status.st_uid != ::geteuid() || (status.st_mode & 077) == 0)
        return std::nullopt;
    Narrowing narrowing{status.st_mode & 07777, 0};
    if (::fchmod(opened.get(), narrowing.was & ~static_cast<mode_t>(077)) != 0)
        narrowing.error = errno;
    return narrowing;
}

bool othersMayWrite(const struct stat& status)
{
    return (status.st_mode & S_IWOTH) != 0 || ((status.st_mode & S_IWGRP) != 0 && !privateGroup(status.st_gid));
}

FolderWalk::FolderWalk(const fs::path& folder)
{
    if (!start(folder.is_absolute()))
        return;
    walk(componentsOf(folder));
}

bool FolderWalk::start(bool atRoot)
{
    steps_.clear();
    Step first;
    first.path = atRoot ? "/" : ".";
    first.descriptor = Descriptor(::open(first.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const bool opened = first.descriptor && ::fstat(first.descriptor.get(), &first.status) == 0;
    if (!opened)
        error_ = errno;
    steps_.push_back(std::move(first));
    return opened;
}

std::optional<std::string> FolderWalk::whyNotTheUsers() const
{
    if (refusal_)
        return refusal_;
    // A file where a folder would be: nothing of the program's can be made
    // there, and a write fails on its own.
    if (error_ == ENOTDIR)
        return std::nullopt;
    if (error_)
        return "cannot look at " + path().string() + " (" + std::generic_category().message(error_) + ")";
    const struct stat& found = status();
    if (missing_.empty()) {
        if (found.st_uid != ::geteuid())
            return "another user owns it";
        if (othersMayWrite(found))
            return "others may write in it";
        return std::nullopt;
    }
    // Not there yet: whoever may write in the folder it would be made in may
    // make it first, and its owner may rename what is made in it.
    if (!usersOrSuperusers(found.st_uid))
        return "another user owns " + path().string() + ", where it would be made";
    if (othersMayWrite(found))
        return "others may write in " + path().string() + ", where it would be made";
    return std::nullopt;
}

std::optional<std::string> FolderWalk::whyMayBeSwapped(const Step& folder, const struct stat& entry)
{
    if (!usersOrSuperusers(folder.status.st_uid))
        return "another user owns " + folder.path.string();
    // In a sticky folder only an entry's owner may rename or remove it.
    const bool sticky = (folder.status.st_mode & S_ISVTX) != 0;
    if (othersMayWrite(folder.status) && !(sticky && usersOrSuperusers(entry.st_uid)))
        return "others may write in " + folder.path.string();
    return std::nullopt;
}

bool FolderWalk::walk(std::vector<std::string> components)
{
    // The next component last, so that a link puts its own in front.
    std::vector<std::string> rest(components.rbegin(), components.rend());
    int links = 0;
    while (!rest.empty()) {
        std::string name = std::move(rest.back());
        rest.pop_back();
        if (!stepInto(name, rest, links)) {
            if (!missing_.empty())
                missing_.insert(missing_.end(), rest.rbegin(), rest.rend());
            return false;
        }
    }
    return true;
}

bool FolderWalk::stepInto(const std::string& name, std::vector<std::string>& rest, int& links)
{
    if (name.empty() || name == ".")
        return true;
    if (name == "..") {
        // Each step held is the folder its next one was found in, so the
        // one before is where ".." leads, as the kernel takes it.
        if (steps_.size() > 1) {
            steps_.pop_back();
            return true;
        }
        if (steps_.front().path == "/")
            return true;
        return enterEntry("..", true);
    }
    const Step& at = steps_.back();
    struct stat entry {};
    if (::fstatat(at.descriptor.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            error_ = errno;
            return false;
        }
        missing_.push_back(name);
        return false;
    }
    if (auto why = whyMayBeSwapped(at, entry)) {
        refusal_ = std::move(why);
        refusedAt_ = at.path;
        return false;
    }
    if (S_ISLNK(entry.st_mode)) {
        if (++links > mostLinks) {
            error_ = ELOOP;
            return false;
        }
        std::string target;
        if ((error_ = readLink(at.descriptor.get(), name, target)) != 0)
            return false;
        const fs::path leadsTo(target);
        if (leadsTo.is_absolute() && !start(true))
            return false;
        const std::vector<std::string> components = componentsOf(leadsTo);
        rest.insert(rest.end(), components.rbegin(), components.rend());
        return true;
    }
    if (!S_ISDIR(entry.st_mode)) {
        error_ = ENOTDIR;
        return false;
    }
    if (!enterEntry(name, false))
        return false;
    // What was opened is what was judged, not something put in its place
    // since.
    if (status().st_dev != entry.st_dev || status().st_ino != entry.st_ino) {
        refusal_ = "something else was put in place of " + path().string() + " while it was looked at";
        refusedAt_ = path().parent_path();
        return false;
    }
    return true;
}

bool FolderWalk::enterEntry(const std::string& name, bool parent)
{
    Step next;
    const Step& at = steps_.back();
    next.descriptor =
        Descriptor(::openat(at.descriptor.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.descriptor || ::fstat(next.descriptor.get(), &next.status) != 0) {
        error_ = errno;
        return false;
    }
    next.path = at.path / name;
    if (parent)
        steps_.back() = std::move(next);
    else
        steps_.push_back(std::move(next));
    return true;
}

bool FolderWalk::removed() const
{
    struct stat now {};
    return ::fstat(descriptor(), &now) == 0 && now.st_nlink == 0;
}

bool FolderWalk::enter(const std::string& name)
{
    return walk({name});
}

void FolderWalk::makeMissing()
{
    if (refusal_)
        throw std::system_error(EACCES, std::generic_category(),
                                "Cannot write in " + path().string() + ": " + *refusal_);
    if (error_)
        throw std::system_error(error_, std::generic_category(), "Cannot reach " + path().string());
    const std::vector<std::string> make = std::exchange(missing_, {});
    for (std::size_t at = 0; at < make.size(); ++at) {
        const std::string& name = make[at];
        const bool special = name.empty() || name == "." || name == "..";
        if (!special && ::mkdirat(descriptor(), name.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(), "Cannot create " + (path() / name).string());
        if (walk({name}))
            continue;
        if (refusal_)
            throw std::system_error(EACCES, std::generic_category(),
                                    "Cannot write in " + path().string() + ": " + *refusal_);
        throw std::system_error(error_ ? error_ : ENOENT, std::generic_category(),
                                "Cannot create " + (path() / name).string());
    }
}

std::error_code makeFolders(const fs::path& folder)
{
    try {
        FolderWalk(folder).makeMissing();
        return {};
    } catch (const std::system_error& failure) {
        return failure.code();
    }
}

}  // namespace parlaro
