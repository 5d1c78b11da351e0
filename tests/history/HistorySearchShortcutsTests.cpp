// The search's quick paths against the plain ones on seeded random input:
// folding without ICU where it changes nothing, and reading a file in one
// piece.

#include "history/HistoryFiles.h"
#include "history/HistoryText.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace parlaro {
namespace {

TEST(HistorySearchShortcuts, FoldingAgreesWithTheFullFoldOnAnyText)
{
    // Pieces that fold to themselves, pieces that do not (capitals, accents,
    // combining marks, full-width letters, Hangul, "ß", "İ", Greek, the
    // Kelvin sign) and ill-formed UTF-8.
    const std::vector<std::string> pieces{"a",
                                          "Z",
                                          " ",
                                          "7",
                                          "。",
                                          "你",
                                          "好",
                                          "車",
                                          "カ",
                                          "ｶ",
                                          "ａ",
                                          "Ａ",
                                          "é",
                                          "e\u0301",
                                          "\u0301",
                                          "ß",
                                          "İ",
                                          "Σ",
                                          "ς",
                                          "K",
                                          "가",
                                          "\u1100\u1161",
                                          "ﬁ",
                                          "👋",
                                          "\xe4\xbd",
                                          "\xff",
                                          "\xed\xa0\x80",
                                          "𠀀",
                                          "ǅ",
                                          "ﬀ",
                                          "\u0345",
                                          "ᾳ",
                                          "Å",
                                          "Ω",
                                          "\u3099",
                                          "が",
                                          "か\u3099",
                                          "٣",
                                          "ا",
                                          "\u064B",
                                          "ี",
                                          "\u0E31",
                                          "ⅷ",
                                          "Ⓐ"};
    std::mt19937 random(11);
    int shortcut = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const std::size_t length = random() % 12;
        // Most rounds use only pieces that may take the shortcut.
        const std::size_t pool = round % 3 == 0 ? pieces.size() : 11;
        for (std::size_t i = 0; i < length; ++i)
            text += pieces[random() % pool];
        const std::string folded = HistoryText::foldForSearch(text);
        EXPECT_EQ(folded, HistoryText::foldForSearchInFull(text)) << text;
        shortcut += round % 3 != 0;
    }
    EXPECT_GT(shortcut, 2000);
}

TEST(HistorySearchShortcuts, FilesAreReadWholeOrNotAtAll)
{
    test::TempDirectory folder;
    std::mt19937 random(5);
    for (std::size_t size : {0u, 1u, 4095u, 4096u, 70000u}) {
        std::string contents(size, '\0');
        for (char& c : contents)
            c = static_cast<char>(random());
        const auto file = folder.path() / ("f" + std::to_string(size));
        std::ofstream(file, std::ios::binary) << contents;
        EXPECT_EQ(HistoryFiles::read(file), contents) << size;
    }
    EXPECT_EQ(HistoryFiles::read(folder.path() / "missing"), std::nullopt);
    EXPECT_EQ(HistoryFiles::read(folder.path()), std::nullopt);
    // A pipe named like a file is no file: nothing is read, nothing waits.
    const auto pipe = folder.path() / "pipe.json";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(HistoryFiles::read(pipe), std::nullopt);
}

}  // namespace
}  // namespace parlaro
