// The settings pages over a real settings file that refuses every write: an
// unreadable one (a FIFO) the store will not write over, and a readable one
// on a full disk. No handler may let the failure end the program; the user
// is told once in the error alert and each control shows what is in force.

#include "ModelUiWorld.h"
#include "StringTableFiles.h"

#include "audio/SystemAudioRoute.h"
#include "history/ConversationHistory.h"
#include "model/AppModel.h"
#include "model/ModelTestAccess.h"
#include "platform/Platform.h"
#include "platform/linux/JsonFileSettingsStore.h"
#include "platform/sim/SimGlobalKeys.h"
#include "runtime/Error.h"
#include "settings/ErrorAlert.h"
#include "settings/GeneralGroups.h"
#include "settings/HistoryGroups.h"
#include "speech/InterfaceLanguage.h"
#include "support/ScratchMount.h"
#include "support/TempDirectory.h"
#include "ui/HoldShortcut.h"
#include "ui/HoldShortcutCenter.h"
#include "ui/PersistentSwitch.h"
#include "ui/PillButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include <sys/stat.h>

namespace parlaro {
namespace {

namespace fs = std::filesystem;
constexpr quint32 xF5 = 63 + 8;

struct RefusedWorld {
    test::ModelUiWorld world;
    test::TempDirectory home;
    std::unique_ptr<test::ScratchMount> disk;
    std::unique_ptr<sys::JsonFileSettingsStore> store;
    std::optional<PlatformScope> platformScope;
    std::shared_ptr<AppModel> model;
    std::shared_ptr<ConversationHistory> history;
    sim::SimGlobalKeys keys;
    ui::HoldShortcutCenter center{keys};
    QWidget window;
    std::string refusal;
    // What the alert must say, in the interface language.
    std::string told;

    // Opens the store over `file` and checks that it refuses writes.
    void open(const fs::path& file)
    {
        store = std::make_unique<sys::JsonFileSettingsStore>(file);
        try {
            store->set("probe", DefaultsValue(true));
        } catch (const Error& refused) {
            refusal = refused.localizedDescription();
        }
        ASSERT_FALSE(refusal.empty()) << "the store took the write";
        // The interface language reads and writes the same file.
        platformScope.emplace(PlatformServices{store.get(), &world.platform.preferredLanguages, &world.platform.text,
                                               &world.platform.bundles});
        model = world.make([this](AppModel::Dependencies& d) {
            d.defaults = store.get();
            // The takeover's record goes into the same file.
            d.systemRoute = std::make_shared<SystemAudioRoute>(
                *store, [] { return AudioDevices::allDevices(); },
                [](bool input) { return AudioDevices::defaultDeviceID(input); },
                [](AudioObjectId device, bool input) { AudioDevices::setDefaultDevice(device, input); },
                SystemAudioRoute::savedSnapshot(*store));
        });
        history = ConversationHistory::make(home / "History", *store);
        new ui::ErrorAlert(model, &window, [] { return true; });
        new QVBoxLayout(&window);
        window.resize(720, 700);
        window.show();
        world.settle();
    }

    template <class Page>
    Page* add(Page* page)
    {
        window.layout()->addWidget(page);
        page->show();
        world.settle();
        return page;
    }

