#include "SheetFixture.h"

#include "settings/InstallDriverView.h"
#include "ui/PillButton.h"

#include "UiWorld.h"
#include "model/ModelState.h"

#include <QLabel>

namespace parlaro::test {
namespace {

class InstallDriverViewTest : public SheetFixture {
protected:
    ui::InstallDriverView& view()
    {
        if (!view_) {
            view_ = new ui::InstallDriverView(model, window.get());
            view_->setFixedWidth(464);
            views.emplace_back(view_);
            view_->show();
        }
        world.settle();
        return *view_;
    }
    QString text(const char* name) { return find<QLabel>(name)->text(); }
    ui::InstallDriverView* view_ = nullptr;
};

TEST_F(InstallDriverViewTest, InstallAndUpdateTextsFollowTheModel)
{
    auto& v = view();
    EXPECT_EQ(text("installDriver.title"), "需要安装 wenmora 音频设备");
    EXPECT_TRUE(text("installDriver.explanation").startsWith("wenmora 是给通话软件用的麦克风和扬声器"));
    EXPECT_EQ(text("installDriver.note"), "安装后，系统声音会短暂中断一两秒，这是正常的。");
    EXPECT_EQ(v.installButton()->text(), "安装");
    snapshot(v, "install", "idle");

    test::given.set(model->virtualMicNeedsUpdate, true);
    view();
    EXPECT_EQ(text("installDriver.title"), "更新 wenmora 音频设备");
    EXPECT_TRUE(text("installDriver.explanation").startsWith("新版 wenmora 同时是麦克风和扬声器"));
    EXPECT_EQ(text("installDriver.note"), "安装后，系统声音会短暂中断一两秒，这是正常的。");
    EXPECT_EQ(v.installButton()->text(), "更新");

    test::given.set(model->isInstallingDriver, true);
    view();
    snapshot(v, "install", "installing");
}

}  // namespace
}  // namespace parlaro::test
