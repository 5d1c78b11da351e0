#include "StringTableFiles.h"
#include "UiWorld.h"

#include "history/ConversationHistory.h"
#include "history/HistoryFiles.h"
#include "runtime/Clock.h"
#include "settings/ExportPanel.h"
#include "settings/HistoryGroups.h"
#include "settings/Prompter.h"
#include "settings/TranscriptView.h"
#include "speech/InterfaceLanguage.h"
#include "support/ScratchMount.h"
#include "ui/GroupNotice.h"
#include "ui/Look.h"
#include "ui/ModuleStatusGroup.h"
#include "ui/Palette.h"
#include "ui/PersistentSwitch.h"
#include "ui/PillButton.h"
#include "ui/RowDivider.h"
#include "ui/Screenful.h"
#include "ui/SidebarGroup.h"
#include "ui/SidebarRow.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace parlaro;

namespace {

const LocaleContext utc{"zh-Hans-CN", "UTC"};
constexpr double day = 86400;

struct Prompts final : settings::Prompter {
    struct Question {
        std::string title;
        std::string message;
        std::string button;
        std::function<void()> confirm;
    };
    void confirm(QWidget*, const std::string& title, const std::string& message, const std::string& button,
                 std::function<void()> onConfirm) override
    {
        questions.push_back({title, message, button, std::move(onConfirm)});
    }
    void alert(QWidget*, const std::string& message) override { alerts.push_back(message); }
    std::vector<Question> questions;
    std::vector<std::string> alerts;
};

struct NoDialog final : settings::SaveDialog {
    explicit NoDialog(int& opened) : opened_(opened) {}
    void open(QWidget*, const QString&, const QStringList&, const QString&) override { ++opened_; }
    QString fileName() const override { return {}; }
    void setFileName(const QString&) override {}
    int& opened_;
};

struct HistoryWorld {
    test::UiWorld world;
    QTemporaryDir folder;
    std::shared_ptr<ConversationHistory> history =
        ConversationHistory::make(std::filesystem::path(folder.path().toStdString()), world.platform.defaults);
    Prompts prompts;
    settings::Prompter::Scope promptScope{prompts};
    int exports = 0;
    settings::ExportPanel::Scope exportScope{[this] { return std::make_unique<NoDialog>(exports); }, utc};
    std::unique_ptr<settings::HistoryGroups> page;
    std::vector<rt::Uuid> ids;  // newest first once listed

    // `count` sessions of 12 entries, one a minute apart, each `age` days old
    // or less; the sentences name their number ("第 7 段").
    void save(int count, double ageDays = 0, bool languages = true)
    {
        rt::Date now = rt::clock().date();
        for (int i = 0; i < count; ++i) {
            ConversationSession session;
            rt::Date start = now + (-ageDays * day - (count - i) * 600.0);
            for (int n = 0; n < 12; ++n) {
                bool me = n % 2 == 1;
                ConversationEntry entry{.side = me ? ConversationEntry::Side::me : ConversationEntry::Side::them,
                                        .original = me ? "好的，第 " + std::to_string(i) + " 段"
                                                       : "Sentence " + std::to_string(i) + " abc" + (i < 2 ? "" : "x"),
                                        .translated = me ? "Okay" : "句子",
                                        .time = start + n * 4.0};
                if (languages) {
                    entry.originalLanguage = me ? "zh-Hans" : "en";
                    entry.translatedLanguage = me ? "en" : "zh-Hans";
                }
                if (n == 2)
                    entry.translated = entry.original;
                session.entries.push_back(entry);
            }
            history->save(session);
            ids.insert(ids.begin(), session.id);
        }
    }

    void open()
    {
        page = std::make_unique<settings::HistoryGroups>(history, world.settings, utc);
        page->resize(720, 600);
        page->show();
        world.settle();
    }

