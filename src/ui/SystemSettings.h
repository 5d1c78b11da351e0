#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <string>
#include <vector>

namespace parlaro::ui {

// The settings a view sends the user to, by ids of our own; this seam decides
// what stands for each on the desktop. Anything else is a web address or
// unknown.
namespace paneId {
// Which microphone the program hears.
inline constexpr const char* microphone = "pane:microphone";
// What the computer plays, which the program captures for the other side.
inline constexpr const char* callAudioCapture = "pane:call-audio-capture";
// Whether this account may read the keyboards for the hold shortcut.
inline constexpr const char* keyboardAccess = "pane:keyboard-access";
// The voices read-aloud speaks with.
inline constexpr const char* spokenContent = "pane:spoken-content";
}  // namespace paneId

// Which part of the desktop's settings a pane id or address asks for.
enum class SettingsPane { sound, keyboardAccess, spokenContent, web, unknown };
SettingsPane paneFor(const std::string& url);

// Opens a settings pane or a web page. Never does nothing: where no tool
// stands for a pane, it explains the step in a dialog.
class SystemSettings {
public:
    virtual ~SystemSettings() = default;
    virtual void open(const std::string& url) = 0;

    // The installed one (a test's), else the desktop's.
    static SystemSettings& shared();

    class Scope {
    public:
        explicit Scope(SystemSettings& settings);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SystemSettings* previous_;
    };
};

// The Linux desktop: web pages go to the browser; sound panes open the
// first sound tool installed (GNOME's, KDE's, then pavucontrol); panes
// with no counterpart here get an explanation.
class DesktopSystemSettings final : public SystemSettings {
public:
    struct Hooks {
        std::function<QString(const QString&)> findExecutable;
        std::function<bool(const QString&, const QStringList&)> start;
        std::function<bool(const QUrl&)> openUrl;
        std::function<void(const QString&)> explain;
    };
    // Empty hooks take the real desktop's.
    explicit DesktopSystemSettings(Hooks hooks = {});
    void open(const std::string& url) override;

private:
    Hooks hooks_;
};

// Records what was asked, for tests.
class RecordingSystemSettings final : public SystemSettings {
public:
    void open(const std::string& url) override { opened.push_back(url); }
    std::vector<std::string> opened;
};

}  // namespace parlaro::ui
