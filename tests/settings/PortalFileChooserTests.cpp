#include "UiWorld.h"

#include "history/ConversationExport.h"
#include "settings/ExportPanel.h"
#include "settings/PortalFileChooser.h"
#include "settings/Prompter.h"
#include "support/ScopedEnvironment.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace parlaro;
using settings::PortalFileChooser;

namespace {

// 2024-03-05 14:03:00 UTC.
const rt::Date firstTime = rt::Date::fromUnix(1709647380);
const LocaleContext utc{"zh-Hans-CN", "UTC"};

std::vector<ConversationEntry> conversation()
{
    return {ConversationEntry{.side = ConversationEntry::Side::them,
                              .original = "Hello",
                              .translated = "你好",
                              .time = firstTime,
                              .originalLanguage = "en",
                              .translatedLanguage = "zh-Hans"}};
}

// The portal's side of the bus: answers SaveFile with the request's handle
// (or refuses it) and later says what the user chose on that handle.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != QLatin1String(PortalFileChooser::interface)
            || message.member() != QStringLiteral("SaveFile")) {
            return false;
        }
        calls.append(message);
        if (refuse) {
            connection.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not here")));
            return true;
        }
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(2));
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        handle = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/')
            + options.value(QStringLiteral("handle_token")).toString();
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
        return true;
    }

    void respond(uint code, const QString& file = {}, const QString& filterLabel = {}, const QString& pattern = {})
    {
        QVariantMap results;
        if (!file.isEmpty())
            results.insert(QStringLiteral("uris"), QStringList{QUrl::fromLocalFile(file).toString()});
        if (!filterLabel.isEmpty()) {
            QDBusArgument filter;
            filter.beginStructure();
            filter << filterLabel;
            filter.beginArray(qMetaTypeId<QPair<uint, QString>>());
            filter.beginStructure();
            filter << 0u << pattern;
            filter.endStructure();
            filter.endArray();
            filter.endStructure();
            results.insert(QStringLiteral("current_filter"), QVariant::fromValue(filter));
        }
        QDBusMessage signal = QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                                         QStringLiteral("Response"));
        signal << code << results;
        bus_.send(signal);
    }

    QList<QDBusMessage> calls;
    QString handle;
    bool refuse = false;

private:
    QDBusConnection bus_;
};

// The labels and patterns of the "filters" option, in order.
std::vector<std::pair<QString, QString>> filtersOf(const QVariant& option)
{
    std::vector<std::pair<QString, QString>> filters;
    const auto argument = option.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QString label;
        argument.beginStructure();
        argument >> label;
        argument.beginArray();
        while (!argument.atEnd()) {
            uint kind = 0;
            QString pattern;
            argument.beginStructure();
            argument >> kind >> pattern;
            argument.endStructure();
            filters.emplace_back(label, pattern);
        }
        argument.endArray();
        argument.endStructure();
    }
    argument.endArray();
    return filters;
}

struct Alerts final : settings::Prompter {
    void confirm(QWidget*, const std::string&, const std::string&, const std::string&, std::function<void()>) override
    {
    }
    void alert(QWidget*, const std::string& message) override { alerts.push_back(message); }
    std::vector<std::string> alerts;
};

// A fallback the test can see being opened.
struct RecordedDialog final : settings::SaveDialog {
    explicit RecordedDialog(QString* opened) : opened_(opened) {}
    void open(QWidget*, const QString& fileName, const QStringList&, const QString&) override { *opened_ = fileName; }
    QString fileName() const override { return {}; }
    void setFileName(const QString&) override {}
    QString* opened_;
};

