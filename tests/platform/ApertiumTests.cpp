#include "platform/linux/apertium/ApertiumSpanish.h"
#include "platform/linux/apertium/ApertiumStream.h"
#include "platform/linux/apertium/ApertiumTranslation.h"
#include "platform/linux/icu/IcuTextServices.h"
#include "runtime/ManualRuntime.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace parlaro {
namespace {

using test::TempDirectory;
using Reason = TranslationPlatformError::Reason;
using Status = LanguageAvailability::Status;

// What one call gave: a text or a failure.
struct Result {
    std::optional<std::string> text;
    std::exception_ptr error;

    std::optional<Reason> reason() const
    {
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const TranslationPlatformError& e) {
            return e.reason();
        } catch (...) {
        }
        return std::nullopt;
    }
};

// Runs `body` on the main executor and waits for the real back end's own
// thread to answer; the back end's stall limit bounds every wait.
Result await(rt::ManualRuntime& runtime, std::function<rt::Async<std::string>()> body)
{
    Result result;
    auto task = rt::spawn([&]() -> rt::Async<void> {
        try {
            result.text = co_await body();
        } catch (...) {
            result.error = std::current_exception();
        }
        rt::mainExecutor().stop();
    });
    runtime.executor().run();
    return result;
}

rt::Async<std::string> translateWith(std::shared_ptr<TranslationSession> session, std::string text)
{
    co_return co_await session->translate(std::move(text));
}

rt::Async<std::string> prepareWith(std::shared_ptr<TranslationSession> session)
{
    co_await session->prepareTranslation();
    co_return "prepared";
}

rt::Async<std::string> statusOf(std::shared_ptr<LanguageAvailability> availability, std::string source,
                                std::string target)
{
    auto answer = co_await availability->status(std::move(source), std::move(target));
    co_return std::to_string(static_cast<int>(answer));
}

struct ApertiumTest : ::testing::Test {
    rt::ManualRuntime runtime;
    sys::IcuTextServices text;
    TempDirectory modes;
};

TEST(ApertiumModes, ModeFilesBecomeNullFlushStages)
{
    const char* mode = "lt-proc '/usr/share/x/eng-spa.automorf.bin' | apertium-tagger -g $2 '/usr/share/x/eng-spa.prob'"
                       " | apertium-transfer -b \"/usr/share/x/a b.t1x\" '/usr/share/x/t1x.bin'"
                       " | lt-proc $1 '/usr/share/x/eng-spa.autogen.bin' | lt-proc -p '$1.bin'\n";
    using Stage = sys::ApertiumStage;
    EXPECT_EQ(sys::ApertiumModes::parseMode(mode),
              (std::vector<Stage>{
                  Stage{"lt-proc", "-z", "/usr/share/x/eng-spa.automorf.bin"},
                  Stage{"apertium-tagger", "-z", "-g", "/usr/share/x/eng-spa.prob"},
                  Stage{"apertium-transfer", "-z", "-b", "/usr/share/x/a b.t1x", "/usr/share/x/t1x.bin"},
                  Stage{"lt-proc", "-z", "-n", "/usr/share/x/eng-spa.autogen.bin"},
                  Stage{"lt-proc", "-z", "-p", "$1.bin"},
              }));
    EXPECT_TRUE(sys::ApertiumModes::parseMode(" \n").empty());
}

TEST(ApertiumStream, ReservedCharactersSurviveTheRoundTrip)
{
    using namespace sys::ApertiumStream;
    EXPECT_EQ(encode("a[b]^c$d/e@f<g>{h}\\i~j\nk"), "a\\[b\\]\\^c\\$d\\/e\\@f\\<g\\>\\{h\\}\\\\i[~]j k");
    EXPECT_EQ(decode(encode("a[b]^c$d/e@f<g>{h}\\i~j")), "a[b]^c$d/e@f<g>{h}\\i~j");
    EXPECT_EQ(decode("  Hola mundo. \n"), "Hola mundo.");
    EXPECT_EQ(decode(" [] \n"), "");
}

