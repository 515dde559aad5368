// The oscillogram: the pictures the component chain paints, the cursor and
// selection rules, and the scroll bar's Windows-like range, page and position.
#include <QPainter>
#include <QScrollBar>

#include "ScrollBarDecorator.h"
#include "TimelineDecorator.h"
#include "ViewFixture.h"
#include "VisualComponent.h"

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kTeal = qRgb(10, 110, 120);
const QRgb kBackground = qRgb(212, 208, 200);
const QRgb kHalfWhite = qRgb(127, 127, 127);
const QRgb kHalfGreen = qRgb(0, 127, 0);

short* Columns(std::initializer_list<short> values) {
    auto* columns = new short[values.size()];
    std::copy(values.begin(), values.end(), columns);
    return columns;
}

short* ConstantColumns(int count, short value) {
    auto* columns = new short[count];
    std::fill_n(columns, count, value);
    return columns;
}

// Paints a component alone onto a grey canvas.
QImage Paint(IVisualComponent& component, QSize canvas = QSize(60, 40)) {
    QImage image(canvas, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    component.Draw(painter);
    return image;
}

// Rows of column x that have the colour.
std::vector<int> RowsOf(const QImage& image, int x, QRgb colour) {
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(x, y) == colour)
            rows.push_back(y);
    }
    return rows;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> rows;
    for (int y = first; y <= last; ++y)
        rows.push_back(y);
    return rows;
}

TEST(VisualComponentPicture, EachColumnIsAStrokeAcrossItsPeakJoinedToTheNext) {
    VisualComponent wave(0, 0, 39, 20);  // mid = 10
    wave.SetColumns(Columns({3, 0, 5, 1}), 4);
    const QImage image = Paint(wave);
    EXPECT_EQ(RowsOf(image, 1, kBlue), Range(7, 13));
    // A zero column is a dot on the centre line, reached from the neighbours.
    EXPECT_EQ(image.pixel(2, 10), kBlue);
    EXPECT_EQ(RowsOf(image, 3, kBlue), Range(5, 15));
    // Column 3 ends at its bottom; the line climbs to column 4 from there.
    EXPECT_EQ(image.pixel(4, 9), kBlue);
    EXPECT_EQ(image.pixel(4, 10), kBlue);
    EXPECT_EQ(image.pixel(4, 11), kBlue);  // the end point is painted too
    EXPECT_NE(image.pixel(4, 8), kBlue);
    EXPECT_NE(image.pixel(4, 13), kBlue);
    EXPECT_EQ(RowsOf(image, 5, kBlue), std::vector<int>());
    EXPECT_EQ(image.pixel(5, 10), kGreen);
}

TEST(VisualComponentPicture, CursorAndBandAreDrawnOverTheCachedPicture) {
    VisualComponent wave(10, 5, 49, 25);
    wave.SetColumns(ConstantColumns(38, 2), 38);
    wave.SetSelection(0, 4);
    wave.SetCursorColumn(0);
    const QImage image = Paint(wave);
    // Band from one pixel right of the frame, last - first wide, top to bottom - 2.
    EXPECT_EQ(image.pixel(12, 6), kHalfWhite);
    EXPECT_EQ(image.pixel(14, 5), qRgb(0, 0, 0));  // over the top frame
    EXPECT_EQ(image.pixel(14, 23), kHalfWhite);
    EXPECT_EQ(image.pixel(14, 24), kWhite);
    EXPECT_EQ(image.pixel(15, 6), kWhite);
    EXPECT_EQ(image.pixel(13, 15), qRgb(0, 0, 127));  // over a stroke
    // Cursor at column 0: x = left + 1, from top + 1 to bottom - 2.
    EXPECT_EQ(RowsOf(image, 11, kRed), Range(6, 23));
}

TEST(VisualComponentPicture, PictureIsKeptUntilReset) {
    VisualComponent wave(0, 0, 19, 9);
    Paint(wave);
    wave.SetBounds(0, 0, 39, 19);
    // The old 20 x 10 picture stays until the next Reset.
    QImage image = Paint(wave);
    EXPECT_EQ(image.pixel(19, 9), kBlack);
    EXPECT_EQ(image.pixel(30, 15), kBackground);
    wave.Reset();
    image = Paint(wave);
    EXPECT_EQ(image.pixel(39, 19), kBlack);
    EXPECT_EQ(image.pixel(30, 15), kWhite);
}

