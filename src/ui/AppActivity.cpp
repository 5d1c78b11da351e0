#include "ui/AppActivity.h"

#include <QGuiApplication>
#include <QObject>

namespace parlaro::ui {

namespace {

class QtAppActivity final : public AppActivity {
public:
    rt::Subscription subscribeResignActive(std::function<void()> onResign) override
    {
        auto* context = new QObject();
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, context,
                         [onResign = std::move(onResign)](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationActive)
                                 onResign();
                         });
        return rt::Subscription([context] { delete context; });
    }

    rt::Subscription subscribeBecomeActive(std::function<void()> onBecome) override
    {
        auto* context = new QObject();
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, context,
                         [onBecome = std::move(onBecome)](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive)
                                 onBecome();
                         });
        return rt::Subscription([context] { delete context; });
    }
};

}  // namespace

AppActivity& AppActivity::application()
{
    static QtAppActivity activity;
    return activity;
}

}  // namespace parlaro::ui