TEST(ApertiumStream, ARequestEndsItsSentenceAndTheAnswerLosesThatStopAgain)
{
    using namespace sys::ApertiumStream;
    EXPECT_EQ(request("i do"), "i do.[]");
    EXPECT_EQ(answer("i Hacer.[]\n"), "i Hacer");
    // The text's own full stop stays; only the one before the tag goes.
    EXPECT_EQ(answer(request("Hago.")), "Hago.");
    EXPECT_EQ(answer(request("Cómo eres?")), "Cómo eres?");
    // Escaped brackets are the text's own, not the tag.
    EXPECT_EQ(answer(request("a [] b")), "a [] b");
    EXPECT_EQ(answer(request("a.[] b")), "a.[] b");
    // A stage that dropped the tag still gives its text.
    EXPECT_EQ(answer("Hola mundo \n"), "Hola mundo");
    EXPECT_EQ(answer(" .[] \n"), "");
}

TEST(ApertiumStream, GapsLeftByDroppedWordsCloseWhereTheSourceHasNone)
{
    struct Case {
        const char* source;
        const char* translation;
        const char* shown;
    };
    const Case cases[] = {
        {"But where there is", "Pero donde  hay", "Pero donde hay"},
        {"Where do you go", "Dónde   vas", "Dónde vas"},
        {"I do, you do!", "Yo ,  haces !", "Yo, haces!"},
        {"Hi (there)", "Hola (allí )", "Hola (allí)"},
        {"你好，世界", "Hola ，mundo 。", "Hola，mundo。"},
        // A word dropped between two stops takes its stop along.
        {"Oh. Se. Cariz.", "Oh. . Look.", "Oh. Look."},
        {"Bueno, pues, sí", "Well, , yes", "Well, yes"},
        {"你好。嗯。再见", "Hola。 。Adiós", "Hola。Adiós"},
        {"Hi (there) (you)", "Hola (allí) )", "Hola (allí))"},
        // The source's own spacing is kept: a space before the same mark,
        // and runs as long as its longest (a line break reaches the
        // translators as a space).
        {"Where do you go ?", "Dónde   vas ?", "Dónde vas ?"},
        {"Where do you go ? Well, no", "Dónde vas ? Bien , no", "Dónde vas ? Bien, no"},
        {"Hello  world", "Hola  Mundo", "Hola  Mundo"},
        {"Hello\n\nworld and  more", "Hola   Mundo  y más", "Hola  Mundo  y más"},
        // A space before an opening mark is a word boundary, and a no-break
        // space before a mark is the target's typography.
        {"Hello (there)", "Hola (allí)", "Hola (allí)"},
        {"Hello!", "Bonjour\u00a0!", "Bonjour\u00a0!"},
        {"", "", ""},
        {"a", "   ", " "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sys::ApertiumStream::spacedLike(c.source, c.translation), c.shown) << c.source;
}

// Whatever the translators leave of a day or a month, the reader gets its
// Spanish name; a question opens with its mark.
TEST(ApertiumSpanish, DaysMonthsAndQuestionsAreWrittenAsSpanishWritesThem)
{
    const std::pair<const char*, const char*> calendar[][2] = {
        {{"the third of March", "el tercer de March"}, {"el 3 de marzo", ""}},
        {{"March is fine. In March", "Marcha es bien. En Marcha"}, {"Marzo es bien. En marzo", ""}},
        {{"see you monday", "Te ves *monday"}, {"Te ves lunes", ""}},
        {{"Closed on Mondays and Sundays", "Cerrado en Mondays y Domingos"}, {"Cerrado en lunes y domingos", ""}},
        {{"we march on", "nosotros marcha encima"}, {"nosotros marcha encima", ""}},
        {{"Hi. Is it 3.5? Yes", "Hola. Es 3.5? Sí"}, {"Hola. ¿Es 3.5? Sí", ""}},
        // A date's day in figures, without the "on" Spanish leaves out.
        {{"It is on the third of March", "Es en el tercer de March"}, {"Es el 3 de marzo", ""}},
        {{"On the 21st of May", "En el veinte primer de mayo"}, {"El 21 de mayo", ""}},
        {{"Call me on the 2nd of March", "Me llamo encima el 2.º de March"}, {"Me llamo el 2 de marzo", ""}},
        // The word after an unknown name has no capital of its own.
        {{"Snyder called from Niger", "Snyder Llamó de Níger"}, {"Snyder llamó de Níger", ""}},
        {{"Nicholas Jackson will call", "Nicholas Jackson Llamará"}, {"Nicholas Jackson llamará", ""}},
        {{"Snyder come from Niger", "Snyder Níger provenido"}, {"Snyder Níger provenido", ""}},
        // Inside a sentence a title before a name is in lower case.
        {{"Nicholas will meet Mr Jackson", "Nicholas cumplirá Señor Jackson"}, {"Nicholas cumplirá señor Jackson", ""}},
        {{"I met Captain Jackson and Judge Lee", "Cumplí Capitán Jackson y Juez Lee"},
         {"Cumplí capitán Jackson y juez Lee", ""}},
        {{"Captain Jackson met Nicholas Jackson", "Capitán Jackson cumplió Nicholas Jackson"},
         {"Capitán Jackson cumplió Nicholas Jackson", ""}},
        {{"I met Dr. Jackson", "Cumplí Dr. Jackson"}, {"Cumplí Dr. Jackson", ""}},
        // Letters beyond ASCII: capitals, accents and quotes.
        {{"see you on wednesday", "Te ves en MIÉRCOLES"}, {"Te ves en miércoles", ""}},
        {{"Snyder he comes", "Snyder Él viene"}, {"Snyder él viene", ""}},
        {{"Snyder come from Sao Paulo", "Snyder São Paulo provenido"}, {"Snyder São Paulo provenido", ""}},
        {{"Fine. «monday» is good", "Bien. «*monday» es bueno"}, {"Bien. «Lunes» es bueno", ""}},
        // An abbreviation ends no sentence, and opens no question.
        {{"Is Dr. Smith free on monday?", "Es Dr. Herrero libre en *monday?"}, {"¿Es Dr. Herrero libre en lunes?", ""}},
        {{"Is it 5 p.m. Monday?", "Es 5 p.m. Lunes?"}, {"¿Es 5 p.m. lunes?", ""}},
        {{"At 5 p.m. Monday is fine", "En 5 p.m. Lunes es bien"}, {"En 5 p.m. lunes es bien", ""}},
        {{"Call me at 5 p.m. monday is fine", "Me llamo en 5 p.m. *monday es bien"},
         {"Me llamo en 5 p.m. lunes es bien", ""}},
    };
    for (const auto& [given, expected] : calendar)
        EXPECT_EQ(sys::ApertiumSpanish::written(given.first, given.second), expected.first) << given.first;
    EXPECT_EQ(sys::ApertiumSpanish::englishSource("see you monday in april or may in march"),
              "see you Monday in April or may in march");
}

// A question or an exclamation opens where its sentence does, and an
// abbreviation's full stop ends no sentence.
TEST(ApertiumSpanish, OpeningMarksStandWhereTheSentenceOpens)
{
    const std::pair<const char*, const char*> cases[] = {
        // Words that are abbreviations too end a sentence as words (the
        // abbreviations themselves are in the table below).
        {"Vamos al mar. Vienes? Bien. Vienes?", "Vamos al mar. ¿Vienes? Bien. ¿Vienes?"},
        {"Tiene 8 GB de RAM. Es bastante?", "Tiene 8 GB de RAM. ¿Es bastante?"},
        // Before a capital a time ends its sentence as often as not.
        {"Me llamo a las 5 p.m. Es bien?", "Me llamo a las 5 p.m. ¿Es bien?"},
        {"Nos vemos a las 5 P.M. Lunes?", "¿Nos vemos a las 5 P.M. Lunes?"},
        {"Vea a las 9 a.m. Abril? Sí", "¿Vea a las 9 a.m. Abril? Sí"},
        // Inside the quote or bracket the closing mark ends.
        {"Es tú?\" Pidió.", "¿Es tú?\" Pidió."},
        {"\"Es tú?\" Sí.", "\"¿Es tú?\" Sí."},
        {"Dijo «es tú?» y dejó.", "Dijo «¿es tú?» y dejó."},
        {"Hola. (Es esto?) Sí.", "Hola. (¿Es esto?) Sí."},
        {"Vio 'it's you?' ayer", "Vio '¿it's you?' ayer"},
        {"\"Hola\", es tú?", "¿\"Hola\", es tú?"},
        {"«Hola. Es tú?»", "«Hola. ¿Es tú?»"},
        // Exclamations as questions; marks already there stay single.
        {"Uau! Aquello es sumo!", "¡Uau! ¡Aquello es sumo!"},
        {"Qué?! No.", "¡¿Qué?! No."},
        {"¿Es tú? Hola, ¿vienes? ¡Sí!", "¿Es tú? Hola, ¿vienes? ¡Sí!"},
        {"¿Qué?!", "¡¿Qué?!"},
        {"Hola. Adiós", "Hola. Adiós"},
        {"", ""},
        {"?", "¿?"},
        {"Hola \xff es?", "¿Hola \xff es?"},
    };
    for (const auto& [given, expected] : cases)
        EXPECT_EQ(sys::ApertiumSpanish::withOpeningQuestionMarks(given), expected) << given;
}

// Every title and abbreviation in every place of a question or an
// exclamation, bare or quoted, after a sentence that needs no mark.
TEST(ApertiumSpanish, AbbreviationsAndQuotesNeverMoveTheOpeningMark)
{
    const char* abbreviations[] = {"Sr.", "Sra.", "Srta.", "Sres.", "Dr.",  "Dra.", "Mr.", "Mrs.",
                                   "Ms.", "St.",  "Prof.", "J.",    "5.30", "a.m.", "p.m."};
    const std::pair<const char*, const char*> quotes[] = {{"", ""},   {"\"", "\""}, {"«", "»"},
                                                          {"“", "”"}, {"(", ")"},   {"'", "'"}};
    const std::pair<const char*, const char*> marks[] = {{"?", "¿"}, {"!", "¡"}, {"?!", "¡¿"}};
    for (const std::string abbreviation : abbreviations) {
        // A time is written in lower case and never opens a sentence.
        const bool capital = !abbreviation.ends_with("m.");
        std::vector<std::string> sentences{"Llama " + abbreviation + " ahora", "Llama ahora " + abbreviation};
        if (capital) {
            sentences.push_back(abbreviation + " López llama ahora");
            sentences.push_back("Llama a " + abbreviation + " López, " + abbreviation + " Smith dice");
        }
        for (const auto& [open, close] : quotes)
            for (const auto& [mark, opening] : marks)
                for (const std::string& sentence : sentences) {
                    const std::string given = "Bien. " + std::string(open) + sentence + mark + close + " Sí.";
                    const std::string expected =
                        "Bien. " + std::string(open) + opening + sentence + mark + close + " Sí.";
                    EXPECT_EQ(sys::ApertiumSpanish::withOpeningQuestionMarks(given), expected);
                }
    }
}

// On texts of many sentences: each question and exclamation has one
// opening mark, at its start, and taking the marks out again gives the
// text as it was.
TEST(ApertiumSpanish, EachQuestionGetsOneOpeningMarkAndTheRestStays)
{
    const char* words[] = {"Hola", "Sr. López", "el Dr. Smith", "a las 5.30", "a las 5 p.m. hoy", "en St. Mary",
                           "«sí»", "(no)",      "J. Smith",     "viene",      "Mr. Jackson",      "bien"};
    const char* ends[] = {".", "?", "!", "?\"", "!)", "...", "?!"};
    std::uint32_t seed = 7;
    const auto next = [&](std::uint32_t bound) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % bound;
    };
    for (int round = 0; round < 300; ++round) {
        std::string text;
        std::vector<std::pair<std::string, std::string>> sentences;  // body and end
        for (std::uint32_t count = 1 + next(4); count > 0; --count) {
            std::string body = "Es";
            for (std::uint32_t word = next(4); word > 0; --word)
                body += std::string(" ") + words[next(std::size(words))];
            const std::string end = ends[next(std::size(ends))];
            const bool quoted = end.size() > 1 && (end.back() == '"' || end.back() == ')');
            sentences.emplace_back((quoted ? std::string(end.back() == '"' ? "\"" : "(") : "") + body, end);
            text += (text.empty() ? "" : " ") + sentences.back().first + end;
        }
        const std::string shown = sys::ApertiumSpanish::withOpeningQuestionMarks(text);
        std::string expected;
        for (const auto& [body, end] : sentences) {
            std::string opening = end.find('!') != std::string::npos ? "¡" : "";
            if (end.find('?') != std::string::npos)
                opening += "¿";
            const std::size_t inside = body.starts_with("\"") || body.starts_with("(") ? 1 : 0;
            expected += (expected.empty() ? "" : " ") + body.substr(0, inside) + opening + body.substr(inside) + end;
        }
        EXPECT_EQ(shown, expected) << text;
        std::string unmarked = shown;
        for (const std::string mark : {"¿", "¡"})
            for (auto at = unmarked.find(mark); at != std::string::npos; at = unmarked.find(mark, at))
                unmarked.erase(at, mark.size());
        EXPECT_EQ(unmarked, text);
    }
}

