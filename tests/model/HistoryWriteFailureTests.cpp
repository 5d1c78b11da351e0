#include "ModelWorld.h"

#include "history/HistoryFiles.h"
#include "history/HistoryJson.h"
#include "model/ModelTestAccess.h"
#include "support/ScratchMount.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
using test::ModelWorld;

ConversationEntry said(const std::string& text, rt::Date time)
{
    return ConversationEntry{.side = ConversationEntry::Side::them, .original = text, .translated = "…", .time = time};
}

// A model whose history folder the test makes read-only and writable again.
struct UnwritableWorld {
    ModelWorld world;
    test::TempDirectory home;
    fs::path folder = home / "History";
    test::ReadOnlyFolder readOnly{folder};
    std::shared_ptr<ConversationHistory> history = ConversationHistory::make(folder, world.platform.defaults);
    std::shared_ptr<AppModel> model = world.make();
    int told = 0;
    rt::Subscription watch = model->historyNotice.subscribe([this] { told += model->historyNotice.get() ? 1 : 0; });

    UnwritableWorld() { model->useHistory(history); }

    void after(double seconds) { world.runtime.clock().advance(seconds); }
    void say(const std::string& text)
    {
        auto list = model->entries.get();
        list.push_back(said(text, world.runtime.clock().date()));
        ModelTestAccess::setEntries(*model, std::move(list));
    }
    // What each session file holds, by session, in order.
    std::map<rt::Uuid, std::vector<std::string>> onDisk() const
    {
        std::map<rt::Uuid, std::vector<std::string>> sessions;
        for (const auto& file : fs::directory_iterator(folder)) {
            if (file.path().extension() != ".json" || file.path().filename() == ConversationHistory::indexFileName)
                continue;
            auto session = HistoryJson::decodeSession(HistoryFiles::read(file.path()).value_or(""));
            EXPECT_TRUE(session.has_value()) << file.path();
            for (const ConversationEntry& entry : session ? session->entries : std::vector<ConversationEntry>{})
                sessions[session->id].push_back(entry.original);
        }
        return sessions;
    }
};

TEST(HistoryWriteFailure, ASessionTheFolderRefusesIsKeptToldOnceAndWrittenOnceItCanBe)
{
    UnwritableWorld w;
    w.readOnly.setReadOnly(true);
    w.say("one");
    const rt::Uuid first = *ModelTestAccess::filing(*w.model).sessionID.get();
    w.after(SessionFiling::saveDelay);
    const std::string message = "无法把对话记录保存到 " + w.folder.string() + "（" + w.readOnly.reason()
        + "）。对话会先保留，能写入时自动保存。";
    EXPECT_EQ(w.model->historyNotice.get(), message);
    EXPECT_FALSE(w.model->errorMessage.get()) << "no alert stands in the way";
    EXPECT_EQ(w.told, 1);

    // The user goes on talking and clears the transcript: the failures that
    // follow are not told again and nothing is dropped.
    w.say("two");
    w.after(SessionFiling::saveDelay);
    w.model->clearConversation();
    EXPECT_TRUE(w.model->entries.get().empty());
    w.say("three");
    const rt::Uuid second = *ModelTestAccess::filing(*w.model).sessionID.get();
    ASSERT_NE(first, second);
    w.after(SessionFiling::saveDelay * 3);
    EXPECT_EQ(w.told, 1);
    EXPECT_EQ(w.model->historyNotice.get(), message) << "still said while nothing is saved";
    EXPECT_TRUE(w.onDisk().empty());
    const auto unsaved = w.model->unsavedHistory();
    ASSERT_TRUE(unsaved);
    EXPECT_EQ(unsaved->reason, w.readOnly.reason());
    EXPECT_EQ(unsaved->sessions, 2u) << "the cleared session is still held";

    // Writable again: the next try writes both sessions whole, unasked.
    w.readOnly.setReadOnly(false);
    w.after(SessionFiling::saveDelay);
    const auto written = w.onDisk();
    EXPECT_EQ(written.size(), 2u);
    EXPECT_EQ(written.count(first) ? written.at(first) : std::vector<std::string>{},
              (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(written.count(second) ? written.at(second) : std::vector<std::string>{},
              (std::vector<std::string>{"three"}));
    EXPECT_FALSE(w.model->unsavedHistory());
    EXPECT_FALSE(w.model->historyNotice.get()) << "taken back once everything is saved";
    EXPECT_TRUE(ModelTestAccess::filing(*w.model).unsavedSessions().empty());
    EXPECT_FALSE(ModelTestAccess::filing(*w.model).isSaveWaiting()) << "no retry is left waiting";

    // A new run of failures is told again, once.
    w.readOnly.setReadOnly(true);
    w.say("four");
    w.after(SessionFiling::saveDelay * 2);
    EXPECT_EQ(w.told, 2);
}

TEST(HistoryWriteFailure, ASessionStillUnwritableAtTheEndOfTheCallStaysPending)
{
    UnwritableWorld w;
    w.readOnly.setReadOnly(true);
    w.say("bye");
    w.model->closeConversationSession();
    EXPECT_EQ(ModelTestAccess::filing(*w.model).unsavedSessions().size(), 1u);
    ASSERT_TRUE(w.model->unsavedHistory());
    EXPECT_EQ(w.model->unsavedHistory()->folder, w.folder);
    EXPECT_EQ(w.told, 1);

    // Switching saving off is the user's word that it need not be kept.
    w.history->setEnabled(false);
    w.after(SessionFiling::saveDelay);
    EXPECT_TRUE(ModelTestAccess::filing(*w.model).unsavedSessions().empty());
    EXPECT_FALSE(w.model->unsavedHistory());
}

// "Delete All" while the folder refuses every write: the held conversation
// is gone, so the quit-time rescue has nothing of it to keep.
TEST(HistoryWriteFailure, DeletingEverythingDropsTheHeldConversation)
{
    UnwritableWorld w;
    w.readOnly.setReadOnly(true);
    w.say("secret");
    const rt::Uuid held = *ModelTestAccess::filing(*w.model).sessionID.get();
    w.after(SessionFiling::saveDelay);
    ASSERT_TRUE(w.model->unsavedHistory());

    EXPECT_EQ(w.history->deleteAll(), std::nullopt);
    EXPECT_TRUE(w.model->unsavedConversations().empty());
    EXPECT_FALSE(w.model->unsavedHistory());
    EXPECT_FALSE(w.model->historyNotice.get());

    // The call goes on in a new conversation, which is held in its turn.
    w.say("after");
    w.model->closeConversationSession();
    const auto rescued = w.model->unsavedConversations();
    ASSERT_EQ(rescued.size(), 1u);
    EXPECT_NE(rescued[0].id, held);
    ASSERT_EQ(rescued[0].entries.size(), 1u);
    EXPECT_EQ(rescued[0].entries[0].original, "after");
    EXPECT_EQ(w.told, 2);
}

}  // namespace
}  // namespace parlaro
