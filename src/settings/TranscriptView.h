#pragma once

#include "history/ConversationEntry.h"
#include "history/DateFormats.h"

#include <QAbstractListModel>
#include <QFont>
#include <QFontMetrics>
#include <QListView>
#include <QStyledItemDelegate>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace parlaro::settings {

// The sentences of one saved conversation, one row each. Texts are made for
// the rows on screen only, so a long conversation costs its entries and no
// more.
class TranscriptModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { headerRole = Qt::UserRole + 1, originalRole, translatedRole, meRole };

    using Entries = std::shared_ptr<const std::vector<ConversationEntry>>;
    TranscriptModel(Entries entries, LocaleContext dates, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Who spoke and when; the translation where it differs from the original.
    // The texts as shown: cut after as many screenfuls as were asked for
    // (see ui::screenfulsOf).
    QString header(int row) const;
    QString original(int row) const;
    QString translated(int row) const;
    // The texts whole, as copied.
    QString wholeOriginal(int row) const;
    QString wholeTranslated(int row) const;
    // Shows one more screenful of the row's texts; false when they show whole.
    bool showMore(int row);

private:
    QString shown(int row, const std::string& text) const;
    bool isCut(int row) const;

    Entries entries_;
    LocaleContext dates_;
    // Screenfuls shown of the rows the user asked to see more of.
    std::unordered_map<int, qsizetype> screenfuls_;
};

// The look of the old transcript, one block a sentence: who and when in
// small bold type, the original, then the translation in the secondary
// colour. Measures each row once per width.
class TranscriptDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TranscriptDelegate(QListView& view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Whether every row has been measured at the current width.
    bool allMeasured() const;
    // The row's texts changed: it is measured again.
    void forget(int row);

private:
    int textWidth() const;
    int textHeight(int width, const QString& text) const;
    std::optional<int> plainAdvance(const QString& text) const;

    QListView& view_;
    // Made once: the interface font is looked up through the language.
    QFont headerFont_;
    QFont textFont_;
    QFontMetrics headerMetrics_;
    QFontMetrics textMetrics_;
    int lineHeight_;
    mutable std::unordered_map<char16_t, int> advances_;
    mutable std::vector<int> heights_;
    mutable int measuredWidth_ = -1;
    mutable std::size_t measured_ = 0;
};

// A conversation's transcript on the history page: a list that lays out its
// rows a batch at a time and paints only those on screen, so opening a long
// one never holds up the program. As tall as its rows up to maxHeight, then
// it scrolls. Selected rows copy as text.
class TranscriptView : public QListView {
    Q_OBJECT
public:
    static constexpr int maxHeight = 720;

    TranscriptView(TranscriptModel::Entries entries, LocaleContext dates, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    TranscriptModel& transcript() { return model_; }
    // True once every row is laid out.
    bool isComplete() const { return delegate_.allMeasured(); }

signals:
    void completed();

protected:
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void updateGeometries() override;

private:
    void copySelection();
    void noteCompletion();
    void showMore(const QModelIndex& index);

    TranscriptModel model_;
    TranscriptDelegate delegate_;
    int shownHeight_ = 0;
    bool toldComplete_ = false;
};

}  // namespace parlaro::settings
