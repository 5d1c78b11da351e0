#include "AccessibleTree.h"
#include "SheetFixture.h"
#include "StringTableFiles.h"
#include "UiWorld.h"
#include "WholeTexts.h"

#include "model/ModelState.h"
#include "model/ModelTestAccess.h"
#include "settings/ErrorAlert.h"
#include "settings/MicCheckView.h"
#include "settings/Prompter.h"
#include "settings/StartupSheet.h"
#include "speech/InterfaceLanguage.h"
#include "ui/LayoutDirectionFollower.h"
#include "ui/Look.h"
#include "ui/PillButton.h"
#include "ui/SymbolView.h"
#include "ui/SystemSettings.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace parlaro::test {
namespace {

using ui::StartupSheet;

class StartupSheetTest : public SheetFixture {
protected:
    StartupSheet& sheet()
    {
        if (!sheet_) {
            sheet_ = new StartupSheet(model, window.get());
            views.emplace_back(sheet_);
        }
        world.settle();
        return *sheet_;
    }
    bool onboardingDone() const { return world.platform.defaults.get<bool>("onboardingDone").value_or(false); }

    StartupSheet* sheet_ = nullptr;
};

TEST_F(StartupSheetTest, ShowsTheTopRequestInOneDialogThatKeepsItsPlaceAcrossHandOvers)
{
    model->openInstallSheet();
    test::given.set(model->showMicCheck, true);
    auto& s = sheet();
    auto* dialog = s.dialog();
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->parentWidget(), window.get());
    EXPECT_EQ(s.page(), StartupSheet::Page::install);
    EXPECT_EQ(dialog->width(), 520);

