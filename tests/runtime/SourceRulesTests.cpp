// Rules the compiler cannot check, checked on the sources themselves.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path root(PARLARO_SOURCE_DIR);

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct SourceFile {
    std::string name;  // relative to the source tree, with forward slashes
    std::string text;
};

std::vector<SourceFile> sourcesUnder(const std::vector<std::string>& folders)
{
    std::vector<SourceFile> files;
    for (const auto& folder : folders)
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const auto ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h")
                continue;
            files.push_back({fs::relative(entry.path(), root).generic_string(), readFile(entry.path())});
        }
    return files;
}

// "file:line: text" for every line of the sources that matches.
std::vector<std::string> linesMatching(const std::vector<SourceFile>& files, const std::regex& pattern,
                                       const std::set<std::string>& exempt = {})
{
    std::vector<std::string> found;
    for (const auto& file : files) {
        if (exempt.contains(file.name))
            continue;
        std::istringstream lines(file.text);
        std::string line;
        for (int number = 1; std::getline(lines, line); ++number)
            if (std::regex_search(line, pattern))
                found.push_back(file.name + ":" + std::to_string(number) + ": " + line);
    }
    return found;
}

std::set<std::string> filesOf(const std::vector<std::string>& lines)
{
    std::set<std::string> files;
    for (const auto& line : lines)
        files.insert(line.substr(0, line.find(':')));
    return files;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

// The class-level declarations of a class body, comments dropped and
// nested bodies and parameter lists kept whole: each ends at a `;` or at the
// brace that closes a body at class level.
std::vector<std::string> declarationsOf(const std::string& body)
{
    std::vector<std::string> found;
    std::string current;
    int depth = 0;
    std::istringstream lines(body);
    std::string line;
    while (std::getline(lines, line)) {
        if (const auto comment = line.find("//"); comment != std::string::npos)
            line.erase(comment);
        for (const char c : line + " ") {
            current += c;
            depth += c == '{' || c == '(' ? 1 : c == '}' || c == ')' ? -1 : 0;
            if (depth == 0 && (c == ';' || c == '}')) {
                if (current.find_first_not_of(" ;") != std::string::npos)
                    found.push_back(current.substr(current.find_first_not_of(' ')));
                current.clear();
            }
        }
    }
    return found;
}

// A declaration with its template arguments left out.
std::string outsideTemplateArguments(const std::string& declaration)
{
    std::string outside;
    int angle = 0;
    for (const char c : declaration) {
        angle += c == '<' ? 1 : c == '>' ? -1 : 0;
        if (angle == 0 && c != '>')
            outside += c;
    }
    return outside;
}

// A member function: a parameter list before any initializer, once
// template arguments and operator names are out of the way.
bool declaresFunction(const std::string& declaration)
{
    const auto outside =
        outsideTemplateArguments(std::regex_replace(declaration, std::regex("operator\\s*(==|=)"), "op"));
    return outside.substr(0, outside.find_first_of("{=")).find('(') != std::string::npos;
}

// The declarations of every public section of the model's class body.
std::vector<std::string> publicDeclarationsOfTheModel()
{
    const std::string header = readFile(root / "src/model/AppModel.h");
    const auto begin = header.find("\nclass AppModel ");
    const auto end = header.find("\n};\n", begin);
    const std::regex label(R"(\n(public|private|protected):\n)");
    std::vector<std::string> found;
    std::string access = "private";
    auto from = header.cbegin() + static_cast<std::ptrdiff_t>(header.find('{', begin) + 1);
    const auto to = header.cbegin() + static_cast<std::ptrdiff_t>(end);
    for (std::smatch match; std::regex_search(from, to, match, label); from = match[0].second) {
        if (access == "public")
            for (auto& declaration : declarationsOf(std::string(from, match[0].first)))
                found.push_back(std::move(declaration));
        access = match[1];
    }
    if (access == "public")
        for (auto& declaration : declarationsOf(std::string(from, to)))
            found.push_back(std::move(declaration));
    return found;
}

// The name a class-level declaration introduces: the type, the function or
// operator, the field or the constant.
std::string declaredName(const std::string& declaration)
{
    std::smatch match;
    if (std::regex_search(declaration, match, std::regex(R"(^(?:struct|class|enum class|enum|using)\s+(\w+))")))
        return match[1];
    if (std::regex_search(declaration, match, std::regex(R"(operator\s*(==|=))")))
        return "operator" + match[1].str();
    auto outside = outsideTemplateArguments(declaration);
    outside = outside.substr(0, outside.find_first_of(declaresFunction(declaration) ? "(" : "{=;"));
    std::regex_search(outside, match, std::regex(R"((\w+)\s*$)"));
    return match[1];
}

// Every name the sources reach as a member (`.name`, `->name`, `::name`) or
// as a type, comments left out: a bare word that happens to match a member's
// name elsewhere is no use of the model.
std::set<std::string> memberNamesIn(const std::vector<SourceFile>& files)
{
    std::set<std::string> found;
    const std::regex member(R"((?:\.|->|::)\s*(~?[A-Za-z_]\w*))");
    for (const auto& file : files) {
        std::istringstream lines(file.text);
        std::string line;
        while (std::getline(lines, line)) {
            line = line.substr(0, line.find("//"));
            for (std::sregex_iterator it(line.begin(), line.end(), member), none; it != none; ++it)
                found.insert((*it)[1].str());
        }
    }
    return found;
}

}  // namespace