TEST(ApertiumStream, IllFormedUtf8BecomesReplacementCharacters)
{
    using namespace sys::ApertiumStream;
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(validUtf8("Hello \xff\xfe world"), "Hello " + replacement + replacement + " world");
    // A sequence cut short is one replacement; a valid text is kept as it is.
    EXPECT_EQ(validUtf8("\xe4\xbd"), replacement);
    EXPECT_EQ(validUtf8("\xe4\xbd\xa0好 \xf0\x9f\x98\x80"), "你好 \xf0\x9f\x98\x80");
    // Overlong forms and encoded surrogates are not UTF-8 either.
    EXPECT_EQ(validUtf8("a\xc0\xaf"
                        "b"),
              "a" + replacement + replacement + "b");
    EXPECT_EQ(validUtf8("\xed\xa0\x80"), replacement + replacement + replacement);
    EXPECT_EQ(encode("x\xff<"), "x" + replacement + "\\<");

    EXPECT_TRUE(isBlank(""));
    EXPECT_TRUE(isBlank(" \t\r\n"));
    EXPECT_TRUE(isBlank("\xe3\x80\x80\xc2\xa0"));  // ideographic and no-break spaces
    EXPECT_FALSE(isBlank(" . "));
    EXPECT_FALSE(isBlank("\xff"));
}

