#include "settings/ExportPanel.h"

#include "history/ConversationHistory.h"
#include "history/ConversationSession.h"
#include "runtime/Background.h"
#include "runtime/Task.h"
#include "settings/PortalFileChooser.h"
#include "settings/Prompter.h"
#include "speech/Localization.h"
#include "ui/Text.h"

#include "speech/InterfaceLanguage.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>

namespace parlaro::settings {

using ConversationExport::Format;

namespace ExportNaming {

std::string withFormat(const std::string& name, Format format)
{
    std::string stem = name;
    std::size_t dot = stem.rfind('.');
    // A leading dot names a hidden file, and a part without letters is no
    // extension: the offered name ends in the minutes "14.03".
    if (dot != std::string::npos && dot > 0) {
        std::string_view tail = std::string_view(stem).substr(dot + 1);
        bool extension = std::any_of(tail.begin(), tail.end(),
                                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); })
            && std::none_of(tail.begin(), tail.end(), [](char c) { return c == ' '; });
        if (extension)
            stem.erase(dot);
    }
    return stem + "." + ConversationExport::rawValue(format);
}

std::string offeredName(rt::Date first, const LocaleContext& context)
{
    return ConversationExport::defaultFileName(first, context) + "." + ConversationExport::rawValue(Format::text);
}

std::string titleLine(const std::vector<ConversationEntry>& entries, const LocaleContext& context)
{
    std::vector<std::string> parts{localized("wenmora 通话记录")};
    if (!entries.empty()) {
        parts.push_back(DateFormats::styled(entries.front().time, DateFormats::Style::longStyle,
                                            DateFormats::Style::shortStyle, context));
        // The pair comes from the first entry of each side; copying a
        // conversation of hundreds of thousands of entries for it would hold
        // the window.
        ConversationSession firsts;
        for (const auto side : {ConversationEntry::Side::them, ConversationEntry::Side::me}) {
            auto first = std::find_if(entries.begin(), entries.end(),
                                      [side](const ConversationEntry& entry) { return entry.side == side; });
            if (first != entries.end())
                firsts.entries.push_back(*first);
        }
        parts.push_back(ConversationHistory::summary(firsts).languagePairText());
    }
    std::string line;
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        if (!line.empty())
            line += " · ";
        line += part;
    }
    return line;
}

Format formatAt(int filterIndex)
{
    return filterIndex == 1 ? Format::csv : Format::text;
}

}  // namespace ExportNaming

namespace {

// Where the next dialog opens: the folder of the last export, else home.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

// Qt's own dialog lists files through this: the kind of each entry and its
// date follow the interface language, not the process's locale.
class InterfaceLanguageColumns final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        constexpr int kindColumn = 2;
        constexpr int dateColumn = 3;
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || (index.column() != kindColumn && index.column() != dateColumn))
            return QIdentityProxyModel::data(index, role);
        const QFileInfo info = files->fileInfo(mapToSource(index));
        if (index.column() == dateColumn)
            return ExportPanel::interfaceLocale().toString(info.lastModified(), QLocale::ShortFormat);
        if (info.isDir())
            return ui::q(localized("文件夹"));
        if (info.suffix().isEmpty())
            return ui::q(localized("文件"));
        return ui::q(localized("%@ 文件", info.suffix().toStdString()));
    }
};

// Qt's file dialog: the desktop's own where Qt's platform reaches one, else
// Qt's dialog in the interface language, which renames the file when the
// user picks another format. A desktop's chooser shows the name the user
// confirms and the format picked there.
class FileSaveDialog final : public SaveDialog {
public:
    ~FileSaveDialog() override
    {
        if (dialog_) {
            QObject::disconnect(dialog_, nullptr, nullptr, nullptr);
            dialog_->deleteLater();
        }
    }

    void open(QWidget* parent, const QString& fileName, const QStringList& filters, const QString& filterLabel) override
    {
        dialog_ = new QFileDialog(parent);
        dialog_->setObjectName(QStringLiteral("export.dialog"));
        dialog_->setAcceptMode(QFileDialog::AcceptSave);
        dialog_->setFileMode(QFileDialog::AnyFile);
        dialog_->setNameFilters(filters);
        dialog_->setLocale(ExportPanel::interfaceLocale());
        dialog_->setLabelText(QFileDialog::FileType, filterLabel);
        dialog_->setProxyModel(new InterfaceLanguageColumns(dialog_));
        dialog_->setDirectory(ExportPanel::startFolder());
        dialog_->selectFile(fileName);
        QObject::connect(dialog_, &QFileDialog::filterSelected, dialog_, [this, filters](const QString& filter) {
            if (onFilterChanged)
                onFilterChanged(static_cast<int>(filters.indexOf(filter)));
        });
        QObject::connect(dialog_, &QFileDialog::finished, dialog_, [this, filters](int result) {
            std::optional<QString> path;
            if (result == QDialog::Accepted && !dialog_->selectedFiles().isEmpty())
                path = dialog_->selectedFiles().front();
            // The desktop's chooser reports its filter, if at all, with the
            // answer: the format is the one picked there.
            if (path && onFilterChanged && !nameField()) {
                const auto picked = static_cast<int>(filters.indexOf(dialog_->selectedNameFilter()));
                if (picked >= 0)
                    onFilterChanged(picked);
            }
            if (auto finished = onFinished)
                finished(path);
        });
        // Closed with its window before an answer: nothing is written.
        QObject::connect(dialog_, &QObject::destroyed, [this] {
            if (auto finished = onFinished)
                finished(std::nullopt);
        });
        dialog_->open();
    }