// Main-actor code and everything a test drives take time from rt::clock(),
// so the manual clock controls every deadline. Only the places below read a
// clock themselves, each because the runtime's clock cannot serve it there:
// the runtime's own system clock; start-up steps that run before a runtime
// exists; threads of real backends that wait on the operating system with
// deadlines of their own, or time their own work; the stream loop's time
// stamps, on the monotonic base hostTime() reads too; the wake observer,
// which compares two clocks; and file ages, which only the file system's
// clock measures.
TEST(SourceRules, OnlyTheListedPlacesReadAClockThemselves)
{
    const std::regex read(R"(clock::now\(|Clock::now\(|clock_gettime|gettimeofday|std::time\(|QDateTime::current)"
                          R"(|QElapsedTimer|QTime::current)");
    const std::set<std::string> allowed{
        "src/runtime/SystemClock.cpp",
        // Before the runtime exists.
        "src/app/SingleInstance.cpp",
        "src/platform/linux/JsonFileSettingsStore.cpp",
        // Backend threads: the sound server's retry worker, its loops' waits
        // and the stream loop's time stamps; the translator's and the voice
        // process's stall watches.
        "src/platform/linux/pulse/PulseAudioSystemConnection.cpp",
        "src/platform/linux/pulse/PulseLoop.cpp",
        "src/platform/linux/pulse/PulseDeviceIO.cpp",
        "src/platform/linux/apertium/ApertiumPipeline.cpp",
        "src/platform/linux/espeak/EspeakSpeechSynthesizer.cpp",
        "src/platform/linux/power/ClockGapWakeObserver.cpp",
        "src/platform/AtomicFile.cpp",
        // The recognizer's decoding thread, timing its own searches ahead.
        "src/platform/linux/sphinx/SphinxPacing.cpp",
    };
    const auto reads = linesMatching(sourcesUnder({"src"}), read);
    std::vector<std::string> elsewhere;
    for (const auto& line : reads)
        if (!allowed.contains(line.substr(0, line.find(':'))))
            elsewhere.push_back(line);
    EXPECT_TRUE(elsewhere.empty()) << "take the time from rt::clock() instead:\n" << joined(elsewhere);
    // A listed place that no longer reads a clock leaves the list.
    EXPECT_EQ(filesOf(reads), allowed);
}

// Every four-character code has one name in the selector header; spelling
// one out elsewhere lets a typo pass as a new selector.
TEST(SourceRules, FourCharacterCodesAreNamedOnlyInTheSelectorHeader)
{
    const std::regex literal(R"("[^"]{4}"_fcc)");
    const auto raw = linesMatching(sourcesUnder({"src"}), literal, {"src/platform/AudioSelectors.h"});
    EXPECT_TRUE(raw.empty()) << "use the name from platform/AudioSelectors.h:\n" << joined(raw);
    const auto named = linesMatching(sourcesUnder({"src/platform"}), literal);
    EXPECT_EQ(filesOf(named), std::set<std::string>{"src/platform/AudioSelectors.h"});
}

// A code or status beside a text goes in the interface language's brackets
// through bracketed(): a full-width bracket glued on reads "( TR-1 )" in
// every language that writes them ASCII.
TEST(SourceRules, CodesAreBracketedThroughTheInterfaceLanguage)
{
    const std::regex glued(R"re(\+=?\s*"（|"（[^"]*"\s*\+|（"\s*\+|\+\s*"）)re");
    const auto found = linesMatching(sourcesUnder({"src"}), glued);
    EXPECT_TRUE(found.empty()) << "use bracketed():\n" << joined(found);
}