TEST_F(ApertiumTest, PairsAreInstalledSupportedOrUnsupported)
{
    modes.write("eng-spa.mode", "cat");
    modes.write("spa-eng.mode", "cat");
    modes.write("spa-eng_US.mode", "cat");
    sys::ApertiumModes table(text, modes.path());

    auto english = table.resolve("en", "es");
    EXPECT_EQ(english.status, Status::installed);
    EXPECT_EQ(english.mode, "eng-spa");
    EXPECT_EQ(english.package, "apertium-eng-spa");
    // "en" means American English, so the American variant serves it.
    EXPECT_EQ(table.resolve("es", "en").mode, "spa-eng_US");
    EXPECT_EQ(table.resolve("es", "en-GB").mode, "spa-eng");

    auto brazilian = table.resolve("es", "pt-BR");
    EXPECT_EQ(brazilian.status, Status::supported);
    EXPECT_EQ(brazilian.package, "apertium-es-pt");
    EXPECT_EQ(table.resolve("fr", "es").package, "apertium-fr-es");
    EXPECT_EQ(table.resolve("it", "es").package, "apertium-spa-ita");
    EXPECT_EQ(table.resolve("uk", "ru").status, Status::supported);

    EXPECT_EQ(table.resolve("fr", "de").status, Status::unsupported);
    EXPECT_EQ(table.resolve("es", "es").status, Status::unsupported);
    EXPECT_EQ(table.resolve("zh-Hans", "en").status, Status::unsupported);
}

