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
