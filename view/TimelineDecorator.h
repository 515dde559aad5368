#pragma once
// The time axis: a 20-pixel strip along the top of the waveform whose bottom row is
// the waveform's top frame row. The strip is cached and rebuilt at the next paint
// after Reset or a SetTimeRange that changes the range. Labels and ticks follow ComputeTimeTicks.
#include <QFont>
#include <QImage>
#include <string>
#include <vector>

#include "Decorator.h"

class TimelineDecorator : public Decorator {
  public:
    static constexpr int kStripHeight = 20;

    TimelineDecorator(int left, int top, int right, int bottom,
                      std::unique_ptr<IVisualComponent> inner);

    void Draw(QPainter& painter) override;
    // Keeps the cached strip.
    void SetBounds(int left, int top, int right, int bottom) override;
    void Reset() override;

    // Where Draw puts the cached strip, which it covers opaquely; built first if
    // it is stale. Empty while there is no strip.
    QRect StripArea();

    // startSeconds: time at the waveform's left edge; spanSeconds: time across it.
    void SetTimeRange(double startSeconds, double spanSeconds);
    double StartSeconds() const { return startSeconds_; }
    double SpanSeconds() const { return spanSeconds_; }
    // Phrase marks at these waveform columns, along the strip's bottom.
    void SetMarks(std::vector<int> columns);

    // The labels' font: a fixed pixel size, so the strip looks the same whatever
    // the screen's resolution.
    static QFont LabelFont();
    // Top of the labels' text cells in the strip.
    static constexpr int kLabelTop = 3;

  private:
    struct Label;
    void BuildStrip();
    void DrawScale();
    void DrawMarks();
    void MeasureLabels();
    const Label& LabelPicture(const std::wstring& text);
    Label DrawLabel(const std::wstring& text);

    QImage strip_;  // kept and drawn over again, so a new strip allocates nothing
    bool stripCached_ = false;
    double startSeconds_ = 0.0;
    double spanSeconds_ = 0.0;
    std::vector<int> marks_;
    // The font's measures and the pictures of the labels on the strip, kept:
    // while the narrator plays the strip is built on every frame with mostly the
    // same labels, and laying out and drawing their glyphs again would cost
    // several times copying them.
    struct Label {
        std::wstring text;
        QImage picture;
        int left;  // the picture's left edge from the label's
    };
    QFont font_;
    bool measured_ = false;
    int labelWidth8_ = 0;
    int labelWidth11_ = 0;
    qreal labelAscent_ = 0.0;
    int baseline_ = 0;
    std::vector<Label> labels_, nextLabels_;
};
