#include "ScrollBarDecorator.h"

#include <QScrollBar>
#include <algorithm>

ScrollInfo ClampScrollInfo(ScrollInfo info) {
    if (info.minimum > info.maximum)
        info.minimum = info.maximum = 0;
    info.page = std::clamp(info.page, 0, info.maximum - info.minimum + 1);
    const int lastPosition = info.maximum - std::max(info.page - 1, 0);
    if (info.position < info.minimum) {
        info.position = info.minimum;
    } else if (info.position > lastPosition) {
        info.position = lastPosition;
    }
    return info;
}

ScrollBarDecorator::ScrollBarDecorator(int left, int top, int right, int bottom,
                                       std::unique_ptr<IVisualComponent> inner,
                                       QScrollBar* scrollBar)
    : Decorator(left, top, right, bottom, kStripHeight, std::move(inner)), scrollBar_(scrollBar) {}

void ScrollBarDecorator::SetBounds(int left, int top, int right, int bottom) {
    StoreBounds(left, top, right, bottom);
    Inner().SetBounds(left, top, right, bottom - stripHeight_);
    scrollBar_->setGeometry(left, bottom - stripHeight_ + 1, right - left + 1, stripHeight_);
}

void ScrollBarDecorator::Reset() {
    Inner().Reset();
    UpdateScrollInfo(0, 0);
}

void ScrollBarDecorator::UpdateScrollInfo(int total, int position) {
    SIZE drawing;
    GetDrawingSize(&drawing);
    ScrollInfo info;
    info.maximum = total + 1;
    info.page = static_cast<int>(0.75 * drawing.cx);
    info.position = position;
    if (info.maximum <= 0) {
        info.maximum = 0;
        info.page = 1;
        info.position = 0;
    }
    Store(ClampScrollInfo(info));
}

void ScrollBarDecorator::SetPosition(int position, bool show) {
    ScrollInfo info = info_;
    info.position = position;
    Store(ClampScrollInfo(info), show);
}

void ScrollBarDecorator::ShowPosition() {
    if (positionHeld_)
        Store(info_);
}

void ScrollBarDecorator::Store(const ScrollInfo& info, bool show) {
    info_ = info;
    positionHeld_ = !show;
    if (!show)
        return;
    const int thumbTravel = info.maximum - std::max(info.page - 1, 0);
    scrollBar_->setRange(info.minimum, std::max(info.minimum, thumbTravel));
    scrollBar_->setPageStep(info.page);
    scrollBar_->setSingleStep(1);
    // setValue moves the thumb without triggering a slider action.
    scrollBar_->setValue(info.position);
}
