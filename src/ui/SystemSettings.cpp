#include "ui/SystemSettings.h"

#include "ui/Text.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

namespace parlaro::ui {

namespace {

SystemSettings* installed = nullptr;

void showExplanation(const QString& text)
{
    QMessageBox box(QMessageBox::Information, q(localized("提示")), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("systemSettings.explanation"));
    box.exec();
}

}  // namespace

SettingsPane paneFor(const std::string& url)
{
    if (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0)
        return SettingsPane::web;
    if (url == paneId::microphone || url == paneId::callAudioCapture)
        return SettingsPane::sound;
    if (url == paneId::keyboardAccess)
        return SettingsPane::keyboardAccess;
    if (url == paneId::spokenContent)
        return SettingsPane::spokenContent;
    return SettingsPane::unknown;
}

SystemSettings& SystemSettings::shared()
{
    if (installed)
        return *installed;
    static DesktopSystemSettings desktop;
    return desktop;
}

SystemSettings::Scope::Scope(SystemSettings& settings) : previous_(std::exchange(installed, &settings))
{
}

SystemSettings::Scope::~Scope()
{
    installed = previous_;
}

DesktopSystemSettings::DesktopSystemSettings(Hooks hooks) : hooks_(std::move(hooks))
{
    if (!hooks_.findExecutable)
        hooks_.findExecutable = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    if (!hooks_.start)
        hooks_.start = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    if (!hooks_.openUrl)
        hooks_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!hooks_.explain)
        hooks_.explain = showExplanation;
}

void DesktopSystemSettings::open(const std::string& url)
{
    switch (paneFor(url)) {
    case SettingsPane::web: {
        QUrl address(QString::fromStdString(url), QUrl::StrictMode);
        if (address.isValid() && hooks_.openUrl(address))
            return;
        hooks_.explain(q(localized("无法打开这个页面：%@", url)));
        return;
    }
    case SettingsPane::sound: {
        struct Tool {
            const char* program;
            QStringList arguments;
        };
        const Tool tools[] = {
            {"gnome-control-center", {QStringLiteral("sound")}},
            {"systemsettings", {QStringLiteral("kcm_pulseaudio")}},
            {"pavucontrol", {}},
        };
        for (const auto& tool : tools) {
            auto path = hooks_.findExecutable(QString::fromLatin1(tool.program));
            if (!path.isEmpty() && hooks_.start(path, tool.arguments))
                return;
        }
        hooks_.explain(q(localized("请在桌面的声音设置中选择麦克风和声音输出。")));
        return;
    }
    case SettingsPane::keyboardAccess:
        // Asked for only when the keyboards under /dev/input cannot be read; no desktop panel grants that,
        // membership of the input group does.
        hooks_.explain(q(localized(
            "要让 Parlaro 读取键盘，请把你的账户加入 input 组：在终端中运行 sudo usermod -aG input $USER，然后注销并重新登录，再回到这里即可。在 X11 桌面上无需任何设置。")));
        return;
    case SettingsPane::spokenContent:
        hooks_.explain(q(localized("朗读使用 espeak-ng 的语音；请用系统的软件包管理器安装所需语言的语音。")));
        return;
    case SettingsPane::unknown:
        hooks_.explain(q(localized("无法打开这个页面：%@", url)));
        return;
    }
}

}  // namespace parlaro::ui