    model->closeInstallSheet();
    sheet();
    EXPECT_EQ(s.dialog(), dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(s.page(), StartupSheet::Page::micCheck);

    test::given.set(model->showWizard, true);
    model->closeMicCheck();
    sheet();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(s.page(), StartupSheet::Page::wizard);
    EXPECT_EQ(dialog->width(), 620);
    // The content lies inside the padding; the height follows it.
    EXPECT_EQ(s.content()->x(), 28);
    EXPECT_GE(dialog->height(), s.content()->height() + 56);
}

// Where the sheet lies against its window: centred on it and inside it,
// or, taller than the window, from its top edge.
std::string misplaced(const QWidget& sheet, const QWidget& window)
{
    // On the screen, whether the sheet is a window or drawn inside one.
    const QRect area(window.mapToGlobal(QPoint(0, 0)), window.size());
    const QRect at(sheet.mapToGlobal(QPoint(0, 0)), sheet.size());
    std::string fault;
    if (std::abs(at.center().x() - area.center().x()) > 1)
        fault += " not centred across";
    if (at.height() <= area.height() && std::abs(at.center().y() - area.center().y()) > 1)
        fault += " not centred up and down";
    if (at.height() > area.height() && at.top() != area.top())
        fault += " taller than the window yet not at its top";
    if (at.left() < area.left() || at.right() > area.right()
        || (at.height() <= area.height() && (at.top() < area.top() || at.bottom() > area.bottom())))
        fault += " out of the window";
    if (!fault.empty())
        fault += " sheet " + std::to_string(at.x()) + "," + std::to_string(at.y()) + " " + std::to_string(at.width())
            + "x" + std::to_string(at.height()) + " window " + std::to_string(area.x()) + "," + std::to_string(area.y())
            + " " + std::to_string(area.width()) + "x" + std::to_string(area.height());
    return fault;
}

TEST_F(StartupSheetTest, TheSheetStaysCentredOnItsWindowAndInsideItWhateverItsSize)
{
    window->setGeometry(140, 90, 1180, 800);
    test::given.set(model->showWizard, true);
    auto& s = sheet();
    auto* dialog = s.dialog();
    ASSERT_TRUE(dialog->isVisible());
    ASSERT_EQ(dialog->width(), 620);
    EXPECT_EQ(misplaced(*dialog, *window), "");
    // The sheet belongs to the window: the desktop keeps it over it and
    // gives it nothing to minimise or maximise.
    ASSERT_NE(dialog->windowHandle(), nullptr);
    EXPECT_EQ(dialog->windowHandle()->transientParent(), window->windowHandle());
    EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    // Another width, another height: still in the middle.
    test::given.set(model->showMicCheck, true);
    sheet();
    ASSERT_EQ(s.page(), StartupSheet::Page::micCheck);
    EXPECT_EQ(dialog->width(), 520);
    EXPECT_EQ(misplaced(*dialog, *window), "");
    model->closeMicCheck();
    sheet();
    EXPECT_EQ(misplaced(*dialog, *window), "");

    // Content that grows after the sheet opened moves its top up.
    const int before = dialog->y();
    s.content()->setMinimumHeight(s.content()->height() + 120);
    sheet();
    EXPECT_LT(dialog->y(), before);
    EXPECT_EQ(misplaced(*dialog, *window), "");
    // Taller than the window: from its top.
    s.content()->setMinimumHeight(900);
    sheet();
    EXPECT_EQ(misplaced(*dialog, *window), "");
    s.content()->setMinimumHeight(0);
    sheet();

    // The window moves or changes its size: the sheet goes with it.
    window->setGeometry(40, 30, 980, 760);
    sheet();
    EXPECT_EQ(misplaced(*dialog, *window), "");
}

// Across the ink of `text` drawn in `font`, the widest run of blank columns.
int widestInkGap(const QFont& font, const QString& text, Qt::LayoutDirection direction)
{
    const QFontMetrics metrics(font);
    QImage image(metrics.horizontalAdvance(text) + 8, metrics.height() + 4, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setLayoutDirection(direction);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    int widest = 0;
    int blank = -1;
    for (int x = 0; x < image.width(); ++x) {
        bool ink = false;
        for (int y = 0; y < image.height() && !ink; ++y)
            ink = qGray(image.pixel(x, y)) < 160;
        if (ink) {
            widest = std::max(widest, blank);
            blank = 0;
        } else if (blank >= 0) {
            ++blank;
        }
    }
    return widest;
}

// Where the ink of a symbol lies across it, from 0 (left) to 1 (right).
double inkCentre(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    double weighted = 0;
    double total = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double alpha = qAlpha(image.pixel(x, y));
            weighted += alpha * (x + 0.5);
            total += alpha;
        }
    }
    return total > 0 ? weighted / total / image.width() : 0.5;
}

