#include "ModelWorld.h"

#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "model/ModelTestAccess.h"
#include "model/SessionFiling.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
using test::ModelWorld;

// A history that writes into a folder of the test's own.
struct HistoryFolder {
    ModelWorld world;
    test::TempDirectory folder;
    std::shared_ptr<ConversationHistory> history = ConversationHistory::make(folder.path(), world.platform.defaults);
    rt::Instant t0 = world.runtime.clock().now();

    void at(double seconds) { world.runtime.clock().advanceTo(t0 + seconds); }

    // The sessions written so far, each read back from its file.
    std::map<rt::Uuid, ConversationSession> written() const
    {
        std::map<rt::Uuid, ConversationSession> sessions;
        if (!fs::exists(folder.path()))
            return sessions;
        for (const auto& file : fs::directory_iterator(folder.path())) {
            if (file.path().extension() != ".json" || file.path().filename() == ConversationHistory::indexFileName)
                continue;
            auto session = HistoryJson::decodeSession(HistoryFiles::read(file.path()).value_or(""));
            EXPECT_TRUE(session.has_value()) << file.path();
            if (session)
                sessions[session->id] = *session;
        }
        return sessions;
    }
    void forgetWrites() const
    {
        if (fs::exists(folder.path()))
            fs::remove_all(folder.path());
    }
};

// The filing on its own, fed a transcript of the test's and writing into
// the folder's history.
struct FilingWorld : HistoryFolder {
    std::vector<ConversationEntry> transcript;
    std::vector<std::optional<std::string>> told;
    std::shared_ptr<SessionFiling> filing = std::make_shared<SessionFiling>(
        SessionFiling::Feeds{.transcript = [this]() -> const std::vector<ConversationEntry>& { return transcript; },
                             .tell = [this](std::optional<std::string> notice) { told.push_back(std::move(notice)); }},
        ModelTestAccess::writer());

    FilingWorld() { filing->use(history); }

    void store(std::vector<ConversationEntry> entries)
    {
        const auto old = std::exchange(transcript, std::move(entries));
        filing->transcriptDidChange(old);
    }
    void append(ConversationEntry entry)
    {
        auto list = transcript;
        list.push_back(std::move(entry));
        store(std::move(list));
    }
    void translate(std::size_t index, const std::string& text)
    {
        auto list = transcript;
        list.at(index).translated = text;
        store(std::move(list));
    }
};

// A model whose history writes into the folder.
struct SavingWorld : HistoryFolder {
    std::shared_ptr<AppModel> model = world.make();

    SavingWorld() { model->useHistory(history); }

    void append(ConversationEntry entry)
    {
        auto list = model->entries.get();
        list.push_back(std::move(entry));
        ModelTestAccess::setEntries(*model, std::move(list));
    }
    void translate(std::size_t index, const std::string& text)
    {
        auto list = model->entries.get();
        list.at(index).translated = text;
        ModelTestAccess::setEntries(*model, std::move(list));
    }
};

ConversationEntry sentence(const std::string& text, rt::Date time)
{
    return ConversationEntry{.side = ConversationEntry::Side::them, .original = text, .translated = "…", .time = time};
}

TEST(SessionFiling, ChangesAreWrittenFiveSecondsAfterTheFirstOne)
{
    FilingWorld w;
    const rt::Date now = w.world.runtime.clock().date();
    w.append(sentence("Hi", now));
    ASSERT_TRUE(w.filing->sessionID.get());
    const rt::Uuid session = *w.filing->sessionID.get();
    w.at(3.0);
    w.translate(0, "你好");
    w.at(4.999);
    EXPECT_TRUE(w.written().empty());
    w.at(5.0);
    auto written = w.written();
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[session].entries.size(), 1u);
    EXPECT_EQ(written[session].entries[0].translated, "你好");
    EXPECT_TRUE(w.filing->dirtySessions.get().empty());

    // One write only; the next change waits its own five seconds.
    w.forgetWrites();
    w.at(6.0);
    EXPECT_TRUE(w.written().empty());
    w.translate(0, "您好");
    w.at(10.999);
    EXPECT_TRUE(w.written().empty());
    w.at(11.0);
    EXPECT_EQ(w.written()[session].entries.at(0).translated, "您好");

    // Storing the same list again marks nothing.
    w.store(w.transcript);
    EXPECT_FALSE(w.filing->isSaveWaiting());
}