TEST(TimelinePicture, StripCoversTheWaveformsTopFrameRow) {
    auto wave = std::make_unique<VisualComponent>(0, 0, 300, 100);
    VisualComponent* inner = wave.get();
    TimelineDecorator timeline(0, 0, 300, 100, std::move(wave));
    timeline.SetBounds(2, 1, 41, 35);
    SIZE size;
    timeline.GetDrawingSize(&size);
    EXPECT_EQ(size.cx, 38);
    EXPECT_EQ(size.cy, 14);  // rows 20 .. 35 less the frame
    EXPECT_EQ(inner->HitTest(10, 20), 8);
    EXPECT_EQ(inner->HitTest(10, 19), -1);

    const QImage image = Paint(timeline);
    EXPECT_EQ(image.pixel(10, 1), kBlack);
    EXPECT_EQ(image.pixel(10, 10), kTeal);
    EXPECT_EQ(image.pixel(2, 10), kBlack);
    EXPECT_EQ(image.pixel(41, 10), kBlack);
    EXPECT_EQ(image.pixel(10, 20), kBlack);  // the shared row
    EXPECT_EQ(image.pixel(10, 21), kWhite);
}

TEST_F(ViewTest, EmptyOscillogramInTheWindow) {
    const QImage image = Picture();
    EXPECT_EQ(image.pixel(2, 2), kBackground);
    // Time strip 30,40 .. 670,59; waveform 30,59 .. 670,175.
    EXPECT_EQ(image.pixel(100, 40), kBlack);
    EXPECT_EQ(image.pixel(100, 50), kTeal);
    EXPECT_EQ(image.pixel(30, 50), kBlack);
    EXPECT_EQ(image.pixel(670, 50), kBlack);
    EXPECT_EQ(image.pixel(100, 59), kBlack);
    EXPECT_EQ(image.pixel(100, 60), kWhite);
    EXPECT_EQ(image.pixel(100, 117), kGreen);
    EXPECT_EQ(image.pixel(31, 117), kGreen);
    EXPECT_EQ(image.pixel(669, 117), kGreen);
    EXPECT_EQ(image.pixel(670, 117), kBlack);
    EXPECT_EQ(image.pixel(100, 175), kBlack);
    EXPECT_EQ(image.pixel(28, 100), kBackground);
}

// Pixels of the image inside rect that are clearly green.
int GreenPixels(const QImage& image, const QRect& rect) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > c.red() + 60 && c.green() > c.blue() + 60)
                ++count;
        }
    }
    return count;
}

TEST_F(ViewTest, HeaderShowsIconsAndLampsThatFollowTheCycle) {
    // At 700 x 400: microphone at 5,12, loudspeaker at 675,12 (24 x 24); lamps at
    // 535,15 and 600,15 (16 x 16).
    const QRect listenLamp(535, 15, 16, 16);
    const QRect sayLamp(600, 15, 16, 16);
    QImage image = Picture();
    EXPECT_NE(image.pixel(17, 20), kBackground);   // the microphone's body
    EXPECT_NE(image.pixel(684, 24), kBackground);  // the loudspeaker's body
    EXPECT_EQ(GreenPixels(image, listenLamp), 0);
    EXPECT_NE(image.pixel(543, 23), kBackground);

    view.SetLooping(true);
    image = Picture();
    EXPECT_GT(GreenPixels(image, listenLamp), 40);
    EXPECT_EQ(GreenPixels(image, sayLamp), 0);

    view.SetListenLamp(false);
    view.SetSayLamp(true);
    image = Picture();
    EXPECT_EQ(GreenPixels(image, listenLamp), 0);
    EXPECT_GT(GreenPixels(image, sayLamp), 40);

    // Looping on or off always puts the Say lamp out.
    view.SetLooping(false);
    image = Picture();
    EXPECT_EQ(GreenPixels(image, listenLamp), 0);
    EXPECT_EQ(GreenPixels(image, sayLamp), 0);
}