TEST_F(StartupSheetTest, EveryPageInEveryLanguageLiesInsideTheWindowAndReadsWhole)
{
    // Laid out in each language's direction, as the program does.
    ui::LayoutDirectionFollower direction;
    const std::pair<StartupSheet::Page, const char*> pages[] = {
        {StartupSheet::Page::wizard, "wizard"},
        {StartupSheet::Page::micCheck, "miccheck"},
        {StartupSheet::Page::install, "install"},
    };
    for (const auto& language : InterfaceLanguage::supported()) {
        loadStringTables(world.platform.bundles, language.code);
        InterfaceLanguage::set(language.code);
        for (const auto& [page, name] : pages) {
            test::given.set(model->showWizard, page == StartupSheet::Page::wizard);
            test::given.set(model->showMicCheck, page == StartupSheet::Page::micCheck);
            test::given.set(model->showInstallSheet, page == StartupSheet::Page::install);
            for (QSize size : {QSize(1180, 800), QSize(980, 700)}) {
                window->setGeometry(QRect(QPoint(60, 40), size));
                // Opened afresh in each language, as a first start opens it.
                StartupSheet s(model, window.get());
                world.settle();
                ASSERT_TRUE(s.dialog()->isVisible());
                ASSERT_EQ(s.page(), page);
                const std::string where = language.code + " " + name + " " + std::to_string(size.width());
                EXPECT_EQ(misplaced(*s.dialog(), *window), "") << where;
                EXPECT_LE(s.dialog()->height(), size.height()) << where;
                for (const std::string& fault : cutTexts(*s.dialog()))
                    ADD_FAILURE() << where << ": " << fault;
                const bool rightToLeft = language.code == "ar";
                EXPECT_EQ(s.dialog()->layoutDirection(), rightToLeft ? Qt::RightToLeft : Qt::LeftToRight) << where;
                if (page == StartupSheet::Page::wizard) {
                    // The arrow from the user's language to the other's
                    // points the way the line reads.
                    auto* arrow = s.dialog()->findChild<ui::SymbolView*>(QStringLiteral("wizard.pairArrow"));
                    ASSERT_NE(arrow, nullptr) << where;
                    const double ink = inkCentre(arrow->pixmap());
                    if (rightToLeft)
                        EXPECT_LT(ink, 0.47) << where;
                    else
                        EXPECT_GT(ink, 0.53) << where;
                }
                if (page == StartupSheet::Page::micCheck && rightToLeft) {
                    // The level word's joined letters are set as tightly as
                    // the interface font sets them, not pulled apart into
                    // fixed cells.
                    auto* level = s.dialog()->findChild<QLabel*>(QStringLiteral("meterRow.state"));
                    ASSERT_NE(level, nullptr) << where;
                    ASSERT_TRUE(level->isVisible()) << where;
                    const Qt::LayoutDirection reading = level->layoutDirection();
                    EXPECT_LE(widestInkGap(level->font(), level->text(), reading),
                              widestInkGap(ui::Look::font(level->font().pixelSize()), level->text(), reading))
                        << where << " " << level->text().toStdString();
                }
                if (language.code == "en" || language.code == "de" || language.code == "es"
                    || language.code == "zh-Hans" || language.code == "ja" || rightToLeft)
                    snapshot(*s.dialog(), QStringLiteral("startupsheet"),
                             QString::fromStdString(std::string(name) + "-" + language.code
                                                    + (size.width() == 1180 ? "" : "-least")));
            }
            world.settle();
        }
    }
    test::given.set(model->showInstallSheet, false);
    InterfaceLanguage::set("zh-Hans");
}

TEST_F(StartupSheetTest, EscapeOrCloseEndsOnlyTheRequestOnTop)
{
    test::given.set(model->showWizard, true);
    model->openInstallSheet();
    test::given.set(model->showMicCheck, true);
    auto& s = sheet();
    QTest::keyClick(s.dialog(), Qt::Key_Escape);
    sheet();
    EXPECT_FALSE(model->showInstallSheet());
    EXPECT_TRUE(model->showMicCheck());
    EXPECT_TRUE(s.dialog()->isVisible());

    test::given.set(model->micCheckReason, std::string("原因"));
    s.dialog()->close();
    sheet();
    EXPECT_FALSE(model->showMicCheck());
    EXPECT_FALSE(model->micCheckReason().has_value());
    EXPECT_FALSE(ModelTestAccess::meterPreviewMicID(*model)().has_value());
    EXPECT_TRUE(model->showWizard());
    EXPECT_FALSE(onboardingDone());
    EXPECT_TRUE(s.dialog()->isVisible());

    QTest::keyClick(s.dialog(), Qt::Key_Escape);
    sheet();
    EXPECT_FALSE(model->showWizard());
    EXPECT_TRUE(onboardingDone());
    EXPECT_FALSE(s.dialog()->isVisible());
    EXPECT_EQ(s.page(), StartupSheet::Page::none);
}

TEST_F(StartupSheetTest, AModelSideClearClosesTheSheetWithoutCallingAnything)
{
    test::given.set(model->showWizard, true);
    auto& s = sheet();
    ASSERT_TRUE(s.dialog()->isVisible());
    test::given.set(model->showWizard, false);
    sheet();
    EXPECT_FALSE(s.dialog()->isVisible());
    EXPECT_FALSE(onboardingDone());

    // And it opens again on the next request.
    test::given.set(model->showMicCheck, true);
    sheet();
    EXPECT_TRUE(s.dialog()->isVisible());
    EXPECT_EQ(s.page(), StartupSheet::Page::micCheck);
}

