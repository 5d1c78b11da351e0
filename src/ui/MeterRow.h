#pragma once

#include "ui/ViewBinding.h"

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;

namespace parlaro {
class AudioMeters;
}

namespace parlaro::ui {

class LevelMeterBar;

// A titled level meter for the microphone or the virtual microphone, with a
// word saying whether there is sound. Follows the meters by itself.
class MeterRow : public QWidget {
    Q_OBJECT
public:
    enum class Source { mic, virtualDevice };

    MeterRow(const QString& title, std::shared_ptr<AudioMeters> meters, Source source, QWidget* parent = nullptr);
    ~MeterRow() override;

    // The title shown above the bar, which also names the bar.
    void setTitle(const QString& title);

    // Above this a level counts as sound.
    static constexpr float soundThreshold = 0.05f;

    QLabel* stateLabel() const { return state_; }
    LevelMeterBar* bar() const { return bar_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    std::shared_ptr<AudioMeters> meters_;
    Source source_;
    QLabel* title_ = nullptr;
    QLabel* state_ = nullptr;
    LevelMeterBar* bar_ = nullptr;
    std::unique_ptr<ViewBinding> binding_;
};

}  // namespace parlaro::ui
