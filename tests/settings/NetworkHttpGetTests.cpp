#include "UiWorld.h"

#include "settings/NetworkHttpGet.h"
#include "settings/UpdateModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace parlaro;
using namespace parlaro::settings;

namespace {

// One HTTP answer per connection, on 127.0.0.1 only; keeps what it was asked.
class LoopbackServer {
public:
    explicit LoopbackServer(QByteArray answer) : answer_(std::move(answer))
    {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n"))
                        return;
                    ++requests_;
                    socket->write(answer_);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }
    const QByteArray& request() const { return request_; }
    int requests() const { return requests_; }

private:
    QTcpServer server_;
    QByteArray answer_;
    QByteArray request_;
    int requests_ = 0;
};

// Answers the first request with `head`, then keeps the connection open,
// sending one more byte every `dripMs` when that is set; notes when the
// client goes away.
class HoldingServer {
public:
    explicit HoldingServer(QByteArray head, int dripMs = 0) : head_(std::move(head))
    {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, [this, dripMs] {
            QTcpSocket* socket = server_.nextPendingConnection();
            socket->setParent(&server_);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                request_ += socket->readAll();
                if (request_.contains("\r\n\r\n") && !answered_) {
                    answered_ = true;
                    socket->write(head_);
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, [this] { clientLeft_ = true; });
            if (dripMs > 0) {
                auto* drip = new QTimer(socket);
                QObject::connect(drip, &QTimer::timeout, socket, [this, socket] {
                    if (answered_)
                        socket->write("1");
                });
                drip->start(dripMs);
            }
        });
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }
    bool answered() const { return answered_; }
    bool clientLeft() const { return clientLeft_; }

private:
    QTcpServer server_;
    QByteArray head_;
    QByteArray request_;
    bool answered_ = false;
    bool clientLeft_ = false;
};

void pumpUntil(test::UiWorld& world, const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        world.runtime.runUntilIdle();
    }
}

QByteArray answer(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Socket traffic is not work the executor knows of: turn both until the
// check ends (bounded, so a fault fails rather than hangs).
void waitWhileChecking(test::UiWorld& world, UpdateModel& model)
{
    QElapsedTimer timer;
    timer.start();
    while (model.phase().kind == UpdateModel::Phase::Kind::checking && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        world.runtime.runUntilIdle();
    }
}

struct Check {
    Check() { manager.setProxy(QNetworkProxy::NoProxy); }
    test::UiWorld world;
    QNetworkAccessManager manager;

    UpdateModel::Phase run(const std::string& origin, std::shared_ptr<UpdateModel>* keep = nullptr)
    {
        auto model = UpdateModel::make(AppInfo{"1.0", true, origin}, networkHttpGet(manager));
        model->check();
        waitWhileChecking(world, *model);
        if (keep)
            *keep = model;
        return model->phase();
    }
};

}  // namespace

TEST(NetworkHttpGet, AsksForTheFeedAsJsonAndReadsTheVersion)
{
    Check check;
    LoopbackServer server(answer(200, R"({"version":"2.0"})"));
    std::shared_ptr<UpdateModel> model;
    EXPECT_EQ(check.run(server.origin(), &model), UpdateModel::Phase::available("2.0"));
    EXPECT_TRUE(server.request().startsWith("GET /updates/latest.json HTTP/1.1\r\n")) << server.request().constData();
    EXPECT_TRUE(server.request().toLower().contains("\r\naccept: application/json\r\n"))
        << server.request().constData();

    // A second check while the first waits sends nothing more.
    model->check();
    model->check();
    waitWhileChecking(check.world, *model);
    EXPECT_EQ(server.requests(), 2);
}

TEST(NetworkHttpGet, StatusesAndBodiesOtherThanAVersionAreTheGeneralFailure)
{
    Check check;
    const UpdateModel::Phase general = UpdateModel::Phase::failed("暂时无法检查更新，请稍后重试。");
    for (const QByteArray& response :
         {answer(304, ""), answer(500, R"({"version":"2.0"})"), answer(404, ""), answer(200, "not json"),
          answer(200, R"(["2.0"])"), answer(200, R"({"version":2})"), answer(200, "{}")}) {
        LoopbackServer server(response);
        EXPECT_EQ(check.run(server.origin()), general) << response.constData();
    }
}

