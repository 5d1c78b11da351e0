#pragma once

#include "ui/MeterRow.h"
#include "ui/ViewBinding.h"

#include <QWidget>

#include <memory>

class QLabel;

namespace parlaro {
class AudioMeters;
}

namespace parlaro::ui {
class LevelMeterBar;
class SymbolView;
}  // namespace parlaro::ui

namespace parlaro::app {

// The one-line meter of the footer: symbol, title and a 72-wide bar. A level
// tick repaints the bar and, when it crosses the threshold, recolours the
// symbol; nothing relays out. Drawn at 0.55 opacity unless live.
class CompactMeter : public QWidget {
    Q_OBJECT
public:
    CompactMeter(const QString& symbol, const QString& title, std::shared_ptr<AudioMeters> meters,
                 ui::MeterRow::Source source, QWidget* parent = nullptr);
    ~CompactMeter() override;

    void setLive(bool live);
    double opacity() const;
    // The caller localizes it, and sets it again when the language changes.
    void setTitle(const QString& title);

    ui::SymbolView* icon() const { return icon_; }
    ui::LevelMeterBar* bar() const { return bar_; }

    static constexpr double dimmed = 0.55;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    std::shared_ptr<AudioMeters> meters_;
    ui::MeterRow::Source source_;
    bool live_ = false;
    ui::SymbolView* icon_;
    QLabel* title_;
    ui::LevelMeterBar* bar_;
    std::unique_ptr<ui::ViewBinding> binding_;
};

}  // namespace parlaro::app
