#include "VisualComponent.h"

#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QTransform>
#include <algorithm>
#include <cstdint>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "Pictures.h"

namespace {
const QColor kField(255, 255, 255);
const QColor kFrame(0, 0, 0);
const QColor kCentreLine(0, 255, 0);
const QColor kStroke(0, 0, 255);
const QColor kCursor(255, 0, 0);
const QColor kSelectionBand(0, 0, 0, 128);
// Pixels of a band: 128 KB, which stays in the processor's cache and which Qt
// copies on the painting thread rather than in its thread pool.
constexpr int kBandPixels = 32768;

// A pixel of row y, in the stroke colour if the run from top over length more
// rows reaches it.
inline QRgb OverRun(QRgb pixel, int y, int top, int length, QRgb stroke) {
    return static_cast<unsigned>(y - top) <= static_cast<unsigned>(length) ? stroke : pixel;
}

// Row y's pixels of count columns: the stroke colour where a run reaches the
// row, the base colour elsewhere. The row is not aliased with the runs, and the
// blocks of eight become vector instructions, which the compiler gives up on once
// the loop is inlined: it is most of a picture's cost.
[[gnu::noinline, gnu::target_clones("avx2", "default")]] void PaintRuns(QRgb* __restrict row,
                                                                        const int* tops,
                                                                        const int* lengths,
                                                                        int count, int y,
                                                                        QRgb stroke, QRgb base) {
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        for (int k = 0; k < 8; ++k)
            row[i + k] = OverRun(base, y, tops[i + k], lengths[i + k], stroke);
    }
    for (; i < count; ++i)
        row[i] = OverRun(base, y, tops[i], lengths[i], stroke);
}

#if defined(__x86_64__)
// PaintRuns for a picture written straight into the window's image, which is
// larger than the processor's cache: streaming stores write the rows without
// first reading every line they write, which ordinary stores do. The caller
// fences once the picture is written.
[[gnu::target("avx2")]] void StreamRuns(QRgb* row, const int* tops, const int* lengths, int count,
                                        int y, QRgb stroke, QRgb base) {
    int i = 0;
    for (; i < count && reinterpret_cast<std::uintptr_t>(row + i) % 32 != 0; ++i)
        row[i] = OverRun(base, y, tops[i], lengths[i], stroke);
    const __m256i rowY = _mm256_set1_epi32(y);
    // Unsigned comparison as signed, with the sign bits flipped.
    const __m256i flip = _mm256_set1_epi32(std::numeric_limits<int>::min());
    const __m256i strokes = _mm256_set1_epi32(static_cast<int>(stroke));
    const __m256i bases = _mm256_set1_epi32(static_cast<int>(base));
    for (; i + 8 <= count; i += 8) {
        const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tops + i));
        const __m256i length = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lengths + i));
        const __m256i below = _mm256_xor_si256(_mm256_sub_epi32(rowY, top), flip);
        const __m256i outside = _mm256_cmpgt_epi32(below, _mm256_xor_si256(length, flip));
        _mm256_stream_si256(reinterpret_cast<__m256i*>(row + i),
                            _mm256_blendv_epi8(strokes, bases, outside));
    }
    for (; i < count; ++i)
        row[i] = OverRun(base, y, tops[i], lengths[i], stroke);
}

bool CanStream() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
bool CanStream() {
    return false;
}
#endif

