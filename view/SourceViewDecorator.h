#pragma once
// The frame around the oscillogram: a header with the input-device and input-pin
// combo boxes, the study choices (advance and speed), the microphone and
// loudspeaker icons and the "Listen"/"Say" lamps and labels with the input level
// under "Say"; side margins holding the two volume trackbars; and a row of big
// buttons at the bottom.
#include <QPoint>
#include <QRect>

#include "ControlTable.h"
#include "Decorator.h"

class SourceViewDecorator : public Decorator {
  public:
    static constexpr int kMarginLeft = 30;
    static constexpr int kMarginRight = 30;
    static constexpr int kHeaderHeight = 40;
    static constexpr int kFooterHeight = 50;
    static constexpr int kButtonWidth = 45;
    static constexpr int kButtonHeight = 45;
    static constexpr int kControlHeight = 21;
    static constexpr int kTrackbarWidth = 20;
    static constexpr int kTrackbarMin = 0;
    static constexpr int kTrackbarMax = 100;
    static constexpr int kLabelWidth = 40;
    static constexpr int kIconSize = 24;
    static constexpr int kLampSize = 16;
    // Distance from one lamp (and its label) to the next.
    static constexpr int kLampSpacing = 65;

    SourceViewDecorator(int left, int top, int right, int bottom,
                        std::unique_ptr<IVisualComponent> inner, const ControlTable* controls);

    void Draw(QPainter& painter) override;
    void SetBounds(int left, int top, int right, int bottom) override;

    // Places the combo boxes that are not hidden, the study choices and the two
    // labels. Hidden combo boxes keep their place.
    void LayoutDeviceCombos();

    void SetListenLamp(bool on) { listenLamp_ = on; }
    void SetSayLamp(bool on) { sayLamp_ = on; }
    bool ListenLamp() const { return listenLamp_; }
    bool SayLamp() const { return sayLamp_; }
    // 0..100; drawn under the "Say" lamp while it is lit.
    void SetInputLevel(int level) { inputLevel_ = level; }
    int InputLevel() const { return inputLevel_; }
    // Where the two lamps and the input level are drawn.
    QRect LampArea() const {
        return QRect(lampPos_, QSize(kLampSpacing + kLampSize + kLabelWidth, MeterTop() + 4));
    }

  private:
    static constexpr int MeterTop() { return kLampSize + 2; }
    void PlaceStudyCombos(int left, int y);
    void DrawInputLevel(QPainter& painter) const;

    int inputLevel_ = 0;
    bool listenLamp_ = false;
    bool sayLamp_ = false;
    QPoint micIconPos_;
    QPoint speakerIconPos_;
    QPoint lampPos_;
    QPoint labelPos_;
    const ControlTable* controls_;
};