// A file long enough to need section markers is split by concern instead.
TEST(SourceRules, NoSectionMarkers)
{
    // Either form: a named mark, or a title drawn between dashes.
    const std::regex marker("//\\s*(" + std::string("MARK") + ":|-{3})");
    const auto found = linesMatching(sourcesUnder({"src", "tests", "bench"}), marker);
    EXPECT_TRUE(found.empty()) << joined(found);
}

// Views and the app reach the model through its fields, which only the model
// stores into, and its operations. A task handle, a closure or a flag left
// public would let anyone replace or cancel what the model relies on.
TEST(SourceRules, TheModelShowsOnlyFieldsTypesConstantsAndOperations)
{
    const std::regex allowed(R"(^(ModelField<|ReactiveField<|static constexpr |using |struct |enum ))");
    std::vector<std::string> state;
    for (const auto& declaration : publicDeclarationsOfTheModel())
        if (!std::regex_search(declaration, allowed) && !declaresFunction(declaration))
            state.push_back(declaration);
    EXPECT_TRUE(state.empty()) << "make it private (tests reach it through ModelTestAccess):\n" << joined(state);

    // The rule's own reading: a public flag or closure is caught.
    EXPECT_FALSE(declaresFunction("std::function<std::optional<int>(bool input)> listDevices;"));
    EXPECT_FALSE(declaresFunction("rt::TaskHandle<> holdTask;"));
    EXPECT_FALSE(declaresFunction("bool waiting = isIdle();"));
    EXPECT_TRUE(declaresFunction("AppModel& operator=(const AppModel&) = delete;"));
    EXPECT_TRUE(declaresFunction("void openMicCheck(std::optional<std::string> reason = std::nullopt);"));
}

// The model's public face is what the views, the settings and the app use:
// a field, type or operation none of them names is private, and tests reach
// it through ModelTestAccess. The names below are public for another reader.
TEST(SourceRules, EveryPublicNameOfTheModelIsUsedByTheInterface)
{
    // Making and copying the model, and the graph it is made from; and the
    // types of Dependencies' members that the model layer's own builder of
    // the real graph (ModelDependencies.cpp) names.
    const std::set<std::string> allowed{"AppModel",    "operator=",   "make",         "Dependencies",
                                        "DeviceRates", "WatchObject", "ActivityToken"};
    const auto used = memberNamesIn(sourcesUnder({"src/ui", "src/settings", "src/app"}));
    std::vector<std::string> unused;
    std::set<std::string> names;
    for (const auto& declaration : publicDeclarationsOfTheModel()) {
        const std::string name = declaredName(declaration);
        names.insert(name);
        if (!used.contains(name) && !allowed.contains(name))
            unused.push_back(name);
    }
    EXPECT_TRUE(unused.empty()) << "no view uses these; make them private (tests reach them through "
                                   "ModelTestAccess):\n"
                                << joined(unused);
    // A listed name that is no longer public leaves the list.
    for (const auto& name : allowed)
        EXPECT_TRUE(names.contains(name)) << name;
    EXPECT_GT(names.size(), 100U) << "every public section is read";

    // The rule's own reading of a declaration's name.
    EXPECT_EQ(declaredName("ModelField<std::map<std::string, int>> myMenu{{}, changes()};"), "myMenu");
    EXPECT_EQ(declaredName("rt::Async<void> translateDraft(std::string text, std::function<bool()> f = {});"),
              "translateDraft");
    EXPECT_EQ(declaredName("struct HearTest { bool operator==(const HearTest&) const = default; };"), "HearTest");
    // A use names the member; the same word standing alone names something else.
    EXPECT_EQ(memberNamesIn({{"a.cpp", "model->status.get(); AppModel::HearTest t; setEntries(rows);"}}),
              (std::set<std::string>{"status", "get", "HearTest"}));
}
