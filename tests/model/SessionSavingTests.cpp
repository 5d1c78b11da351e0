#include "ModelWorld.h"

#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "model/ModelTestAccess.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
using test::ModelWorld;

// A model whose history writes into a folder of the test's own.
struct SavingWorld {
    ModelWorld world;
    test::TempDirectory folder;
    std::shared_ptr<ConversationHistory> history = ConversationHistory::make(folder.path(), world.platform.defaults);
    std::shared_ptr<AppModel> model = world.make();
    rt::Instant t0 = world.runtime.clock().now();

    SavingWorld() { model->useHistory(history); }

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

    void append(ConversationEntry entry)
    {
        auto list = model->entries.get();
        list.push_back(std::move(entry));
        model->setEntries(std::move(list));
    }
    void translate(std::size_t index, const std::string& text)
    {
        auto list = model->entries.get();
        list.at(index).translated = text;
        model->setEntries(std::move(list));
    }
};

ConversationEntry sentence(const std::string& text, rt::Date time)
{
    return ConversationEntry{.side = ConversationEntry::Side::them, .original = text, .translated = "…", .time = time};
}

TEST(ModelSessions, ChangesAreWrittenFiveSecondsAfterTheFirstOne)
{
    SavingWorld w;
    const rt::Date now = w.world.runtime.clock().date();
    w.append(sentence("Hi", now));
    ASSERT_TRUE(ModelTestAccess::sessionID(*w.model).get());
    const rt::Uuid session = *ModelTestAccess::sessionID(*w.model).get();
    w.at(3.0);
    w.translate(0, "你好");
    w.at(4.999);
    EXPECT_TRUE(w.written().empty());
    w.at(5.0);
    auto written = w.written();
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[session].entries.size(), 1u);
    EXPECT_EQ(written[session].entries[0].translated, "你好");
    EXPECT_TRUE(ModelTestAccess::dirtySessions(*w.model).get().empty());

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
    w.model->setEntries(w.model->entries.get());
    EXPECT_FALSE(ModelTestAccess::saveTask(*w.model));
}

TEST(ModelSessions, ASilenceOfMoreThanHalfAnHourOpensANewSession)
{
    SavingWorld w;
    const rt::Date start = w.world.runtime.clock().date();
    w.append(sentence("one", start));
    w.append(sentence("two", start + 1800.0));
    const auto first = ModelTestAccess::sessionID(*w.model).get();
    w.append(sentence("three", start + 1800.0 + 1800.001));
    const auto second = ModelTestAccess::sessionID(*w.model).get();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);

    // Sessions are written in the order they first changed.
    EXPECT_EQ(ModelTestAccess::dirtySessions(*w.model).get(), (std::vector<rt::Uuid>{*first, *second}));
    w.model->flushDirtySessions();
    w.translate(2, "三");
    w.translate(1, "二");
    EXPECT_EQ(ModelTestAccess::dirtySessions(*w.model).get(), (std::vector<rt::Uuid>{*second, *first}));

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
    const rt::Uuid session = *ModelTestAccess::sessionID(*w.model).get();
    w.at(1.0);
    w.model->clearConversation();
    EXPECT_EQ(w.written().size(), 1u);
    EXPECT_TRUE(w.model->entries.get().empty());
    EXPECT_EQ(ModelTestAccess::sessionID(*w.model).get(), std::nullopt);
    EXPECT_EQ(ModelTestAccess::lastSessionEntry(*w.model).get(), std::nullopt);
    EXPECT_TRUE(ModelTestAccess::sessionOf(*w.model).get().empty());
    w.forgetWrites();
    w.at(20.0);
    EXPECT_TRUE(w.written().empty());

    // A call ends, then the translation of its last sentence arrives: the
    // old session is written again and the next sentence opens a new one.
    w.append(sentence("Bye", w.world.runtime.clock().date()));
    const rt::Uuid call = *ModelTestAccess::sessionID(*w.model).get();
    EXPECT_NE(call, session);
    w.model->closeConversationSession();
    EXPECT_EQ(w.written().size(), 1u);
    w.forgetWrites();
    w.translate(0, "再见");
    w.append(sentence("Next", w.world.runtime.clock().date()));
    EXPECT_NE(*ModelTestAccess::sessionID(*w.model).get(), call);
    w.at(30.0);
    auto written = w.written();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[call].entries.at(0).translated, "再见");
}

TEST(ModelSessions, NothingIsKeptWhileSavingIsOff)
{
    SavingWorld w;
    w.history->setEnabled(false);
    const rt::Date now = w.world.runtime.clock().date();
    w.append(sentence("private", now));
    EXPECT_TRUE(ModelTestAccess::sessionOf(*w.model).get().empty());
    EXPECT_FALSE(ModelTestAccess::saveTask(*w.model));
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
    ModelWorld bare;
    auto model = bare.make();
    model->setEntries({sentence("x", now)});
    EXPECT_EQ(ModelTestAccess::sessionID(*model).get(), std::nullopt);
    EXPECT_FALSE(ModelTestAccess::saveTask(*model));
}

}  // namespace
}  // namespace parlaro
