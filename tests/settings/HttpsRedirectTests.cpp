// The update check against a real TLS server on the loopback address, with
// a certificate made for the run and trusted by this process only.

#include "UiWorld.h"

#include "settings/NetworkHttpGet.h"
#include "settings/UpdateModel.h"
#include "support/TempDirectory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace parlaro;
using namespace parlaro::settings;

namespace {

// A self-signed certificate for 127.0.0.1, made with the openssl tool.
struct LoopbackCertificate {
    QSslCertificate certificate;
    QSslKey key;

    static std::optional<LoopbackCertificate> make(const test::TempDirectory& folder)
    {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("openssl"));
        if (tool.isEmpty())
            return std::nullopt;
        const QString keyFile = QString::fromStdString((folder / "key.pem").string());
        const QString certificateFile = QString::fromStdString((folder / "certificate.pem").string());
        QProcess openssl;
        openssl.start(tool,
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                       keyFile, "-out", certificateFile, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                       "subjectAltName=IP:127.0.0.1"});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
            ADD_FAILURE() << "openssl could not make a certificate: " << openssl.readAllStandardError().constData();
            return std::nullopt;
        }
        QFile keyData(keyFile);
        QFile certificateData(certificateFile);
        if (!keyData.open(QIODevice::ReadOnly) || !certificateData.open(QIODevice::ReadOnly))
            return std::nullopt;
        LoopbackCertificate made{QSslCertificate(certificateData.readAll(), QSsl::Pem),
                                 QSslKey(keyData.readAll(), QSsl::Ec, QSsl::Pem)};
        if (made.certificate.isNull() || made.key.isNull())
            return std::nullopt;
        return made;
    }
};

// Trusts the certificate in this process for as long as it lives.
class TrustedForTheTest {
public:
    explicit TrustedForTheTest(const QSslCertificate& certificate) : before_(QSslConfiguration::defaultConfiguration())
    {
        QSslConfiguration trusting = before_;
        trusting.addCaCertificate(certificate);
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
    ~TrustedForTheTest() { QSslConfiguration::setDefaultConfiguration(before_); }

private:
    QSslConfiguration before_;
};

// One answer per connection, chosen by the requested path; keeps the paths
// in the order they were asked. The answer to the path `dripping`, if given,
// never ends: one more byte follows every 20 ms.
class TlsServer {
public:
    using Answers = std::function<QByteArray(const QByteArray& path)>;