    QString fileName() const override
    {
        // The name field of Qt's dialog; the desktop's has none to rename.
        if (QLineEdit* edit = nameField())
            return edit->text();
        return {};
    }

    void setFileName(const QString& name) override
    {
        if (dialog_ && nameField())
            dialog_->selectFile(name);
    }

private:
    QLineEdit* nameField() const
    {
        return dialog_ ? dialog_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
    }

    QPointer<QFileDialog> dialog_;
};

ExportPanel::DialogFactory& factory()
{
    static ExportPanel::DialogFactory installed;
    return installed;
}

LocaleContext& dateContext()
{
    static LocaleContext context;
    return context;
}

// Dates in the file read as in the window: in the interface language, not
// the process locale (a Chinese interface under an English session would
// otherwise export "December 7, 2026 at 11:05 PM").
LocaleContext exportContext()
{
    return DateFormats::forInterfaceLanguage(dateContext());
}

// Keeps the dialog and what the export needs until the dialog finishes.
struct Chooser {
    std::unique_ptr<SaveDialog> dialog;
    Format format = Format::text;
    std::vector<ConversationEntry> entries;
    QPointer<QWidget> parent;
};

// The exports whose dialogs are still open.
std::vector<std::shared_ptr<Chooser>>& openChoosers()
{
    static std::vector<std::shared_ptr<Chooser>> open;
    return open;
}

// A file being made and written off the main actor: what it is made of,
// how far it got, and whether the user (or a quit) stopped it. Shared with
// the worker, which holds nothing of the main actor's.
struct Writing {
    std::vector<ConversationEntry> entries;
    Format format = Format::text;
    QString path;
    LocaleContext context;
    ConversationExport::Labels labels;
    std::string title;
    std::atomic<std::size_t> done{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> written{false};
};

// The exports being written, so that a quit stops them at once.
std::vector<std::weak_ptr<Writing>>& writings()
{
    static std::vector<std::weak_ptr<Writing>> running;
    return running;
}

void stopEveryWriting()
{
    for (const auto& weak : writings()) {
        if (auto writing = weak.lock())
            writing->stopped = true;
    }
}

// Stops every export when the program quits; made once there is an
// application to hear it from.
void stopWritingsAtQuit()
{
    static bool connected = false;
    if (connected || !qApp)
        return;
    connected = true;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { stopEveryWriting(); });
}

// How long a file takes before its progress shows: a short conversation is
// written before a window could be seen.
constexpr int progressDelayMs = 500;
constexpr int progressIntervalMs = 100;

// Makes and writes the file in the background, with a progress window
// whose Cancel stops it; tells a failure, and runs `done` once written.
void writeInBackground(Chooser& chooser, QString path, std::function<void()> done)
{
    stopWritingsAtQuit();
    auto writing = std::make_shared<Writing>();
    writing->format = chooser.format;
    writing->path = std::move(path);
    writing->context = exportContext();
    // Words of the interface language are looked up here: the worker may
    // not touch the settings they come from.
    writing->labels = ConversationExport::labels(chooser.entries);
    if (chooser.format == Format::text)
        writing->title = ExportNaming::titleLine(chooser.entries, writing->context);
    writing->entries = std::move(chooser.entries);
    std::erase_if(writings(), [](const std::weak_ptr<Writing>& weak) { return weak.expired(); });
    writings().push_back(writing);

    auto* progress = new QProgressDialog(chooser.parent);
    progress->setObjectName(QStringLiteral("export.progress"));
    progress->setWindowTitle(ui::q(localized("导出")));
    progress->setCancelButtonText(ui::q(localized("取消")));
    progress->setRange(0, static_cast<int>(std::min<std::size_t>(writing->entries.size(), INT_MAX)));
    progress->setMinimumDuration(progressDelayMs);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    QObject::connect(progress, &QProgressDialog::canceled, [writing] { writing->stopped = true; });
    auto* ticks = new QTimer(progress);
    QObject::connect(ticks, &QTimer::timeout, progress, [progress, writing] {
        progress->setValue(static_cast<int>(std::min<std::size_t>(writing->done, INT_MAX)));
    });
    ticks->start(progressIntervalMs);

    rt::spawn([writing, shown = QPointer<QProgressDialog>(progress), parent = chooser.parent,
               done = std::move(done)]() -> rt::Async<void> {
        std::optional<std::string> failure;
        try {
            failure = co_await rt::runInBackground([writing]() -> std::optional<std::string> {
                const ConversationExport::Progress going = [&writing](std::size_t count) {
                    writing->done = count;
                    return !writing->stopped;
                };
                const std::string contents = writing->format == Format::csv
                    ? ConversationExport::csv(writing->entries, writing->context, writing->labels, going)
                    : ConversationExport::text(writing->entries, writing->title, writing->context, writing->labels,
                                               going);
                if (writing->stopped)
                    return std::nullopt;
                auto failure = ExportPanel::write(writing->path, contents);
                writing->written = !failure;
                return failure;
            });
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (shown)
            shown->deleteLater();
        // Stopped before the file was written: there is none, and nothing
        // is said.
        if (writing->stopped && !writing->written)
            co_return;
        if (failure) {
            Prompter::shared().alert(parent, localized("导出失败：%@", foreignText(*failure)));
            co_return;
        }
        lastFolder() = QFileInfo(writing->path).absolutePath();
        if (done)
            done();
    });
}

}  // namespace