TEST_F(ViewTest, WaveformCursorAndSelectionInTheWindow) {
    view.SetWaveform(ConstantColumns(600, 10), 600, 0.0, 12.5);
    view.SetCursorColumn(200);
    view.SetSelectionColumns(100, 150);
    view.Redraw();
    const QImage image = Picture();
    // Column i at x = 31 + i: strokes from 117 - 10 to 117 + 10.
    EXPECT_EQ(RowsOf(image, 41, kBlue), Range(107, 127));
    EXPECT_EQ(image.pixel(630, 117), kBlue);
    EXPECT_EQ(image.pixel(631, 117), kGreen);  // right of the last column
    // Cursor at x = 231, rows 60 .. 173.
    EXPECT_EQ(RowsOf(image, 231, kRed), Range(60, 173));
    // Band from x 131 to 180: half white, half green, half blue.
    EXPECT_EQ(image.pixel(140, 80), kHalfWhite);
    EXPECT_EQ(image.pixel(131, 80), kHalfWhite);
    EXPECT_EQ(image.pixel(180, 80), kHalfWhite);
    EXPECT_EQ(image.pixel(181, 80), kWhite);
    EXPECT_EQ(image.pixel(130, 80), kWhite);
    EXPECT_EQ(image.pixel(140, 117), qRgb(0, 0, 127));
    EXPECT_EQ(image.pixel(140, 173), kHalfWhite);
    EXPECT_EQ(image.pixel(140, 174), kWhite);
    EXPECT_EQ(image.pixel(140, 59), kBlack);  // the strip's row stays on top

    view.ClearSelection();
    view.SetCursorColumn(-1);
    view.Redraw();
    const QImage cleared = Picture();
    EXPECT_EQ(cleared.pixel(140, 80), kWhite);
    EXPECT_EQ(cleared.pixel(231, 80), kWhite);
}

TEST_F(ViewTest, SelectionNarrowerThanTwoColumnsOrOutsideIsNotShown) {
    SIZE size;
    view.GetWaveformSize(&size);
    const int width = size.cx + 2;  // the rectangle's width, 641
    ASSERT_EQ(width, 641);
    view.SetWaveform(ConstantColumns(size.cx, 1), size.cx, 0.0, 10.0);
    view.SetCursorColumn(5);
    EXPECT_EQ(view.GetCursorColumn(), 5);

    const auto selection = [&](int first, int last) {
        view.SetSelectionColumns(first, last);
        const QImage image = Picture();
        std::vector<int> shaded;
        for (int x = 30; x <= 670; ++x) {
            if (image.pixel(x, 80) == kHalfWhite)
                shaded.push_back(x - 31);
        }
        return shaded.empty() ? std::pair(-1, -1) : std::pair(shaded.front(), shaded.back() + 1);
    };
    // Shown columns are first + 1 .. last (x offsets), so a band (f, l) reads (f, l).
    EXPECT_EQ(selection(10, 11), std::pair(-1, -1));
    EXPECT_EQ(selection(10, 12), std::pair(10, 12));
    EXPECT_EQ(selection(-5, 50), std::pair(0, 50));
    EXPECT_EQ(selection(width, width + 10), std::pair(-1, -1));
    // Clamped to 600 .. 640; the last shaded column lies on the right frame, black.
    EXPECT_EQ(selection(600, 900), std::pair(600, 639));
    EXPECT_EQ(selection(-20, -1), std::pair(-1, -1));

    view.SetCursorColumn(width);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    view.SetCursorColumn(width - 1);
    EXPECT_EQ(view.GetCursorColumn(), width - 1);
}

TEST_F(ViewTest, CursorAndSelectionNeedAWaveform) {
    view.SetCursorColumn(10);
    view.SetSelectionColumns(10, 100);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    EXPECT_EQ(Picture().pixel(60, 80), kWhite);

    view.SetWaveform(ConstantColumns(10, 3), 10, 0.0, 1.0);
    view.SetCursorColumn(4);
    EXPECT_EQ(view.GetCursorColumn(), 4);
    // No columns: the waveform and the time axis are dropped, cursor calls ignored.
    view.SetWaveform(ConstantColumns(10, 3), 0, 0.0, 1.0);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    view.SetCursorColumn(4);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    view.SetWaveform(nullptr, 0, 0.0, 0.0);
    view.ResetWaveform(true);
    EXPECT_EQ(RowsOf(Picture(), 35, kBlue), std::vector<int>());
}

