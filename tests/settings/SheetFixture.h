#pragma once

#include "ModelUiWorld.h"

#include "model/AppModel.h"
#include "model/ModelTestAccess.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace parlaro::test {

// A model with two microphones (7 chosen, 9) and a window to present over.
// The installer is counted and always fails, so an installation ends at once.
class SheetFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        world.addMicrophone(7, "mic-7", "USB 麦克风");
        world.addMicrophone(9, "mic-9", "耳机麦克风");
        model = world.make([this](AppModel::Dependencies& d) {
            d.virtualDeviceSource = "/opt/parlaro/wenmora.driver";
            d.ensureVirtualDevices = [this](std::string) -> rt::Async<void> {
                ++installs;
                throw std::runtime_error("x");
                co_return;
            };
        });
        ModelTestAccess::refreshDevices(*model);
        window = std::make_unique<QWidget>();
        window->setObjectName(QStringLiteral("window"));
        window->resize(900, 700);
        window->show();
        world.settle();
    }

    void TearDown() override
    {
        views.clear();
        window.reset();
        world.settle();
    }

    template <class T>
    T* find(const char* name) const
    {
        return window->findChild<T*>(QString::fromUtf8(name));
    }

    ModelUiWorld world;
    std::shared_ptr<AppModel> model;
    std::unique_ptr<QWidget> window;
    std::vector<std::unique_ptr<QObject>> views;
    int installs = 0;
};

}  // namespace parlaro::test
