#include "speech/HeldSentences.h"

#include <benchmark/benchmark.h>

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
std::vector<Revision> englishRevisions()
{
    const std::vector<std::string> pieces{"So", "we", "met", "Mr.", "Smith", "at", "the", "station,", "and", "then",
                                          "we", "walked", "home", "together.", "Did", "you", "see", "it?", "Yes!"};
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
    const std::vector<std::u16string> pieces{u"我们", u"今天", u"在", u"车站", u"见面", u"了。", u"你", u"看到",
                                             u"了", u"吗？", u"看到", u"了！"};
    const std::vector<std::string> utf8{"我们", "今天", "在", "车站", "见面", "了。", "你", "看到",
                                        "了", "吗？", "看到", "了！"};
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

} // namespace