// A session bus of the test's own, from a private dbus-daemon, with the
// client's connection and the fake portal's. Its configuration names no
// service folders, so a desktop portal installed on the machine is neither
// listed as activatable nor started by a call.
class PortalFileChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed, so the portal's file chooser is not tested";
        bus_.start(daemon,
                   {QStringLiteral("--config-file=" PARLARO_PRIVATE_BUS_CONFIG), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
        ASSERT_TRUE(bus_.waitForStarted(5000));
        ASSERT_TRUE(bus_.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("client")));
        portalBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("portal")));
        ASSERT_TRUE(client->isConnected());
        ASSERT_TRUE(portalBus->isConnected());
        qDBusRegisterMetaType<QPair<uint, QString>>();
        portal = std::make_unique<FakePortal>(*portalBus);
        home = std::make_unique<QTemporaryDir>();
        homeVariable = std::make_unique<test::ScopedEnvironment>("HOME", home->path().toStdString());
    }

    void TearDown() override
    {
        client.reset();
        portalBus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        if (bus_.state() != QProcess::NotRunning) {
            bus_.terminate();
            bus_.waitForFinished(5000);
        }
    }

    void startPortal()
    {
        ASSERT_TRUE(portalBus->registerService(QString::fromLatin1(PortalFileChooser::service)));
        ASSERT_TRUE(portalBus->registerVirtualObject(QString::fromLatin1(PortalFileChooser::path), portal.get()));
    }

    settings::ExportPanel::DialogFactory portalDialogs()
    {
        return [this] {
            auto chooser = std::make_unique<PortalFileChooser>(
                *client, [this] { return std::make_unique<RecordedDialog>(&fallbackOpened); });
            lastChooser = chooser.get();
            return chooser;
        };
    }

    test::UiWorld world;
    Alerts prompts;
    settings::Prompter::Scope promptScope{prompts};
    std::unique_ptr<QDBusConnection> client;
    std::unique_ptr<QDBusConnection> portalBus;
    std::unique_ptr<FakePortal> portal;
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<test::ScopedEnvironment> homeVariable;
    QString fallbackOpened;
    QPointer<PortalFileChooser> lastChooser;

private:
    QProcess bus_;
};

}  // namespace

TEST_F(PortalFileChooserTest, TheDesktopsDialogGetsTheNameFolderAndFormatsAndItsAnswerIsWritten)
{
    EXPECT_FALSE(PortalFileChooser::available(*client)) << "no portal on the bus yet";
    startPortal();
    EXPECT_TRUE(PortalFileChooser::available(*client));

    settings::ExportPanel::Scope scope{portalDialogs(), utc};
    settings::ExportPanel::exportSession(conversation());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal->calls.isEmpty(); }, 5000));
    const QDBusMessage call = portal->calls.front();
    ASSERT_EQ(call.arguments().size(), 3);
    EXPECT_EQ(call.arguments().at(0).toString(), QString()) << "no X window to stand over offscreen";
    EXPECT_EQ(call.arguments().at(1).toString(), QStringLiteral("导出"));
    const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().at(2));
    EXPECT_EQ(options.value(QStringLiteral("current_name")).toString(), QStringLiteral("Parlaro 2024-03-05 14.03.txt"));
    EXPECT_EQ(options.value(QStringLiteral("current_folder")).toByteArray(), QFile::encodeName(home->path()) + '\0')
        << "home, never the working folder";
    EXPECT_TRUE(options.value(QStringLiteral("modal")).toBool());
    const auto filters = filtersOf(options.value(QStringLiteral("filters")));
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0], std::make_pair(QStringLiteral("文本（.txt）"), QStringLiteral("*.txt")));
    EXPECT_EQ(filters[1],
              std::make_pair(QStringLiteral("表格（.csv，可用 Excel 或 Numbers 打开）"), QStringLiteral("*.csv")));

    // The user picks the table format and a folder of their own.
    QTemporaryDir chosen;
    const QString file = chosen.filePath(QStringLiteral("call.csv"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal->handle.isEmpty(); }, 5000));
    portal->respond(0, file, filters[1].first, QStringLiteral("*.csv"));
    // Written in the background once the answer is in.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            world.settle();
            return QFile::exists(file);
        },
        5000));
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll().toStdString(), ConversationExport::csv(conversation(), utc));
    EXPECT_TRUE(prompts.alerts.empty());
    EXPECT_EQ(settings::ExportPanel::startFolder(), chosen.path()) << "the next export starts there";
    EXPECT_TRUE(fallbackOpened.isEmpty());
}

TEST_F(PortalFileChooserTest, CancelWritesNothingAndARefusalOpensTheOtherDialog)
{
    startPortal();
    settings::ExportPanel::Scope scope{portalDialogs(), utc};
    settings::ExportPanel::exportSession(conversation());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal->handle.isEmpty(); }, 5000));
    portal->respond(1);
    // The export lets its dialog go once it has the answer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastChooser.isNull(); }, 5000));
    world.settle();
    EXPECT_TRUE(QDir(home->path()).isEmpty(QDir::Files));
    EXPECT_TRUE(prompts.alerts.empty());

    // A portal that refuses the request: the export goes on in the other dialog.
    portal->refuse = true;
    settings::ExportPanel::exportSession(conversation());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fallbackOpened.isEmpty(); }, 5000));
    EXPECT_EQ(fallbackOpened, QStringLiteral("Parlaro 2024-03-05 14.03.txt"));
}
