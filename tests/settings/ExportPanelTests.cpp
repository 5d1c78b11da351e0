#include "UiWorld.h"

#include "history/ConversationExport.h"
#include "settings/ExportPanel.h"
#include "settings/Prompter.h"
#include "speech/InterfaceLanguage.h"
#include "support/ScopedEnvironment.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

using namespace parlaro;
using settings::ExportNaming::withFormat;
using Format = ConversationExport::Format;

namespace {

const LocaleContext utc{"zh-Hans-CN", "UTC"};

// 2024-03-05 14:03:00 UTC.
const rt::Date firstTime = rt::Date::fromUnix(1709647380);

std::vector<ConversationEntry> conversation(bool languages = true)
{
    ConversationEntry them{
        .side = ConversationEntry::Side::them, .original = "Hello", .translated = "你好", .time = firstTime};
    ConversationEntry me{
        .side = ConversationEntry::Side::me, .original = "谢谢", .translated = "Thanks", .time = firstTime + 4};
    if (languages) {
        them.originalLanguage = "en";
        them.translatedLanguage = "zh-Hans";
        me.originalLanguage = "zh-Hans";
        me.translatedLanguage = "en";
    }
    return {them, me};
}

// A dialog the test drives: it records what it was shown and keeps a name
// field the user may edit.
struct FakeDialog final : settings::SaveDialog {
    struct Shown {
        int opened = 0;
        QString fileName;
        QStringList filters;
        QString label;
    };
    explicit FakeDialog(std::shared_ptr<Shown> shown, FakeDialog** current) : shown_(std::move(shown))
    {
        *current = this;
        current_ = current;
    }
    ~FakeDialog() override { *current_ = nullptr; }
    void open(QWidget*, const QString& fileName, const QStringList& filters, const QString& label) override
    {
        ++shown_->opened;
        name = fileName;
        shown_->fileName = fileName;
        shown_->filters = filters;
        shown_->label = label;
    }
    QString fileName() const override { return name; }
    void setFileName(const QString& value) override { name = value; }

    QString name;
    std::shared_ptr<Shown> shown_;
    FakeDialog** current_;
};

struct Prompts final : settings::Prompter {
    void confirm(QWidget*, const std::string&, const std::string&, const std::string&, std::function<void()>) override
    {
    }
    void alert(QWidget*, const std::string& message) override { alerts.push_back(message); }
    std::vector<std::string> alerts;
};

struct ExportWorld {
    test::UiWorld world;
    std::shared_ptr<FakeDialog::Shown> shown = std::make_shared<FakeDialog::Shown>();
    FakeDialog* dialog = nullptr;
    Prompts prompts;
    settings::Prompter::Scope promptScope{prompts};
    settings::ExportPanel::Scope scope{[this] { return std::make_unique<FakeDialog>(shown, &dialog); }, utc};
    QTemporaryDir folder;