void ExportPanel::exportSession(std::vector<ConversationEntry> entries, QWidget* parent, std::function<void()> written)
{
    if (entries.empty())
        return;
    auto chooser = std::make_shared<Chooser>();
    // Kept until its dialog finishes.
    openChoosers().push_back(chooser);
    chooser->dialog = factory() ? factory()() : makeFileDialog();
    chooser->entries = std::move(entries);
    chooser->parent = parent;
    SaveDialog* dialog = chooser->dialog.get();
    std::weak_ptr<Chooser> weak = chooser;
    dialog->onFilterChanged = [weak](int index) {
        auto self = weak.lock();
        if (!self)
            return;
        self->format = ExportNaming::formatAt(index);
        std::string name = self->dialog->fileName().toStdString();
        if (!name.empty())
            self->dialog->setFileName(ui::q(ExportNaming::withFormat(name, self->format)));
    };
    dialog->onFinished = [weak, written = std::move(written)](std::optional<QString> path) {
        std::shared_ptr<Chooser> self = weak.lock();
        if (!self)
            return;
        // Taken out first: clearing onFinished destroys this closure.
        const std::function<void()> done = written;
        std::erase(openChoosers(), self);
        self->dialog->onFilterChanged = nullptr;
        self->dialog->onFinished = nullptr;
        if (path && !path->isEmpty())
            writeInBackground(*self, *path, done);
        // The dialog may still be on the stack of its own signal.
        QMetaObject::invokeMethod(
            qApp, [keep = std::move(self)] {}, Qt::QueuedConnection);
    };
    QStringList filters{ui::q(localized("文本（.txt）")) + QStringLiteral(" (*.txt)"),
                        ui::q(localized("表格（.csv，可用 Excel 或 Numbers 打开）")) + QStringLiteral(" (*.csv)")};
    dialog->open(parent, ui::q(ExportNaming::offeredName(chooser->entries.front().time, exportContext())), filters,
                 ui::q(localized("格式：")));
}

std::optional<std::string> ExportPanel::write(const QString& path, const std::string& contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString().toStdString();
    if (file.write(contents.data(), static_cast<qint64>(contents.size())) != static_cast<qint64>(contents.size())) {
        std::string reason = file.errorString().toStdString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString().toStdString();
    return std::nullopt;
}

QString ExportPanel::startFolder()
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir())
        return lastFolder();
    return QDir::homePath();
}

QLocale ExportPanel::interfaceLocale()
{
    QString code = ui::q(InterfaceLanguage::current());
    code.replace(QLatin1Char('-'), QLatin1Char('_'));
    return code.isEmpty() ? QLocale::system() : QLocale(code);
}

std::unique_ptr<SaveDialog> ExportPanel::makeFileDialog()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (PortalFileChooser::available(bus))
        return std::make_unique<PortalFileChooser>(bus, makeQtFileDialog);
    return makeQtFileDialog();
}

std::unique_ptr<SaveDialog> ExportPanel::makeQtFileDialog()
{
    return std::make_unique<FileSaveDialog>();
}

ExportPanel::Scope::Scope(DialogFactory installed, LocaleContext context)
    : previousFactory_(std::move(factory())), previousContext_(dateContext())
{
    factory() = std::move(installed);
    dateContext() = std::move(context);
    lastFolder().clear();
}

void ExportPanel::stopWriting()
{
    stopEveryWriting();
}

ExportPanel::Scope::~Scope()
{
    // Dialogs of the scope's factory go with it, finished or not.
    std::vector<std::shared_ptr<Chooser>> open = std::move(openChoosers());
    openChoosers().clear();
    open.clear();
    factory() = std::move(previousFactory_);
    dateContext() = std::move(previousContext_);
}

}  // namespace parlaro::settings
