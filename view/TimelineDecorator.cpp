#include "TimelineDecorator.h"

#include <QPainter>

namespace {
const QColor kStripColour(10, 110, 120);
const QColor kFrame(0, 0, 0);
}  // namespace

TimelineDecorator::TimelineDecorator(int left, int top, int right, int bottom,
                                     std::unique_ptr<IVisualComponent> inner)
    : Decorator(left, top, right, bottom, kStripHeight, std::move(inner)) {}

void TimelineDecorator::SetBounds(int left, int top, int right, int bottom) {
    StoreBounds(left, top, right, bottom);
    // The waveform's top frame row is the strip's bottom row.
    Inner().SetBounds(left, top + stripHeight_ - 1, right, bottom);
}

void TimelineDecorator::Reset() {
    Inner().Reset();
    startSeconds_ = 0.0;
    spanSeconds_ = 0.0;
    strip_ = QImage();
}

void TimelineDecorator::SetTimeRange(double startSeconds, double spanSeconds) {
    startSeconds_ = startSeconds;
    spanSeconds_ = spanSeconds;
    strip_ = QImage();
}

void TimelineDecorator::BuildStrip() {
    if (width_ <= 0)
        return;
    strip_ = QImage(width_, stripHeight_, QImage::Format_RGB32);
    strip_.fill(kStripColour);
    QPainter painter(&strip_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen frame(kFrame, 1);
    frame.setCosmetic(true);
    painter.setPen(frame);
    painter.drawRect(0, 0, width_ - 1, stripHeight_ - 1);
}

void TimelineDecorator::Draw(QPainter& painter) {
    Inner().Draw(painter);
    if (strip_.isNull())
        BuildStrip();
    if (!strip_.isNull())
        painter.drawImage(QPoint(left_, top_), strip_);
}