    void finish(std::optional<QString> path)
    {
        ASSERT_NE(dialog, nullptr);
        auto finished = dialog->onFinished;
        finished(path);
        world.settle();
    }
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

}  // namespace

TEST(ExportNaming, TheFormatReplacesTheExtensionAndKeepsTheStem)
{
    EXPECT_EQ(withFormat("Parlaro 2024-03-05 14.03.txt", Format::csv), "Parlaro 2024-03-05 14.03.csv");
    EXPECT_EQ(withFormat("Parlaro 2024-03-05 14.03.csv", Format::text), "Parlaro 2024-03-05 14.03.txt");
    EXPECT_EQ(withFormat("x.txt", Format::csv), "x.csv");
    EXPECT_EQ(withFormat("notes", Format::csv), "notes.csv");
    EXPECT_EQ(withFormat(".hidden", Format::text), ".hidden.txt");
    EXPECT_EQ(withFormat("Parlaro 2024-03-05 14.03", Format::csv), "Parlaro 2024-03-05 14.03.csv")
        << "the minutes are no extension";
    EXPECT_EQ(withFormat("notes.md", Format::text), "notes.txt");
    EXPECT_EQ(settings::ExportNaming::offeredName(firstTime, utc), "Parlaro 2024-03-05 14.03.txt");
}

TEST(ExportNaming, TheTitleLineLeavesOutUnknownLanguages)
{
    test::UiWorld world;
    std::string when =
        DateFormats::styled(firstTime, DateFormats::Style::longStyle, DateFormats::Style::shortStyle, utc);
    EXPECT_EQ(settings::ExportNaming::titleLine(conversation(), utc), "wenmora 通话记录 · " + when + " · 英语 ⇄ 中文");
    EXPECT_EQ(settings::ExportNaming::titleLine(conversation(false), utc), "wenmora 通话记录 · " + when);
}

TEST(ExportPanel, EmptyEntriesOpenNothing)
{
    ExportWorld w;
    settings::ExportPanel::exportSession({});
    w.world.settle();
    EXPECT_EQ(w.shown->opened, 0);
}

TEST(ExportPanel, TheDialogOffersTheNameAndFollowsTheChosenFormat)
{
    ExportWorld w;
    settings::ExportPanel::exportSession(conversation());
    ASSERT_EQ(w.shown->opened, 1);
    EXPECT_EQ(w.shown->fileName, QStringLiteral("Parlaro 2024-03-05 14.03.txt"));
    EXPECT_EQ(w.shown->label, QStringLiteral("格式："));
    ASSERT_EQ(w.shown->filters.size(), 2);
    EXPECT_TRUE(w.shown->filters[0].startsWith(QStringLiteral("文本（.txt）")));
    EXPECT_TRUE(w.shown->filters[1].endsWith(QStringLiteral("(*.csv)")));

    w.dialog->onFilterChanged(1);
    EXPECT_EQ(w.dialog->name, QStringLiteral("Parlaro 2024-03-05 14.03.csv"));
    w.dialog->onFilterChanged(0);
    EXPECT_EQ(w.dialog->name, QStringLiteral("Parlaro 2024-03-05 14.03.txt"));
    w.dialog->name = QStringLiteral("x.txt");
    w.dialog->onFilterChanged(1);
    EXPECT_EQ(w.dialog->name, QStringLiteral("x.csv"));

    QString path = w.folder.filePath(QStringLiteral("x.csv"));
    w.finish(path);
    QByteArray written = contents(path);
    EXPECT_EQ(written.toStdString(), ConversationExport::csv(conversation(), utc));
    EXPECT_FALSE(written.contains("通话记录")) << "the table has no title line";
    EXPECT_TRUE(w.prompts.alerts.empty());
    EXPECT_EQ(w.dialog, nullptr) << "the dialog goes once it has finished";
}

TEST(ExportPanel, TheTextFileStartsWithTheTitleLineInUtf8)
{
    ExportWorld w;
    settings::ExportPanel::exportSession(conversation());
    QString path = w.folder.filePath(QStringLiteral("chat.txt"));
    w.finish(path);
    QString text = QString::fromUtf8(contents(path));
    std::string when =
        DateFormats::styled(firstTime, DateFormats::Style::longStyle, DateFormats::Style::shortStyle, utc);
    EXPECT_TRUE(text.startsWith(QString::fromStdString("wenmora 通话记录 · " + when + " · 英语 ⇄ 中文")));
    EXPECT_TRUE(text.contains(QStringLiteral("你好")));
}

// Without a pinned locale the file's dates follow the interface language,
// as the window's do, whatever the process locale says.
TEST(ExportPanel, TheFilesDatesFollowTheInterfaceLanguage)
{
    ExportWorld w;
    settings::ExportPanel::Scope unpinned{[&w] { return std::make_unique<FakeDialog>(w.shown, &w.dialog); },
                                          LocaleContext{"", "UTC"}};
    for (const auto& [language, date, time] :
         {std::tuple{"de", "5. März 2024", "14:03:00"}, std::tuple{"zh-Hans", "2024年3月5日", "14:03:00"},
          std::tuple{"en", "March 5, 2024", "2:03:00\u202fPM"}}) {
        InterfaceLanguage::set(language);
        settings::ExportPanel::exportSession(conversation());
        const QString path = w.folder.filePath(QStringLiteral("chat-%1.txt").arg(QString::fromUtf8(language)));
        w.finish(path);
        const std::string text = contents(path).toStdString();
        const std::string heading = text.substr(0, text.find('\n'));
        EXPECT_NE(heading.find(date), std::string::npos) << language << ": " << heading;
        EXPECT_NE(text.find(std::string("\n") + time + "  "), std::string::npos) << language << ": " << text;
    }
}

TEST(ExportPanel, CancelWritesAndShowsNothing)
{
    ExportWorld w;
    settings::ExportPanel::exportSession(conversation());
    w.finish(std::nullopt);
    EXPECT_TRUE(QDir(w.folder.path()).isEmpty());
    EXPECT_TRUE(w.prompts.alerts.empty());

    // Confirmed, the file is made off the main actor under a progress
    // window; its Cancel, or a quit, stops it before anything is written.
    const QString path = w.folder.filePath(QStringLiteral("chat.txt"));
    const auto progress = [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->objectName() == QStringLiteral("export.progress"))
                return qobject_cast<QProgressDialog*>(window);
        return static_cast<QProgressDialog*>(nullptr);
    };
    for (const bool quitting : {false, true}) {
        bool written = false;
        settings::ExportPanel::exportSession(conversation(), nullptr, [&] { written = true; });
        ASSERT_NE(w.dialog, nullptr);
        auto finished = w.dialog->onFinished;
        finished(path);
        EXPECT_FALSE(QFile::exists(path)) << "not written on the main actor";
        ASSERT_NE(progress(), nullptr);
        EXPECT_EQ(progress()->windowTitle(), QStringLiteral("导出"));
        EXPECT_EQ(progress()->findChild<QPushButton*>()->text(), QStringLiteral("取消"));
        if (quitting)
            settings::ExportPanel::stopWriting();
        else
            progress()->findChild<QPushButton*>()->click();
        w.world.settle();
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(written);
        EXPECT_EQ(progress(), nullptr) << "the progress window goes";
    }
    EXPECT_TRUE(w.prompts.alerts.empty());
}