TEST_F(ApertiumTest, AvailabilityAndPreparationFollowTheModesFolder)
{
    modes.write("eng-spa.mode", "cat");
    sys::ApertiumTranslation backEnd(text, modes.path());

    auto status = [&](const char* source, const char* target) {
        std::shared_ptr<LanguageAvailability> availability = backEnd.makeLanguageAvailability();
        return await(runtime, [availability, source, target] { return statusOf(availability, source, target); });
    };
    EXPECT_EQ(status("en", "es").text, std::to_string(static_cast<int>(Status::installed)));
    EXPECT_EQ(status("es", "fr").text, std::to_string(static_cast<int>(Status::supported)));
    EXPECT_EQ(status("ja", "ko").text, std::to_string(static_cast<int>(Status::unsupported)));

    EXPECT_EQ(await(runtime, [&] { return prepareWith(backEnd.makeInstalledSession("en", "es")); }).text, "prepared");
    auto missing = await(runtime, [&] { return prepareWith(backEnd.makeInstalledSession("es", "fr")); });
    ASSERT_EQ(missing.reason(), Reason::notInstalled);
    try {
        std::rethrow_exception(missing.error);
    } catch (const TranslationPlatformError& e) {
        EXPECT_EQ(e.package(), "apertium-fr-es");
        EXPECT_EQ(e.source(), "es");
        EXPECT_EQ(e.target(), "fr");
    }
    EXPECT_EQ(await(runtime, [&] { return prepareWith(backEnd.makeInstalledSession("ja", "ko")); }).reason(),
              Reason::unsupported);
    EXPECT_EQ(await(runtime, [&] { return translateWith(backEnd.makeInstalledSession("ja", "ko"), "x"); }).reason(),
              Reason::unsupported);
}