TEST_F(StartupSheetTest, EachSwitchToTheMicrophoneCheckStartsFromTheModelsSelection)
{
    test::given.set(model->showWizard, true).set(model->showMicCheck, true);
    auto& s = sheet();
    auto* check = qobject_cast<ui::MicCheckView*>(s.content());
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->candidate(), 7u);
    check->picker()->activated(1);
    EXPECT_EQ(check->candidate(), 9u);

    model->closeMicCheck();
    sheet();
    EXPECT_EQ(s.page(), StartupSheet::Page::wizard);
    test::given.set(model->showMicCheck, true);
    sheet();
    check = qobject_cast<ui::MicCheckView*>(s.content());
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->candidate(), 7u);
    EXPECT_EQ(ModelTestAccess::meterPreviewMicID(*model)(), 7u);

    // A view not yet shown has no candidate at all.
    ui::MicCheckView fresh(model);
    EXPECT_FALSE(fresh.candidate().has_value());
}

TEST_F(StartupSheetTest, ReturnInstallsOnceWhenIdleAndNeverWhileInstalling)
{
    model->openInstallSheet();
    auto& s = sheet();
    auto* install = find<ui::PillButton>("installDriver.install");
    auto* later = find<ui::PillButton>("installDriver.later");
    ASSERT_NE(install, nullptr);

    test::given.set(model->isInstallingDriver, true);
    sheet();
    EXPECT_EQ(install->text(), "正在安装…");
    EXPECT_FALSE(install->isEnabled());
    EXPECT_FALSE(later->isEnabled());
    EXPECT_TRUE(find<QWidget>("installDriver.spinner")->isVisible());
    QTest::keyClick(s.dialog(), Qt::Key_Return);
    sheet();
    EXPECT_EQ(installs, 0);

    test::given.set(model->isInstallingDriver, false);
    sheet();
    EXPECT_FALSE(find<QWidget>("installDriver.spinner")->isVisible());
    QTest::keyClick(s.dialog(), Qt::Key_Return);
    sheet();
    EXPECT_EQ(installs, 1);
    // The failure is shown over the sheet, which stays for another try.
    ASSERT_NE(s.alert()->box(), nullptr);
    EXPECT_EQ(s.alert()->box()->text().toStdString(), "安装 wenmora 音频设备失败：x（VM-5）");
    EXPECT_TRUE(s.dialog()->isVisible());

    later->click();
    sheet();
    EXPECT_FALSE(model->showInstallSheet());
}

TEST_F(StartupSheetTest, ReturnConfirmsTheMicrophoneCheckAndFinishesTheWizard)
{
    test::given.set(model->showWizard, true).set(model->showMicCheck, true);
    auto& s = sheet();
    auto* check = qobject_cast<ui::MicCheckView*>(s.content());
    ASSERT_NE(check, nullptr);
    // Named by its title, the keyboard on its first control.
    EXPECT_EQ(accessibleSummary(s.dialog()), QStringLiteral("Dialog: 检查麦克风"));
    EXPECT_EQ(s.dialog()->focusWidget(), check->picker());
    check->picker()->activated(1);
    QTest::keyClick(s.dialog(), Qt::Key_Return);
    sheet();
    EXPECT_EQ(model->selectedInputID(), 9u);
    EXPECT_TRUE(model->micConfirmed());
    EXPECT_EQ(s.page(), StartupSheet::Page::wizard);
    snapshot(*s.dialog(), "sheet", "wizard");
    // After the check the welcome page takes the keyboard at its first
    // control, and says which of its steps are done.
    EXPECT_EQ(accessibleSummary(s.dialog()), QStringLiteral("Dialog: 欢迎使用Parlaro"));
    EXPECT_EQ(s.dialog()->focusWidget(), find<QWidget>("wizard.myLanguage"));
    EXPECT_EQ(accessibleSummary(find<QWidget>("wizard.step1.badge")), QStringLiteral("StaticText: 已完成"));
    EXPECT_EQ(accessibleSummary(find<QWidget>("wizard.step5.badge")), QStringLiteral("StaticText: 已完成"));
    EXPECT_EQ(accessibleSummary(find<QWidget>("wizard.step4.badge")), QStringLiteral("StaticText: 未完成"));

    // Return with no control of its own in focus is the default button's.
    s.dialog()->setFocus();
    QTest::keyClick(s.dialog(), Qt::Key_Return);
    sheet();
    EXPECT_TRUE(onboardingDone());
    EXPECT_FALSE(s.dialog()->isVisible());
}