    template <class T = QWidget>
    T* find(const char* name)
    {
        return page->findChild<T*>(QString::fromLatin1(name));
    }
    bool shows(const char* name)
    {
        QWidget* w = find(name);
        return w && w->isVisibleTo(page.get());
    }
    QString text(const char* name) { return find<QLabel>(name)->text(); }
    QList<QWidget*> rows()
    {
        QList<QWidget*> found;
        for (QWidget* row : page->findChildren<QWidget*>(QStringLiteral("history.row")))
            if (row->isVisibleTo(page.get()))
                found.push_back(row);
        return found;
    }
    ui::PillButton* button(QWidget* row, const char* name)
    {
        return row->findChild<ui::PillButton*>(QString::fromLatin1(name));
    }
    void click(QAbstractButton* button)
    {
        ASSERT_NE(button, nullptr);
        button->click();
        world.settle();
    }
    void type(const QString& query)
    {
        find<QLineEdit>("history.search")->setText(query);
        world.settle();
    }
    void wait(double seconds)
    {
        world.runtime.advance(seconds);
        world.settle();
    }
    QString listTitle() { return find<ui::SidebarGroup>("history.sessions")->title(); }
    // A grab tall enough for the whole page; 430 wide is what an 800 × 600
    // screen leaves it.
    void snapshot(const QString& state, int width = 720)
    {
        page->resize(width, std::max({600, page->sizeHint().height(), page->heightForWidth(width)}));
        world.settle();
        test::snapshot(*page, QStringLiteral("history"), state);
    }
};

}  // namespace

TEST(HistoryGroups, ShowsReadingThenEmptyAndTheSwitchWritesTheSetting)
{
    HistoryWorld w;
    w.page = std::make_unique<settings::HistoryGroups>(w.history, w.world.settings, utc);
    EXPECT_EQ(w.text("history.state"), QStringLiteral("正在读取…"));
    w.page->show();
    w.world.settle();
    EXPECT_TRUE(w.history->isLoaded.get());
    EXPECT_EQ(w.text("history.state"), QStringLiteral("还没有保存的聊天记录。"));
    EXPECT_FALSE(w.shows("history.list"));

    auto* save = w.find<ui::PersistentSwitch>("history.save");
    EXPECT_TRUE(save->isChecked());
    w.click(save);
    EXPECT_FALSE(w.history->isEnabled());
    EXPECT_EQ(w.world.platform.defaults.get<bool>(ConversationHistory::enabledKey), false);
    w.history->setEnabled(true);
    w.world.settle();
    EXPECT_TRUE(save->isChecked());
}

TEST(HistoryGroups, PagesFiftyAtATimeAndAQueryResetsThePage)
{
    HistoryWorld w;
    w.save(120);
    w.open();
    EXPECT_EQ(w.listTitle(), QStringLiteral("已保存（120）"));
    EXPECT_EQ(w.rows().size(), 50);
    ASSERT_TRUE(w.shows("history.more"));
    EXPECT_EQ(w.find<ui::PillButton>("history.more")->text(), QStringLiteral("显示更早的记录"));
    w.snapshot(QStringLiteral("120"));
    w.click(w.find<ui::PillButton>("history.more"));
    w.click(w.find<ui::PillButton>("history.more"));
    EXPECT_EQ(w.rows().size(), 120);
    EXPECT_FALSE(w.shows("history.more"));
    w.type(QStringLiteral("x"));
    EXPECT_EQ(w.page->shown(), 50);
    w.type(QString());
    EXPECT_EQ(w.rows().size(), 50);
}

