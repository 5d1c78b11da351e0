#include "CallScreenWorld.h"

#include "app/ConversationView.h"
#include "app/PartialCard.h"
#include "app/TranscriptCard.h"
#include "model/AppModel.h"
#include "runtime/Time.h"
#include "speech/InterfaceLanguage.h"
#include "ui/Screenful.h"

#include "UiWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>
#include <unicode/locid.h>

namespace parlaro::test {
namespace {

using app::ConversationView;
using app::TranscriptCard;

ConversationEntry entry(ConversationEntry::Side side, std::string original, std::string translated,
                        double secondsSinceEpoch = 0)
{
    ConversationEntry e;
    e.side = side;
    e.original = std::move(original);
    e.translated = std::move(translated);
    e.time = rt::Date::fromUnix(secondsSinceEpoch);
    return e;
}

class ConversationViewTest : public testing::Test {
protected:
    ConversationViewTest()
    {
        test::given.set(w.model->myLanguage, *CallLanguage::find("zh-Hans"));
        test::given.set(w.model->theirLanguage, *CallLanguage::find("en"));
        w.settle();
    }

    QString hintText(const char* name) { return child<QLabel>(view, name)->text(); }

    CallScreenWorld w;
    ConversationView view{w.model};
};

TEST_F(ConversationViewTest, TheHintIsTheOnlyContentUntilSomethingIsSaid)
{
    view.setLocaleContext({"zh-Hans-CN", "UTC"});
    w.show(view, {640, 520});
    EXPECT_FALSE(view.hint()->isHidden());
    EXPECT_EQ(hintText("conversation.hint.title"), QStringLiteral("对方说英语时，中文字幕会出现在这里"));
    EXPECT_EQ(hintText("conversation.hint.detail"),
              QStringLiteral("要说话时，按住下面的按钮说中文，松开后自动翻译成英语播放给对方"));
    EXPECT_EQ(view.cardCount(), 0);
    EXPECT_TRUE(view.themPartial()->isHidden());
    EXPECT_TRUE(view.mePartial()->isHidden());
    snapshot(view, "conversation", "empty");

    // The detail follows the holding mode at once.
    w.model->setTranslateWhileHolding(true);
    w.settle();
    EXPECT_EQ(hintText("conversation.hint.detail"),
              QStringLiteral("要说话时，按住下面的按钮说中文，每说完一句自动翻译成英语播放给对方"));
    // Without a recognizer for my language there is no button to hold, and
    // Return does what the sending mode in force says: with a check first
    // (the default) it only fills the draft.
    test::given.set(w.model->myEngine, std::nullopt);
    w.settle();
    ASSERT_TRUE(w.model->confirmBeforeSend.get());
    EXPECT_EQ(hintText("conversation.hint.detail"),
              QStringLiteral("要说话时，在下面的输入框打中文，回车后翻译成英语，核对后点「播放给对方」"));
    snapshot(view, "conversation", "empty-typing-only");
    w.model->setConfirmBeforeSend(false);
    w.settle();
    EXPECT_EQ(hintText("conversation.hint.detail"),
              QStringLiteral("要说话时，在下面的输入框打中文，回车后自动翻译成英语播放给对方"));
    w.model->setConfirmBeforeSend(true);
    test::given.set(w.model->myEngine, SpeechEngine::speech);
    w.settle();

    // A partial caption alone hides the hint.
    test::given.set(w.model->themPartial, "hello");
    w.settle();
    EXPECT_TRUE(view.hint()->isHidden());
    ASSERT_FALSE(view.themPartial()->isHidden());
    EXPECT_EQ(view.themPartial()->tagText(), QStringLiteral("对方 EN"));
    EXPECT_EQ(view.themPartial()->text()->text(), QStringLiteral("hello"));
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(view.themPartial()->graphicsEffect());
    ASSERT_NE(fade, nullptr);
    EXPECT_DOUBLE_EQ(fade->opacity(), 0.75);

    test::given.set(w.model->mePartial, "你好");
    w.settle();
    ASSERT_FALSE(view.mePartial()->isHidden());
    EXPECT_EQ(view.mePartial()->tagText(), QStringLiteral("我 中"));
    EXPECT_GT(view.mePartial()->y(), view.themPartial()->y());

    // Emptied partials go, and the hint comes back.
    test::given.set(w.model->themPartial, "").set(w.model->mePartial, "");
    w.settle();
    EXPECT_TRUE(view.themPartial()->isHidden());
    EXPECT_FALSE(view.hint()->isHidden());
}

TEST_F(ConversationViewTest, EntriesAreCardsUpdatedInPlaceAndTaggedByTheirOwnLanguages)
{
    view.setLocaleContext({"zh-Hans-CN", "UTC"});
    w.show(view, {640, 620});
    // 14:03:05 UTC.
    auto first = entry(ConversationEntry::Side::them, "How are you?", "…", 50585);
    auto second = entry(ConversationEntry::Side::me, "我很好", "I'm fine", 50590);
    auto third = entry(ConversationEntry::Side::them, "Great", "太好了", 50600);
    first.originalLanguage = "en";
    first.translatedLanguage = "zh-Hans";
    second.originalLanguage = "zh-Hans";
    second.translatedLanguage = "en";
    ModelTestAccess::setEntries(*w.model, {first, second, third});
    test::given.set(w.model->themPartial, "And you").set(w.model->mePartial, "我也");
    w.settle();

    ASSERT_EQ(view.cardCount(), 3);
    EXPECT_TRUE(view.hint()->isHidden());
    auto* card = view.cardFor(first.id);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->translated()->text(), QStringLiteral("…"));
    EXPECT_EQ(child<QLabel>(*card, "card.time")->text(), QStringLiteral("14:03:05"));
    EXPECT_EQ(child<QLabel>(*card, "card.tag")->text(), QStringLiteral("对方 EN"));
    EXPECT_EQ(child<QLabel>(*view.cardFor(second.id), "card.tag")->text(), QStringLiteral("我 中"));
    // In list order, partials below.
    EXPECT_LT(card->y(), view.cardFor(second.id)->y());
    EXPECT_LT(view.cardFor(second.id)->y(), view.cardFor(third.id)->y());
    EXPECT_LT(view.cardFor(third.id)->y(), view.themPartial()->y());
    // Both texts can be selected with the mouse.
    EXPECT_TRUE(card->original()->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(card->translated()->textInteractionFlags() & Qt::TextSelectableByMouse);
    snapshot(view, "conversation", "three-entries");

    // The late translation lands in the same card, keeping a selection.
    card->original()->setSelection(0, 3);
    auto translated = first;
    translated.translated = "你好吗？";
    ModelTestAccess::setEntries(*w.model, {translated, second, third});
    w.settle();
    EXPECT_EQ(view.cardFor(first.id), card);
    EXPECT_EQ(card->translated()->text(), QStringLiteral("你好吗？"));
    EXPECT_EQ(card->original()->selectedText(), QStringLiteral("How"));

    // A language swap or change leaves each card with the languages its
    // entry was spoken in; only an entry that stored none follows the pair.
    test::given.set(w.model->myLanguage, *CallLanguage::find("en"));
    test::given.set(w.model->theirLanguage, *CallLanguage::find("zh-Hans"));
    w.settle();
    EXPECT_EQ(child<QLabel>(*card, "card.tag")->text(), QStringLiteral("对方 EN"));
    EXPECT_EQ(child<QLabel>(*view.cardFor(second.id), "card.tag")->text(), QStringLiteral("我 中"));
    auto fourth = entry(ConversationEntry::Side::them, "你好", "Hello", 50610);
    fourth.originalLanguage = "zh-Hans";
    ModelTestAccess::setEntries(*w.model, {translated, second, third, fourth});
    w.settle();
    EXPECT_EQ(child<QLabel>(*view.cardFor(fourth.id), "card.tag")->text(), QStringLiteral("对方 中"));
    EXPECT_EQ(child<QLabel>(*card, "card.tag")->text(), QStringLiteral("对方 EN"));
    snapshot(view, "conversation", "after-swap");
    test::given.set(w.model->theirLanguage, *CallLanguage::find("ja"));
    w.settle();
    EXPECT_EQ(child<QLabel>(*view.cardFor(third.id), "card.tag")->text(), QStringLiteral("对方 日"));
    // Another zone re-times the cards.
    EXPECT_EQ(child<QLabel>(*card, "card.time")->text(), QStringLiteral("14:03:05"));
    view.setLocaleContext({"zh-Hans-CN", "Asia/Shanghai"});
    EXPECT_EQ(child<QLabel>(*card, "card.time")->text(), QStringLiteral("22:03:05"));

    // A sentence of hundreds of thousands of characters shows a screenful,
    // the rest a screenful at a double click.
    std::string endless;
    while (endless.size() < 300000)
        endless += "endless ";
    auto fifth = entry(ConversationEntry::Side::them, endless, "无尽", 50620);
    ModelTestAccess::setEntries(*w.model, {translated, second, third, fourth, fifth});
    w.settle();
    QLabel* cut = view.cardFor(fifth.id)->original();
    EXPECT_TRUE(cut->text().endsWith(QChar(0x2026)));
    EXPECT_LE(cut->text().size(), ui::screenfulLength + 1);
    QTest::mouseDClick(cut, Qt::LeftButton);
    EXPECT_GT(cut->text().size(), ui::screenfulLength + 1);
    EXPECT_LE(cut->text().size(), 2 * ui::screenfulLength + 1);
    EXPECT_EQ(view.cardFor(fifth.id)->translated()->text(), QStringLiteral("无尽"));

    // A removed entry takes its card with it.
    ModelTestAccess::setEntries(*w.model, {second});
    w.settle();
    EXPECT_EQ(view.cardCount(), 1);
    EXPECT_EQ(view.cardFor(first.id), nullptr);
}

TEST_F(ConversationViewTest, TimesFollowTheInterfaceLanguageNotTheProcessLocale)
{
    // A process without a locale of its own, as with LANG unset.
    const icu::Locale before = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en", "US", "POSIX"), status);
    view.setLocaleContext({"", "UTC"});
    w.show(view, {640, 620});
    auto said = entry(ConversationEntry::Side::them, "How are you?", "你好吗？", 59800);  // 16:36:40 UTC
    ModelTestAccess::setEntries(*w.model, {said});
    InterfaceLanguage::set("zh-Hans");
    w.settle();
    auto* time = child<QLabel>(*view.cardFor(said.id), "card.time");
    EXPECT_EQ(time->text(), QStringLiteral("16:36:40"));
    InterfaceLanguage::set("en");
    w.settle();
    EXPECT_TRUE(time->text().startsWith(QStringLiteral("4:36:40"))) << time->text().toStdString();
    EXPECT_TRUE(time->text().endsWith(QStringLiteral("PM"))) << time->text().toStdString();
    InterfaceLanguage::set("de");
    w.settle();
    EXPECT_EQ(time->text(), QStringLiteral("16:36:40"));
    InterfaceLanguage::set("zh-Hans");
    icu::Locale::setDefault(before, status);
}

TEST_F(ConversationViewTest, FollowsTheNewestContentButNotOnFirstShow)
{
    std::vector<ConversationEntry> entries;
    for (int i = 0; i < 12; ++i)
        entries.push_back(entry(ConversationEntry::Side::them, "sentence " + std::to_string(i), "句子"));
    ModelTestAccess::setEntries(*w.model, entries);
    w.settle();
    w.show(view, {480, 300});
    QScrollBar* bar = view.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);