TEST(ExportPanel, AFailedWriteIsToldAndLeavesNoPartialFile)
{
    ExportWorld w;
    // A folder that is not there.
    settings::ExportPanel::exportSession(conversation());
    w.finish(w.folder.filePath(QStringLiteral("gone/chat.txt")));
    ASSERT_EQ(w.prompts.alerts.size(), 1u);
    EXPECT_EQ(w.prompts.alerts[0].rfind("导出失败：", 0), 0u);
    EXPECT_GT(w.prompts.alerts[0].size(), std::string("导出失败：").size()) << "the reason is filled in";
    EXPECT_TRUE(QDir(w.folder.path()).isEmpty());
    // The system's reason keeps its own direction in a right-to-left alert.
    w.world.platform.bundles.setTable("ar", {{"导出失败：%@", "فشل التصدير: %@"}});
    InterfaceLanguage::set("ar");
    settings::ExportPanel::exportSession(conversation());
    w.finish(w.folder.filePath(QStringLiteral("gone/chat.txt")));
    InterfaceLanguage::set("zh-Hans");
    ASSERT_EQ(w.prompts.alerts.size(), 2u);
    const std::string reason = w.prompts.alerts[0].substr(std::string("导出失败：").size());
    EXPECT_EQ(w.prompts.alerts[1], "فشل التصدير: \u2068" + reason + "\u2069");
    w.prompts.alerts.pop_back();

    if (geteuid() == 0)
        return;  // root writes into read-only folders
    QString locked = w.folder.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_EQ(::chmod(locked.toLocal8Bit().constData(), 0555), 0);
    settings::ExportPanel::exportSession(conversation());
    w.finish(locked + QStringLiteral("/chat.txt"));
    ::chmod(locked.toLocal8Bit().constData(), 0755);
    ASSERT_EQ(w.prompts.alerts.size(), 2u);
    EXPECT_EQ(w.prompts.alerts[1].rfind("导出失败：", 0), 0u);
    EXPECT_TRUE(QDir(locked).isEmpty());
}