TEST(SessionFiling, ASilenceOfMoreThanHalfAnHourOpensANewSession)
{
    FilingWorld w;
    const rt::Date start = w.world.runtime.clock().date();
    w.append(sentence("one", start));
    w.append(sentence("two", start + 1800.0));
    const auto first = w.filing->sessionID.get();
    w.append(sentence("three", start + 1800.0 + 1800.001));
    const auto second = w.filing->sessionID.get();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);

    // Sessions are written in the order they first changed.
    EXPECT_EQ(w.filing->dirtySessions.get(), (std::vector<rt::Uuid>{*first, *second}));
    w.filing->flush();
    w.translate(2, "三");
    w.translate(1, "二");
    EXPECT_EQ(w.filing->dirtySessions.get(), (std::vector<rt::Uuid>{*second, *first}));

    w.at(5.0);
    auto written = w.written();
    ASSERT_EQ(written.size(), 2u);
    ASSERT_EQ(written[*first].entries.size(), 2u);
    EXPECT_EQ(written[*first].entries[1].translated, "二");
    ASSERT_EQ(written[*second].entries.size(), 1u);
    EXPECT_EQ(written[*second].entries[0].original, "three");
}

TEST(ModelSessions, ClearingAndClosingWriteAtOnce)
{
    SavingWorld w;
    const rt::Date now = w.world.runtime.clock().date();
    w.append(sentence("Hi", now));
    const rt::Uuid session = *ModelTestAccess::filing(*w.model).sessionID.get();
    w.at(1.0);
    w.model->clearConversation();
    EXPECT_EQ(w.written().size(), 1u);
    EXPECT_TRUE(w.model->entries.get().empty());
    EXPECT_EQ(ModelTestAccess::filing(*w.model).sessionID.get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::filing(*w.model).lastSessionEntry.get(), std::nullopt);
    EXPECT_TRUE(ModelTestAccess::filing(*w.model).sessionOf.get().empty());
    w.forgetWrites();
    w.at(20.0);
    EXPECT_TRUE(w.written().empty());

    // A call ends, then the translation of its last sentence arrives: the
    // old session is written again and the next sentence opens a new one.
    w.append(sentence("Bye", w.world.runtime.clock().date()));
    const rt::Uuid call = *ModelTestAccess::filing(*w.model).sessionID.get();
    EXPECT_NE(call, session);
    w.model->closeConversationSession();
    EXPECT_EQ(w.written().size(), 1u);
    w.forgetWrites();
    w.translate(0, "再见");
    w.append(sentence("Next", w.world.runtime.clock().date()));
    EXPECT_NE(*ModelTestAccess::filing(*w.model).sessionID.get(), call);
    w.at(30.0);
    auto written = w.written();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[call].entries.at(0).translated, "再见");
}

TEST(SessionFiling, NothingIsKeptWhileSavingIsOff)
{
    FilingWorld w;
    w.history->setEnabled(false);
    const rt::Date now = w.world.runtime.clock().date();
    w.append(sentence("private", now));
    EXPECT_TRUE(w.filing->sessionOf.get().empty());
    EXPECT_FALSE(w.filing->isSaveWaiting());
    w.at(10.0);
    EXPECT_TRUE(w.written().empty());

    w.history->setEnabled(true);
    w.append(sentence("public", now + 10.0));
    w.at(20.0);
    auto written = w.written();
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written.begin()->second.entries.size(), 1u);
    EXPECT_EQ(written.begin()->second.entries[0].original, "public");

    // Without a history nothing is assigned either.
    FilingWorld bare;
    bare.filing->use(nullptr);
    bare.store({sentence("x", now)});
    EXPECT_EQ(bare.filing->sessionID.get(), std::nullopt);
    EXPECT_FALSE(bare.filing->isSaveWaiting());
}