TEST(HistoryGroups, SearchWaitsAQuarterSecondAndAnswers)
{
    HistoryWorld w;
    w.save(5);
    w.open();
    w.type(QStringLiteral("   "));
    EXPECT_EQ(w.rows().size(), 5) << "spaces only show the full list";
    EXPECT_FALSE(w.shows("history.resultState"));
    ASSERT_TRUE(w.shows("history.search.clear")) << "any character shows the clear button";
    EXPECT_EQ(w.find("history.search.clear")->accessibleName(), QStringLiteral("清除搜索"));
    w.click(w.find<QToolButton>("history.search.clear"));
    EXPECT_TRUE(w.find<QLineEdit>("history.search")->text().isEmpty());
    EXPECT_FALSE(w.shows("history.search.clear"));

    // Sessions 0 and 1 hold "abc" without an "x" after it; all five hold "abc".
    w.type(QStringLiteral(" abcx "));
    EXPECT_EQ(w.text("history.resultState"), QStringLiteral("正在搜索…"));
    w.wait(0.24);
    EXPECT_EQ(w.text("history.resultState"), QStringLiteral("正在搜索…"));
    w.wait(0.01);
    EXPECT_FALSE(w.shows("history.resultState"));
    EXPECT_EQ(w.listTitle(), QStringLiteral("找到 3 段"));
    EXPECT_EQ(w.rows().size(), 3);
    EXPECT_TRUE(w.rows()[0]->findChild<ui::SidebarRow*>()->labelWidget()->text().contains(QStringLiteral("abcx")));

    w.type(QStringLiteral("zzz"));
    w.wait(0.25);
    EXPECT_EQ(w.text("history.resultState"), QStringLiteral("没有找到包含「zzz」的记录。"));
    w.snapshot(QStringLiteral("no-hits"));
}

TEST(HistoryGroups, ANewQueryInsideTheDelayCancelsTheOldSearch)
{
    HistoryWorld w;
    w.save(5);
    w.open();
    w.type(QStringLiteral("zzz"));
    w.wait(0.2);
    w.type(QStringLiteral("abcx"));
    w.wait(0.1);
    EXPECT_EQ(w.text("history.resultState"), QStringLiteral("正在搜索…")) << "the first search never answered";
    w.wait(0.15);
    EXPECT_EQ(w.listTitle(), QStringLiteral("找到 3 段"));
}

TEST(HistoryGroups, RowsShowCountTimesAndLanguagesAndUnfoldOneTranscript)
{
    HistoryWorld w;
    w.save(1, 1, false);
    w.save(2);
    w.open();
    auto rows = w.rows();
    ASSERT_EQ(rows.size(), 3);
    ConversationSummary newest = w.history->summaries.get()[0];
    std::string range =
        DateFormats::styled(newest.started, DateFormats::Style::mediumStyle, DateFormats::Style::shortStyle, utc)
        + " – " + DateFormats::styled(newest.updated, DateFormats::Style::none, DateFormats::Style::shortStyle, utc);
    auto detail = [](QWidget* row) { return row->findChild<ui::SidebarRow*>()->detailWidget()->text(); };
    EXPECT_EQ(detail(rows[0]).toStdString(), "12 句 · " + range + " · 英语 ⇄ 中文");
    EXPECT_FALSE(detail(rows[2]).contains(QStringLiteral("⇄"))) << detail(rows[2]).toStdString();
    EXPECT_TRUE(detail(rows[2]).startsWith(QStringLiteral("12 句 · ")));

    EXPECT_EQ(w.button(rows[0], "history.row.view")->text(), QStringLiteral("查看"));
    w.click(w.button(rows[0], "history.row.view"));
    EXPECT_EQ(w.page->openSession(), w.ids[0]);
    rows = w.rows();
    EXPECT_EQ(w.button(rows[0], "history.row.view")->text(), QStringLiteral("收起"));
    auto* list = rows[0]->findChild<settings::TranscriptView*>();
    ASSERT_NE(list, nullptr);
    const settings::TranscriptModel& transcript = list->transcript();
    ASSERT_EQ(transcript.rowCount(), 12);
    EXPECT_TRUE(transcript.header(0).startsWith(QStringLiteral("对方  ")));
    EXPECT_FALSE(transcript.index(0).data(settings::TranscriptModel::meRole).toBool());
    EXPECT_TRUE(transcript.header(1).startsWith(QStringLiteral("我  ")));
    EXPECT_TRUE(transcript.index(1).data(settings::TranscriptModel::meRole).toBool());
    EXPECT_EQ(transcript.header(1).count(QLatin1Char(':')), 2) << "with seconds";
    // Entry 2's translation equals its original and is shown once.
    EXPECT_EQ(transcript.translated(1), QStringLiteral("Okay"));
    EXPECT_TRUE(transcript.translated(2).isEmpty());
    // A short conversation shows whole, without a scroll bar of its own.
    EXPECT_TRUE(list->isComplete()) << list->height();
    EXPECT_LT(list->height(), settings::TranscriptView::maxHeight);
    EXPECT_EQ(list->verticalScrollBar()->maximum(), 0);
    w.snapshot(QStringLiteral("open-transcript"));
    for (const char* code : {"de", "es", "en"}) {
        test::loadStringTables(w.world.platform.bundles, code);
        InterfaceLanguage::set(code);
        w.world.settle();
        ASSERT_NE(w.rows()[0]->findChild<settings::TranscriptView*>(), nullptr);
        w.snapshot(QStringLiteral("open-transcript-%1-430").arg(QLatin1String(code)), 430);
        // Beside the buttons, a row's texts take all the room up to them.
        w.snapshot(QStringLiteral("open-transcript-") + QLatin1String(code));
        for (QWidget* row : w.rows()) {
            const QWidget* texts = row->findChild<ui::SidebarRow*>();
            const QWidget* buttons = w.button(row, "history.row.view")->parentWidget();
            ASSERT_EQ(buttons->y(), texts->y()) << code;
            EXPECT_EQ(texts->geometry().right() + 1, buttons->x()) << code;
        }
    }
    InterfaceLanguage::set("zh-Hans");
    w.world.settle();

    w.click(w.button(w.rows()[1], "history.row.view"));
    EXPECT_EQ(w.page->openSession(), w.ids[1]);
    EXPECT_EQ(w.page->findChildren<QWidget*>(QStringLiteral("history.transcript")).size(), 1);
    w.click(w.button(w.rows()[1], "history.row.view"));
    EXPECT_FALSE(w.page->openSession());
}