// The image a paint writes into, and where the picture lies in it, when the
// picture's pixels may be written there directly rather than copied in: a raster
// paint that only shifts by whole pixels, with no clip or blending of its own,
// into an opaque 32-bit image of its own, whose region under way holds the whole
// picture. Null otherwise.
QImage* DirectTarget(const QPainter& painter, const QRect& picture, QPoint* at) {
    QPaintEngine* engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || painter.hasClipping() ||
        painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return nullptr;
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    auto* image = static_cast<QImage*>(device);
    const QImage::Format format = image->format();
    if (!image->isDetached() ||
        (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
         format != QImage::Format_ARGB32_Premultiplied))
        return nullptr;
    const QTransform shift = painter.deviceTransform();
    const QPoint offset(static_cast<int>(shift.dx()), static_cast<int>(shift.dy()));
    if (shift.type() > QTransform::TxTranslate || offset.x() != shift.dx() ||
        offset.y() != shift.dy())
        return nullptr;
    const QRect placed = picture.translated(offset);
    const QRegion shown = engine->systemClip();
    if (!image->rect().contains(placed) ||
        (!shown.isEmpty() && !(QRegion(placed) - shown).isEmpty()))
        return nullptr;
    *at = placed.topLeft();
    return image;
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
    pictureCached_ = false;
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

// The strokes form one continuous line: up each column to its top, down to its
// bottom, then over to the top of the next one. In pixels, a column is one run
// from mid - p to mid + p, or the centre pixel when p is 0; the line over to the
// next column's top (mid - q) climbs this column up to the row below that top
// and steps over at the top.
void VisualComponent::MeasureRuns() {
    if (width_ <= 0 || height_ <= 0)
        return;
    pictureWidth_ = width_;
    pictureHeight_ = height_;
    const int mid = height_ >> 1;
    // Column i is drawn at x = i + 1; those beyond the picture are cut off.
    const int shown = columns_ ? std::max(0, std::min(columnCount_, width_ - 1)) : 0;
    runTop_.resize(static_cast<std::size_t>(shown));
    runLength_.resize(static_cast<std::size_t>(shown));
    for (int i = 0; i < shown; ++i) {
        // Half-heights are never below zero; a taller one reaches past the frame,
        // where the picture cuts it.
        const int p = std::max<int>(columns_[i], 0);
        int top = mid - p;
        if (i + 1 < columnCount_) {
            const int q = std::max<int>(columns_[i + 1], 0);
            if (p + q >= 2)
                top = std::min(top, mid - q + 1);
        }
        runTop_[static_cast<std::size_t>(i)] = top;
        runLength_[static_cast<std::size_t>(i)] = mid + p - top;
    }
    pictureCached_ = true;
}

// Every pixel is written once, row by row, without antialiasing.
void VisualComponent::RenderRows(QImage& into, QPoint at, int first, int count, bool stream) {
    const QRgb field = kField.rgb(), frame = kFrame.rgb(), centre = kCentreLine.rgb();
    const QRgb stroke = kStroke.rgb();
    const int width = pictureWidth_, height = pictureHeight_;
    const int mid = height >> 1;
    const int shown = static_cast<int>(runTop_.size());
    const int* const tops = runTop_.data();
    const int* const lengths = runLength_.data();
    // The columns inside the frame; a last one may lie on its right edge.
    const int inner = std::clamp(shown, 0, std::max(width - 2, 0));
    for (int r = 0; r < count; ++r) {
        const int y = first + r;
        QRgb* const row = reinterpret_cast<QRgb*>(into.scanLine(at.y() + r)) + at.x();
        const bool frameRow = y == 0 || y == height - 1;
        // The centre line lies inside the frame, over it where the two meet.
        const QRgb inside = y == mid ? centre : frameRow ? frame : field;
        row[0] = frame;
        if (width > 1)
            row[width - 1] = frame;
#if defined(__x86_64__)
        if (stream)
            StreamRuns(row + 1, tops, lengths, inner, y, stroke, inside);
        else
#endif
            PaintRuns(row + 1, tops, lengths, inner, y, stroke, inside);
        if (width > 2)
            std::fill(row + 1 + inner, row + width - 1, inside);
        if (shown > inner)
            row[width - 1] = OverRun(frame, y, tops[inner], lengths[inner], stroke);
    }
}

// Band by band: Qt hands the copy of a whole waveform to its thread pool, whose
// wake-ups cost more than the copy itself.
void VisualComponent::DrawBands(QPainter& painter, const QRect& picture) {
    const int bandRows = std::max(1, kBandPixels / picture.width());
    if (band_.width() != picture.width() || band_.height() < bandRows)
        band_ = QImage(picture.width(), bandRows, QImage::Format_RGB32);
    for (int y = 0; y < picture.height() && !band_.isNull(); y += bandRows) {
        const int rows = std::min(bandRows, picture.height() - y);
        const QRect target(picture.left(), picture.top() + y, picture.width(), rows);
        if (!pictures::Shows(painter, target))
            continue;
        RenderRows(band_, QPoint(0, 0), y, rows, false);
        painter.drawImage(target, band_, QRect(0, 0, picture.width(), rows));
    }
}

QRect VisualComponent::PictureArea() {
    if (!pictureCached_)
        MeasureRuns();
    // After SetBounds without Reset the old picture is shown at the new place with
    // its old size until the next Reset.
    return pictureCached_ ? QRect(left_, top_, pictureWidth_, pictureHeight_) : QRect();
}

void VisualComponent::Draw(QPainter& painter) {
    const QRect picture = PictureArea();
    if (!picture.isEmpty()) {
        QPoint at;
        if (QImage* image = DirectTarget(painter, picture, &at)) {
            const bool stream = CanStream();
            RenderRows(*image, at, 0, picture.height(), stream);
#if defined(__x86_64__)
            if (stream)
                _mm_sfence();
#endif
        } else {
            DrawBands(painter, picture);
        }
    }

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