// Stand-in stages from the base system: unbuffered sed reads and writes
// records ended by a null byte under its -z option, like the translators do.
TEST_F(ApertiumTest, OnePipelinePerPairServesSentenceAfterSentence)
{
    modes.write("eng-spa.mode", "sed -u 's/Hello/Hola/' | sed -u 's/world/mundo/'\n");
    sys::ApertiumTranslation backEnd(text, modes.path());
    // A descriptor the program left open across exec.
    int leaked[2];
    ASSERT_EQ(::pipe(leaked), 0);

    // Asked about the pair, as when the languages of a call are set, the
    // back end starts the chain on its own thread, before any text comes;
    // the first text then finds it running.
    std::shared_ptr<LanguageAvailability> availability = backEnd.makeLanguageAvailability();
    EXPECT_EQ(await(runtime, [&] { return statusOf(availability, "en", "es"); }).text,
              std::to_string(static_cast<int>(Status::installed)));
    const auto pipeline = backEnd.pipeline("eng-spa");
    for (int wait = 0; wait < 500 && pipeline->processes().size() < 2; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(pipeline->processes().size(), 2u);
    EXPECT_EQ(pipeline->launches(), 1u);
    // A stage holds nothing of the program's but its input and output.
    const auto open = [&](pid_t process) {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + std::to_string(process) + "/fd/" + std::to_string(leaked[1]),
                                             error);
    };
    for (pid_t stage : pipeline->processes())
        EXPECT_NE(open(stage), open(::getpid())) << "stage " << stage;
    ::close(leaked[0]);
    ::close(leaked[1]);

    auto session = backEnd.makeInstalledSession("en", "es");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello world"); }).text, "Hola mundo");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello [there] $5 ~ok"); }).text,
              "Hola [there] $5 ~ok");
    auto other = backEnd.makeInstalledSession("en", "es");
    EXPECT_EQ(await(runtime, [&] { return translateWith(other, "Hello\nagain"); }).text, "Hola again");
    EXPECT_EQ(backEnd.pipeline("eng-spa")->launches(), 1u);

    // A cancelled session fails at once and for good; the pipeline goes on.
    session->cancel();
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).reason(), Reason::cancelled);
    EXPECT_EQ(await(runtime, [&] { return translateWith(other, "Hello"); }).text, "Hola");
    EXPECT_EQ(backEnd.pipeline("eng-spa")->launches(), 1u);
}

TEST_F(ApertiumTest, EmptyOutputIsAFailureAndRestartsThePipeline)
{
    // Like a stage that crashed while the rest of the chain still ended
    // the record.
    modes.write("eng-spa.mode", "sed -u 's/Hello//'\n");
    sys::ApertiumTranslation backEnd(text, modes.path());
    auto session = backEnd.makeInstalledSession("en", "es");

    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).reason(), Reason::noOutput);
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello you"); }).text, "you");
    EXPECT_EQ(backEnd.pipeline("eng-spa")->launches(), 2u);
}

TEST_F(ApertiumTest, BlankTextIsTranslatedAsNothingAndIllFormedTextInFull)
{
    modes.write("eng-spa.mode", "sed -u 's/Hello/Hola/' | sed -u 's/world/mundo/'\n");
    sys::ApertiumTranslation backEnd(text, modes.path());
    auto session = backEnd.makeInstalledSession("en", "es");

    // Nothing to translate: the empty text, and the chain is neither
    // started for it nor restarted.
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, ""); }).text, "");
    EXPECT_EQ(backEnd.pipeline("eng-spa")->launches(), 0u);
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello world"); }).text, "Hola mundo");
    for (const char* blank : {"   ", " \n\t ", "\xe3\x80\x80"})
        EXPECT_EQ(await(runtime, [&] { return translateWith(session, blank); }).text, "") << blank;

    // Malformed bytes reach the translators as replacement characters, so
    // the words after them are translated too.
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello \xff\xfe world"); }).text,
              "Hola \xEF\xBF\xBD\xEF\xBF\xBD mundo");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).text, "Hola");
    EXPECT_EQ(backEnd.pipeline("eng-spa")->launches(), 1u);
}