// A long conversation is read off the main thread, then laid out a batch at a
// time in a list of bounded height that scrolls.
TEST(HistoryGroups, ALongTranscriptIsReadInTheBackgroundAndScrolls)
{
    HistoryWorld w;
    ConversationSession session;
    std::string longest;
    for (int n = 0; n < 60; ++n)
        longest += "word" + std::to_string(n) + " ";
    // A sentence of hundreds of thousands of characters, as a recognizer
    // left running on noise makes.
    std::string endless;
    while (endless.size() < 300000)
        endless += "endless ";
    for (int n = 0; n < 3000; ++n)
        session.entries.push_back(ConversationEntry{.original = n == 0 ? longest
                                                        : n == 3       ? endless
                                                                       : "Sentence " + std::to_string(n),
                                                    .translated = "句子 " + std::to_string(n),
                                                    .time = rt::clock().date() + n * 2.0});
    w.history->save(session);
    w.open();
    w.find<ui::PillButton>("history.row.view")->click();
    QApplication::sendPostedEvents();  // shows the new widgets, runs no task
    EXPECT_TRUE(w.shows("history.transcript.reading"));
    EXPECT_EQ(w.text("history.transcript.reading"), QStringLiteral("正在读取…"));
    w.world.settle();
    auto* list = w.find<settings::TranscriptView>("history.transcript.list");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->transcript().rowCount(), 3000);
    for (int turn = 0; turn < 1000 && !list->isComplete(); ++turn)
        QApplication::processEvents();
    EXPECT_TRUE(list->isComplete());
    EXPECT_TRUE(w.find("history.transcript")->property("complete").toBool());
    EXPECT_EQ(list->height(), settings::TranscriptView::maxHeight);
    // A sentence longer than the line wraps onto lines of its own.
    const auto height = [&](int row) { return list->visualRect(list->transcript().index(row)).height(); };
    EXPECT_GT(height(0), height(1) + 20);

    // Selected sentences copy as text, in order, each under its header.
    const auto& rows = list->transcript();
    list->selectionModel()->select(rows.index(2), QItemSelectionModel::Select);
    list->selectionModel()->select(rows.index(1), QItemSelectionModel::Select);
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(list, &copy);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringList({rows.header(1), QStringLiteral("Sentence 1"), QStringLiteral("句子 1"), rows.header(2),
                           QStringLiteral("Sentence 2"), QStringLiteral("句子 2")})
                  .join(QLatin1Char('\n')));
    EXPECT_GT(list->verticalScrollBar()->maximum(), 100 * list->height());

    // The endless one shows a screenful within its own row, the rest a
    // screenful at a time on demand, and copies whole.
    const auto screenful = ui::screenfulLength;
    EXPECT_TRUE(rows.original(3).endsWith(QChar(0x2026)));
    EXPECT_LE(rows.original(3).size(), screenful + 1);
    EXPECT_LT(height(3), settings::TranscriptView::maxHeight);
    EXPECT_EQ(list->visualRect(rows.index(3)).bottom() + 1, list->visualRect(rows.index(4)).top());
    const int cutHeight = height(3);
    list->scrollTo(rows.index(2), QAbstractItemView::PositionAtTop);
    w.snapshot(QStringLiteral("transcript-endless-sentence"));
    list->setCurrentIndex(rows.index(3));
    QTest::keyClick(list, Qt::Key_Return);
    for (int turn = 0; turn < 1000 && !list->isComplete(); ++turn)
        QApplication::processEvents();
    EXPECT_GT(rows.original(3).size(), screenful + 1);
    EXPECT_LE(rows.original(3).size(), 2 * screenful + 1);
    EXPECT_GT(height(3), cutHeight);
    EXPECT_EQ(list->visualRect(rows.index(3)).bottom() + 1, list->visualRect(rows.index(4)).top());
    list->selectionModel()->clearSelection();
    list->selectionModel()->select(rows.index(3), QItemSelectionModel::Select);
    QApplication::sendEvent(list, &copy);
    EXPECT_EQ(QApplication::clipboard()->text().size(),
              rows.header(3).size() + 1 + rows.wholeOriginal(3).size() + 1 + rows.translated(3).size());
    EXPECT_EQ(rows.wholeOriginal(3).size(), static_cast<qsizetype>(endless.size()));

    // Folding it while it is read leaves nothing behind.
    w.click(w.find<ui::PillButton>("history.row.view"));
    w.find<ui::PillButton>("history.row.view")->click();
    w.find<ui::PillButton>("history.row.view")->click();
    w.world.settle();
    EXPECT_FALSE(w.page->openSession());
    EXPECT_EQ(w.find("history.transcript"), nullptr);
}

