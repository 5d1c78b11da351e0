#include "CallScreenWorld.h"
#include "StringTableFiles.h"

#include "app/LanguageBar.h"
#include "app/Spinner.h"
#include "model/AppModel.h"
#include "speech/InterfaceLanguage.h"
#include "ui/LanguagePicker.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"

#include "UiWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <optional>

namespace parlaro::test {
namespace {

using app::LanguageBar;

class LanguageBarTest : public testing::Test {
protected:
    LanguageBarTest()
    {
        test::given.set(w.model->myLanguage, *CallLanguage::find("zh-Hans"));
        test::given.set(w.model->theirLanguage, *CallLanguage::find("en"));
        w.settle();
        w.show(bar, {560, 44});
    }

    QStringList ids(QComboBox* picker)
    {
        QStringList out;
        for (int i = 0; i < picker->count(); ++i)
            out << picker->itemData(i).toString();
        return out;
    }

    // The tooltip and what a screen reader hears describe the language
    // shown: its state, or nothing where the name says all.
    static void describesItsLanguage(QComboBox* picker)
    {
        const QString label = picker->currentText();
        const QString tip = ui::LanguagePicker::nameOf(label) == label ? QString() : label;
        EXPECT_EQ(picker->toolTip(), tip) << label.toStdString();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(picker)->text(QAccessible::Description), tip);
    }

