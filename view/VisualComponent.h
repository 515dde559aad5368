#pragma once
// The waveform: one vertical stroke per pixel column around a centre line, a play
// cursor and a translucent selection band. The picture of the field, frame,
// centre line and strokes is cached as runs (the rows each column's stroke
// covers), worked out once per set of columns: new columns always come with
// Reset, which marks the picture stale. A paint renders the runs straight into
// the image being painted where it can, or else band by band through a small
// image that stays in the processor's cache: either costs less than copying a
// whole cached image, and allocates nothing. The playing cursor paints a new
// picture on every frame. UI thread only.
#include <QImage>
#include <QRect>
#include <memory>
#include <vector>

#include "IVisualComponent.h"

class VisualComponent : public IVisualComponent {
  public:
    VisualComponent(int left, int top, int right, int bottom);

    void Draw(QPainter& painter) override;
    // Keeps the cached picture: it is rebuilt after the next Reset.
    void SetBounds(int left, int top, int right, int bottom) override;
    void GetDrawingSize(SIZE* size) override;
    void Reset() override;

    // One peak half-height in pixels per column.
    void SetColumns(std::unique_ptr<short[]> columns, int count);
    bool HasColumns() const { return columns_ != nullptr; }
    // Columns between the frame lines: column i is drawn at x = left + 1 + i.
    int DrawingWidth() const { return width_ - 2; }

    int CursorColumn() const { return cursorColumn_; }
    void SetCursorColumn(int column) { cursorColumn_ = column; }
    int SelectionFirst() const { return selectionFirst_; }
    int SelectionLast() const { return selectionLast_; }
    void SetSelection(int first, int last);

    // Where Draw puts the cached picture, which it covers opaquely; built first
    // if it is stale. Empty while there is no picture.
    QRect PictureArea();

    // Column drawn at a client point, -1 outside the rectangle. A point on the
    // frame (edges are included) gives the nearest column inside it.
    int HitTest(int x, int y) const;

  private:
    void MeasureRuns();
    // Rows first .. first + count - 1 of the picture into an image, at a point.
    void RenderRows(QImage& into, QPoint at, int first, int count, bool stream);
    void DrawBands(QPainter& painter, const QRect& picture);

    int left_;
    int top_;
    int right_;
    int bottom_;
    int width_;
    int height_;
    std::unique_ptr<short[]> columns_;
    int columnCount_ = 0;
    int cursorColumn_ = -1;
    int selectionFirst_ = -1;
    int selectionLast_ = -1;
    // The cached picture: its size, and per shown column the first row of its
    // run and the rows below it. Kept, so that a new picture of the same size
    // allocates nothing.
    bool pictureCached_ = false;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    std::vector<int> runTop_;
    std::vector<int> runLength_;
    QImage band_;
};
