#pragma once

#include "history/ConversationHistory.h"
#include "history/DateFormats.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;
class QVBoxLayout;

namespace parlaro {
class SettingsWriter;
}

namespace parlaro::ui {
class PersistentSwitch;
class PillButton;
class SidebarGroup;
class ViewBinding;
}  // namespace parlaro::ui

namespace parlaro::settings {

// The history page: saving on or off, the saved conversations newest first
// with search, one unfolded transcript, export, and deletion of one, the old
// or all sessions. Shows what the store holds; keeps only what is on screen
// (page size, search text and result, the open transcript).
class HistoryGroups : public QWidget {
    Q_OBJECT
public:
    static constexpr int pageStep = 50;
    static constexpr double searchDelay = ConversationHistory::searchDelay;
    static constexpr const char* daysKey = "historyDeleteDays";

    HistoryGroups(std::shared_ptr<ConversationHistory> history, SettingsWriter& settings, LocaleContext dates = {},
                  QWidget* parent = nullptr);
    ~HistoryGroups() override;

    int shown() const { return shown_; }
    std::optional<rt::Uuid> openSession() const;
    int days() const;
    // Sets the age limit, kept between 1 and 3650 days, and stores it; a
    // refusal goes to the error alert and leaves the stored limit in force.
    void setDays(std::int64_t days);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct RowModel;
    void refresh();
    void refreshRows(const std::vector<RowModel>& rows);
    void queryChanged(const QString& text);
    void toggle(const rt::Uuid& id);
    void exportSession(const rt::Uuid& id);
    void deleteOne(const rt::Uuid& id);
    // Says why files stayed on disk after a delete, if any did.
    void tellDeleteFailure(const std::optional<std::string>& failure);
    void confirmDeleteOld();
    void confirmDeleteAll();
    rt::Date cutoff() const;
    QWidget* transcript();
    // Reads the session off the main thread and shows it if it is still the
    // one unfolded; a read that is no longer wanted is dropped when it ends.
    void read(const rt::Uuid& id);
    void closeTranscript();
    std::string detail(const ConversationSummary& summary) const;

    std::shared_ptr<ConversationHistory> history_;
    SettingsWriter& settings_;
    LocaleContext dates_;
    int shown_ = pageStep;
    // The unfolded session, and its sentences once they are read.
    std::optional<rt::Uuid> open_;
    std::shared_ptr<const std::vector<ConversationEntry>> openEntries_;
    // Counts the reads begun; only the latest one's answer is shown.
    std::uint64_t reads_ = 0;
    std::string query_;
    std::vector<RowModel> builtRows_;

    ui::SidebarGroup* saveGroup_;
    ui::PersistentSwitch* saveSwitch_;
    QLabel* state_;
    QWidget* listArea_;
    QLineEdit* searchField_;
    QToolButton* clearSearch_;
    QLabel* resultState_;
    ui::SidebarGroup* list_;
    ui::PillButton* more_;
    ui::SidebarGroup* cleanup_;
    QLineEdit* days_;
    ui::PillButton* deleteOld_;
    ui::PillButton* deleteAll_;
    std::vector<QLabel*> cleanupTexts_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::settings
