#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace parlaro {

// A file descriptor that closes itself.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// As many links as the kernel itself follows in one lookup.
inline constexpr int mostLinks = 40;

// Where the link `name` in `folder` leads, in `target`; the error when it
// cannot be read (ENAMETOOLONG when it leads further than a path may be
// long), else 0.
int readLink(int folder, const std::string& name, std::string& target);

// An entry taken to the user alone: its mode before, and why that failed
// (0 when it did not).
struct Narrowing {
    mode_t was = 0;
    int error = 0;
};

// Takes every bit of the group's and of others' off the entry `name` of
// `folder` when it is the user's own and of `type` (S_IFREG, S_IFDIR):
// what the program keeps for the user is theirs to read alone. Nothing is
// followed. None when there was nothing to take: the entry is not there,
// not the user's, not of that type or already theirs alone.
std::optional<Narrowing> keepToTheUser(int folder, const std::string& name, mode_t type);

// Whether others than the user may add, remove or rename entries in a
// folder of this status: others may write in it, or a group that is not the
// user's alone may.
bool othersMayWrite(const struct stat& status);

// A folder reached by walking its path one component at a time from the
// root, each folder held open, so that what was judged on the way is what a
// later openat() or renameat() uses, whatever is renamed meanwhile. Links on
// the way are read and followed here, each hop judged where it lies: a step
// into an entry (a folder or a link) of a folder that another user owns, or
// that others may write in (a sticky one aside, when the entry is the
// user's or the superuser's), is one another may swap, and the walk refuses
// it.
class FolderWalk {
public:
    // Walks as far as the folders exist. A relative path starts at the
    // current folder.
    explicit FolderWalk(const std::filesystem::path& folder);

    // Why a step on the way may be swapped by another; none when none may.
    const std::optional<std::string>& refusal() const { return refusal_; }
    // The folder of that step.
    const std::filesystem::path& refusedAt() const { return refusedAt_; }
    // What stopped the walk short of the end and of a missing folder
    // (ENOTDIR, ELOOP, EACCES...); 0 when nothing did.
    int error() const { return error_; }
    // The folders not there yet, in order; empty when the walk reached the end.
    const std::vector<std::string>& missing() const { return missing_; }

    // The deepest folder reached, open with O_PATH, its status and its
    // path as walked (links resolved).
    int descriptor() const { return steps_.back().descriptor.get(); }
    const struct stat& status() const { return steps_.back().status; }
    const std::filesystem::path& path() const { return steps_.back().path; }
    // Whether that folder has since been removed: anything made in it now
    // is lost with it.
    bool removed() const;

    // Why the program may not keep its files in the folder walked: a step
    // on the way that another may swap, or the folder itself another user
    // owns or others may write in. A folder not there yet is judged by the
    // one it would be made in, since whoever may write there may make it
    // first and its owner may rename it. None when it may; none too when a
    // file stands where a folder would be (nothing can be made there).
    std::optional<std::string> whyNotTheUsers() const;

    // Makes the missing folders, for the user alone (0700), each stepped
    // into as any other. Throws std::system_error when one cannot be made
    // or its step is refused.
    void makeMissing();

    // Goes on into `name`, a folder or a link to one, in the deepest folder
    // reached; false, with refusal() or error() set, when the step is
    // refused or fails (a missing one is added to missing()).
    bool enter(const std::string& name);

private:
    struct Step {
        Descriptor descriptor;
        struct stat status {};
        std::filesystem::path path;
    };
    bool start(bool atRoot);
    bool walk(std::vector<std::string> components);
    bool stepInto(const std::string& name, std::vector<std::string>& rest, int& links);
    bool enterEntry(const std::string& name, bool parent);
    static std::optional<std::string> whyMayBeSwapped(const Step& folder, const struct stat& entry);

    std::vector<Step> steps_;
    std::optional<std::string> refusal_;
    std::filesystem::path refusedAt_;
    int error_ = 0;
    std::vector<std::string> missing_;
};

// Makes the folder and those above it that are missing, for the user alone
// (0700), through a walk that refuses a step another may swap.
std::error_code makeFolders(const std::filesystem::path& folder);

}  // namespace parlaro
