#include "AccessibleTree.h"
#include "SheetFixture.h"

#include "runtime/Continuation.h"
#include "settings/MicCheckView.h"
#include "ui/PillButton.h"
#include "ui/SystemSettings.h"

#include "UiWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QComboBox>
#include <QLabel>

namespace parlaro::test {
namespace {

class MicCheckViewTest : public SheetFixture {
protected:
    ui::MicCheckView& view()
    {
        if (!view_) {
            view_ = new ui::MicCheckView(model, window.get());
            view_->setFixedWidth(464);
            views.emplace_back(view_);
            view_->show();
        }
        world.settle();
        return *view_;
    }
    bool shown(const char* name) { return find<QWidget>(name)->isVisible(); }
    ui::MicCheckView* view_ = nullptr;
};

TEST_F(MicCheckViewTest, PreviewsThePickedDeviceWithoutSelectingIt)
{
    int meterUpdates = 0;
    auto& v = view();
    EXPECT_EQ(find<QLabel>("micCheck.title")->text(), "检查麦克风");
    // The field's label has a key of its own: a label opens with a capital
    // where the word in a sentence does not ("Microphone", "microphone").
    EXPECT_EQ(find<QLabel>("micCheck.pickerTitle")->text(), "麦克风");
    EXPECT_FALSE(shown("micCheck.reason"));
    EXPECT_EQ(v.picker()->currentText(), "USB 麦克风");
    EXPECT_EQ(ModelTestAccess::meterPreviewMicID(*model)(), 7u);
    EXPECT_TRUE(ModelTestAccess::metersEnabled(*model)());
    snapshot(v, "miccheck", "devices");

    // Only the user's pick moves the preview; setting the picker does not
    // come back as a pick.
    auto preview = ModelTestAccess::meterPreviewMicID(*model).subscribe([&] { ++meterUpdates; });
    v.picker()->activated(1);
    view();
    EXPECT_EQ(ModelTestAccess::meterPreviewMicID(*model)(), 9u);
    EXPECT_EQ(model->selectedInputID(), 7u);
    EXPECT_EQ(v.picker()->currentText(), "耳机麦克风");
    EXPECT_EQ(meterUpdates, 1);
    // A screen reader reads the pick, and finds the list with its devices.
    EXPECT_EQ(accessibleSummary(v.picker()), QStringLiteral("ComboBox: 麦克风 [耳机麦克风]"));
    EXPECT_EQ(pickerReading(v.picker()), QStringLiteral("耳机麦克风 | USB 麦克风; 耳机麦克风"));

    // The picked device goes away: back to the model's choice.
    world.audio.removeObject(9);
    ModelTestAccess::refreshDevices(*model);
    view();
    EXPECT_EQ(v.candidate(), 7u);
    EXPECT_EQ(ModelTestAccess::meterPreviewMicID(*model)(), 7u);
    EXPECT_EQ(v.picker()->count(), 1);

    // Confirming hands the candidate to the model, which closes the check.
    test::given.set(model->showMicCheck, true);
    EXPECT_TRUE(v.confirmButton()->isEnabled());
    v.confirmButton()->click();
    view();
    EXPECT_TRUE(model->micConfirmed());
    EXPECT_FALSE(model->showMicCheck());
    EXPECT_FALSE(ModelTestAccess::meterPreviewMicID(*model)().has_value());
}

TEST_F(MicCheckViewTest, WithoutDevicesShowsTheNoticeAndCannotConfirm)
{
    world.audio.removeObject(7);
    world.audio.removeObject(9);
    ModelTestAccess::refreshDevices(*model);
    test::given.set(model->micCheckReason, std::string("请先确认要用的麦克风。"));
    auto& v = view();
    EXPECT_TRUE(shown("micCheck.noDevices"));
    EXPECT_EQ(find<QLabel>("micCheck.noDevices")->text(), "没有检测到麦克风。请连接麦克风，列表会自动更新。");
    EXPECT_FALSE(shown("micCheck.devices"));
    EXPECT_TRUE(shown("micCheck.reason"));
    EXPECT_EQ(find<QLabel>("micCheck.reason")->text(), "请先确认要用的麦克风。");
    EXPECT_FALSE(v.confirmButton()->isEnabled());
    snapshot(v, "miccheck", "empty");

    // A microphone plugged in now becomes the candidate.
    world.addMicrophone(11, "mic-11", "新麦克风");
    ModelTestAccess::refreshDevices(*model);
    view();
    EXPECT_EQ(v.candidate(), 11u);
    EXPECT_TRUE(v.confirmButton()->isEnabled());

    find<ui::PillButton>("micCheck.later")->click();
    view();
    EXPECT_FALSE(model->micConfirmed());
    EXPECT_FALSE(model->micCheckReason().has_value());
}

TEST_F(MicCheckViewTest, PermissionAndDeviceErrorsShowTheirLine)
{
    ui::RecordingSystemSettings settings;
    ui::SystemSettings::Scope scope(settings);
    test::given.set(model->micAuthorized, false);
    world.microphoneAuthorized = false;
    view();
    EXPECT_TRUE(shown("micCheck.permission"));
    EXPECT_FALSE(shown("micCheck.error"));
    find<ui::PillButton>("micCheck.openSettings")->click();
    EXPECT_EQ(settings.opened, std::vector<std::string>{ui::paneId::microphone});

    test::given.set(model->micAuthorized, true);
    model->levelMeters()->micError.set(std::string("E"));
    view();
    EXPECT_FALSE(shown("micCheck.permission"));
    EXPECT_TRUE(shown("micCheck.error"));
    EXPECT_EQ(find<QLabel>("micCheck.error")->text(), "无法读取这个麦克风：E");

    // A device's error is shown as written, never read as markup.
    auto* error = find<QLabel>("micCheck.error");
    const int plainWidth = error->sizeHint().width();
    model->levelMeters()->micError.set(std::string("<b>E</b>"));
    view();
    EXPECT_EQ(error->text(), "无法读取这个麦克风：<b>E</b>");
    EXPECT_GT(error->sizeHint().width(), plainWidth + error->fontMetrics().horizontalAdvance(QStringLiteral("<b>")));
}

TEST_F(MicCheckViewTest, AViewGoneWhileThePermissionIsAskedLeavesThePreviewAlone)
{
    std::vector<rt::Continuation<bool>> asked;
    model = world.make([&](AppModel::Dependencies& d) {
        d.microphoneAuthorized = [] { return false; };
        d.microphonePermission = [&asked]() -> rt::Async<bool> {
            co_return co_await rt::withContinuation<bool>([&asked](rt::Continuation<bool> go) { asked.push_back(go); });
        };
    });
    ModelTestAccess::refreshDevices(*model);
    view();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_FALSE(ModelTestAccess::meterPreviewMicID(*model)().has_value());
    views.clear();
    view_ = nullptr;
    asked.front().resume(true);
    world.settle();
    EXPECT_TRUE(ModelTestAccess::metersEnabled(*model)());
    EXPECT_FALSE(ModelTestAccess::meterPreviewMicID(*model)().has_value());
}

}  // namespace
}  // namespace parlaro::test