TEST(HistoryGroups, DeletingARowClosesItsTranscriptAndDropsItsHit)
{
    HistoryWorld w;
    w.save(3);
    w.open();
    w.type(QStringLiteral("abc"));
    w.wait(0.25);
    EXPECT_EQ(w.listTitle(), QStringLiteral("找到 3 段"));
    w.click(w.button(w.rows()[0], "history.row.view"));
    ASSERT_TRUE(w.page->openSession());
    w.click(w.button(w.rows()[0], "history.row.delete"));
    EXPECT_FALSE(w.page->openSession());
    EXPECT_EQ(w.history->summaries.get().size(), 2u);
    EXPECT_EQ(w.listTitle(), QStringLiteral("找到 2 段"));
    EXPECT_TRUE(w.prompts.questions.empty()) << "one row goes without asking";
}

TEST(HistoryGroups, TheDaysFieldIsKeptInRangeAndDeletesOldSessionsAfterAsking)
{
    HistoryWorld w;
    w.save(2);
    w.open();
    auto* days = w.find<QLineEdit>("history.days");
    EXPECT_EQ(days->text(), QStringLiteral("30"));
    EXPECT_FALSE(w.find("history.deleteOld")->isEnabled()) << "nothing is older than 30 days";
    days->setText(QStringLiteral("0"));
    emit days->editingFinished();
    EXPECT_EQ(w.world.platform.defaults.get<std::int64_t>("historyDeleteDays"), 1);
    days->setText(QStringLiteral("5000"));
    emit days->editingFinished();
    EXPECT_EQ(w.world.platform.defaults.get<std::int64_t>("historyDeleteDays"), 3650);
    EXPECT_EQ(days->text(), QStringLiteral("3650"));
    w.page->setDays(30);

    w.save(3, 40);
    w.world.settle();
    ASSERT_TRUE(w.find("history.deleteOld")->isEnabled());
    w.click(w.find<ui::PillButton>("history.deleteOld"));
    ASSERT_EQ(w.prompts.questions.size(), 1u);
    EXPECT_EQ(w.prompts.questions[0].title, "删除 30 天以前的 3 段聊天记录？");
    EXPECT_EQ(w.prompts.questions[0].message, "删除后无法恢复。");
    EXPECT_EQ(w.prompts.questions[0].button, "删除");
    w.prompts.questions[0].confirm();
    w.world.settle();
    EXPECT_EQ(w.history->summaries.get().size(), 2u);
    EXPECT_FALSE(w.find("history.deleteOld")->isEnabled());
}