// Waits until the process has ended, without reaping it: its parent, the
// pipeline, must find out for itself.
bool waitForExit(pid_t pid)
{
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return false;
    pollfd ready{fd, POLLIN, 0};
    const bool ended = ::poll(&ready, 1, 10'000) == 1;
    ::close(fd);
    return ended;
}

TEST_F(ApertiumTest, AChainThatDiedIsReplacedBeforeTheNextTextFails)
{
    modes.write("eng-spa.mode", "sed -u 's/Hello/Hola/' | sed -u 's/world/mundo/'\n");
    // A stage that ends, silently, on its second record.
    modes.write("spa-eng_US.mode", "sed -u 's/Hola/Hello/' | sed -u '2Q'\n");
    // A stage that ends on every record.
    modes.write("spa-eng.mode", "sed -u Q\n");
    sys::ApertiumTranslation backEnd(text, modes.path());
    auto session = backEnd.makeInstalledSession("en", "es");
    auto pipeline = backEnd.pipeline("eng-spa");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).text, "Hola");

    // One stage after the other dies while the chain is idle.
    for (std::size_t stage : {1u, 0u}) {
        auto processes = pipeline->processes();
        ASSERT_EQ(processes.size(), 2u);
        ::kill(processes[stage], SIGKILL);
        ASSERT_TRUE(waitForExit(processes[stage]));
        EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello world"); }).text, "Hola mundo");
    }
    EXPECT_EQ(pipeline->launches(), 3u);

    // The chain looked alive when the second text went out, so the text
    // goes once more to a new one.
    auto back = backEnd.makeInstalledSession("es", "en");
    EXPECT_EQ(await(runtime, [&] { return translateWith(back, "Hola"); }).text, "Hello");
    EXPECT_EQ(await(runtime, [&] { return translateWith(back, "Hola again"); }).text, "Hello again");
    EXPECT_EQ(backEnd.pipeline("spa-eng_US")->launches(), 2u);

    // Only once: a text that the chain never survives fails after one retry.
    auto british = backEnd.makeInstalledSession("es", "en-GB");
    EXPECT_EQ(await(runtime, [&] { return translateWith(british, "Hola"); }).reason(), Reason::noOutput);
    EXPECT_EQ(backEnd.pipeline("spa-eng")->launches(), 2u);
}

TEST_F(ApertiumTest, MissingProgramsAndSilentStagesFail)
{
    modes.write("eng-spa.mode", "parlaro-no-such-translator x\n");
    // A stage that reads its input and never answers.
    modes.write("spa-eng_US.mode", "sed -u -n 's/x/y/'\n");
    sys::ApertiumTranslation backEnd(text, modes.path(), 0.2);

    auto missing = await(runtime, [&] { return translateWith(backEnd.makeInstalledSession("en", "es"), "Hello"); });
    ASSERT_EQ(missing.reason(), Reason::failedToStart);
    try {
        std::rethrow_exception(missing.error);
    } catch (const TranslationPlatformError& e) {
        EXPECT_NE(e.detail().find("parlaro-no-such-translator"), std::string::npos) << e.detail();
    }
    EXPECT_EQ(await(runtime, [&] { return translateWith(backEnd.makeInstalledSession("es", "en"), "Hola"); }).reason(),
              Reason::notResponding);
}

bool apertiumInstalled(const sys::ApertiumModes& modes)
{
    return modes.resolve("en", "es").status == Status::installed
        && std::system("command -v lt-proc >/dev/null 2>&1") == 0;
}

// The pair a German first start picks is one the installed apertium cannot
// translate nor install, while English ⇄ Spanish is there: what the start-up
// steps then tell the user instead of offering a download.
TEST_F(ApertiumTest, TheInstalledPairsRefuseGermanEnglishAndServeEnglishSpanish)
{
    sys::ApertiumTranslation backEnd(text);
    if (!apertiumInstalled(backEnd.modes()))
        GTEST_SKIP() << "apertium with its English-Spanish pair is not installed "
                        "(Debian packages apertium and apertium-eng-spa)";
    std::shared_ptr<LanguageAvailability> availability = backEnd.makeLanguageAvailability();
    auto status = [&](const char* source, const char* target) {
        return await(runtime, [availability, source, target] { return statusOf(availability, source, target); }).text;
    };
    const std::string unsupported = std::to_string(static_cast<int>(Status::unsupported));
    EXPECT_EQ(status("de", "en"), unsupported);
    EXPECT_EQ(status("en", "de"), unsupported);
    EXPECT_EQ(status("en", "es"), std::to_string(static_cast<int>(Status::installed)));
    EXPECT_EQ(status("es", "en"), std::to_string(static_cast<int>(Status::installed)));
    EXPECT_EQ(await(runtime, [&] { return prepareWith(backEnd.makeInstalledSession("en", "de")); }).reason(),
              Reason::unsupported);
}