    TlsServer(const LoopbackCertificate& identity, Answers answers, QByteArray dripping = {})
        : answers_(std::move(answers)), dripping_(std::move(dripping))
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(identity.certificate);
        configuration.setPrivateKey(identity.key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        server_.setSslConfiguration(configuration);
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                    *request += socket->readAll();
                    if (!request->contains("\r\n\r\n"))
                        return;
                    const QByteArray path = request->split(' ').value(1);
                    paths_.push_back(path.toStdString());
                    socket->write(answers_(path));
                    if (path != dripping_) {
                        socket->disconnectFromHost();
                        return;
                    }
                    auto* drip = new QTimer(socket);
                    QObject::connect(drip, &QTimer::timeout, socket, [socket] { socket->write("1"); });
                    QObject::connect(socket, &QTcpSocket::disconnected, [this] { dripLeft_ = true; });
                    drip->start(20);
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    std::string origin() const { return "https://127.0.0.1:" + std::to_string(server_.serverPort()); }
    const std::vector<std::string>& paths() const { return paths_; }
    // Whether the client went away from the dripping answer.
    bool dripLeft() const { return dripLeft_; }

private:
    QSslServer server_;
    Answers answers_;
    QByteArray dripping_;
    std::vector<std::string> paths_;
    bool dripLeft_ = false;
};

QByteArray redirect(int status, const QByteArray& location)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Moved\r\nLocation: " + location
        + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

QByteArray version(const QByteArray& number)
{
    const QByteArray body = R"({"version":")" + number + R"("})";
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

class HttpsRedirects : public testing::Test {
protected:
    void SetUp() override
    {
        if (!QSslSocket::supportsSsl())
            GTEST_SKIP() << "Qt has no TLS backend here";
        identity = LoopbackCertificate::make(folder);
        if (!identity)
            GTEST_SKIP() << "the openssl tool is not installed";
        trust.emplace(identity->certificate);
        manager.setProxy(QNetworkProxy::NoProxy);
    }

    // Socket traffic is not work the executor knows of: turns both until
    // the condition holds (bounded, so a fault fails rather than hangs).
    void pumpUntil(const std::function<bool()>& done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            world.runtime.runUntilIdle();
        }
    }

    UpdateModel::Phase check(const std::string& origin)
    {
        auto model = UpdateModel::make(AppInfo{"1.0", true, origin}, networkHttpGet(manager));
        model->check();
        pumpUntil([&] { return model->phase().kind != UpdateModel::Phase::Kind::checking; });
        return model->phase();
    }

    test::UiWorld world;
    test::TempDirectory folder;
    std::optional<LoopbackCertificate> identity;
    std::optional<TrustedForTheTest> trust;
    QNetworkAccessManager manager;
};

const UpdateModel::Phase generalFailure = UpdateModel::Phase::failed("暂时无法检查更新，请稍后重试。");

TEST_F(HttpsRedirects, AChainOfThreeWithinTheOriginIsFollowedToTheVersion)
{
    QByteArray origin;
    TlsServer server(*identity, [&origin](const QByteArray& path) {
        if (path == "/updates/latest.json")
            return redirect(302, "/updates/moved.json");
        if (path == "/updates/moved.json")
            return redirect(301, origin + "/feeds/latest.json");
        if (path == "/feeds/latest.json")
            return redirect(307, "stable.json");
        if (path == "/feeds/stable.json")
            return version("2.0");
        return QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    origin = QByteArray::fromStdString(server.origin());
    EXPECT_EQ(check(server.origin()), UpdateModel::Phase::available("2.0"));
    EXPECT_EQ(server.paths(),
              (std::vector<std::string>{"/updates/latest.json", "/updates/moved.json", "/feeds/latest.json",
                                        "/feeds/stable.json"}));
}

TEST_F(HttpsRedirects, FiveAreFollowedAndASixthIsNotEvenAsked)
{
    // /updates/latest.json, then /hop/1 ... /hop/<hops>, which answers.
    auto chain = [](int hops) {
        return [hops](const QByteArray& path) {
            const int at = path.startsWith("/hop/") ? path.mid(5).toInt() : 0;
            return at < hops ? redirect(303, "/hop/" + QByteArray::number(at + 1)) : version("3.1");
        };
    };
    TlsServer five(*identity, chain(5));
    EXPECT_EQ(check(five.origin()), UpdateModel::Phase::available("3.1"));
    EXPECT_EQ(five.paths().size(), 6u);

    TlsServer six(*identity, chain(6));
    EXPECT_EQ(check(six.origin()), generalFailure);
    EXPECT_EQ(six.paths().size(), 6u);
    EXPECT_EQ(six.paths().back(), "/hop/5");
}

TEST_F(HttpsRedirects, AHopOutOfTheOriginEndsTheChainWhereverItComes)
{
    TlsServer elsewhere(*identity, [](const QByteArray&) { return version("9.0"); });
    QByteArray away;
    TlsServer home(*identity, [&away](const QByteArray& path) {
        return path == "/updates/latest.json" ? redirect(302, "/second") : redirect(302, away);
    });
    // Another port of the same host, then plain http on the same port.
    for (const std::string& target :
         {elsewhere.origin() + "/latest.json",
          "http://127.0.0.1:" + home.origin().substr(home.origin().rfind(':') + 1) + "/x"}) {
        away = QByteArray::fromStdString(target);
        const std::size_t asked = home.paths().size();
        EXPECT_EQ(check(home.origin()), generalFailure) << target;
        EXPECT_EQ(home.paths().size(), asked + 2) << target;
    }
    EXPECT_TRUE(elsewhere.paths().empty());
}

TEST_F(HttpsRedirects, OneDeadlineCoversTheWholeChainAndEndsTheHopUnderWay)
{
    TlsServer server(
        *identity,
        [](const QByteArray& path) {
            return path == "/updates/latest.json" ? redirect(302, "/slow.json")
                                                  : QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        },
        "/slow.json");
    auto model = UpdateModel::make(AppInfo{"1.0", true, server.origin()}, networkHttpGet(manager));
    model->check();
    pumpUntil([&] { return server.paths().size() == 2; });
    ASSERT_EQ(server.paths().size(), 2u);
    // Bytes keep coming on the second hop, so no silence limit strikes; the
    // check's own deadline, counted from its start, does.
    world.runtime.advance(14.9);
    EXPECT_EQ(model->phase(), UpdateModel::Phase::checking());
    world.runtime.advance(0.1);
    world.runtime.runUntilIdle();
    EXPECT_EQ(model->phase(), UpdateModel::Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));
    pumpUntil([&] { return server.dripLeft(); });
    EXPECT_TRUE(server.dripLeft());

    // A redirect whose body is still coming when the deadline strikes is
    // not followed.
    TlsServer moving(
        *identity,
        [](const QByteArray&) {
            return QByteArray("HTTP/1.1 302 Found\r\nLocation: /next.json\r\nContent-Length: 1000\r\n\r\n");
        },
        "/updates/latest.json");
    model = UpdateModel::make(AppInfo{"1.0", true, moving.origin()}, networkHttpGet(manager));
    model->check();
    pumpUntil([&] { return moving.paths().size() == 1; });
    world.runtime.advance(15);
    world.runtime.runUntilIdle();
    EXPECT_EQ(model->phase(), UpdateModel::Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));
    pumpUntil([&] { return moving.dripLeft(); });
    // Long enough for a request that was wrongly sent to arrive.
    QElapsedTimer settle;
    settle.start();
    pumpUntil([&] { return settle.elapsed() > 300; });
    EXPECT_EQ(moving.paths(), std::vector<std::string>{"/updates/latest.json"});
}

}  // namespace