// Whatever the user deletes from the history during a call, by the session,
// all at once or by age, is never written back; the call goes on in a new
// session.
TEST(SessionFiling, WhatTheUserDeletesDuringACallStaysDeleted)
{
    enum class Way { one, all, byAge };
    for (const Way way : {Way::one, Way::all, Way::byAge}) {
        SCOPED_TRACE(static_cast<int>(way));
        FilingWorld w;
        w.history->load();  // as the history page does when it opens
        w.world.runtime.runUntilIdle();
        // Deleting by age covers a conversation that began two days ago.
        const rt::Date start = w.world.runtime.clock().date() + (way == Way::byAge ? -2 * 86400.0 : 0.0);
        w.append(sentence("secret", start));
        w.append(sentence("more", start + 1.0));
        w.at(5.0);
        const rt::Uuid deleted = *w.filing->sessionID.get();
        ASSERT_EQ(w.written().count(deleted), 1u);
        w.translate(1, "更多");  // waits for the next save
        std::optional<std::string> failure;
        if (way == Way::one)
            failure = w.history->deleteSession(deleted);
        else if (way == Way::all)
            failure = w.history->deleteAll();
        else
            failure = w.history->deleteSessions(w.world.runtime.clock().date() + -86400.0);
        ASSERT_EQ(failure, std::nullopt);
        ASSERT_TRUE(w.written().empty());

        // A late translation of a deleted sentence and what the call says
        // next, dated right after it: only the new sentence is written, in a
        // session of its own.
        w.translate(0, "秘密");
        w.append(sentence("next", start + 2.0));
        w.at(15.0);
        w.filing->flush();
        w.filing->closeSession();
        auto written = w.written();
        EXPECT_EQ(written.count(deleted), 0u);
        ASSERT_EQ(written.size(), 1u);
        ASSERT_EQ(written.begin()->second.entries.size(), 1u);
        EXPECT_EQ(written.begin()->second.entries[0].original, "next");
        EXPECT_TRUE(w.filing->unsavedConversations().empty());
    }
}

// The filing on its own, fed a transcript of the test's: deleting an earlier
// session leaves the one the call goes on in.
TEST(SessionFiling, DeletingAnEarlierSessionLeavesTheCurrentOne)
{
    FilingWorld w;
    const rt::Date now = w.world.runtime.clock().date();
    w.append(sentence("earlier", now + -7200.0));
    const rt::Uuid earlier = *w.filing->sessionID.get();
    w.append(sentence("now", now));
    const rt::Uuid current = *w.filing->sessionID.get();
    ASSERT_NE(earlier, current);
    w.filing->flush();
    EXPECT_EQ(w.told, (std::vector<std::optional<std::string>>{std::nullopt}));

    ASSERT_EQ(w.history->deleteSession(earlier), std::nullopt);
    EXPECT_EQ(w.filing->sessionID.get(), current);
    EXPECT_EQ(w.filing->sessionOf.get().size(), 1u);
    w.append(sentence("still now", now + 1.0));
    EXPECT_EQ(w.filing->sessionOf.get().at(w.transcript.back().id), current);
    w.filing->flush();
    EXPECT_FALSE(HistoryFiles::hasSessionFile(w.folder.path(), earlier));
    EXPECT_TRUE(HistoryFiles::hasSessionFile(w.folder.path(), current));

    // A filing whose model is gone no longer hears the history.
    w.filing.reset();
    EXPECT_EQ(w.history->deleteAll(), std::nullopt);
}

}  // namespace
}  // namespace parlaro