// Enter on each control of each sheet the keyboard reaches acts on that
// control as Space does: a button is clicked, a picker opens its list. No
// sheet ends but by a control whose own action ends it.
TEST_F(StartupSheetTest, EnterActsOnTheFocusedControlAndEndsASheetOnlyByItsOwnButtons)
{
    ui::RecordingSystemSettings system;
    ui::SystemSettings::Scope systemScope(system);
    int confirmed = 0;
    auto box = [this](const char* name) { return find<QMessageBox>(name); };
    struct Sheet {
        const char* name;
        std::function<QWidget*()> open;
        std::function<bool()> ended;
        QStringList enders;
    };
    // A sheet the model shows while a flag of its own is up.
    auto byFlag = [&](const char* name, auto& flag, QStringList enders) {
        return Sheet{name,
                     [&] {
                         test::given.set(flag, true);
                         return sheet().dialog();
                     },
                     [&] { return !flag(); }, std::move(enders)};
    };
    const std::vector<Sheet> sheets{
        byFlag("welcome", model->showWizard, {"wizard.later", "wizard.done"}),
        byFlag("microphone check", model->showMicCheck, {"micCheck.later", "micCheck.confirm"}),
        {"driver installation",
         [&] {
             model->openInstallSheet();
             return sheet().dialog();
         },
         [&] { return !model->showInstallSheet(); },
         {"installDriver.later"}},
        {"notice over the sheet",
         [&] {
             test::given.set(model->showWizard, true);
             model->showError(std::string("x（VM-5）"));
             return static_cast<QWidget*>(sheet().alert()->box());
         },
         [&] { return !model->errorMessage().has_value(); },
         {"errorAlert.ok"}},
        {"confirmation",
         [&] {
             settings::Prompter::shared().confirm(window.get(), "删除全部对话？", "无法撤销。", "删除",
                                                  [&] { ++confirmed; });
             world.settle();
             return static_cast<QWidget*>(box("prompter.confirm"));
         },
         [&] { return box("prompter.confirm") == nullptr; },
         {"删除", "取消"}},
    };
    auto controlsOf = [](QWidget* root) {
        std::vector<QWidget*> controls;
        for (QWidget* w = root->nextInFocusChain(); w && w != root; w = w->nextInFocusChain())
            if (root->isAncestorOf(w) && w->isVisibleTo(root) && w->isEnabled()
                && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus)
                controls.push_back(w);
        return controls;
    };
    auto idOf = [](QWidget* control) {
        auto* button = qobject_cast<QAbstractButton*>(control);
        return control->objectName().isEmpty() && button ? button->text() : control->objectName();
    };
    for (const Sheet& sheetCase : sheets) {
        SCOPED_TRACE(sheetCase.name);
        QStringList ids;
        for (QWidget* control : controlsOf(sheetCase.open()))
            ids << idOf(control);
        for (const QString& ender : sheetCase.enders)
            EXPECT_TRUE(ids.contains(ender)) << ender.toStdString();
        for (const QString& id : ids) {
            SCOPED_TRACE(id.toStdString());
            model->dismissSheets();
            world.settle();
            qDeleteAll(window->findChildren<QMessageBox*>(QStringLiteral("prompter.confirm")));
            QWidget* root = sheetCase.open();
            ASSERT_NE(root, nullptr);
            QWidget* control = nullptr;
            for (QWidget* candidate : controlsOf(root))
                if (idOf(candidate) == id)
                    control = candidate;
            ASSERT_NE(control, nullptr);
            control->setFocus(Qt::TabFocusReason);
            auto* button = qobject_cast<QAbstractButton*>(control);
            auto* picker = qobject_cast<QComboBox*>(control);
            std::optional<QSignalSpy> clicks;
            if (button)
                clicks.emplace(button, &QAbstractButton::clicked);
            QTest::keyClick(control, Qt::Key_Return);
            if (picker) {
                EXPECT_TRUE(picker->view()->isVisible()) << "the picker opens its list";
                picker->hidePopup();
            }
            world.settle();
            if (button)
                EXPECT_EQ(clicks->count(), 1) << "the button is clicked";
            EXPECT_EQ(sheetCase.ended(), sheetCase.enders.contains(id));
        }
    }
    EXPECT_EQ(confirmed, 1);
    model->dismissSheets();
    world.settle();
}