TEST(ExportPanel, TheDialogOpensAtHomeThenWhereTheLastExportWent)
{
    ExportWorld w;
    QTemporaryDir home;
    test::ScopedEnvironment homeVariable("HOME", home.path().toStdString());
    EXPECT_EQ(settings::ExportPanel::startFolder(), home.path()) << "never the program's working folder";

    QString elsewhere = w.folder.filePath(QStringLiteral("exports"));
    ASSERT_TRUE(QDir().mkdir(elsewhere));
    settings::ExportPanel::exportSession(conversation());
    w.finish(elsewhere + QStringLiteral("/chat.txt"));
    EXPECT_EQ(settings::ExportPanel::startFolder(), elsewhere);

    // A failed export does not move it; a folder since removed falls back home.
    settings::ExportPanel::exportSession(conversation());
    w.finish(w.folder.filePath(QStringLiteral("gone/chat.txt")));
    EXPECT_EQ(settings::ExportPanel::startFolder(), elsewhere);
    ASSERT_TRUE(QDir(elsewhere).removeRecursively());
    EXPECT_EQ(settings::ExportPanel::startFolder(), home.path());
}

TEST(ExportPanel, QtsOwnDialogSpeaksTheInterfaceLanguageAndStillRenamesByFormat)
{
    test::UiWorld world;
    Prompts prompts;
    settings::Prompter::Scope promptScope{prompts};
    settings::ExportPanel::Scope scope{settings::ExportPanel::makeQtFileDialog, utc};
    QTemporaryDir home;
    test::ScopedEnvironment homeVariable("HOME", home.path().toStdString());
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Documents")));
    world.platform.bundles.setTable("zh-Hans", {{"文件夹", "文件夹"}, {"%@ 文件", "%@ 文件"}});
    world.platform.bundles.setTable("de", {{"文件夹", "Ordner"}, {"%@ 文件", "%@-Datei"}});

    QWidget parent;
    settings::ExportPanel::exportSession(conversation(), &parent);
    auto* dialog = parent.findChild<QFileDialog*>(QStringLiteral("export.dialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(home.path()).canonicalPath());
    EXPECT_EQ(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
              QStringLiteral("Parlaro 2024-03-05 14.03.txt"));

    // The kind and date columns come from the interface language.
    auto* columns = dialog->proxyModel();
    ASSERT_NE(columns, nullptr);
    auto* files = qobject_cast<QFileSystemModel*>(columns->sourceModel());
    ASSERT_NE(files, nullptr);
    const QModelIndex folder = files->index(home.filePath(QStringLiteral("Documents")));
    const QModelIndex kind = columns->mapFromSource(folder.siblingAtColumn(2));
    EXPECT_EQ(columns->data(kind).toString(), QStringLiteral("文件夹"));
    const QFileInfo info(home.filePath(QStringLiteral("Documents")));
    EXPECT_EQ(columns->data(columns->mapFromSource(folder.siblingAtColumn(3))).toString(),
              QLocale(QStringLiteral("zh_Hans")).toString(info.lastModified(), QLocale::ShortFormat));
    InterfaceLanguage::set("de");
    EXPECT_EQ(columns->data(kind).toString(), QStringLiteral("Ordner"));
    EXPECT_EQ(settings::ExportPanel::interfaceLocale().language(), QLocale::German);
    InterfaceLanguage::set("zh-Hans");

    // Picking the table renames the file in the name field.
    dialog->selectNameFilter(dialog->nameFilters().at(1));
    emit dialog->filterSelected(dialog->nameFilters().at(1));
    EXPECT_EQ(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
              QStringLiteral("Parlaro 2024-03-05 14.03.csv"));
    dialog->reject();
    world.settle();
    EXPECT_TRUE(prompts.alerts.empty());
}