TEST(ScrollInfoRules, ClampLikeAWindowsScrollBar) {
    struct Case {
        ScrollInfo given;
        ScrollInfo stored;
    };
    const std::vector<Case> cases = {
        {{0, 1, 478, 0}, {0, 1, 2, 0}},  // empty waveform: the thumb fills the bar
        {{0, 1001, 479, 900}, {0, 1001, 479, 523}},
        {{0, 1001, 479, -4}, {0, 1001, 479, 0}},
        {{0, 10, 0, 20}, {0, 10, 0, 10}},  // no page: the last position is the maximum
        {{0, 10, -3, 5}, {0, 10, 0, 5}},
        {{5, 3, 2, 1}, {0, 0, 1, 0}},  // minimum above maximum: an empty range
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClampScrollInfo(c.given), c.stored)
            << c.given.maximum << " " << c.given.page << " " << c.given.position;
    }
}

TEST_F(ViewTest, ScrollRangeIsReadBackAsTheBarKeepsIt) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    view.SetScrollRange(0, 0);
    EXPECT_EQ(view.GetScrollMaximum(), 1);
    EXPECT_EQ(view.GetScrollPage(), 2);
    EXPECT_EQ(view.GetScrollPosition(), 0);
    EXPECT_EQ(bar->maximum(), 0);

    // 639 drawable columns: page trunc(0.75 * 639) = 479.
    view.SetScrollRange(1000, 900);
    EXPECT_EQ(view.GetScrollMaximum(), 1001);
    EXPECT_EQ(view.GetScrollPage(), 479);
    EXPECT_EQ(view.GetScrollPosition(), 523);
    EXPECT_EQ(bar->maximum(), 523);
    EXPECT_EQ(bar->pageStep(), 479);
    EXPECT_EQ(bar->value(), 523);

    view.SetScrollPosition(-5);
    EXPECT_EQ(view.GetScrollPosition(), 0);
    view.SetScrollPosition(300);
    EXPECT_EQ(view.GetScrollPosition(), 300);
    EXPECT_EQ(bar->value(), 300);

    view.SetScrollRange(-7, 3);
    EXPECT_EQ(view.GetScrollMaximum(), 0);
    EXPECT_EQ(view.GetScrollPage(), 1);
    EXPECT_EQ(view.GetScrollPosition(), 0);

    view.SetScrollRange(1000, 200);
    view.ResetWaveform(false);
    EXPECT_EQ(view.GetScrollMaximum(), 1);
    EXPECT_EQ(view.GetScrollPosition(), 0);
}

TEST_F(ViewTest, ScrollActionsGoToThePresenterWhichMovesTheThumb) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    view.SetScrollRange(1000, 100);
    presenter.onScrollLine = [&](bool right) {
        view.SetScrollPosition(view.GetScrollPosition() + (right ? 1 : -1));
    };
    presenter.onScrollPage = [&](bool right) {
        view.SetScrollPosition(view.GetScrollPosition() + (right ? 1 : -1) * view.GetScrollPage());
    };

    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(presenter.lines, std::vector<bool>{true});
    EXPECT_EQ(view.GetScrollPosition(), 101);
    EXPECT_EQ(bar->value(), 101);  // the step is not applied a second time
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(presenter.pages, std::vector<bool>{false});
    EXPECT_EQ(view.GetScrollPosition(), 0);
    EXPECT_EQ(bar->value(), 0);

    // A presenter that ignores the input leaves the thumb where it was.
    presenter.onScrollLine = nullptr;
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar->value(), 0);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(ViewTest, DraggedThumbIsTrackedAndGoesBackIfNotFollowed) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    view.SetScrollRange(1000, 100);
    int tracked = -1;
    presenter.onScrollThumbTrack = [&] {
        tracked = view.GetScrollTrackPosition();
        view.SetScrollPosition(tracked);
    };
    bar->setSliderDown(true);
    bar->setSliderPosition(250);
    bar->setSliderDown(false);
    EXPECT_EQ(tracked, 250);
    EXPECT_EQ(view.GetScrollPosition(), 250);
    EXPECT_EQ(bar->value(), 250);

    presenter.onScrollThumbTrack = nullptr;
    bar->setSliderDown(true);
    bar->setSliderPosition(400);
    EXPECT_EQ(bar->sliderPosition(), 400);  // the thumb follows the pointer while dragged
    bar->setSliderDown(false);
    EXPECT_EQ(bar->value(), 250);
    EXPECT_EQ(view.GetScrollPosition(), 250);
}

}  // namespace