TEST(HistoryGroups, CountsTakeTheInterfaceLanguagesPluralForms)
{
    HistoryWorld w;
    for (const char* code : {"en", "de", "pl", "zh-Hans"})
        test::loadStringTables(w.world.platform.bundles, code);
    ConversationSession session;
    session.entries.push_back(ConversationEntry{.side = ConversationEntry::Side::them,
                                                .original = "Hello",
                                                .translated = "你好",
                                                .time = rt::clock().date() + (-2 * day)});
    w.history->save(session);
    w.save(1);
    w.page = std::make_unique<settings::HistoryGroups>(w.history, w.world.settings, utc);
    w.page->setDays(1);
    InterfaceLanguage::set("en");
    w.page->show();
    w.world.settle();
    auto detail = [](QWidget* row) { return row->findChild<ui::SidebarRow*>()->detailWidget()->text(); };
    auto rows = w.rows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(detail(rows[0]).startsWith(QStringLiteral("12 sentences · "))) << detail(rows[0]).toStdString();
    EXPECT_TRUE(detail(rows[1]).startsWith(QStringLiteral("1 sentence · "))) << detail(rows[1]).toStdString();
    w.click(w.find<ui::PillButton>("history.deleteOld"));
    ASSERT_EQ(w.prompts.questions.size(), 1u);
    EXPECT_EQ(w.prompts.questions[0].title, "Delete 1 conversation older than 1 day?");

    InterfaceLanguage::set("de");
    w.world.settle();
    rows = w.rows();
    EXPECT_TRUE(detail(rows[1]).startsWith(QStringLiteral("1 Satz · "))) << detail(rows[1]).toStdString();
    EXPECT_TRUE(detail(rows[0]).startsWith(QStringLiteral("12 Sätze · "))) << detail(rows[0]).toStdString();
    InterfaceLanguage::set("pl");
    w.world.settle();
    rows = w.rows();
    EXPECT_TRUE(detail(rows[0]).startsWith(QStringLiteral("12 zdań · "))) << detail(rows[0]).toStdString();
    EXPECT_TRUE(detail(rows[1]).startsWith(QStringLiteral("1 zdanie · "))) << detail(rows[1]).toStdString();

    // The Chinese key reads as it always did.
    InterfaceLanguage::set("zh-Hans");
    w.world.settle();
    EXPECT_TRUE(detail(w.rows()[1]).startsWith(QStringLiteral("1 句 · ")));
    EXPECT_EQ(w.listTitle(), QStringLiteral("已保存（2）"));
}