// The welcome page and the microphone check alike wait for a window not yet
// shown, then open centred on it. Where the desktop alone places windows
// (Wayland; run on a real compositor too) a dialog window would go wherever
// the desktop likes: there the sheet is drawn inside its window, centred,
// with no window of its own, and Tab goes round its controls only.
TEST_F(StartupSheetTest, EveryPageWaitsForItsWindowAndOpensCentredOnIt)
{
    const bool inWindow = ui::SheetDialog::drawnInWindow();
    for (const bool wizard : {true, false}) {
        SCOPED_TRACE(wizard ? "welcome" : "microphone check");
        window->hide();
        world.settle();
        test::given.set(model->showWizard, wizard).set(model->showMicCheck, !wizard);
        auto* dialog = sheet().dialog();
        EXPECT_FALSE(dialog->isVisible()) << "a sheet before its window";
        // Away from the screen's corner; the compositor may place it anywhere.
        window->setGeometry(140, 90, inWindow ? 900 : 1180, inWindow ? 600 : 800);
        window->show();
        if (inWindow)
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        sheet();
        ASSERT_TRUE(dialog->isVisible());
        EXPECT_EQ(misplaced(*dialog, *window), "");
        EXPECT_EQ(dialog->isWindow(), !inWindow);
        if (!inWindow) {
            EXPECT_EQ(dialog->windowHandle()->transientParent(), window->windowHandle());
        } else {
            for (QWindow* shown : QGuiApplication::topLevelWindows())
                EXPECT_TRUE(!shown->isVisible() || shown == window->windowHandle())
                    << shown->title().toStdString() << " shows as a window of its own";
            for (int tab = 0; tab < 20; ++tab) {
                QWidget* focus = dialog->focusWidget();
                ASSERT_TRUE(focus && dialog->isAncestorOf(focus)) << tab;
                QTest::keyClick(focus, Qt::Key_Tab);
            }
            ASSERT_TRUE(dialog->focusWidget() && dialog->isAncestorOf(dialog->focusWidget()));
        }
        test::given.set(model->showWizard, false).set(model->showMicCheck, false);
        sheet();
        // Gone, it leaves the keyboard to the window, not on a hidden control.
        QWidget* left = window->focusWidget();
        EXPECT_FALSE(left && (left == dialog || dialog->isAncestorOf(left))) << left->objectName().toStdString();
    }
}

