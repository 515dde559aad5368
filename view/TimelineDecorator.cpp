#include "TimelineDecorator.h"

#include <QGuiApplication>
#include <QPainter>
#include <QStaticText>

#include <algorithm>

#include "TimeAxis.h"

namespace {
const QColor kStripColour(10, 110, 120);
const QColor kStripFrame(0, 0, 0);
const QColor kInk(0, 0, 0);
const QColor kMarkColour(255, 200, 40);
constexpr int kMarkLength = 4;
// Ticks hang from the row below the top frame.
constexpr int kTickTop = 1;
constexpr int kMajorTickLength = 5;
constexpr int kMinorTickLength = 3;
}  // namespace

QFont TimelineDecorator::LabelFont() {
    QFont font = QGuiApplication::font();
    font.setPixelSize(12);
    return font;
}

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
    marks_.clear();
    stripCached_ = false;
}

void TimelineDecorator::SetMarks(std::vector<int> columns) {
    if (columns == marks_)
        return;
    marks_ = std::move(columns);
    stripCached_ = false;
}

void TimelineDecorator::SetTimeRange(double startSeconds, double spanSeconds) {
    // The same range over the same width draws the same strip.
    if (startSeconds == startSeconds_ && spanSeconds == spanSeconds_ && stripCached_ &&
        strip_.width() == width_)
        return;
    startSeconds_ = startSeconds;
    spanSeconds_ = spanSeconds;
    stripCached_ = false;
}

namespace {

// Fills a rectangle of the image, clipped to it.
void Fill(QImage& image, int x, int y, int width, int height, QRgb colour) {
    const int left = std::max(x, 0), right = std::min(x + width, image.width());
    for (int row = std::max(y, 0); row < std::min(y + height, image.height()); ++row) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        std::fill(line + left, line + std::max(left, right), colour);
    }
}

// Copies a picture into the image with its top-left at x, y, clipped to the image.
void Copy(QImage& image, const QImage& picture, int x, int y) {
    const int from = std::max(0, -x), to = std::min(picture.width(), image.width() - x);
    for (int r = std::max(0, -y); r < std::min(picture.height(), image.height() - y) && from < to;
         ++r) {
        const auto* source = reinterpret_cast<const QRgb*>(picture.constScanLine(r));
        std::copy(source + from, source + to,
                  reinterpret_cast<QRgb*>(image.scanLine(y + r)) + x + from);
    }
}

}  // namespace

void TimelineDecorator::BuildStrip() {
    if (width_ <= 0)
        return;
    if (strip_.size() != QSize(width_, stripHeight_))
        strip_ = QImage(width_, stripHeight_, QImage::Format_RGB32);
    if (strip_.isNull())
        return;
    strip_.fill(kStripColour.rgb());
    stripCached_ = true;
    if (spanSeconds_ > 0.0)
        DrawScale();
    DrawMarks();
    // The frame last: a label at either end reaches under it.
    const QRgb frame = kStripFrame.rgb();
    Fill(strip_, 0, 0, width_, 1, frame);
    Fill(strip_, 0, stripHeight_ - 1, width_, 1, frame);
    Fill(strip_, 0, 0, 1, stripHeight_, frame);
    Fill(strip_, width_ - 1, 0, 1, stripHeight_, frame);
}

// Short strokes rising from the bottom frame, apart from the ticks hanging from
// the top, so they never cover a label.
void TimelineDecorator::DrawMarks() {
    for (int column : marks_) {
        const int x = column + 1;  // the waveform's columns start inside its frame
        if (x > 0 && x < width_ - 1)
            Fill(strip_, x, stripHeight_ - 1 - kMarkLength, 1, kMarkLength, kMarkColour.rgb());
    }
}

void TimelineDecorator::MeasureLabels() {
    font_ = LabelFont();
    const QFontMetrics metrics(font_);
    labelWidth8_ = metrics.horizontalAdvance(QStringLiteral("00:00:00"));
    labelWidth11_ = metrics.horizontalAdvance(QStringLiteral("00:00:00,00"));
    baseline_ = kLabelTop + metrics.ascent();
    labelAscent_ = QFontMetricsF(font_).ascent();
    measured_ = true;
}

// The picture of a label the last strip had is taken over; the rest are drawn.
const TimelineDecorator::Label& TimelineDecorator::LabelPicture(const std::wstring& text) {
    auto kept = std::find_if(labels_.begin(), labels_.end(),
                             [&](const Label& label) { return label.text == text; });
    if (kept != labels_.end()) {
        nextLabels_.push_back(std::move(*kept));
        labels_.erase(kept);
    } else {
        nextLabels_.push_back(DrawLabel(text));
    }
    return nextLabels_.back();
}

// The label on the strip's colour, as tall as the strip inside its frame and wide
// enough for glyphs that reach past their advance. Its glyphs stand where they
// would drawn straight onto the strip: it is only moved by whole pixels.
TimelineDecorator::Label TimelineDecorator::DrawLabel(const std::wstring& text) {
    const QString string = QString::fromStdWString(text);
    const QFontMetrics metrics(font_);
    const QRect ink = metrics.boundingRect(string);
    const int left = std::min(0, ink.left()) - 1;
    const int right = std::max(metrics.horizontalAdvance(string), ink.right() + 1) + 1;
    Label label{text, QImage(right - left, stripHeight_ - 2, QImage::Format_RGB32), left};
    label.picture.fill(kStripColour.rgb());
    QStaticText glyphs(string);
    glyphs.setTextFormat(Qt::PlainText);
    glyphs.prepare(QTransform(), font_);
    QPainter painter(&label.picture);
    painter.setFont(font_);
    painter.setPen(kInk);
    // A label's glyphs stand on the baseline: their top-left lies the font's
    // ascent above it.
    painter.drawStaticText(QPointF(-left, baseline_ - labelAscent_ - 1), glyphs);
    return label;
}

void TimelineDecorator::DrawScale() {
    if (!measured_)
        MeasureLabels();
    // The waveform's columns lie inside its frame; the span stretches from the first
    // column to the last.
    const std::vector<TimeTick> ticks = ComputeTimeTicks(
        startSeconds_, spanSeconds_, width_, right_ - left_ - 2, labelWidth8_, labelWidth11_);
    nextLabels_.clear();
    // The labels first: their pictures cover the strip around the glyphs, where
    // the ticks reach in.
    for (const TimeTick& tick : ticks) {
        const Label& label = LabelPicture(tick.label);
        Copy(strip_, label.picture, tick.labelLeft + label.left, 1);
    }
    labels_.swap(nextLabels_);
    const QRgb ink = kInk.rgb();
    for (const TimeTick& tick : ticks) {
        Fill(strip_, tick.x, kTickTop, 1, kMajorTickLength, ink);
        for (int minor : tick.minorTicks)
            Fill(strip_, minor, kTickTop, 1, kMinorTickLength, ink);
    }
}

QRect TimelineDecorator::StripArea() {
    if (!stripCached_)
        BuildStrip();
    return stripCached_ ? QRect(QPoint(left_, top_), strip_.size()) : QRect();
}

void TimelineDecorator::Draw(QPainter& painter) {
    Inner().Draw(painter);
    const QRect strip = StripArea();
    if (!strip.isEmpty())
        painter.drawImage(strip.topLeft(), strip_);
}
