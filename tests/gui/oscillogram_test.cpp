// The oscillogram: the pictures the component chain paints, the cursor and
// selection rules, and the scroll bar's Windows-like range, page and position.
// The time axis has its own tests.
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <array>

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

std::unique_ptr<short[]> Columns(std::initializer_list<short> values) {
    auto columns = std::make_unique<short[]>(values.size());
    std::copy(values.begin(), values.end(), columns.get());
    return columns;
}

std::unique_ptr<short[]> ConstantColumns(int count, short value) {
    auto columns = std::make_unique<short[]>(static_cast<std::size_t>(count));
    std::fill_n(columns.get(), count, value);
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
    // Waveform 30,59 .. 670,175 under the strip; column i at x = 31 + i.
    view.SetWaveform(ConstantColumns(600, 10), 600, 0.0, 12.5);
    view.SetCursorColumn(0);
    view.SetSelectionColumns(0, 50);
    view.Redraw();
    const QImage image = Picture();
    // Strokes from 117 - 10 to 117 + 10.
    EXPECT_EQ(RowsOf(image, 100, kBlue), Range(107, 127));
    EXPECT_EQ(image.pixel(630, 117), kBlue);
    EXPECT_EQ(image.pixel(631, 117), kGreen);  // right of the last column
    // Cursor inside the frame, rows 60 .. 173.
    EXPECT_EQ(RowsOf(image, 31, kRed), Range(60, 173));
    // Band from x 31 to 80, rows 59 .. 173, darkening what is under it by half.
    EXPECT_EQ(image.pixel(32, 80), kHalfWhite);
    EXPECT_EQ(image.pixel(80, 80), kHalfWhite);
    EXPECT_EQ(image.pixel(81, 80), kWhite);
    EXPECT_EQ(image.pixel(40, 117), qRgb(0, 0, 127));
    EXPECT_EQ(image.pixel(40, 173), kHalfWhite);
    EXPECT_EQ(image.pixel(40, 174), kWhite);
    EXPECT_EQ(image.pixel(40, 59), kBlack);  // the strip's row stays on top

    view.ClearSelection();
    view.SetCursorColumn(-1);
    view.Redraw();
    const QImage cleared = Picture();
    EXPECT_EQ(cleared.pixel(40, 80), kWhite);
    EXPECT_EQ(cleared.pixel(31, 80), kWhite);

    // A point maps to the column drawn under it; points on the frame to the
    // nearest column inside it.
    for (const auto& [x, drawnAt] : {std::pair(30, 31), std::pair(31, 31), std::pair(400, 400),
                                     std::pair(669, 669), std::pair(670, 669)}) {
        const POINTS point{static_cast<short>(x), 100};
        view.SetCursorColumn(view.HitTestWaveform(&point));
        EXPECT_EQ(RowsOf(Picture(), drawnAt, kRed), Range(60, 173)) << x;
    }
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
    // Clamped to 600 .. 639: the band reaches the last column, not the frame.
    EXPECT_EQ(selection(600, 900), std::pair(600, 639));
    EXPECT_EQ(selection(638, 900), std::pair(-1, -1));
    EXPECT_EQ(selection(-20, -1), std::pair(-1, -1));

    // Only columns between the frame lines take the cursor.
    view.SetCursorColumn(size.cx);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    view.SetCursorColumn(size.cx - 1);
    EXPECT_EQ(view.GetCursorColumn(), size.cx - 1);
}

TEST_F(ViewTest, CursorAndSelectionNeedAWaveform) {
    view.SetCursorColumn(10);
    view.SetSelectionColumns(10, 100);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    QImage image = Picture();
    // Empty: a bare strip 30,40 .. 670,59 over a white field 30,59 .. 670,175 with
    // a green centre line.
    EXPECT_EQ(image.pixel(30, 50), kBlack);
    EXPECT_EQ(image.pixel(100, 40), kBlack);
    EXPECT_EQ(image.pixel(31, 43), kTeal);
    EXPECT_EQ(image.pixel(100, 59), kBlack);
    EXPECT_EQ(image.pixel(60, 80), kWhite);
    EXPECT_EQ(image.pixel(31, 117), kGreen);
    EXPECT_EQ(image.pixel(669, 117), kGreen);
    EXPECT_EQ(image.pixel(670, 117), kBlack);
    EXPECT_EQ(image.pixel(100, 175), kBlack);

    view.SetWaveform(ConstantColumns(10, 3), 10, 0.0, 1.0);
    view.SetCursorColumn(4);
    EXPECT_EQ(view.GetCursorColumn(), 4);
    image = Picture();
    EXPECT_EQ(RowsOf(image, 34, kBlue), Range(114, 120));
    EXPECT_EQ(image.pixel(31, 43), kBlack);  // the tick of the first label, over column 0

    // No columns: the waveform and the time axis are dropped, cursor calls ignored.
    view.SetWaveform(ConstantColumns(10, 3), 0, 0.0, 1.0);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    view.SetCursorColumn(4);
    EXPECT_EQ(view.GetCursorColumn(), -1);
    image = Picture();
    EXPECT_EQ(RowsOf(image, 34, kBlue), std::vector<int>());
    EXPECT_EQ(image.pixel(31, 43), kTeal);
}

