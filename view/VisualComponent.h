#pragma once
// The waveform: one vertical stroke per pixel column around a centre line, a play
// cursor and a translucent selection band. The field, frame, centre line and
// strokes are rendered once into a cached image, so moving the cursor or the
// selection costs one image copy per paint; new columns always come with Reset,
// which marks the picture stale. The image itself is kept and drawn over again,
// so a new picture of the same size allocates nothing. UI thread only.
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
    void BuildBackBuffer();
    void MeasureRuns();

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
    QImage backBuffer_;
    bool pictureCached_ = false;
    // Per shown column: the first row of its run and the rows below it. Kept, so
    // that a new picture of the same width allocates nothing.
    std::vector<int> runTop_;
    std::vector<int> runLength_;
};