TEST(HistoryGroups, DeleteAllEmptiesTheStoreAfterAsking)
{
    HistoryWorld w;
    w.save(3);
    w.open();
    w.click(w.button(w.rows()[1], "history.row.view"));
    w.click(w.find<ui::PillButton>("history.deleteAll"));
    ASSERT_EQ(w.prompts.questions.size(), 1u);
    EXPECT_EQ(w.history->summaries.get().size(), 3u) << "nothing goes before the answer";
    EXPECT_EQ(w.prompts.questions[0].title, "删除全部聊天记录？");
    EXPECT_EQ(w.prompts.questions[0].message, "删除后无法恢复。");
    EXPECT_EQ(w.prompts.questions[0].button, "全部删除");
    w.prompts.questions[0].confirm();
    w.world.settle();
    EXPECT_TRUE(w.history->summaries.get().empty());
    EXPECT_FALSE(w.page->openSession());
    EXPECT_EQ(w.text("history.state"), QStringLiteral("还没有保存的聊天记录。"));
}

// A folder that refuses removals: nothing is shown as deleted that is
// still on disk, and the user hears why, once per delete.
TEST(HistoryGroups, DeletesTheFolderRefusesAreToldAndTheListShowsWhatIsOnDisk)
{
    HistoryWorld w;
    test::ReadOnlyFolder readOnly(w.history->directory());
    w.save(3);
    w.open();
    readOnly.setReadOnly(true);
    const std::string told = "有的聊天记录无法从 " + w.history->directory().string() + " 删除（" + readOnly.reason()
        + "），仍保留在列表中。";
    w.click(w.button(w.rows()[0], "history.row.delete"));
    EXPECT_EQ(w.prompts.alerts, std::vector<std::string>{told});
    EXPECT_EQ(w.history->summaries.get().size(), 3u);
    w.click(w.find<ui::PillButton>("history.deleteAll"));
    ASSERT_EQ(w.prompts.questions.size(), 1u);
    w.prompts.questions[0].confirm();
    w.world.settle();
    EXPECT_EQ(w.prompts.alerts, (std::vector<std::string>{told, told}));
    EXPECT_EQ(w.rows().size(), 3) << "the list shows what is on disk";
    EXPECT_EQ(ConversationHistory::rebuildIndex(w.history->directory()).size(), 3u);

    // Writable again: deleted, and nothing to tell.
    readOnly.setReadOnly(false);
    w.click(w.button(w.rows()[0], "history.row.delete"));
    EXPECT_EQ(w.history->summaries.get().size(), 2u);
    EXPECT_EQ(w.prompts.alerts.size(), 2u);
}

TEST(HistoryGroups, ExportOpensTheDialogAndAnUnreadableSessionIsTold)
{
    HistoryWorld w;
    w.save(2);
    w.open();
    w.click(w.button(w.rows()[0], "history.row.export"));
    EXPECT_EQ(w.exports, 1);
    EXPECT_TRUE(w.prompts.alerts.empty());

    std::filesystem::path file = HistoryFiles::sessionFile(w.history->directory(), w.ids[1]);
    std::ofstream(file, std::ios::trunc) << "{ not json";
    w.click(w.button(w.rows()[1], "history.row.export"));
    EXPECT_EQ(w.exports, 1);
    ASSERT_EQ(w.prompts.alerts.size(), 1u);
    EXPECT_EQ(w.prompts.alerts[0].rfind("导出失败：", 0), 0u);
    EXPECT_EQ(w.prompts.alerts[0],
              "导出失败：" + HistoryFiles::sessionFile({}, w.ids[1]).string() + ": not a readable conversation");
    // "查看" on it unfolds nothing.
    w.click(w.button(w.rows()[1], "history.row.view"));
    EXPECT_FALSE(w.page->openSession());
}

