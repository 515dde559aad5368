#pragma once
// The horizontal scroll bar under the waveform. Scroll units are pixels of the
// zoomed waveform. The bar keeps the rules of a Windows scroll bar (range
// 0..maximum, a page, a position clamped to maximum - page + 1); this class applies
// them, keeps the values "read back" and mirrors them onto the QScrollBar, whose
// own range is only the span the thumb can travel.
#include "Decorator.h"

class QScrollBar;

// Range, page and position of a scroll bar as Windows keeps them.
struct ScrollInfo {
    int minimum = 0;
    int maximum = 0;
    int page = 0;
    int position = 0;
    bool operator==(const ScrollInfo&) const = default;
};

// What a Windows scroll bar stores for the values it is given: an empty range when
// minimum > maximum, the page limited to the range, the position to the span the
// thumb can travel.
ScrollInfo ClampScrollInfo(ScrollInfo info);

class ScrollBarDecorator : public Decorator {
  public:
    static constexpr int kStripHeight = 18;

    ScrollBarDecorator(int left, int top, int right, int bottom,
                       std::unique_ptr<IVisualComponent> inner, QScrollBar* scrollBar);

    void SetBounds(int left, int top, int right, int bottom) override;
    void Reset() override;

    // total: pixel width of the whole waveform; position: scroll offset in pixels.
    // One page is three quarters of the visible width.
    void UpdateScrollInfo(int total, int position);
    // Moves the position only; it is clamped as the scroll bar would. Unless
    // `show`, the thumb stays where it is until ShowPosition.
    void SetPosition(int position, bool show);
    void ShowPosition();

    int Maximum() const { return info_.maximum; }
    int Page() const { return info_.page; }
    int Position() const { return info_.position; }

  private:
    void Store(const ScrollInfo& info, bool show = true);

    QScrollBar* scrollBar_;
    ScrollInfo info_;
    bool positionHeld_ = false;
};
