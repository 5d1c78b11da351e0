#pragma once

#include "history/ConversationEntry.h"
#include "history/ConversationExport.h"
#include "history/DateFormats.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace parlaro::settings {

// The rules of the offered file name and of the title line, apart from any
// dialog.
namespace ExportNaming {

// The name with its extension replaced by the format's; a name the user
// typed keeps its stem. A name without an extension (a last dot followed by
// letters) gains one, so "Parlaro 2024-03-05 14.03" keeps its minutes.
std::string withFormat(const std::string& name, ConversationExport::Format format);
// The name first offered for a conversation whose first entry is at `first`.
std::string offeredName(rt::Date first, const LocaleContext& context = {});
// "Parlaro call transcript · <long date, short time> · <language pair>", leaving
// out empty parts.
std::string titleLine(const std::vector<ConversationEntry>& entries, const LocaleContext& context = {});
// The format a dialog's filter row stands for.
ConversationExport::Format formatAt(int filterIndex);

}  // namespace ExportNaming

// A save dialog that does not block: it reports the filter the user picks
// and, once, the chosen path or none for Cancel.
class SaveDialog {
public:
    virtual ~SaveDialog() = default;

    std::function<void(int filterIndex)> onFilterChanged;
    std::function<void(std::optional<QString> path)> onFinished;

    // Shows the dialog with the name field, the filters (the first chosen)
    // and the label of the filter chooser.
    virtual void open(QWidget* parent, const QString& fileName, const QStringList& filters,
                      const QString& filterLabel) = 0;
    virtual QString fileName() const = 0;
    virtual void setFileName(const QString& name) = 0;
};

// Saves a conversation as a text or CSV file the user chooses. Returns at
// once; once the user confirms, the file is made and written in the
// background, a long one with its progress shown and a Cancel that stops
// it, as a quit does. A write that fails is told to the user (nothing is
// written by Cancel or a quit, nothing opens for no entries).
class ExportPanel {
public:
    using DialogFactory = std::function<std::unique_ptr<SaveDialog>()>;

    // `written` runs once the file is written.
    static void exportSession(std::vector<ConversationEntry> entries, QWidget* parent = nullptr,
                              std::function<void()> written = {});
    // Stops every export being written, leaving no file and saying nothing,
    // as the program's quit does.
    static void stopWriting();

    // Writes the contents as UTF-8, all or nothing. The system's reason on
    // failure.
    static std::optional<std::string> write(const QString& path, const std::string& contents);

    // Where the dialog opens: the folder of the last successful export while
    // it exists, else the user's home.
    static QString startFolder();
    // The locale of the interface language, for what Qt's dialog shows.
    static QLocale interfaceLocale();
    // The dialog used when no test installed one: the desktop's own through
    // its portal when the session bus has one, else Qt's file dialog.
    static std::unique_ptr<SaveDialog> makeFileDialog();
    static std::unique_ptr<SaveDialog> makeQtFileDialog();

    // Tests install their dialogs and dates; each scope starts from home.
    class Scope {
    public:
        Scope(DialogFactory factory, LocaleContext context);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        DialogFactory previousFactory_;
        LocaleContext previousContext_;
    };
};

}  // namespace parlaro::settings
