#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace parlaro {
class AppModel;
}

namespace parlaro::ui {

class ErrorAlert;
class ViewBinding;

// The dialog of the start-up sheet. A close asked for by the user or the
// desktop (Esc, the window's close button) is handed to `onDismiss`, which
// decides what closes; only the sheet itself closes it outright. It belongs
// to its parent's window and sits centred on it, inside it, whatever its
// size becomes. Where the desktop alone places windows (Wayland), a dialog
// window of its own would go wherever the desktop likes: there the sheet is
// drawn inside its window instead, and keeps the keyboard within itself.
class SheetDialog : public QDialog {
    Q_OBJECT
public:
    explicit SheetDialog(QWidget* parent, bool inWindow = drawnInWindow());

    // Whether sheets are drawn inside their windows on this desktop.
    static bool drawnInWindow();
    bool isInWindow() const { return inWindow_; }

    std::function<void()> onDismiss;
    // Ends the dialog without telling anyone.
    void closeQuietly();
    // Centres the sheet on its window again (also after any change of size).
    void place();
    // Puts the keyboard on the sheet's first control.
    void focusFirstControl();
    // A part of the window the sheet leaves in sight wherever it fits above
    // it (the window's level meters, which a check watches).
    void keepInSight(QWidget* part);

    void reject() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QWidget* owner() const;
    // `area` (the window's, its top-left at `origin`) less what lies from the
    // part kept in sight down, where the sheet fits in what is left.
    QRect above(QRect area, QPoint origin) const;
    void fitHeight();
    bool inWindow_ = false;
    bool closing_ = false;
    // A mouse button is held on the sheet: it keeps its size and place
    // until the release, and catches up then.
    bool held_ = false;
    bool pending_ = false;
    QPointer<QWidget> watched_;
    QPointer<QWidget> inSight_;
};

// The window's one sheet. It follows the model's three requests, in the
// order driver installation, microphone check, first-run wizard: it opens
// when any is up, shows the first one up in the same dialog, and closes
// when the model has cleared them all. A dismissal by the user ends only
// the request on top.
class StartupSheet : public QObject {
    Q_OBJECT
public:
    enum class Page { none, install, micCheck, wizard };

    StartupSheet(std::shared_ptr<AppModel> model, QWidget* window);
    ~StartupSheet() override;

    // The dialog, for whoever must see and end it at quit.
    SheetDialog* dialog() const { return dialog_; }
    Page page() const { return page_; }
    QWidget* content() const { return content_; }
    ErrorAlert* alert() const { return alert_; }

    static constexpr int padding = 28;
    static constexpr int narrowWidth = 520;
    static constexpr int wizardWidth = 620;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void show(Page page);
    void openOverWindow();
    void dismissTopRequest();

    std::shared_ptr<AppModel> model_;
    QPointer<SheetDialog> dialog_;
    QWidget* background_ = nullptr;
    QPointer<QWidget> content_;
    // The window the sheet waits for while it is not shown yet.
    QPointer<QWidget> awaited_;
    Page page_ = Page::none;
    ErrorAlert* alert_ = nullptr;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