    QList<QMessageBox*> alerts() const { return window.findChildren<QMessageBox*>(QStringLiteral("errorAlert")); }
    void acknowledge()
    {
        for (QMessageBox* box : alerts())
            box->findChild<QAbstractButton*>(QStringLiteral("errorAlert.ok"))->click();
        world.settle();
    }
    void pressF5()
    {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &window;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F5, {}, xF5, 0, 0);
        QApplication::sendEvent(target, &press);
        world.settle();
    }
};

// Every page and control that writes a setting, against a store that
// refuses: the alert comes once, with the store's words, and goes when
// acknowledged; nothing changes on screen or on disk.
void everyPageHoldsOn(RefusedWorld& w)
{
    auto* historyPage = w.add(new settings::HistoryGroups(w.history, w.model->settingsWriter()));
    auto* saving = historyPage->findChild<ui::PersistentSwitch*>(QStringLiteral("history.save"));
    ASSERT_TRUE(saving->isChecked());
    saving->click();
    w.world.settle();
    EXPECT_TRUE(saving->isChecked()) << "the switch shows that saving is still on";
    EXPECT_TRUE(w.history->isEnabled());
    ASSERT_EQ(w.alerts().size(), 1);
    EXPECT_EQ(w.alerts().front()->text().toStdString(), w.told);

    auto* days = historyPage->findChild<QLineEdit*>(QStringLiteral("history.days"));
    days->setText(QStringLiteral("7"));
    Q_EMIT days->editingFinished();
    w.world.settle();
    EXPECT_EQ(days->text(), QStringLiteral("30")) << "the field shows the age limit in force";
    EXPECT_EQ(w.alerts().size(), 1) << "the same failure is not told twice";
    w.acknowledge();
    EXPECT_TRUE(w.alerts().isEmpty());
    EXPECT_FALSE(w.model->errorMessage.get());

    auto* general = w.add(new settings::GeneralGroups(w.model, &w.center));
    general->findChild<ui::PillButton*>(QStringLiteral("holdShortcut.record"))->click();
    w.world.settle();
    w.pressF5();
    EXPECT_EQ(w.center.shortcut(), std::nullopt) << "a shortcut that could not be stored is not in force";
    EXPECT_TRUE(general->findChild<ui::PillButton*>(QStringLiteral("holdShortcut.record"))->isVisible());
    EXPECT_EQ(w.alerts().size(), 1);
    w.acknowledge();

    auto* language = general->findChild<QComboBox*>(QStringLiteral("general.language"));
    const int english = language->findData(QStringLiteral("en"));
    ASSERT_GT(english, 0);
    language->setCurrentIndex(english);
    Q_EMIT language->activated(english);
    w.world.settle();
    EXPECT_EQ(language->currentIndex(), 0) << "the picker goes back to following the system";
    EXPECT_EQ(InterfaceLanguage::current(), "zh-Hans");
    EXPECT_EQ(w.alerts().size(), 1);
    w.acknowledge();

    EXPECT_FALSE(w.store->has(ConversationHistory::enabledKey));
    EXPECT_EQ(w.store->get<std::int64_t>(settings::HistoryGroups::daysKey).value_or(30), 30);
    EXPECT_FALSE(w.store->has("holdShortcut"));
    EXPECT_FALSE(w.store->has("interfaceLanguage"));
}

TEST(SettingsWriteFailure, AnUnreadableSettingsFileIsNeverWrittenAndNoPageEndsTheProgram)
{
    RefusedWorld w;
    const fs::path file = w.home / "settings.json";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    w.told = "无法读取设置文件 " + file.string() + "；能读取之前，设置无法保存。";
    w.open(file);
    if (testing::Test::HasFatalFailure())
        return;
    everyPageHoldsOn(w);
    EXPECT_TRUE(fs::is_fifo(file)) << "the file the user has is left as it is";
}

TEST(SettingsWriteFailure, AFullDiskUnderASettingsFileTellsTheReasonAndNoPageEndsTheProgram)
{
    RefusedWorld w;
    w.disk = test::ScratchMount::make(w.home / "config", 256 * 1024);
    if (!w.disk)
        GTEST_SKIP() << test::ScratchMount::why();
    const fs::path file = w.home / "config" / "settings.json";
    std::ofstream(file) << R"({"historyDeleteDays": 30})";
    w.disk->fill();
    w.open(file);
    if (testing::Test::HasFatalFailure())
        return;
    // The file the user knows, not the temporary the write went through.
    w.told = "无法保存设置到 " + file.string() + "（No space left on device）。";
    everyPageHoldsOn(w);
}

// The takeover of the default input records how to give it back in the
// settings: a German user whose settings folder refuses it reads why in
// German, naming the settings file, not the temporary the write went
// through.
TEST(SettingsWriteFailure, ARouteThatCannotBeRecordedIsToldInTheUsersLanguageNamingTheSettingsFile)
{
    RefusedWorld w;
    test::ReadOnlyFolder readOnly(w.home / "config");
    const fs::path file = w.home / "config" / "settings.json";
    std::ofstream(file) << R"({"interfaceLanguage": "de"})";
    readOnly.setReadOnly(true);
    test::loadStringTables(w.world.platform.bundles, "de");
    w.world.addMicrophone(10, "usb-mic", "USB");
    w.world.addVirtualDriver();
    w.world.setDefaultInput(10);
    w.open(file);
    if (testing::Test::HasFatalFailure())
        return;
    ModelTestAccess::prepareSession(*w.model);
    EXPECT_EQ(w.model->errorMessage.get(),
              "Die Einstellungen können nicht in " + file.string() + " gespeichert werden (" + readOnly.reason()
                  + ").");
}

}  // namespace
}  // namespace parlaro
