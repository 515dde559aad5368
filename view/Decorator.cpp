#include "Decorator.h"

Decorator::Decorator(int left, int top, int right, int bottom, int stripHeight,
                     std::unique_ptr<IVisualComponent> inner)
    : stripHeight_(stripHeight), inner_(std::move(inner)) {
    StoreBounds(left, top, right, bottom);
}

void Decorator::StoreBounds(int left, int top, int right, int bottom) {
    left_ = left;
    top_ = top;
    right_ = right;
    bottom_ = bottom;
    width_ = right - left + 1;
}

void Decorator::SetBounds(int left, int top, int right, int bottom) {
    StoreBounds(left, top, right, bottom);
    inner_->SetBounds(left, top, right, bottom);
}