// Over three sessions, the newest two named by their first sentences: a title as
// long as the history keeps ends with "…". Tab runs down the page as it is
// drawn: each row's buttons, then its open transcript, before the clean-up
// below them, also once the rows are made again. In an Arabic interface a
// Latin sentence still runs left to right, its "?" at its end.
TEST(HistoryGroups, TitlesTabOrderAndEachSentencesOwnDirection)
{
    HistoryWorld w;
    w.save(1);
    const std::string question = "Where is the train station?";
    std::string longest;
    while (longest.size() < 130)
        longest += "Station ";
    for (const std::string& first : {question, longest}) {
        ConversationSession session;
        session.entries.push_back(ConversationEntry{
            .original = first, .translated = first, .time = rt::clock().date() + std::ssize(w.ids) * 60.0});
        w.history->save(session);
        w.ids.insert(w.ids.begin(), session.id);
    }
    w.open();
    auto title = [&](int row) { return w.rows()[row]->findChild<ui::SidebarRow*>()->labelWidget()->text(); };
    EXPECT_EQ(title(0).toStdString(), longest.substr(0, ConversationSummary::previewLength - 1) + "…");
    EXPECT_EQ(title(1).toStdString(), question);

    auto order = [&] {
        QStringList names;
        int lowest = -1;
        QWidget* start = w.find("history.save");
        for (QWidget* at = start->nextInFocusChain(); at != start; at = at->nextInFocusChain()) {
            if (!at->isVisibleTo(w.page.get()) || !at->isEnabled() || !(at->focusPolicy() & Qt::TabFocus)
                || !w.page->isAncestorOf(at))
                continue;
            const int y = at->mapTo(w.page.get(), QPoint(0, 0)).y();
            if (y < lowest)
                names << QStringLiteral("UP:");
            lowest = std::max(lowest, y);
            names << at->objectName();
        }
        return names.join(QLatin1Char(' ')).toStdString();
    };
    const std::string row = "history.row.view history.row.export history.row.delete";
    EXPECT_EQ(order(), "history.search " + row + " " + row + " " + row + " history.days history.deleteAll");
    w.click(w.button(w.rows()[1], "history.row.view"));
    EXPECT_EQ(order(),
              "history.search " + row + " " + row + " history.transcript.list " + row
                  + " history.days history.deleteAll");

    auto* list = w.find<settings::TranscriptView>("history.transcript.list");
    ASSERT_NE(list, nullptr);
    // The sentence as drawn in each direction: the same run of letters,
    // at the leading edge of each.
    auto sentence = [&](Qt::LayoutDirection direction) {
        // As the program sets it for an Arabic interface.
        QApplication::setLayoutDirection(direction);
        w.page->setLayoutDirection(direction);
        w.world.settle();
        const QImage shot = list->viewport()->grab().toImage();
        const int below = QFontMetrics(ui::Look::font(10, QFont::DemiBold)).height() + 2;
        QRect ink;
        for (int y = below; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (qGray(shot.pixel(x, y)) < 128)
                    ink |= QRect(x, y, 1, 1);
        return shot.copy(ink);
    };
    const QImage leftToRight = sentence(Qt::LeftToRight);
    const QImage rightToLeft = sentence(Qt::RightToLeft);
    w.snapshot(QStringLiteral("rtl-latin-sentence"));
    QApplication::setLayoutDirection(Qt::LeftToRight);
    ASSERT_FALSE(leftToRight.isNull());
    ASSERT_EQ(leftToRight.height(), rightToLeft.height());
    // Placed at a fraction of a pixel apart, the two may differ by a column.
    ASSERT_LE(std::abs(leftToRight.width() - rightToLeft.width()), 1);
    const int width = std::min(leftToRight.width(), rightToLeft.width());
    double difference = 0;
    for (int y = 0; y < leftToRight.height(); ++y)
        for (int x = 0; x < width; ++x)
            difference += std::abs(qGray(leftToRight.pixel(x, y)) - qGray(rightToLeft.pixel(x, y)));
    EXPECT_LT(difference / (width * leftToRight.height()), 40.0) << difference / (width * leftToRight.height());
}
