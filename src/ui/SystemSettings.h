#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <string>
#include <vector>

namespace parlaro::ui {

// Which part of the desktop's settings an identifier asks for. The views
// name panes by the identifiers of the settings they mean
// ("x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone"),
// and this seam decides what stands for them here.
enum class SettingsPane { sound, inputMonitoring, spokenContent, web, unknown };
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
