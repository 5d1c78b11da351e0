#pragma once

#include "ui/ViewBinding.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QVariantAnimation;

namespace parlaro {
class AudioMeters;
}

namespace parlaro::ui {

class AppActivity;
class HoldButton;
class LiveWaveform;

// The large talk button: a violet-to-coral capsule with an icon (or live
// level bars), the title and an optional shortcut chip, and a transparent
// HoldButton over it that takes the holds. It knows nothing of the call:
// its owner gives the texts and states and the three callbacks.
//
// The widget keeps room around the capsule for the glow and the slight
// growth while recording: give it sizeFor(capsule size).
class HoldToTalkControl : public QWidget {
    Q_OBJECT
public:
    explicit HoldToTalkControl(QWidget* parent = nullptr);
    ~HoldToTalkControl() override;

    static constexpr int glowRoom = 30;
    static QSize sizeFor(QSize capsule) { return capsule + QSize(2 * glowRoom, 2 * glowRoom); }

    void setTitle(const QString& title);
    void setRecording(bool recording);
    void setHoldEnabled(bool enabled);
    void setShortcut(std::optional<QString> shortcut);
    void setWhileHolding(bool whileHolding);
    void setLiveLevel(std::shared_ptr<AudioMeters> meters);
    void setCallbacks(std::function<void()> onDown, std::function<void()> onUp, std::function<void()> onCancel);
    void setAppActivity(AppActivity* activity);

    QString title() const { return title_; }
    bool isRecording() const { return recording_; }
    bool isHoldEnabled() const { return enabled_; }
    const std::optional<QString>& shortcut() const { return shortcut_; }

    HoldButton* button() const { return button_; }
    // The capsule at rest, inside the widget.
    QRect capsuleRect() const;

    QSize sizeHint() const override { return sizeFor({230, 52}); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void layoutContent();
    void updateTexts();
    // The row's contents, leading to trailing, in widget coordinates.
    struct Row {
        QRectF icon;
        QRectF title;
        QRectF chip;
    };
    Row row() const;

    QString title_;
    bool recording_ = false;
    bool enabled_ = true;
    std::optional<QString> shortcut_;
    bool whileHolding_ = false;
    std::shared_ptr<AudioMeters> liveLevel_;
    HoldButton* button_ = nullptr;
    LiveWaveform* waveform_ = nullptr;
    std::unique_ptr<ViewBinding> texts_;
    // 0 at rest, 1 recording; eased over 0.15 s when motion is on.
    double recordingProgress_ = 0.0;
    QVariantAnimation* animation_ = nullptr;
};

}  // namespace parlaro::ui
