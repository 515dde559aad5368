#include "VisualComponent.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>

namespace {
const QColor kField(255, 255, 255);
const QColor kFrame(0, 0, 0);
const QColor kCentreLine(0, 255, 0);
const QColor kStroke(0, 0, 255);
const QColor kCursor(255, 0, 0);
const QColor kSelectionBand(0, 0, 0, 128);

QPen CosmeticPen(const QColor& colour) {
    QPen pen(colour, 1);
    pen.setCosmetic(true);
    // Like a GDI line, a flat-capped cosmetic line leaves out its end point.
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}
}  // namespace

VisualComponent::VisualComponent(int left, int top, int right, int bottom) {
    VisualComponent::SetBounds(left, top, right, bottom);
}

void VisualComponent::SetBounds(int left, int top, int right, int bottom) {
    left_ = left;
    top_ = top;
    right_ = right;
    bottom_ = bottom;
    width_ = right - left + 1;
    height_ = bottom - top + 1;
}

void VisualComponent::GetDrawingSize(SIZE* size) {
    size->cx = width_ - 2;
    size->cy = height_ - 2;
}

void VisualComponent::Reset() {
    columns_.reset();
    columnCount_ = 0;
    cursorColumn_ = -1;
    selectionFirst_ = -1;
    selectionLast_ = -1;
    backBuffer_ = QImage();
}

void VisualComponent::SetColumns(std::unique_ptr<short[]> columns, int count) {
    columns_ = std::move(columns);
    columnCount_ = columns_ ? count : 0;
}

void VisualComponent::SetSelection(int first, int last) {
    selectionFirst_ = first;
    selectionLast_ = last;
}

int VisualComponent::HitTest(int x, int y) const {
    if (x < left_ || x > right_ || y < top_ || y > bottom_)
        return -1;
    return std::max(0, std::min(x - left_ - 1, DrawingWidth() - 1));
}

void VisualComponent::BuildBackBuffer() {
    if (width_ <= 0 || height_ <= 0)
        return;
    backBuffer_ = QImage(width_, height_, QImage::Format_RGB32);
    backBuffer_.fill(kField);
    QPainter painter(&backBuffer_);
    painter.setRenderHint(QPainter::Antialiasing, false);

    painter.setPen(CosmeticPen(kFrame));
    painter.drawRect(0, 0, width_ - 1, height_ - 1);

    const int mid = height_ >> 1;
    painter.fillRect(1, mid, width_ - 2, 1, kCentreLine);

    if (!columns_)
        return;
    // One continuous line: up to the top of each column, down to its bottom, then
    // over to the top of the next one.
    QPolygon strokes;
    strokes.reserve(2 * columnCount_ + 1);
    strokes << QPoint(1, mid);
    int lastY = mid;
    for (int i = 0; i < columnCount_; ++i) {
        const int x = i + 1;
        const int p = columns_[i];
        strokes << QPoint(x, mid - p) << QPoint(x, mid + p);
        lastY = mid + p;
    }
    painter.setPen(CosmeticPen(kStroke));
    painter.drawPolyline(strokes);
    // The line leaves out its end point; paint it.
    painter.fillRect(columnCount_, lastY, 1, 1, kStroke);
}

void VisualComponent::Draw(QPainter& painter) {
    if (backBuffer_.isNull())
        BuildBackBuffer();
    // After SetBounds without Reset the old picture is shown at the new place with
    // its old size until the next Reset.
    if (!backBuffer_.isNull())
        painter.drawImage(QPoint(left_, top_), backBuffer_);

    if (selectionFirst_ >= 0) {
        painter.fillRect(QRect(left_ + selectionFirst_ + 1, top_, selectionLast_ - selectionFirst_,
                               bottom_ - top_ - 1),
                         kSelectionBand);
    }
    if (cursorColumn_ >= 0) {
        // From the row below the top frame to the row above the bottom one.
        painter.fillRect(QRect(left_ + cursorColumn_ + 1, top_ + 1, 1, bottom_ - top_ - 2),
                         kCursor);
    }
}
