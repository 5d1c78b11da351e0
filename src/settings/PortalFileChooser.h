#pragma once

#include "settings/ExportPanel.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace parlaro::settings {

// The desktop's own save dialog, asked for through the XDG desktop portal's
// FileChooser on a session bus. The portal shows the dialog in the
// desktop's toolkit and language and answers once; the name and the format
// are the ones the user confirmed there, so nothing is renamed meanwhile.
// When the portal refuses the request, the fallback dialog opens instead
// with the same name and formats, so an export is never silently lost.
class PortalFileChooser final : public QObject, public SaveDialog {
    Q_OBJECT
public:
    using Fallback = std::function<std::unique_ptr<SaveDialog>()>;

    PortalFileChooser(QDBusConnection bus, Fallback fallback);
    ~PortalFileChooser() override;

    // True when the bus has the portal running or can start it.
    static bool available(const QDBusConnection& bus);

    void open(QWidget* parent, const QString& fileName, const QStringList& filters,
              const QString& filterLabel) override;
    QString fileName() const override;
    void setFileName(const QString& name) override;

    static constexpr const char* service = "org.freedesktop.portal.Desktop";
    static constexpr const char* path = "/org/freedesktop/portal/desktop";
    static constexpr const char* interface = "org.freedesktop.portal.FileChooser";

private Q_SLOTS:
    void response(uint code, const QVariantMap& results);

private:
    void listen(const QString& handle);
    void stopListening();
    void openFallback();

    QDBusConnection bus_;
    Fallback fallback_;
    std::unique_ptr<SaveDialog> fallbackDialog_;
    QWidget* parent_ = nullptr;
    QString fileName_;
    QStringList filters_;
    QString filterLabel_;
    QString handle_;
    bool answered_ = false;
};

}  // namespace parlaro::settings
