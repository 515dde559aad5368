#include "TimelineDecorator.h"

#include <QGuiApplication>
#include <QPainter>

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

void TimelineDecorator::BuildStrip() {
    if (width_ <= 0)
        return;
    if (strip_.size() != QSize(width_, stripHeight_))
        strip_ = QImage(width_, stripHeight_, QImage::Format_RGB32);
    if (strip_.isNull())
        return;
    strip_.fill(kStripColour.rgb());
    stripCached_ = true;
    QPainter painter(&strip_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The frame's four sides as fills: a stroked rectangle goes through the pen's
    // path code on every frame of the playing cursor.
    painter.fillRect(0, 0, width_, 1, kStripFrame);
    painter.fillRect(0, stripHeight_ - 1, width_, 1, kStripFrame);
    painter.fillRect(0, 0, 1, stripHeight_, kStripFrame);
    painter.fillRect(width_ - 1, 0, 1, stripHeight_, kStripFrame);
    if (spanSeconds_ > 0.0)
        DrawScale(painter);
    DrawMarks(painter);
}

// Short strokes rising from the bottom frame, apart from the ticks hanging from
// the top, so they never cover a label.
void TimelineDecorator::DrawMarks(QPainter& painter) {
    for (int column : marks_) {
        const int x = column + 1;  // the waveform's columns start inside its frame
        if (x > 0 && x < width_ - 1)
            painter.fillRect(x, stripHeight_ - 1 - kMarkLength, 1, kMarkLength, kMarkColour);
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

// The glyphs of a label the last strip had are taken over; the rest are laid out.
const QStaticText& TimelineDecorator::LabelGlyphs(const std::wstring& text) {
    auto kept = std::find_if(labels_.begin(), labels_.end(),
                             [&](const Label& label) { return label.text == text; });
    if (kept != labels_.end()) {
        nextLabels_.push_back(std::move(*kept));
        labels_.erase(kept);
    } else {
        QStaticText glyphs(QString::fromStdWString(text));
        glyphs.setTextFormat(Qt::PlainText);
        glyphs.prepare(QTransform(), font_);
        nextLabels_.push_back({text, std::move(glyphs)});
    }
    return nextLabels_.back().glyphs;
}

void TimelineDecorator::DrawScale(QPainter& painter) {
    if (!measured_)
        MeasureLabels();
    // The waveform's columns lie inside its frame; the span stretches from the first
    // column to the last.
    const std::vector<TimeTick> ticks = ComputeTimeTicks(
        startSeconds_, spanSeconds_, width_, right_ - left_ - 2, labelWidth8_, labelWidth11_);
    painter.setFont(font_);
    painter.setPen(kInk);
    nextLabels_.clear();
    // Anything beyond the strip is clipped by the image. A label's glyphs stand
    // on the baseline: their top-left lies the font's ascent above it.
    for (const TimeTick& tick : ticks) {
        painter.fillRect(tick.x, kTickTop, 1, kMajorTickLength, kInk);
        painter.drawStaticText(QPointF(tick.labelLeft, baseline_ - labelAscent_),
                               LabelGlyphs(tick.label));
        for (int minor : tick.minorTicks)
            painter.fillRect(minor, kTickTop, 1, kMinorTickLength, kInk);
    }
    labels_.swap(nextLabels_);
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