TEST(NetworkHttpGet, AClosedPortIsTheConnectionFailure)
{
    Check check;
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    EXPECT_EQ(check.run("http://127.0.0.1:" + std::to_string(port)),
              UpdateModel::Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));
}

TEST(NetworkHttpGet, RedirectsAreFollowedOnlyWithinTheHttpsOrigin)
{
    for (const char* home : {"https://updates.example/updates/latest.json", "https://updates.example:443/x"}) {
        EXPECT_TRUE(redirectStaysHome(home, "https://updates.example/updates/v2.json")) << home;
        EXPECT_TRUE(redirectStaysHome(home, "https://UPDATES.example:443/updates/v2.json")) << home;
        for (const char* away :
             {"http://updates.example/updates/latest.json", "https://other.example/latest.json",
              "https://updates.example:8443/latest.json", "https://updates.example.other.example/latest.json",
              "https://user@updates.example/latest.json", "file:///etc/passwd", "", "//x"})
            EXPECT_FALSE(redirectStaysHome(home, away)) << home << " -> " << away;
    }
    EXPECT_FALSE(redirectStaysHome("http://updates.example/a", "http://updates.example/b"));

    // On the wire: another host's version is never offered, and it is not
    // even asked.
    Check check;
    LoopbackServer elsewhere(answer(200, R"({"version":"9.0"})"));
    LoopbackServer home("HTTP/1.1 302 Found\r\nLocation: " + QByteArray::fromStdString(elsewhere.origin())
                        + "/updates/latest.json\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(check.run(home.origin()), UpdateModel::Phase::failed("暂时无法检查更新，请稍后重试。"));
    EXPECT_EQ(home.requests(), 1);
    EXPECT_EQ(elsewhere.requests(), 0);
}

TEST(NetworkHttpGet, ABodyOverTheLimitIsNotReadOn)
{
    Check check;
    const UpdateModel::Phase general = UpdateModel::Phase::failed("暂时无法检查更新，请稍后重试。");
    // Announced as huge, or of no stated length and never ending: either
    // way the transfer stops once the limit is passed.
    const QByteArray chunk(128 * 1024, ' ');
    for (const QByteArray& head :
         {"HTTP/1.1 200 OK\r\nContent-Length: 400000000\r\n\r\n" + chunk, "HTTP/1.1 200 OK\r\n\r\n{" + chunk}) {
        HoldingServer server(head);
        EXPECT_EQ(check.run(server.origin()), general);
        pumpUntil(check.world, [&] { return server.clientLeft(); });
        EXPECT_TRUE(server.clientLeft());
    }
    // Up to the limit is read.
    const QByteArray padded = R"({"version":"2.0","notes":")" + QByteArray(64 * 1024 - 28, 'x') + "\"}";
    ASSERT_EQ(padded.size(), 64 * 1024);
    LoopbackServer server(answer(200, padded));
    EXPECT_EQ(check.run(server.origin()), UpdateModel::Phase::available("2.0"));
}

TEST(NetworkHttpGet, AnAnswerThatTricklesPastTheDeadlineFailsAndIsDropped)
{
    Check check;
    HoldingServer server("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", 20);
    auto model = UpdateModel::make(AppInfo{"1.0", true, server.origin()}, networkHttpGet(check.manager));
    model->check();
    pumpUntil(check.world, [&] { return server.answered(); });
    ASSERT_TRUE(server.answered());
    // Bytes keep coming, so the silence limit never strikes; the check's
    // own deadline does.
    check.world.runtime.advance(14.9);
    EXPECT_EQ(model->phase(), UpdateModel::Phase::checking());
    check.world.runtime.advance(0.1);
    check.world.runtime.runUntilIdle();
    EXPECT_EQ(model->phase(), UpdateModel::Phase::failed("无法连接更新服务器，请检查网络连接后重试。"));
    pumpUntil(check.world, [&] { return server.clientLeft(); });
    EXPECT_TRUE(server.clientLeft());
}
