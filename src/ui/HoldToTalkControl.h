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

    // The capsule at rest is 230 × 52. A longer title widens it, up to
    // maxCapsuleWidth; beyond that the title's font shrinks, down to
    // minTitleSize, and only then is the title cut, with the whole of it in
    // the tooltip.
    static constexpr int capsuleHeight = 52;
    static constexpr int minCapsuleWidth = 230;
    static constexpr double titleSize = 16.0;
    static constexpr double minTitleSize = 12.0;
    // A title too long for one line may take two, from this size down.
    static constexpr double twoLineTitleSize = 14.0;
    // Above and below two lines of title.
    static constexpr double titleMargin = 6.0;
    // Between the capsule's ends and its contents.
    static constexpr double inset = 20.0;
    void setMaxCapsuleWidth(int width);
    int maxCapsuleWidth() const { return maxCapsuleWidth_; }
    // The narrowest capsule that shows the title and the reserved titles
    // whole, at the least size or on two lines; never below the one at rest.
    int leastWholeCapsuleWidth() const;
    // Titles the control may show later (the other states of one hold), so
    // that its width stays put when the title changes.
    void setReservedTitles(const QStringList& titles);

    void setTitle(const QString& title);
    void setRecording(bool recording);
    void setHoldEnabled(bool enabled);
    void setShortcut(std::optional<QString> shortcut);
    void setWhileHolding(bool whileHolding);
    // Why no hold can start at all (not merely not now): the tooltip says
    // it and the icon is a crossed-out microphone. None for a usable control.
    void setUnavailable(std::optional<QString> why);
    void setLiveLevel(std::shared_ptr<AudioMeters> meters);
    void setCallbacks(std::function<void()> onDown, std::function<void()> onUp, std::function<void()> onCancel);
    // A left press on the capsule, or Space on it, while no hold can start,
    // so that its owner can say why.
    void setOnRefusedPress(std::function<void()> onRefusedPress);
    void setAppActivity(AppActivity* activity);
    void setOwnShortcutHeld(std::function<bool()> held);

    QString title() const { return title_; }
    bool isRecording() const { return recording_; }
    bool isHoldEnabled() const { return enabled_; }
    const std::optional<QString>& shortcut() const { return shortcut_; }
    const std::optional<QString>& unavailable() const { return unavailable_; }

    HoldButton* button() const { return button_; }
    // The capsule at rest, inside the widget.
    QRect capsuleRect() const;
    // The title as drawn, its font and where: cut or smaller only when the
    // whole title does not fit the widest capsule allowed.
    QString shownTitle() const { return shownTitle_; }
    QFont titleFont() const { return titleFont_; }
    // Qt::TextSingleLine, or Qt::TextWordWrap for a title on two lines.
    int titleFlags() const { return titleFlags_; }
    QRectF titleRect() const { return row().title; }
    QRectF chipRect() const { return row().chip; }

    QSize sizeHint() const override;
    // A layout short of room may squeeze it down to the capsule at rest.
    QSize minimumSizeHint() const override { return sizeFor({minCapsuleWidth, capsuleHeight}); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A disabled button swallows presses: the control sees them first.
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    QString symbol() const;
    // The capsule width the title (and the reserved titles) ask for.
    int wantedCapsuleWidth() const;
    // Room for the title in a capsule of the widget's width, or of `capsule`.
    double titleRoom() const;
    double titleRoom(double capsule) const;
    void fitTitle();

    QString title_;
    QString shownTitle_;
    QFont titleFont_;
    int titleFlags_ = Qt::TextSingleLine;
    QSizeF titleExtent_;
    QStringList reservedTitles_;
    int maxCapsuleWidth_ = 320;
    bool recording_ = false;
    bool enabled_ = true;
    std::optional<QString> shortcut_;
    bool whileHolding_ = false;
    std::optional<QString> unavailable_;
    std::shared_ptr<AudioMeters> liveLevel_;
    HoldButton* button_ = nullptr;
    LiveWaveform* waveform_ = nullptr;
    std::unique_ptr<ViewBinding> texts_;
    std::function<void()> onRefusedPress_;
    // 0 at rest, 1 recording; eased over 0.15 s when motion is on.
    double recordingProgress_ = 0.0;
    QVariantAnimation* animation_ = nullptr;
};

}  // namespace parlaro::ui
