#include "settings/ExportPanel.h"

#include "history/ConversationHistory.h"
#include "history/ConversationSession.h"
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
#include <QSaveFile>

#include <algorithm>

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
        ConversationSession session{.entries = entries};
        parts.push_back(ConversationHistory::summary(session).languagePairText());
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
    std::string title;
    QPointer<QWidget> parent;
};

// The exports whose dialogs are still open.
std::vector<std::shared_ptr<Chooser>>& openChoosers()
{
    static std::vector<std::shared_ptr<Chooser>> open;
    return open;
}

}  // namespace

void ExportPanel::exportSession(const std::vector<ConversationEntry>& entries, QWidget* parent,
                                std::function<void()> written)
{
    if (entries.empty())
        return;
    auto chooser = std::make_shared<Chooser>();
    // Kept until its dialog finishes.
    openChoosers().push_back(chooser);
    chooser->dialog = factory() ? factory()() : makeFileDialog();
    chooser->entries = entries;
    chooser->title = ExportNaming::titleLine(entries, exportContext());
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
        if (path && !path->isEmpty()) {
            std::string contents = self->format == Format::csv
                ? ConversationExport::csv(self->entries, exportContext())
                : ConversationExport::text(self->entries, self->title, exportContext());
            if (auto failure = write(*path, contents)) {
                Prompter::shared().alert(self->parent, localized("导出失败：%@", foreignText(*failure)));
            } else {
                lastFolder() = QFileInfo(*path).absolutePath();
                if (done)
                    done();
            }
        }
        // The dialog may still be on the stack of its own signal.
        QMetaObject::invokeMethod(
            qApp, [keep = std::move(self)] {}, Qt::QueuedConnection);
    };
    QStringList filters{ui::q(localized("文本（.txt）")) + QStringLiteral(" (*.txt)"),
                        ui::q(localized("表格（.csv，可用 Excel 或 Numbers 打开）")) + QStringLiteral(" (*.csv)")};
    dialog->open(parent, ui::q(ExportNaming::offeredName(entries.front().time, exportContext())), filters,
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
