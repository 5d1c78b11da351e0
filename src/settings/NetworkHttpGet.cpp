#include "settings/NetworkHttpGet.h"

#include "runtime/Continuation.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

namespace parlaro::settings {

HttpGet networkHttpGet(QNetworkAccessManager& manager)
{
    QPointer<QNetworkAccessManager> guarded(&manager);
    return [guarded](HttpRequest request) -> rt::Async<HttpResult> {
        co_return co_await rt::withContinuation<HttpResult>([guarded, request](rt::Continuation<HttpResult> done) {
            if (!guarded) {
                done.resume(HttpResult{HttpResult::Kind::otherFailure, 0, {}});
                return;
            }
            QNetworkRequest networkRequest(QUrl(QString::fromStdString(request.url)));
            networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
            networkRequest.setTransferTimeout(request.timeoutMs);
            for (const auto& [name, value] : request.headers)
                networkRequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
            QNetworkReply* reply = guarded->get(networkRequest);
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done]() mutable {
                HttpResult result;
                const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                if (status.isValid()) {
                    result.kind = HttpResult::Kind::response;
                    result.status = status.toInt();
                    result.body = reply->readAll().toStdString();
                } else {
                    result.kind = HttpResult::Kind::connectionFailed;
                }
                reply->deleteLater();
                done.resume(std::move(result));
            });
        });
    };
}

}  // namespace parlaro::settings