    // A new entry scrolls to the end once the layout has taken it in.
    entries.push_back(entry(ConversationEntry::Side::me, "新的", "new"));
    ModelTestAccess::setEntries(*w.model, entries);
    w.settle();
    EXPECT_EQ(bar->value(), bar->maximum());

    // A growing partial keeps the view at the end.
    bar->setValue(0);
    test::given.set(w.model->themPartial, "a long partial caption that keeps growing");
    w.settle();
    EXPECT_EQ(bar->value(), bar->maximum());

    // A growing partial leaves every entry card where it was, and the same card.
    std::vector<std::pair<TranscriptCard*, QRect>> before;
    for (const auto& e : entries)
        before.emplace_back(view.cardFor(e.id), view.cardFor(e.id)->geometry());
    for (const char* text :
         {"a long partial caption that keeps growing and growing",
          "a long partial caption that keeps growing and growing until it wraps onto a second line"}) {
        test::given.set(w.model->themPartial, text);
        w.settle();
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(view.cardFor(entries[i].id), before[i].first);
        EXPECT_EQ(before[i].first->geometry(), before[i].second);
    }

    // A translation arriving for an entry is not new content.
    bar->setValue(0);
    entries.front().translated = "第一句";
    ModelTestAccess::setEntries(*w.model, entries);
    w.settle();
    EXPECT_EQ(bar->value(), 0);
}

}  // namespace
}  // namespace parlaro::test
