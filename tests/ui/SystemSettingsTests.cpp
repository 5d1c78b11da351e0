#include "UiWorld.h"

#include "platform/ResourceBundles.h"
#include "speech/InterfaceLanguage.h"
#include "ui/SystemSettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace parlaro;

namespace {

struct Desktop {
    explicit Desktop(QStringList installed) : installed(std::move(installed))
    {
        hooks.findExecutable = [this](const QString& name) {
            return this->installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
        };
        hooks.start = [this](const QString& program, const QStringList& arguments) {
            started.push_back((program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '))).trimmed().toStdString());
            return startWorks;
        };
        hooks.openUrl = [this](const QUrl& url) {
            browsed.push_back(url.toString().toStdString());
            return true;
        };
        hooks.explain = [this](const QString& text) { explained.push_back(text.toStdString()); };
    }
    QStringList installed;
    bool startWorks = true;
    ui::DesktopSystemSettings::Hooks hooks;
    std::vector<std::string> started;
    std::vector<std::string> browsed;
    std::vector<std::string> explained;
};

const std::string microphone = ui::paneId::microphone;

}  // namespace

TEST(SystemSettings, SoundPanesOpenTheFirstInstalledToolElseExplainTheStep)
{
    test::UiWorld world;
    Desktop both({QStringLiteral("systemsettings"), QStringLiteral("pavucontrol")});
    ui::DesktopSystemSettings(both.hooks).open(microphone);
    ui::DesktopSystemSettings(both.hooks).open(ui::paneId::callAudioCapture);
    EXPECT_EQ(
        both.started,
        (std::vector<std::string>{"/usr/bin/systemsettings kcm_pulseaudio", "/usr/bin/systemsettings kcm_pulseaudio"}));

    // A tool that fails to start gives way to the next.
    Desktop failing({QStringLiteral("gnome-control-center"), QStringLiteral("pavucontrol")});
    failing.startWorks = false;
    ui::DesktopSystemSettings(failing.hooks).open(microphone);
    EXPECT_EQ(failing.started.size(), 2u);
    ASSERT_EQ(failing.explained.size(), 1u);
    EXPECT_EQ(failing.explained[0], "请在桌面的声音设置中选择麦克风和声音输出。");

    Desktop none({});
    ui::DesktopSystemSettings desktop(none.hooks);
    desktop.open(ui::paneId::keyboardAccess);
    desktop.open(ui::paneId::spokenContent);
    desktop.open("pane:somethingElse");
    desktop.open("https://example.invalid/download");
    ASSERT_EQ(none.explained.size(), 3u) << "no pane is ever met with nothing";
    EXPECT_EQ(none.explained[0],
              "要让 Parlaro 读取键盘，请把你的账户加入 input 组：在终端中运行 sudo usermod -aG input "
              "$USER，然后注销并重新登录，再回到这里即可。在 X11 桌面上无需任何设置。");
    EXPECT_EQ(none.explained[1], "朗读使用 espeak-ng 的语音；请用系统的软件包管理器安装所需语言的语音。");
    EXPECT_EQ(none.explained[2], "无法打开这个页面：pane:somethingElse");
    EXPECT_EQ(none.browsed, (std::vector<std::string>{"https://example.invalid/download"}));
    EXPECT_TRUE(none.started.empty());
}

TEST(SystemSettings, AScopeInstallsARecorderForTests)
{
    ui::RecordingSystemSettings recorder;
    {
        ui::SystemSettings::Scope scope(recorder);
        ui::SystemSettings::shared().open(microphone);
    }
    EXPECT_EQ(recorder.opened, std::vector<std::string>{microphone});
    EXPECT_NE(&ui::SystemSettings::shared(), &recorder);
}

// The shortcut row sends a user here when the keyboards cannot be read: the explanation must say how to
// grant that, in the language the user reads, not that nothing is needed.
TEST(SystemSettings, TheKeyboardPaneTellsHowToJoinTheInputGroup)
{
    test::UiWorld world;
    Desktop none({});
    const std::string keyboardPane = ui::paneId::keyboardAccess;
    ui::DesktopSystemSettings desktop(none.hooks);
    desktop.open(keyboardPane);

    QFile file(QStringLiteral(PARLARO_SOURCE_DIR "/resources/i18n/en/ui.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    StringTable english;
    const auto entries = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        english[it.key().toStdString()] = it.value().toString().toStdString();
    world.platform.bundles.setTable("en", english);
    InterfaceLanguage::set("en");
    desktop.open(keyboardPane);

    ASSERT_EQ(none.explained.size(), 2u);
    EXPECT_NE(none.explained[0], none.explained[1]) << "the English table translates it";
    for (const auto& text : none.explained)
        EXPECT_NE(text.find("sudo usermod -aG input $USER"), std::string::npos) << text;
    EXPECT_NE(none.explained[1].find("input group"), std::string::npos) << none.explained[1];
    EXPECT_TRUE(none.started.empty()) << "no keyboard panel grants this";
}