// Maximum, page and position as the view reports them.
std::array<int, 3> ScrollState(View& view) {
    return {view.GetScrollMaximum(), view.GetScrollPage(), view.GetScrollPosition()};
}

// The QScrollBar's own range is only the span its thumb can travel.
std::array<int, 3> BarState(const QScrollBar* bar) {
    return {bar->maximum(), bar->pageStep(), bar->value()};
}

TEST_F(ViewTest, ScrollRangeAndPageFollowTheWaveformWidth) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    // An empty waveform: range 0..1 under a larger page, so the thumb fills the bar.
    view.SetScrollRange(0, 0);
    EXPECT_EQ(ScrollState(view), (std::array{1, 2, 0}));
    EXPECT_EQ(BarState(bar), (std::array{0, 2, 0}));

    // 639 drawable columns: page trunc(0.75 * 639); the position stops at 1001 - 478.
    view.SetScrollRange(1000, 900);
    EXPECT_EQ(ScrollState(view), (std::array{1001, 479, 523}));
    EXPECT_EQ(BarState(bar), (std::array{523, 479, 523}));

    ResizeTo(900, 600);  // 839 drawable columns
    view.SetScrollRange(1000, 900);
    EXPECT_EQ(ScrollState(view), (std::array{1001, 629, 373}));
    EXPECT_EQ(BarState(bar), (std::array{373, 629, 373}));
    view.SetScrollPosition(-5);
    EXPECT_EQ(view.GetScrollPosition(), 0);
    view.SetScrollPosition(5000);
    EXPECT_EQ(BarState(bar), (std::array{373, 629, 373}));

    view.SetScrollRange(-7, 3);
    EXPECT_EQ(ScrollState(view), (std::array{0, 1, 0}));
    view.SetScrollRange(1000, 200);
    view.ResetWaveform(false);
    EXPECT_EQ(ScrollState(view), (std::array{1, 2, 0}));
}

// The centre of a part of the scroll bar, in the bar's coordinates.
QPoint PartOf(const QScrollBar* bar, QStyle::SubControl part) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Horizontal;
    option.state |= QStyle::State_Horizontal;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar).center();
}

TEST_F(ViewTest, ScrollBarInputGoesToThePresenterWhichAloneMovesTheThumb) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    view.SetScrollRange(1000, 100);
    const auto click = [&](QStyle::SubControl part) {
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, PartOf(bar, part));
    };
    click(QStyle::SC_ScrollBarAddLine);
    click(QStyle::SC_ScrollBarSubLine);
    click(QStyle::SC_ScrollBarAddPage);
    click(QStyle::SC_ScrollBarSubPage);
    EXPECT_EQ(presenter.lines, (std::vector<bool>{true, false}));
    EXPECT_EQ(presenter.pages, (std::vector<bool>{true, false}));
    // The presenter ignored them all: the thumb has not moved.
    EXPECT_EQ(bar->value(), 100);

    presenter.onScrollPage = [&](bool right) {
        view.SetScrollPosition(view.GetScrollPosition() + (right ? 7 : -7));
    };
    click(QStyle::SC_ScrollBarAddPage);
    EXPECT_EQ(view.GetScrollPosition(), 107);
    EXPECT_EQ(bar->value(), 107);

    // A dragged thumb follows the pointer and is reported; let go, it returns to
    // where the presenter put it.
    std::vector<int> tracked;
    presenter.onScrollThumbTrack = [&] { tracked.push_back(view.GetScrollTrackPosition()); };
    const QPoint thumb = PartOf(bar, QStyle::SC_ScrollBarSlider);
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, thumb);
    QTest::mouseMove(bar, thumb + QPoint(60, 0));
    ASSERT_FALSE(tracked.empty());
    EXPECT_GT(tracked.back(), 107 + 30);
    EXPECT_EQ(bar->sliderPosition(), tracked.back());
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, thumb + QPoint(60, 0));
    EXPECT_EQ(bar->value(), 107);
    EXPECT_EQ(view.GetScrollPosition(), 107);
}

}  // namespace