// One click on the sheet's button acts even when the sheet changes its
// height while the button is held (coming to the front refreshes what it
// shows): a sheet centred anew would slide the button from under a pointer
// that stays put, and the release would land beside it.
TEST_F(StartupSheetTest, OneClickActsWhenTheSheetChangesWhileTheButtonIsHeld)
{
    window->setGeometry(140, 90, 1180, 800);
    test::given.set(model->showMicCheck, true);
    auto& s = sheet();
    auto* confirm = find<ui::PillButton>("micCheck.confirm");
    ASSERT_TRUE(confirm && confirm->isEnabled());
    const QPoint pointer = confirm->mapToGlobal(confirm->capsuleRect().center());
    const QRect before = s.dialog()->geometry();
    QTest::mousePress(confirm, Qt::LeftButton, {}, confirm->mapFromGlobal(pointer));
    test::given.set(model->micCheckReason, std::optional<std::string>("说话前，请先确认要用的麦克风。"));
    sheet();
    EXPECT_EQ(s.dialog()->geometry(), before) << "the sheet moved under the pointer";
    QTest::mouseRelease(confirm, Qt::LeftButton, {}, confirm->mapFromGlobal(pointer));
    sheet();
    EXPECT_TRUE(model->micConfirmed());
    EXPECT_FALSE(s.dialog()->isVisible());
}

class ErrorAlertTest : public StartupSheetTest {
protected:
    // The window's own alert, up while no sheet is.
    ui::ErrorAlert& windowAlert()
    {
        if (!windowAlert_) {
            windowAlert_ = new ui::ErrorAlert(model, window.get(), [m = model] { return !m->isShowingSheet(); });
            views.emplace_back(windowAlert_);
        }
        world.settle();
        return *windowAlert_;
    }
    ui::ErrorAlert* windowAlert_ = nullptr;
};

TEST_F(ErrorAlertTest, ShowsTheMessageOverTheWindowAndClearsItWhenAcknowledged)
{
    auto& alert = windowAlert();
    sheet();
    EXPECT_EQ(alert.box(), nullptr);
    // A path whose lines may break after its slashes but the first.
    model->showError(std::string("x（VM-5）/\u2060home/a"));
    windowAlert();
    auto* box = alert.box();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->parentWidget(), window.get());
    EXPECT_EQ(box->windowTitle(), "提示");
    EXPECT_EQ(box->text(), QStringLiteral("x（VM-5）/\u2060home/a"));
    // The joiner steers the lines only: a screen reader hears the words.
    auto* message = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(message)->text(QAccessible::Name), "x（VM-5）/home/a");
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons()[0]->text(), "好");
    EXPECT_EQ(sheet_->alert()->box(), nullptr);

    box->buttons()[0]->click();
    windowAlert();
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_EQ(alert.box(), nullptr);
}

TEST_F(ErrorAlertTest, OverTheSheetOnlyTheSheetShowsItEvenForAnEmptyMessage)
{
    auto& alert = windowAlert();
    model->showError(std::string("早先的"));
    windowAlert();
    ASSERT_NE(alert.box(), nullptr);

    // A sheet coming up takes the alert over; the window's goes without
    // clearing the message.
    test::given.set(model->showWizard, true);
    auto& s = sheet();
    windowAlert();
    EXPECT_EQ(alert.box(), nullptr);
    ASSERT_NE(s.alert()->box(), nullptr);
    EXPECT_EQ(s.alert()->box()->parentWidget(), s.dialog());
    EXPECT_EQ(s.alert()->box()->text(), "早先的");

    // A new message replaces the text; the empty one still shows.
    model->showError(std::string());
    sheet();
    ASSERT_NE(s.alert()->box(), nullptr);
    EXPECT_TRUE(s.alert()->box()->isVisible());
    EXPECT_EQ(s.alert()->box()->text(), "");

    // Escape dismisses it, which clears the message too.
    QTest::keyClick(s.alert()->box(), Qt::Key_Escape);
    sheet();
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_EQ(s.alert()->box(), nullptr);
    EXPECT_TRUE(s.dialog()->isVisible());

    // A message the model clears goes without a trace.
    model->showError(std::string("y"));
    sheet();
    ASSERT_NE(s.alert()->box(), nullptr);
    model->dismissError();
    sheet();
    EXPECT_EQ(s.alert()->box(), nullptr);
    EXPECT_EQ(alert.box(), nullptr);
}

}  // namespace
}  // namespace parlaro::test
