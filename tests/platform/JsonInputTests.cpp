#include "platform/JsonInput.h"

#include "support/DeepJson.h"

#include <gtest/gtest.h>

namespace parlaro {
namespace {

using test::nestedArrays;

TEST(JsonInput, NestingIsCountedOutsideStringsOnlyAndStopsAtTheLimit)
{
    EXPECT_TRUE(jsonNestsWithin(nestedArrays(64)));
    EXPECT_FALSE(jsonNestsWithin(nestedArrays(65)));
    EXPECT_TRUE(jsonNestsWithin("{\"k\":" + nestedArrays(63) + "}"));
    EXPECT_FALSE(jsonNestsWithin("{\"k\":" + nestedArrays(64) + "}"));
    // Siblings do not add up; only what is open at once counts.
    std::string siblings = "[";
    for (int i = 0; i < 1000; ++i)
        siblings += nestedArrays(60) + ",";
    siblings += "0]";
    EXPECT_TRUE(jsonNestsWithin(siblings));
    EXPECT_TRUE(parseJsonInput(siblings));
    // Brackets in strings are text, also after escaped quotes and
    // backslashes; a bracket after the string counts again.
    const std::string inString = "\"" + std::string(100, '[') + "\\\"" + std::string(100, '{') + "\\\\\"";
    EXPECT_TRUE(jsonNestsWithin("[" + inString + "]"));
    EXPECT_EQ(parseJsonInput("[" + inString + "]")->at(0).get<std::string>().size(), 202u);
    EXPECT_FALSE(jsonNestsWithin(inString + nestedArrays(65)));
    // Closing brackets with nothing open cannot buy depth back.
    EXPECT_FALSE(jsonNestsWithin(std::string(1000, ']') + nestedArrays(65)));

    // The parser reads up to a NUL between tokens, so a file's zero-filled
    // tail after a crash neither hides its value nor counts against it; a
    // NUL in a string is refused as any control character is.
    const std::string zeroTail = std::string("{\"k\":1}") + std::string(8, '\0') + nestedArrays(100);
    EXPECT_TRUE(jsonNestsWithin(zeroTail));
    EXPECT_EQ(parseJsonInput(zeroTail), nlohmann::json({{"k", 1}}));
    EXPECT_FALSE(parseJsonInput(std::string("[\"a\0", 4) + nestedArrays(100) + "\"]"));

    EXPECT_TRUE(parseJsonInput("{\"k\":" + nestedArrays(63) + "}"));
    for (const std::string& refused :
         {"{\"k\":" + nestedArrays(64) + "}", nestedArrays(100'000), std::string(100'000, '{'), std::string("{\"k\":"),
          std::string(""), std::string("[1] [2]")})
        EXPECT_FALSE(parseJsonInput(refused)) << refused.substr(0, 40);
}

}  // namespace
}  // namespace parlaro