TEST_F(ApertiumTest, TranslatesHelloFromEnglishToSpanish)
{
    sys::ApertiumTranslation backEnd(text);
    if (!apertiumInstalled(backEnd.modes()))
        GTEST_SKIP() << "apertium with its English-Spanish pair is not installed "
                        "(Debian packages apertium and apertium-eng-spa)";

    auto session = backEnd.makeInstalledSession("en", "es");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).text, "Hola");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "How are you?"); }).text, "¿Cómo eres?");
    // The last words of a sentence without a closing mark are translated
    // too, not held back by the transfer stages.
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "i do"); }).text, "i Hacer");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "I do"); }).text, "Hago");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "I do."); }).text, "Hago.");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "I would like a coffee"); }).text,
              "Me gustaría un café");
    // Words the translators drop or would mark leave no run of spaces and
    // no space before a mark behind, where the source has neither.
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "But where there is"); }).text, "Pero donde hay");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "And you can eat"); }).text, "Y puedes comer");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "What do you want?"); }).text, "¿Qué quieres?");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "I do, you do"); }).text, "Yo, haces");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "It is the cat's"); }).text, "Es el gato es");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Xyzzy is here"); }).text, "Xyzzy es aquí");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Where do you go ?"); }).text, "¿Dónde vas ?");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello  world"); }).text, "Hola  Mundo");
    // Days and months reach Spanish as its names, whatever the translators
    // make of the English word; numbers and dates around them stay.
    for (const auto& [source, spanish] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Is this the right number? I will call you on the third of March.",
              "¿Es esto el número derecho? Te llamaré el 3 de marzo."},
             {"On the third of March we meet.", "El 3 de marzo cumplimos."},
             {"See you in april, on monday.", "Ve tú en abril, el lunes."},
             {"On Monday the 3rd of March 2027", "El lunes 3 de marzo de 2027"},
             {"The office opens in April or in May.", "La oficina abre en abril o en mayo."},
             {"Hello Mr. Lopez, are you well?", "¿Hola señor Lopez, eres bien?"},
             {"Is it 5 p.m. now?", "¿Es 5 p.m. ahora?"},
             {"Can you call Dr. Smith?", "¿Puede llamas Dr. Herrero?"},
             {"Call me at 5 p.m. Is that fine?", "Me llamo en 5 p.m. ¿Es que bien?"},
             {"Is it you?\" She asked.", "¿Es te?\" Pidió."},
             {"Wow! That is great!", "¡Uau! ¡Aquello es sumo!"},
             {"I met Captain Jackson today.", "Cumplí capitán Jackson hoy."},
             {"Is it at 5.30? Yes.", "¿Es en 5.30? Sí."},
         })
        EXPECT_EQ(await(runtime, [&, english = source] { return translateWith(session, english); }).text, spanish)
            << source;
    // A word dropped between two stops takes its stop along.
    auto back = backEnd.makeInstalledSession("es", "en");
    EXPECT_EQ(await(runtime, [&] { return translateWith(back, "Oh. Se. Cariz."); }).text, "Oh. Look.");

    // The same through a hosted slot's run.
    std::optional<std::string> hosted;
    backEnd.hostedSessions().slotAppeared(rt::Uuid::random(), TranslationConfiguration{"en", "es", 0},
                                          [&hosted](std::shared_ptr<TranslationSession> given) -> rt::Async<void> {
                                              return [](std::shared_ptr<TranslationSession> s,
                                                        std::optional<std::string>* out) -> rt::Async<void> {
                                                  try {
                                                      *out = co_await s->translate("Good morning");
                                                  } catch (...) {
                                                  }
                                                  rt::mainExecutor().stop();
                                              }(std::move(given), &hosted);
                                          });
    runtime.executor().run();
    EXPECT_EQ(hosted, "Buenos días");

    // Malformed bytes cost neither the words after them nor the next call.
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello \xff\xfe world"); }).text,
              "Hola \xEF\xBF\xBD\xEF\xBF\xBD Mundo");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).text, "Hola");
    // Blank text does not reach the translators.
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "   "); }).text, "");
    EXPECT_EQ(await(runtime, [&] { return translateWith(session, "Hello"); }).text, "Hola");
    EXPECT_EQ(backEnd.pipeline("eng-spa")->launches(), 1u);
}

}  // namespace
}  // namespace parlaro
