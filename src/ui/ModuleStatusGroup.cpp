#include "ui/ModuleStatusGroup.h"

#include "speech/CallLanguage.h"
#include "ui/Look.h"
#include "ui/Palette.h"
#include "ui/RowDivider.h"
#include "ui/SidebarRow.h"
#include "ui/SymbolView.h"
#include "ui/Text.h"
#include "ui/WidgetUpdates.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace parlaro::ui {

namespace {

struct StateLook {
    QString text;
    QColor color;
    bool ready = false;
};

bool isKatakana(QChar c)
{
    return c.unicode() >= 0x30A0 && c.unicode() <= 0x30FF;
}

// A language's name and a word in katakana are never split over two
// lines: where words are not spaced (Japanese, Chinese) a line may
// otherwise break between any two characters, "日本|語", "インス|トール".
QString keepWordsWhole(QString text)
{
    for (const CallLanguage& language : CallLanguage::all()) {
        const QString name = q(language.displayName());
        if (name.size() < 2 || name.contains(QLatin1Char(' ')) || !text.contains(name))
            continue;
        QString joined;
        for (const QChar c : name) {
            if (!joined.isEmpty())
                joined += QChar(0x2060);  // word joiner
            joined += c;
        }
        text.replace(name, joined);
    }
    QString kept;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i > 0 && isKatakana(text[i - 1]) && isKatakana(text[i]))
            kept += QChar(0x2060);
        kept += text[i];
    }
    return kept;
}

StateLook stateLook(const ModuleState& state)
{
    struct Visitor {
        StateLook operator()(const ModuleState::NeedsDownload& s) const
        {
            return {q(localized("需下载 %@", s.text)), Palette::amber()};
        }
        StateLook operator()(const ModuleState::NeedsPermission& s) const
        {
            return {q(localized("缺权限 %@", s.text)), Palette::amber()};
        }
        StateLook operator()(const ModuleState::Unsupported& s) const { return {q(s.text), Look::secondaryText()}; }
        StateLook operator()(const ModuleState::Failed& s) const
        {
            return {q(s.code + " " + s.message), Palette::alertRed()};
        }
        StateLook operator()(const ModuleState::Ready&) const { return {{}, Palette::violet(), true}; }
    };
    return std::visit(Visitor{}, state.value);
}

}  // namespace

ModuleStatusGroup::ModuleStatusGroup(QWidget* parent) : SidebarGroup(q(localized("运行状态")), parent)
{
    setObjectName(QStringLiteral("moduleStatus"));
}

void ModuleStatusGroup::setReports(const std::vector<ModuleReport>& reports)
{
    setTitle(q(localized("运行状态")));
    // No reports and no rows at first, so an empty first list builds nothing.
    if (reports == reports_)
        return;
    reports_ = reports;
    while (QLayoutItem* item = contentLayout()->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    bool first = true;
    for (const ModuleReport& report : reports_) {
        if (!first)
            contentLayout()->addWidget(new RowDivider(panel()));
        first = false;
        auto* row = new SidebarRow(q(ModuleIDs::title(report.module)), q(report.adapter), panel());
        row->setObjectName(QStringLiteral("moduleStatus.row"));
        StateLook look = stateLook(report.state);
        // The joiners only steer line breaks; a screen reader hears the words.
        const QString spoken = look.text;
        look.text = keepWordsWhole(look.text);
        if (look.ready) {
            auto* check = new SymbolView(QStringLiteral("checkmark.circle.fill"), look.color, 14, row);
            check->setObjectName(QStringLiteral("moduleStatus.state"));
            row->addTrailing(check);
        } else {
            auto* state = new QLabel(look.text, row);
            state->setObjectName(QStringLiteral("moduleStatus.state"));
            state->setFont(Look::font(10.5));
            state->setTextFormat(Qt::PlainText);
            state->setAccessibleName(spoken);
            state->setWordWrap(true);
            state->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
            state->setMaximumWidth(stateWidth);
            // Short states keep one line; long ones wrap within the limit.
            state->setMinimumWidth(
                std::min(stateWidth,
                         static_cast<int>(std::ceil(QFontMetricsF(state->font()).horizontalAdvance(look.text))) + 2));
            updates::setTextColor(state, look.color);
            row->addTrailing(state);
        }
        contentLayout()->addWidget(row);
    }
}

}  // namespace parlaro::ui
