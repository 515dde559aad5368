// The time axis: label texts, where labels and ticks fall, and the strip's pixels.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TimeAxis.h"
#include "TimelineDecorator.h"
#include "VisualComponent.h"

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kTeal = qRgb(10, 110, 120);
const QRgb kBackground = qRgb(212, 208, 200);

TEST(TimeLabels, FieldsAreTruncatedAndHundredthsPaddedWithASpace) {
    struct Case {
        double t;
        bool hundredths;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0.0, false, L"00:00:00"},
        {0.0, true, L"00:00:00, 0"},
        {1.05, true, L"00:00:01, 5"},
        {0.29, true, L"00:00:00,29"},  // held as 0.28999...
        {59.999, true, L"00:00:59,99"},
        {59.999, false, L"00:00:59"},
        {3723.25, true, L"01:02:03,25"},
        {99 * 3600.0 + 59 * 60 + 59.5, false, L"99:59:59"},
        {123 * 3600.0 + 4 * 60 + 5.5, true, L"123:04:05,50"},
        {-1.5, true, L"-00:00:01,50"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatTime(c.t, c.hundredths), c.text) << c.t;
}

// The label count, then each of the first labels as x/left edge "text", the first
// one followed by its minor ticks.
std::wstring Describe(const std::vector<TimeTick>& ticks, std::size_t shown) {
    std::wstring text = std::to_wstring(ticks.size()) + L":";
    for (std::size_t i = 0; i < std::min(shown, ticks.size()); ++i) {
        const TimeTick& t = ticks[i];
        text += L" " + std::to_wstring(t.x) + L"/" + std::to_wstring(t.labelLeft) + L" \"" +
                t.label + L"\"";
        if (i == 0) {
            text += L" [";
            for (int minor : t.minorTicks)
                text += std::to_wstring(minor) + L" ";
            text.back() = L']';
        }
    }
    return text;
}

// Every case spreads its span over 640 pixels of a 643-pixel strip at 1/128 or
// 1/64 s per pixel, so that every position is exact.
TEST(TimeTicks, LabelsTwoLabelWidthsApartWithFourMinorTicksBetween) {
    struct Case {
        const char* what;
        double start;
        double span;
        int labelWidth8;
        int labelWidth11;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {"interval 0.78 s: hundredths, centred by the wider label", 0.0, 5.0, 50, 70,
         L"7: 1/-34 \"00:00:00, 0\" [21 41 61 81] 101/66 \"00:00:00,78\" 201/166 \"00:00:01,56\""},
        {"interval 1 s: whole seconds", 0.0, 10.0, 32, 44,
         L"11: 1/-15 \"00:00:00\" [13 26 39 52] 65/49 \"00:00:01\" 129/113 \"00:00:02\""},
        {"interval 0.97 s: hundredths", 0.0, 10.0, 31, 44,
         L"11: 1/-21 \"00:00:00, 0\" [13 25 38 50] 63/41 \"00:00:00,96\" 125/103 \"00:00:01,93\""},
        {"interval below a hundredth: widened to one", 0.28, 640 / 16384.0, 50, 70,
         L"5: 1/-34 \"00:00:00,28\" [33 66 98 131] 164/129 \"00:00:00,29\" 328/293 "
         L"\"00:00:00,30\""},
        {"start mid-interval: the first label left of the strip, minor ticks inside", 2.5, 10.0, 32,
         44, L"11: -31/-47 \"00:00:02\" [-19 -6 7 20] 33/17 \"00:00:03\" 97/81 \"00:00:04\""},
        {"100 hours", 359999.5, 10.0, 32, 44,
         L"11: -31/-47 \"99:59:59\" [-19 -6 7 20] 33/17 \"100:00:00\" 97/81 \"100:00:01\""},
        {"123 hours", 443045.0, 10.0, 32, 44,
         L"11: 1/-15 \"123:04:05\" [13 26 39 52] 65/49 \"123:04:06\" 129/113 \"123:04:07\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            Describe(ComputeTimeTicks(c.start, c.span, 643, 640, c.labelWidth8, c.labelWidth11), 3),
            c.expected)
            << c.what;
    }
    // Nothing to show, or nothing to measure with.
    EXPECT_TRUE(ComputeTimeTicks(5.0, 0.0, 643, 640, 50, 70).empty());
    EXPECT_TRUE(ComputeTimeTicks(5.0, -1.0, 643, 640, 50, 70).empty());
    EXPECT_TRUE(ComputeTimeTicks(5.0, 10.0, 643, 0, 50, 70).empty());
    EXPECT_TRUE(ComputeTimeTicks(5.0, 10.0, 643, 640, 0, 0).empty());
}

