#include "platform/AtomicFile.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
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

TEST(AtomicFile, TheTemporaryOfAWriteNamesItsTarget)
{
    EXPECT_EQ(atomicWriteTarget(".settings.json.tmp-a1B2c3"), "settings.json");
    EXPECT_EQ(atomicWriteTarget("settings.json.tmp-a1B2c3"), std::nullopt);
    EXPECT_EQ(atomicWriteTarget(".settings.json.tmp-a1B2"), std::nullopt);
    EXPECT_EQ(atomicWriteTarget(".settings.json.tmp-a1B2c!"), std::nullopt);
}

}  // namespace
}  // namespace parlaro
