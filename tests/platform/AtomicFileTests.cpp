#include "platform/AtomicFile.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
using test::TempDirectory;

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool isNote(const std::string& target)
{
    return target.ends_with(".note");
}

TEST(AtomicFile, StaleTemporariesOfChosenTargetsAreRemovedOnceOldEnough)
{
    TempDirectory folder;
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const std::string name : {".a.note.tmp-a1B2c3", ".b.note.tmp-Zz9999", ".a.txt.tmp-a1B2c3", "a.note"}) {
        folder.write(name, "text");
        fs::last_write_time(folder / name, old);
    }
    // A write under way, and an old entry named as a temporary that no write
    // made: only regular files are temporaries.
    folder.write(".c.note.tmp-n0wN0w", "text");
    fs::create_directory(folder / ".d.note.tmp-d1r000");
    fs::last_write_time(folder / ".d.note.tmp-d1r000", old);

    removeStaleTemporaries(folder.path(), isNote, staleTemporaryAge);
    EXPECT_EQ(namesIn(folder.path()),
              (std::vector<std::string>{".a.txt.tmp-a1B2c3", ".c.note.tmp-n0wN0w", ".d.note.tmp-d1r000", "a.note"}));

    // Without a minimum age every entry so named goes, however recent.
    removeStaleTemporaries(folder.path(), isNote, std::nullopt);
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{".a.txt.tmp-a1B2c3", "a.note"}));
}

// The program's own records replace a link at their path; a settings file
// stays a link only where it leads to a file of the user's, through
// folders of the user's alone: in one that others may write in, a link can
// be swapped for one to any file of the user's while the program runs.
TEST(AtomicFile, ALinkIsReplacedUnlessItLeadsToTheUsersOwnFileAndThatIsAsked)
{
    TempDirectory folder;
    folder.write("notes.txt", "notes");
    folder.write("others.txt", "theirs");
    fs::create_directories(folder / "open");
    fs::permissions(folder / "open", fs::perms::all);
    const bool root = ::geteuid() == 0;
    if (root)
        ASSERT_EQ(::chown((folder / "others.txt").c_str(), 65534, 65534), 0);
    struct Case {
        const char* leadsTo;
        AtALink atALink;
        bool staysALink;
        const char* at = "index.json";
    };
    for (const Case& write :
         {Case{"notes.txt", AtALink::replace, false}, Case{"../no-such-folder/x", AtALink::replace, false},
          Case{"../notes.txt", AtALink::followToOwnFile, false, "open/index.json"},
          Case{"open/new.txt", AtALink::followToOwnFile, false}, Case{"open/link", AtALink::followToOwnFile, false},
          Case{"notes.txt", AtALink::followToOwnFile, true}, Case{"new.txt", AtALink::followToOwnFile, true},
          Case{"others.txt", AtALink::followToOwnFile, false}}) {
        if (!root && write.leadsTo == std::string("others.txt"))
            continue;
        const fs::path link = folder / write.at;
        const fs::path leadsTo = link.parent_path() / write.leadsTo;
        fs::remove(folder / "open/link");
        fs::create_symlink("../notes.txt", folder / "open/link");
        const std::string before = fs::exists(leadsTo) ? folder.read(leadsTo) : "";
        fs::remove(link);
        fs::create_symlink(write.leadsTo, link);
        writeFileAtomically(link, "[]", write.atALink);
        EXPECT_EQ(folder.read(write.at), "[]") << write.leadsTo;
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(link)), write.staysALink) << write.leadsTo;
        if (!write.staysALink)
            EXPECT_EQ(folder.read(leadsTo), before) << write.leadsTo << " is never written through the link";
    }
    EXPECT_EQ(folder.read("notes.txt"), "[]") << "written where the link led, in the last case that asked";
    EXPECT_EQ(folder.read("others.txt"), "theirs");
}

// A write reaches its folder one step at a time from the root: a link on
// the way is followed only where it lies in a folder nobody else may
// change, ".." leads where the kernel would take it, and the folders made
// on the way are the user's alone.
TEST(AtomicFile, TheWayToTheFolderIsWalkedWithEveryLinkOnItJudged)
{
    TempDirectory folder;
    fs::create_directories(folder / "real/sub");
    fs::create_directories(folder / "open");
    fs::permissions(folder / "open", fs::perms::all);
    fs::create_symlink(folder / "real", folder / "open/hop");
    fs::create_symlink("open/hop", folder / "through-open");
    fs::create_symlink("real/sub/..", folder / "up");
    fs::create_symlink("loop-b", folder / "loop-a");
    fs::create_symlink("loop-a", folder / "loop-b");

    writeFileAtomically(folder / "up/a.json", "a");
    EXPECT_EQ(folder.read("real/a.json"), "a");
    EXPECT_THROW(writeFileAtomically(folder / "through-open/b.json", "b"), std::system_error);
    EXPECT_FALSE(fs::exists(folder / "real/b.json")) << "never written through a hop another may swap";
    writeFileAtomically(folder / "up/new/deeper/c.json", "c");
    for (const char* made : {"real/new", "real/new/deeper"})
        EXPECT_EQ(fs::status(folder / made).permissions(), fs::perms::owner_all) << made;
    EXPECT_EQ(fs::status(folder / "real/new/deeper/c.json").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    try {
        writeFileAtomically(folder / "loop-a/d.json", "d");
        ADD_FAILURE() << "written through links that never end";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels);
    }
}

// As on a filesystem that cannot rename without replacing (some network and
// FUSE ones): renameat2() with flags fails with EINVAL, in the calling
// thread alone.
bool withoutRenameNoReplace()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(AtomicFile, AFileSetAsideNeverReplacesOneSetAsideBefore)
{
    for (const bool renamesWithoutReplacing : {true, false}) {
        TempDirectory folder;
        const auto aside = [&](const std::string& contents) {
            folder.write("cache.json", contents);
            std::optional<std::string> kept;
            std::thread([&] {
                const int at = ::open(folder.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
                if (renamesWithoutReplacing || withoutRenameNoReplace())
                    kept = moveAside(at, "cache.json", "cache.json.damaged", 2);
                ::close(at);
            }).join();
            return kept;
        };
        EXPECT_EQ(aside("one"), "cache.json.damaged") << renamesWithoutReplacing;
        EXPECT_EQ(aside("two"), "cache.json.damaged-2") << renamesWithoutReplacing;
        // With every name taken it stays where it is.
        EXPECT_EQ(aside("three"), std::nullopt) << renamesWithoutReplacing;
        EXPECT_EQ(folder.read("cache.json.damaged"), "one");
        EXPECT_EQ(folder.read("cache.json.damaged-2"), "two");
        EXPECT_EQ(folder.read("cache.json"), "three");
        // Read by the user alone, as the file it was.
        EXPECT_EQ(fs::status(folder / "cache.json.damaged").permissions(), fs::perms(0600));
    }
}

TEST(AtomicFile, TheTemporaryOfAWriteNamesItsTarget)
{
    EXPECT_EQ(atomicWriteTarget(".settings.json.tmp-a1B2c3"), "settings.json");
    EXPECT_EQ(atomicWriteTarget("settings.json.tmp-a1B2c3"), std::nullopt);
    EXPECT_EQ(atomicWriteTarget(".settings.json.tmp-a1B2"), std::nullopt);
    EXPECT_EQ(atomicWriteTarget(".settings.json.tmp-a1B2c!"), std::nullopt);
}

}  // namespace
}  // namespace parlaro
