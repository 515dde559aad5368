#pragma once
// A component that wraps another one, owns it and forwards every call to it.
#include <QRect>
#include <memory>

#include "IVisualComponent.h"

class Decorator : public IVisualComponent {
  public:
    Decorator(int left, int top, int right, int bottom, int stripHeight,
              std::unique_ptr<IVisualComponent> inner);

    void Draw(QPainter& painter) override { inner_->Draw(painter); }
    void SetBounds(int left, int top, int right, int bottom) override;
    void GetDrawingSize(SIZE* size) override { inner_->GetDrawingSize(size); }
    void Reset() override { inner_->Reset(); }

    // The rectangle it and what it wraps draw in.
    QRect Area() const { return QRect(QPoint(left_, top_), QPoint(right_, bottom_)); }

  protected:
    void StoreBounds(int left, int top, int right, int bottom);
    IVisualComponent& Inner() { return *inner_; }

    int left_;
    int top_;
    int right_;
    int bottom_;
    int width_;
    int stripHeight_;

  private:
    std::unique_ptr<IVisualComponent> inner_;
};