    CallScreenWorld w;
    LanguageBar bar{w.model};
};

TEST_F(LanguageBarTest, PickersListTheModelsChoicesWithReadinessLabels)
{
    EXPECT_FALSE(ids(bar.myPicker()).contains(QStringLiteral("en")));
    EXPECT_FALSE(ids(bar.theirPicker()).contains(QStringLiteral("zh-Hans")));
    EXPECT_EQ(bar.myPicker()->currentData().toString(), QStringLiteral("zh-Hans"));
    EXPECT_EQ(bar.theirPicker()->currentData().toString(), QStringLiteral("en"));

    auto menu = ModelTestAccess::myMenu(*w.model).get();
    menu["ja"] = LanguageReadiness{.engine = SpeechEngine::speech, .speechInstalled = false};
    test::given.set(ModelTestAccess::myMenu(*w.model), menu);
    w.settle();
    int ja = bar.myPicker()->findData(QStringLiteral("ja"));
    ASSERT_GE(ja, 0);
    EXPECT_EQ(bar.myPicker()->itemText(ja),
              QString::fromStdString(w.model->languageMenuLabel(*CallLanguage::find("ja"), true)));
    EXPECT_TRUE(bar.myPicker()->itemText(ja).startsWith(QStringLiteral("日语  ·  ")));
}

TEST_F(LanguageBarTest, APickAsksTheModelAndThePickerKeepsTheModelsLanguage)
{
    // Japanese needs a model download here, so the change waits for an answer.
    auto menu = ModelTestAccess::myMenu(*w.model).get();
    menu["ja"] = LanguageReadiness{.engine = SpeechEngine::speech, .speechInstalled = false};
    test::given.set(ModelTestAccess::myMenu(*w.model), menu);
    w.settle();
    w.world.sessions.clear();
    ModelTestAccess::languageServices(*w.model).speechInstalled =
        [](CallLanguage language, SpeechEngine) -> rt::Async<bool> { co_return language.id != "ja"; };
    for (QComboBox* picker : {bar.myPicker(), bar.theirPicker()})
        describesItsLanguage(picker);
    int ja = bar.myPicker()->findData(QStringLiteral("ja"));
    ASSERT_GE(ja, 0);
    bar.myPicker()->setCurrentIndex(ja);
    emit bar.myPicker()->activated(ja);
    EXPECT_EQ(bar.myPicker()->currentData().toString(), QStringLiteral("zh-Hans"));
    describesItsLanguage(bar.myPicker());
    w.settle();
    ASSERT_TRUE(w.model->pendingLanguageChange.get().has_value());
    EXPECT_EQ(w.model->pendingLanguageChange.get()->my.id, "ja");
    EXPECT_EQ(w.model->pendingLanguageChange.get()->their.id, "en");
    EXPECT_EQ(bar.myPicker()->currentData().toString(), QStringLiteral("zh-Hans"));
    w.model->keepLanguages();

    // Swap: the other side's language becomes the user's.
    QTest::mouseClick(bar.swapButton(), Qt::LeftButton, {}, bar.swapButton()->capsuleRect().center());
    w.settle();
    EXPECT_EQ(w.model->myLanguage.get().id, "en");
    EXPECT_EQ(w.model->theirLanguage.get().id, "zh-Hans");
    EXPECT_EQ(bar.myPicker()->currentData().toString(), QStringLiteral("en"));
    EXPECT_EQ(bar.theirPicker()->currentData().toString(), QStringLiteral("zh-Hans"));
}

TEST_F(LanguageBarTest, StatusMarkAndDisabling)
{
    EXPECT_TRUE(bar.spinner()->isHidden());
    EXPECT_TRUE(bar.warning()->isHidden());
    EXPECT_EQ(bar.swapButton()->toolTip(), QStringLiteral("互换两边的语言"));
    EXPECT_TRUE(bar.swapButton()->isEnabled());

    test::given.set(w.model->theirEngine, std::nullopt);
    w.settle();
    EXPECT_FALSE(bar.warning()->isHidden());
    EXPECT_EQ(bar.warning()->toolTip(),
              QStringLiteral("本机无法识别英语：你说的话会翻译给对方，但对方说话不会显示字幕。"));
    // The mark says what it warns about, on hover and to a screen reader.
    EXPECT_EQ(bar.warning()->accessibleName(), bar.warning()->toolTip());
    const QPoint middle = bar.warning()->rect().center();
    QHelpEvent hover(QEvent::ToolTip, middle, bar.warning()->mapToGlobal(middle));
    QApplication::sendEvent(bar.warning(), &hover);
    EXPECT_EQ(QToolTip::text(), bar.warning()->toolTip());
    QToolTip::hideText();
    // Swapped, the pair still works one way: I would speak English.
    EXPECT_TRUE(bar.swapButton()->isEnabled());
    EXPECT_TRUE(bar.myPicker()->isEnabled());
    EXPECT_TRUE(bar.theirPicker()->isEnabled());

    test::given.set(w.model->theirEngine, SpeechEngine::speech).set(w.model->myEngine, std::nullopt);
    w.settle();
    EXPECT_FALSE(bar.warning()->isHidden());
    EXPECT_EQ(bar.warning()->toolTip(),
              QStringLiteral("本机无法识别中文：不能按住说话，请打字；对方说话照常显示字幕。"));
    EXPECT_TRUE(bar.swapButton()->isEnabled());
    snapshot(bar, "languagebar", "my-language-unheard");

    // Neither side heard, either way round: no swap helps.
    test::given.set(w.model->theirEngine, std::nullopt);
    w.settle();
    EXPECT_EQ(bar.warning()->toolTip(), QStringLiteral("本机无法识别中文和英语，两种语言至少要有一种能识别"));
    EXPECT_EQ(bar.warning()->accessibleName(), bar.warning()->toolTip());
    EXPECT_FALSE(bar.swapButton()->isEnabled());
    test::given.set(w.model->myEngine, SpeechEngine::speech).set(w.model->theirEngine, std::nullopt);

    test::given.set(w.model->isChangingLanguage, true);
    w.settle();
    EXPECT_FALSE(bar.spinner()->isHidden());
    EXPECT_TRUE(bar.warning()->isHidden());
    EXPECT_EQ(bar.spinner()->toolTip(), QStringLiteral("正在准备新语言…"));
    EXPECT_FALSE(bar.myPicker()->isEnabled());
    EXPECT_FALSE(bar.theirPicker()->isEnabled());
    snapshot(bar, "languagebar", "changing");
    test::given.set(w.model->isChangingLanguage, false).set(w.model->theirEngine, SpeechEngine::speech);

    test::given.set(w.model->isSpeaking, true);
    w.settle();
    EXPECT_FALSE(bar.myPicker()->isEnabled());
    EXPECT_FALSE(bar.swapButton()->isEnabled());
    test::given.set(w.model->isSpeaking, false);
    w.settle();
    EXPECT_TRUE(bar.myPicker()->isEnabled());
}

TEST_F(LanguageBarTest, ClosedPickersShowWholeNamesWithTheStateInTheTooltipInEveryLanguage)
{
    // Every language needs something on both sides, so every item carries a
    // readiness note.
    auto mine = ModelTestAccess::myMenu(*w.model).get();
    auto theirs = ModelTestAccess::theirMenu(*w.model).get();
    for (const auto& language : CallLanguage::all()) {
        mine[language.id] = LanguageReadiness{.engine = SpeechEngine::speech, .translationSupported = true};
        theirs[language.id] = LanguageReadiness{.engine = SpeechEngine::speech, .translationSupported = true};
    }
    test::given.set(ModelTestAccess::myMenu(*w.model), mine);
    test::given.set(ModelTestAccess::theirMenu(*w.model), theirs);
    for (const auto& entry : InterfaceLanguage::supported())
        loadStringTables(w.world.platform.bundles, entry.code);

    for (const auto& entry : InterfaceLanguage::supported()) {
        InterfaceLanguage::set(entry.code);
        w.settle();
        for (QComboBox* combo : {bar.myPicker(), bar.theirPicker()}) {
            auto* picker = qobject_cast<ui::LanguagePicker*>(combo);
            ASSERT_NE(picker, nullptr);
            EXPECT_GE(picker->width(), 110);
            const int shown = picker->currentIndex();
            for (int i = 0; i < picker->count(); ++i) {
                picker->setCurrentIndex(i);
                w.settle();
                const QString label = picker->itemText(i);
                const QString name = ui::LanguagePicker::nameOf(label);
                ASSERT_TRUE(label.contains(QString::fromUtf8(ui::LanguagePicker::separator)))
                    << entry.code << " " << label.toStdString();
                EXPECT_EQ(picker->shownText(), name);
                EXPECT_LE(picker->fontMetrics().horizontalAdvance(name), picker->textRect().width())
                    << entry.code << ": " << name.toStdString() << " is cut";
                EXPECT_EQ(picker->toolTip(), label) << entry.code;
            }
            picker->setCurrentIndex(shown);
        }
        if (entry.code == "de")
            snapshot(bar, "languagebar", "german-with-states");
    }

    // Open, the list shows every label whole.
    InterfaceLanguage::set("de");
    w.settle();
    auto* picker = bar.theirPicker();
    picker->showPopup();
    int widest = 0;
    for (int i = 0; i < picker->count(); ++i)
        widest = std::max(widest, picker->view()->fontMetrics().horizontalAdvance(picker->itemText(i)));
    EXPECT_GE(picker->view()->width(), widest);
    picker->hidePopup();

    // Picked in the open list by the keyboard, the picker has the focus
    // back before its index changes, and a screen reader reads it then: it
    // is already described by the language picked.
    struct FocusWitness : QObject {
        std::optional<QString> description;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::FocusIn && !description)
                description = QAccessible::queryAccessibleInterface(watched)->text(QAccessible::Description);
            return false;
        }
    } witness;
    picker->window()->activateWindow();
    QApplication::setActiveWindow(picker->window());
    picker->setFocus();
    w.settle();
    ASSERT_TRUE(picker->hasFocus());
    const auto tipOf = [&](int i) {
        const QString label = picker->itemText(i);
        return ui::LanguagePicker::nameOf(label) == label ? QString() : label;
    };
    int next = 0;
    while (next < picker->count() && tipOf(next) == picker->toolTip())
        ++next;
    ASSERT_LT(next, picker->count()) << "no language here is described otherwise";
    const QString picked = tipOf(next);
    picker->showPopup();
    picker->view()->setCurrentIndex(picker->model()->index(next, 0));
    picker->installEventFilter(&witness);
    QTest::keyClick(picker->view(), Qt::Key_Return);
    w.settle();
    ASSERT_TRUE(witness.description) << "the list never gave the focus back";
    EXPECT_EQ(*witness.description, picked) << "the focus came back to the earlier pick's state";
    picker->removeEventFilter(&witness);
    InterfaceLanguage::set("zh-Hans");
    w.settle();
}

}  // namespace
}  // namespace parlaro::test
