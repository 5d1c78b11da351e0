#include "speech/HeldSentences.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

using parlaro::HeldSentences;

namespace {

struct Revision {
    std::string text;
    std::vector<HeldSentences::Word> words;
};

// A live transcript of about 5,000 characters as a recognizer revises it
// while the user speaks: every revision repeats the whole text so far with
// one more word.
constexpr std::size_t englishPieces = 19;
constexpr std::size_t chinesePieces = 12;

std::vector<Revision> englishRevisions()
{
    const std::vector<std::string> pieces{"So",       "we",  "met",  "Mr.", "Smith",  "at",   "the",
                                          "station,", "and", "then", "we",  "walked", "home", "together.",
                                          "Did",      "you", "see",  "it?", "Yes!"};
    std::vector<Revision> revisions;
    Revision live;
    for (std::size_t n = 0; live.text.size() < 5000; ++n) {
        const std::string& piece = pieces[n % pieces.size()];
        if (!live.text.empty())
            live.text += ' ';
        live.words.push_back({{live.text.size(), piece.size()}});
        live.text += piece;
        revisions.push_back(live);
    }
    return revisions;
}

// The same in Chinese: words of one to three characters, a full stop every
// few words. Offsets are UTF-16 units, one per character here.
std::vector<Revision> chineseRevisions()
{
    const std::vector<std::u16string> pieces{u"我们", u"今天", u"在", u"车站", u"见面", u"了。",
                                             u"你",   u"看到", u"了", u"吗？", u"看到", u"了！"};
    const std::vector<std::string> utf8{"我们", "今天", "在", "车站", "见面", "了。",
                                        "你",   "看到", "了", "吗？", "看到", "了！"};
    std::vector<Revision> revisions;
    Revision live;
    std::size_t units = 0;
    for (std::size_t n = 0; units < 5000; ++n) {
        const std::size_t i = n % pieces.size();
        // The recognizer's range covers the word, not its punctuation.
        std::size_t letters = pieces[i].size();
        if (pieces[i].back() == u'。' || pieces[i].back() == u'？' || pieces[i].back() == u'！')
            --letters;
        live.words.push_back({{units, letters}});
        live.text += utf8[i];
        units += pieces[i].size();
        revisions.push_back(live);
    }
    return revisions;
}

// Cost of one revision: the iteration takes the next revision in order and
// starts over with an empty state after the last.
void BM_HeldSentencesPerRevision(benchmark::State& state)
{
    const std::vector<Revision> revisions = state.range(0) == 0 ? englishRevisions() : chineseRevisions();
    HeldSentences held;
    std::size_t next = 0;
    std::size_t released = 0;
    for (auto _ : state) {
        if (next == revisions.size()) {
            next = 0;
            held = HeldSentences{};
        }
        auto taken = held.take(revisions[next].text, revisions[next].words);
        released += taken.sentences.size();
        benchmark::DoNotOptimize(taken);
        ++next;
    }
    benchmark::DoNotOptimize(released);
    state.SetLabel(state.range(0) == 0 ? "english" : "chinese");
}
BENCHMARK(BM_HeldSentencesPerRevision)->Arg(0)->Arg(1);

// The last, longest revisions alone: a full 5,000-character text against
// everything released before it.
void BM_HeldSentencesFullText(benchmark::State& state)
{
    const std::vector<Revision> revisions = state.range(0) == 0 ? englishRevisions() : chineseRevisions();
    HeldSentences before;
    for (std::size_t i = 0; i + 1 < revisions.size(); ++i)
        before.take(revisions[i].text, revisions[i].words);
    for (auto _ : state) {
        HeldSentences held = before;
        auto taken = held.take(revisions.back().text, revisions.back().words);
        benchmark::DoNotOptimize(taken);
    }
    state.SetLabel(state.range(0) == 0 ? "english" : "chinese");
}
BENCHMARK(BM_HeldSentencesFullText)->Arg(0)->Arg(1);

const std::vector<Revision>& revisionsOf(std::int64_t language)
{
    static const std::vector<Revision> english = englishRevisions();
    static const std::vector<Revision> chinese = chineseRevisions();
    return language == 0 ? english : chinese;
}

// Characters of a revision: UTF-16 units, one per character in both texts.
std::size_t lengthOf(const Revision& revision, std::int64_t language)
{
    return language == 0 ? revision.text.size() : revision.words.back().range.location + 2;
}

// The revisions that add one word each at the end of a transcript of
// range(1) characters, the state having seen every revision before them:
// what a live transcript costs per revision at that length. One iteration
// takes a whole round of the sample's words (its sentence ends fall at
// different places in it) from that state, assigned to one kept object as a
// live state would have grown, and reports the time per revision. Each
// revision is handed over freshly copied, as a recognizer builds its result
// just before it is cut; only take() is timed.
void BM_HeldSentencesAtLength(benchmark::State& state)
{
    const std::vector<Revision>& revisions = revisionsOf(state.range(0));
    const std::size_t round = state.range(0) == 0 ? englishPieces : chinesePieces;
    std::size_t at = 0;
    while (at + round < revisions.size()
           && lengthOf(revisions[at], state.range(0)) < static_cast<std::size_t>(state.range(1)))
        ++at;
    HeldSentences before;
    for (std::size_t i = 0; i < at; ++i)
        before.take(revisions[i].text, revisions[i].words);
    HeldSentences held;
    Revision fresh;
    std::size_t released = 0;
    for (auto _ : state) {
        held = before;
        std::chrono::steady_clock::duration spent{};
        for (std::size_t i = at; i < at + round; ++i) {
            fresh = revisions[i];
            const auto begin = std::chrono::steady_clock::now();
            released += held.take(fresh.text, fresh.words).sentences.size();
            spent += std::chrono::steady_clock::now() - begin;
        }
        state.SetIterationTime(std::chrono::duration<double>(spent).count() / static_cast<double>(round));
    }
    benchmark::DoNotOptimize(released);
    state.SetLabel(state.range(0) == 0 ? "english" : "chinese");
}
BENCHMARK(BM_HeldSentencesAtLength)
    ->ArgsProduct({{0, 1}, {100, 250, 500, 1000, 2500, 5000}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// A whole live transcript of range(1) characters, revision by revision, from
// an empty state: should grow in proportion to its length. Each revision is
// handed over freshly copied, as a recognizer builds its result just before
// it is cut; only take() is timed.
void BM_HeldSentencesWholeTranscript(benchmark::State& state)
{
    const std::vector<Revision>& revisions = revisionsOf(state.range(0));
    std::size_t count = 0;
    while (count < revisions.size()
           && lengthOf(revisions[count], state.range(0)) <= static_cast<std::size_t>(state.range(1)))
        ++count;
    Revision fresh;
    std::size_t released = 0;
    for (auto _ : state) {
        HeldSentences held;
        std::chrono::steady_clock::duration spent{};
        for (std::size_t i = 0; i < count; ++i) {
            fresh = revisions[i];
            const auto begin = std::chrono::steady_clock::now();
            released += held.take(fresh.text, fresh.words).sentences.size();
            spent += std::chrono::steady_clock::now() - begin;
        }
        state.SetIterationTime(std::chrono::duration<double>(spent).count());
    }
    benchmark::DoNotOptimize(released);
    state.SetComplexityN(state.range(1));
    state.SetLabel(state.range(0) == 0 ? "english" : "chinese");
}
BENCHMARK(BM_HeldSentencesWholeTranscript)
    ->ArgsProduct({{0}, {625, 1250, 2500, 5000}})
    ->UseManualTime()
    ->Complexity(benchmark::oAuto)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeldSentencesWholeTranscript)
    ->ArgsProduct({{1}, {625, 1250, 2500, 5000}})
    ->UseManualTime()
    ->Complexity(benchmark::oAuto)
    ->Unit(benchmark::kMillisecond);

}  // namespace