class TimelinePicture : public ::testing::Test {
  protected:
    // A 643-pixel strip showing 1/64 s per pixel: label k at 2 * labelWidth * k + 1.
    void SetUp() override {
        auto wave = std::make_unique<VisualComponent>(0, 0, 300, 100);
        inner = wave.get();
        timeline = std::make_unique<TimelineDecorator>(0, 0, 300, 100, std::move(wave));
        timeline->SetBounds(0, 0, 642, 40);
        timeline->SetTimeRange(0.0, 10.0);
    }

    QImage Paint() {
        QImage image(720, 41, QImage::Format_RGB32);
        image.fill(kBackground);
        QPainter painter(&image);
        timeline->Draw(painter);
        return image;
    }

    static int LabelWidth() {
        return QFontMetrics(TimelineDecorator::LabelFont())
            .horizontalAdvance(QStringLiteral("00:00:00"));
    }

    // Where a text drawn with the top-left corner of its cell at (0, 0) has ink.
    static QRect InkOf(const QString& text) {
        QImage image(200, 40, QImage::Format_RGB32);
        image.fill(kTeal);
        QPainter painter(&image);
        painter.setFont(TimelineDecorator::LabelFont());
        painter.setPen(QColor(kBlack));
        painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignTop, text);
        painter.end();
        QRect ink;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != kTeal)
                    ink |= QRect(x, y, 1, 1);
            }
        }
        return ink;
    }

    static bool ColumnIs(const QImage& image, int x, int firstRow, int lastRow, QRgb colour) {
        for (int y = firstRow; y <= lastRow; ++y) {
            if (image.pixel(x, y) != colour)
                return false;
        }
        return true;
    }

    VisualComponent* inner = nullptr;
    std::unique_ptr<TimelineDecorator> timeline;
};

TEST_F(TimelinePicture, TealStripWithTicksAndLabelsOverTheWaveformsTopRow) {
    SIZE size;
    timeline->GetDrawingSize(&size);
    EXPECT_EQ(size.cx, 641);
    EXPECT_EQ(size.cy, 20);  // rows 19 .. 40 less the frame
    EXPECT_EQ(inner->HitTest(10, 19), 9);
    EXPECT_EQ(inner->HitTest(10, 18), -1);

    const QImage image = Paint();
    const int labelWidth = LabelWidth();
    const int x = 2 * labelWidth + 1;  // the second label, 00:00:01
    EXPECT_TRUE(ColumnIs(image, 0, 0, 19, kBlack));
    EXPECT_TRUE(ColumnIs(image, 642, 0, 19, kBlack));
    EXPECT_TRUE(ColumnIs(image, 1, 0, 5, kBlack));  // the first label's tick
    EXPECT_TRUE(ColumnIs(image, x, 0, 5, kBlack));
    // Minor ticks every fifth of the way to the next label, rows 1 to 3.
    const int minor = x + static_cast<int>(0.8 * labelWidth);
    EXPECT_TRUE(ColumnIs(image, minor, 0, 3, kBlack));
    EXPECT_TRUE(ColumnIs(image, minor, 4, 18, kTeal));
    const int plain = x + static_cast<int>(0.6 * labelWidth);
    EXPECT_TRUE(ColumnIs(image, plain, 1, 18, kTeal));
    EXPECT_EQ(image.pixel(plain, 19), kBlack);  // the shared row
    EXPECT_EQ(image.pixel(plain, 20), qRgb(255, 255, 255));

    // The label's text cell has its top-left corner at (x - half, 3).
    QRect ink;
    for (int py = 1; py < 19; ++py) {
        for (int px = x - labelWidth; px <= x + labelWidth; ++px) {
            const bool tick = px == x || ColumnIs(image, px, 1, 3, kBlack);
            if (!tick && image.pixel(px, py) != kTeal)
                ink |= QRect(px, py, 1, 1);
        }
    }
    EXPECT_EQ(ink, InkOf(QStringLiteral("00:00:01"))
                       .translated(x - labelWidth / 2, TimelineDecorator::kLabelTop));
}

TEST_F(TimelinePicture, StripIsRebuiltOnlyAfterANewRangeOrReset) {
    const int second = 2 * LabelWidth() + 1;
    Paint();
    // New bounds alone keep the old strip, 643 pixels wide.
    timeline->SetBounds(0, 0, 700, 40);
    QImage image = Paint();
    EXPECT_TRUE(ColumnIs(image, second, 1, 5, kBlack));
    EXPECT_EQ(image.pixel(700, 10), kBackground);

    // Half an interval later every label moves left by one label width.
    timeline->SetTimeRange(LabelWidth() / 64.0, 698 / 64.0);
    image = Paint();
    EXPECT_EQ(image.pixel(700, 10), kBlack);
    EXPECT_TRUE(ColumnIs(image, second - LabelWidth(), 1, 5, kBlack));
    EXPECT_TRUE(ColumnIs(image, second, 1, 3, kTeal));

    timeline->Reset();
    image = Paint();
    for (int x = 1; x < 700; ++x)
        ASSERT_TRUE(ColumnIs(image, x, 1, 18, kTeal)) << x;
}

}  // namespace
