// The view as the presenter and the learner reach it: a real main window driven by a
// presenter that records what arrives, the dialogs, the oscillogram and its time axis.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <functional>
#include <ranges>
#include <thread>

#include "IPresenter.h"
#include "MessageBox.h"
#include "OpenFileName.h"
#include "ProgressDialog.h"
#include "QtMessageBox.h"
#include "TimeAxis.h"
#include "View.h"

namespace {

// Forwards what the view depends on (creation, layout, painting) as the real
// presenter does, and counts the rest by name.
struct RecordingPresenter : IPresenter {
    explicit RecordingPresenter(View& shown) : view(shown) {}
    View& view;
    std::map<std::string, int> calls;
    std::vector<std::string> events;  // pointer and scroll bar input, in order
    std::function<void()> onThumbTrack;
    std::function<void(bool)> onPage;

    void Mouse(const char* what, const POINTS* p) {
        events.push_back(what + std::to_string(p->x) + "," + std::to_string(p->y));
    }
    int Run() override { return 0; }
    int OnCreate(HWND hwnd) override { return view.OnCreate(hwnd); }
    void OnSize(int type, int w, int h) override { view.Layout(type, w, h); }
    int OnGetMinMaxInfo(MINMAXINFO* info) override { return info->ptMinTrackSize = {544, 400}, 0; }
    int OnPaint() override { return view.OnPaint(), 0; }
    // Only a refusal is tried: an accepted close ends the event loop of every later dialog.
    int OnClose() override { return ++calls["OnClose"], 0; }
    void OnMove() override {}
    void OnScrollLine(bool right) override { events.push_back(right ? "line+" : "line-"); }
    void OnScrollPage(bool right) override {
        events.push_back(right ? "page+" : "page-"), onPage ? onPage(right) : void();
    }
    void OnScrollThumbTrack() override { onThumbTrack(); }
    void OnMouseDown(const POINTS* point) override { Mouse("down ", point); }
    void OnMouseDrag(const POINTS* point) override { Mouse("drag ", point); }
    void OnMouseUp(const POINTS* point) override { Mouse("up ", point); }
    void OnPlayClick() override { ++calls["OnPlayClick"]; }
    void OnLoopClick() override { ++calls["OnLoopClick"]; }
    void OnZoomInClick() override { ++calls["OnZoomInClick"]; }
    void OnZoomOutClick() override { ++calls["OnZoomOutClick"]; }
    void OnOpenClick() override { ++calls["OnOpenClick"]; }
    void OnRecentFileDoubleClick() override { ++calls["OnRecentFileDoubleClick"]; }
    void OnTimer() override { ++calls["OnTimer"]; }
    void OnMicVolumeChange() override { ++calls["OnMicVolumeChange"]; }
    void OnSpeakerVolumeChange() override { ++calls["OnSpeakerVolumeChange"]; }
    void OnInputDeviceChange() override { ++calls["OnInputDeviceChange"]; }
    void OnInputPinChange() override { ++calls["OnInputPinChange"]; }
    void OnCaptureEvent() override { ++calls["OnCaptureEvent"]; }
    void OnMouseDoubleClick(const POINTS* point) override { Mouse("double ", point); }
    void OnPhraseKey(bool next) override { events.push_back(next ? "phrase+" : "phrase-"); }
    void OnAdvanceAfterChange() override { ++calls["OnAdvanceAfterChange"]; }
    void OnSpeedChange() override { ++calls["OnSpeedChange"]; }
};

const QRgb kBlack = 0xff000000, kBlue = 0xff0000ff, kRed = 0xffff0000, kHalfWhite = 0xff7f7f7f;

// A shown main window of 700 x 400 client pixels; its waveform's frame is
// 30,59 .. 670,175 and column i is drawn at x = 31 + i.
class ViewTest : public ::testing::Test {
  protected:
    View view;
    RecordingPresenter presenter{view};
    void SetUp() override {
        thePresenter = &presenter;
        ASSERT_TRUE(view.CreateAndShow(100, 100, 700, 400, false));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window()));
    }
    void TearDown() override { thePresenter = nullptr; }
    QWidget* Window() const { return view.MainWidget(); }
    template <class T = QWidget>
    T* Control(const char* name) const {
        return Window()->findChild<T*>(QLatin1String(name));
    }
    void ResizeTo(QSize size) {
        Window()->resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Window()->size() == size; }));
    }
    QImage Picture() const {
        return Window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // The first and last rows of column x, or with x < 0 the columns of row y, that have
    // the colour, in one unbroken run; or -1, -1.
    std::pair<int, int> Find(QRgb colour, int x, int y = 0) const {
        const QImage image = Picture();
        std::vector<int> found;
        for (int i = 0; i < (x < 0 ? image.width() : image.height()); ++i)
            image.pixel(x < 0 ? i : x, x < 0 ? y : i) == colour ? found.push_back(i) : void();
        EXPECT_TRUE(found.empty() || found.back() - found.front() + 1 == int(found.size()));
        return found.empty() ? std::pair(-1, -1) : std::pair(found.front(), found.back());
    }
};

// Screen readers name every control; the main window asks the presenter before closing.
TEST_F(ViewTest, ControlsAreNamedAndApartAndNeitherWindowClosesWithoutThePresenter) {
    EXPECT_EQ(Window()->minimumSize(), QSize(544, 400));
    ResizeTo(QSize(544, 400));
    view.ShowInputDevices(true), view.ShowInputPins(true), view.LayoutDeviceCombos();
    const auto controls = Window()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* a : controls) {
        EXPECT_FALSE(a->accessibleName().isEmpty()) << a->objectName().toStdString();
        for (QWidget* b : controls)
            EXPECT_TRUE(Window()->rect().contains(a->geometry()) &&
                        (a == b || !a->geometry().intersects(b->geometry())))
                << a->objectName().toStdString() << " over " << b->objectName().toStdString();
    }
    // Where the device lists leave room, the study choices sit in the header before the lamps.
    ResizeTo(QSize(800, 400));
    view.ShowInputPins(false), view.LayoutDeviceCombos();
    EXPECT_LT(Control("SpeedCombo")->geometry().right(), Control("ListenLabel")->x() - 16);
    EXPECT_GT(Control("AdvanceCombo")->x(), Control("InputDeviceCombo")->geometry().right());
    EXPECT_EQ(Control("AdvanceCombo")->y(), Control("InputDeviceCombo")->y());
    EXPECT_EQ(std::pair(Window()->close(), presenter.calls["OnClose"]), std::pair(false, 1));
    // Nor can the learner close the loading window.
    view.ShowProgress();
    auto* loading = Window()->findChild<ProgressDialog*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loading->isVisible(); }));
    loading->close();
    QTest::keyClick(loading, Qt::Key_Escape);
    EXPECT_TRUE(loading->isVisible());
}

struct ControlRow {
    const char* name;
    bool enabledAtStart;
    const char* click = nullptr;  // what a click reports, for buttons
    void (View::*enable)(bool) = nullptr;
    const char* key = nullptr;  // the key that clicks it
};
const ControlRow kControls[] = {
    {"PlayButton", false, "OnPlayClick", &View::EnablePlay, "Space"},
    {"LoopButton", false, "OnLoopClick", &View::EnableLoop, "L"},
    {"ZoomInButton", false, "OnZoomInClick", &View::EnableZoomIn, "+"},
    {"ZoomOutButton", false, "OnZoomOutClick", &View::EnableZoomOut, "-"},
    {"OpenButton", true, "OnOpenClick", &View::EnableOpen, "Ctrl+O"},
    {"MicVolumeTrackbar", true},
    {"SpeakerVolumeTrackbar", true},
    {"InputDeviceCombo", true},
    {"InputPinCombo", true},
};

TEST_F(ViewTest, EachControlIsEnabledOnItsOwnAndClickedOnlyWhenEnabled) {
    for (bool atStart : {true, false}) {
        atStart ? void() : view.EnableControls(false);
        for (const ControlRow& row : kControls)
            EXPECT_EQ(Control(row.name)->isEnabled(), atStart && row.enabledAtStart) << row.name;
    }
    for (const ControlRow& row : kControls) {
        for (bool enabled : {false, true}) {
            if (!row.click)
                break;
            view.EnableControls(true);
            (view.*row.enable)(enabled);
            for (const ControlRow& other : kControls)
                EXPECT_EQ(Control(other.name)->isEnabled(), enabled || &other != &row) << row.name;
            QTest::mouseClick(Control(row.name), Qt::LeftButton);
            QTest::keySequence(Window(), QKeySequence(QString(row.key)));
            EXPECT_EQ(presenter.calls[row.click], enabled ? 2 : 0) << row.name;
        }
    }
    // Enter opens the selected recent file; Space stays the list's.
    auto* recent = Control<QListWidget>("RecentFilesList");
    view.AddRecentFile(L"/a.mp3"), view.EnablePlay(true), recent->setCurrentRow(0);
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return})
        QTest::keyClick(recent, key);
    EXPECT_EQ(std::pair(presenter.calls["OnPlayClick"], presenter.calls["OnRecentFileDoubleClick"]),
              std::pair(2, 1));
}

TEST_F(ViewTest, TrackbarsAndCombosShowTheirValueAndReportOnlyTheUsersChange) {
    const std::tuple<const char*, void (View::*)(int), int (View::*)(), const char*> trackbars[] = {
        {"MicVolumeTrackbar", &View::SetMicVolumePos, &View::GetMicVolumePos, "OnMicVolumeChange"},
        {"SpeakerVolumeTrackbar", &View::SetSpeakerVolumePos, &View::GetSpeakerVolumePos,
         "OnSpeakerVolumeChange"}};
    for (const auto& [name, set, get, call] : trackbars) {
        auto* trackbar = Control<QSlider>(name);
        (view.*set)(30);
        // Screen readers read and set the volume itself.
        QAccessibleValueInterface* spoken =
            QAccessible::queryAccessibleInterface(trackbar)->valueInterface();
        EXPECT_EQ(std::pair(spoken->currentValue().toInt(), presenter.calls[call]),
                  std::pair(30, 0))
            << name;
        spoken->setCurrentValue(35);
        // A click above the thumb pages louder.
        QTest::mouseClick(trackbar, Qt::LeftButton, {}, QPoint(trackbar->width() / 2, 3));
        EXPECT_EQ(std::pair((view.*get)(), presenter.calls[call]), std::pair(45, 2)) << name;
    }
    // Combo boxes list without selecting; a letter typed into one is not Loop's key.
    const std::tuple<const char*, void (View::*)(const wchar_t*), void (View::*)(int),
                     int (View::*)(), void (View::*)(bool), const char*>
        combos[] = {{"InputDeviceCombo", &View::AddInputDevice, &View::SelectInputDevice,
                     &View::GetSelectedInputDevice, &View::ShowInputDevices, "OnInputDeviceChange"},
                    {"InputPinCombo", &View::AddInputPin, &View::SelectInputPin,
                     &View::GetSelectedInputPin, &View::ShowInputPins, "OnInputPinChange"}};
    view.EnableLoop(true);
    for (const auto& [name, add, select, selected, show, call] : combos) {
        auto* combo = Control<QComboBox>(name);
        for (const wchar_t* entry : {L"One", L"Two", static_cast<const wchar_t*>(nullptr)})
            (view.*add)(entry);
        EXPECT_EQ(std::pair(combo->count(), (view.*selected)()), std::pair(3, -1));
        (view.*select)(0);
        (view.*show)(true);
        QTest::keyClick(combo, Qt::Key_L);
        QTest::keyClick(combo, Qt::Key_Down);
        EXPECT_EQ(std::tuple(combo->isVisible(), (view.*selected)(), presenter.calls[call],
                             presenter.calls["OnLoopClick"]),
                  std::tuple(true, 1, 1, 0))
            << name;
    }
    // The study choices take the nearest listed value.
    view.SetSpeed(73), view.SetAdvanceAfter(7);
    QTest::keyClick(Control("SpeedCombo"), Qt::Key_Down);
    EXPECT_EQ(std::tuple(view.GetSpeed(), view.GetAdvanceAfter(), presenter.calls["OnSpeedChange"]),
              std::tuple(60, 5, 1));
}

TEST_F(ViewTest, OnlyAPlainLeftDragIsReportedInClientPointsAlsoOutsideTheWindow) {
    // With Shift or Ctrl held, or another button, neither press nor drag counts; a
    // release of the left button always does.
    const std::pair<Qt::KeyboardModifiers, Qt::MouseButton> drags[] = {
        {{}, Qt::LeftButton},
        {Qt::ShiftModifier, Qt::LeftButton},
        {Qt::ControlModifier, Qt::LeftButton},
        {{}, Qt::RightButton}};
    for (const auto& [keys, button] : drags) {
        QTest::mousePress(Window(), button, keys, QPoint(30, 59));
        QTest::mouseEvent(QTest::MouseMove, Window(), Qt::NoButton, keys, QPoint(670, 175));
        QTest::mouseEvent(QTest::MouseMove, Window(), Qt::NoButton, keys, QPoint(-20, 450));
        QTest::mouseRelease(Window(), button, keys, QPoint(-20, 450));
    }
    QTest::mouseDClick(Window(), Qt::LeftButton, {}, QPoint(40, 60));
    QTest::keyClick(Window(), Qt::Key_Right), QTest::keyClick(Window(), Qt::Key_Left);
    EXPECT_EQ(presenter.events,
              (std::vector<std::string>{"down 30,59", "drag 670,175", "drag -20,450", "up -20,450",
                                        "up -20,450", "up -20,450", "double 40,60", "phrase+",
                                        "phrase-"}));
}

TEST_F(ViewTest, LampsFollowTheCycleAndTheUiThreadHearsTheTimerCaptureAndMessageBoxes) {
    // Each lamp is painted just left of its label; lit, its middle is green.
    const auto lit = [&](const char* label) {
        const QColor c = Picture().pixelColor(Control(label)->geometry().topLeft() + QPoint(-8, 8));
        return c.green() > c.red() + 60 && c.green() > c.blue() + 60;
    };
    const auto lamps = [&] { return std::pair(lit("ListenLabel"), lit("SayLabel")); };
    EXPECT_EQ(std::pair(lamps(), presenter.calls["OnTimer"]),
              std::pair(std::pair(false, false), 0));
    view.SetLooping(true);
    EXPECT_EQ(lamps(), std::pair(true, false));
    view.SetListenLamp(false), view.SetSayLamp(true);
    EXPECT_EQ(lamps(), std::pair(false, true));
    // The input level shows under the lit Say lamp: green as far as it reaches.
    const auto level = [&](int percent) {
        view.SetInputLevel(percent);
        const QColor c =
            Picture().pixelColor(Control("SayLabel")->geometry().topLeft() + QPoint(20, 19));
        return c.green() > c.red() + 60;
    };
    EXPECT_EQ(std::pair(level(100), level(10)), std::pair(true, false));
    view.SetLooping(false);  // on or off, looping puts the Say lamp out
    EXPECT_EQ(std::pair(lamps(), level(100)), std::pair(std::pair(false, false), false));
    // Once armed, the timer is never stopped.
    view.HideProgress();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.calls["OnTimer"] >= 3; }));

    // Every message box that comes up is answered, its title, text and icon (3:
    // critical) noted.
    InstallQtMessageBoxes();
    QStringList shown;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown << QString("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
            box->accept();
        }
    });
    answerer.start(5);
    std::atomic<int> result{0};
    IWindow* window = view.GetWindowHandle();
    std::thread loader([&] {
        for (std::uint32_t message : {WM_CAPTURE_NOTIFY, WM_APP + 7, WM_CAPTURE_NOTIFY})
            window->PostMessage(message, 0, 0);
        result = MessageBoxW(L"Sorry, such file doesn't exist...", L"Error", MB_OK | MB_ICONERROR);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return result.load() != 0; }));
    loader.join();
    QApplication::processEvents();
    EXPECT_EQ(std::tuple(result.load(), shown, presenter.calls["OnCaptureEvent"]),
              std::tuple(IDOK, QStringList("Error|Sorry, such file doesn't exist...|3"), 2));
    SetMessageBoxHandler(nullptr);
}

TEST_F(ViewTest, OpenWritesBackTheFileItsFolderAndTheFilterOrNothing) {
    constexpr wchar_t kFilter[] = L"Sound\0*.mp3;*.wav\0Wave Files (*.wav)\0*.wav\0";
    wchar_t fileName[kPathBufferLength] = L"", folder[kPathBufferLength] = L"/home/learner";
    int filterIndex = 2;
    OpenFileRequest asked;
    QString reply;
    view.SetOpenDialogFunction([&](QWidget* parent, OpenFileRequest& request) {
        asked = request;
        request.fileName = reply;
        request.filterIndex = 0;
        return parent == Window() && !reply.isEmpty();
    });
    // The answer, the folder and filter then kept; cancelled and too long are refused.
    const std::tuple<QString, const wchar_t*, int> rows[] = {
        {"", L"/home/learner", 2},
        {"/" + QString(kPathBufferLength, QLatin1Char('a')), L"/home/learner", 2},
        {"/home/learner/Speech/lesson.mp3", L"/home/learner/Speech", 1},
        {"C:\\Speech\\Lesson 1\\a.mp3", L"C:\\Speech\\Lesson 1", 1},
        {"/a.wav", L"/", 1}};
    std::tuple<QString, int> asking{"/home/learner", 1};
    for (const auto& [answer, kept, index] : rows) {
        reply = answer;
        const bool taken = view.AskOpenFileName(fileName, folder, kFilter, &filterIndex);
        EXPECT_EQ(
            std::tuple(taken, QString::fromWCharArray(fileName), std::wstring(folder), filterIndex),
            std::tuple(index == 1, index == 1 ? answer : QString(), kept, index));
        EXPECT_EQ(std::tuple(asked.initialDir, asked.filterIndex), asking);
        asking = {QString::fromWCharArray(kept), index - 1};
    }
    EXPECT_EQ(asked.nameFilters, QStringList({"Sound (*.mp3 *.wav)", "Wave Files (*.wav)"}));
}

TEST_F(ViewTest, ClickedPixelCarriesTheCursorInsideTheFrameAndTheBandShadesTheSelection) {
    // The wave's rows in column 3, and whether a tick stands over column 0.
    const auto drawn = [&] {
        return std::pair(Find(kBlue, 34), Picture().pixel(31, 43) == kBlack);
    };
    auto wave = std::make_unique<short[]>(600);
    std::fill_n(wave.get(), 600, 3);
    view.SetWaveform(std::move(wave), 600, 0.0, 12.5);
    EXPECT_EQ(drawn(), std::pair(std::pair(114, 120), true));
    int inked = 0;  // columns of the axis with a label's ink
    for (const QImage axis = Picture(); int x : std::views::iota(31, 670))
        inked += qGray(axis.pixel(x, 50)) < 60;
    EXPECT_GT(inked, 40) << "the labels are drawn";
    view.SetPhraseMarks({3});
    EXPECT_EQ(Find(0xffffc828, 34), std::pair(55, 58)) << "a phrase mark rises from the axis' foot";
    const std::array<int, 3> clicks[] = {{30, 59, 0},     {31, 100, 0},    {400, 100, 369},
                                         {669, 100, 638}, {670, 175, 638}, {29, 100, -1},
                                         {100, 58, -1},   {671, 176, -1}};
    for (const auto& [x, y, column] : clicks) {
        const POINTS point{static_cast<short>(x), static_cast<short>(y)};
        view.SetCursorColumn(view.HitTestWaveform(&point));
        EXPECT_EQ(std::pair(view.GetCursorColumn(), Find(kRed, 31 + std::max(column, 0))),
                  std::pair(column, column < 0 ? std::pair(-1, -1) : std::pair(60, 173)))
            << x << "," << y;
    }
    view.SetCursorColumn(639);  // beyond the frame
    EXPECT_EQ(view.GetCursorColumn(), -1);
    // The columns darkened to half, the first and the last, or none.
    const std::array<int, 4> bands[] = {
        {10, 11, -1, -1},     {10, 12, 10, 11},   {-5, 50, 0, 49},   {641, 651, -1, -1},
        {600, 900, 600, 638}, {638, 900, -1, -1}, {-20, -1, -1, -1}, {10, 50, 10, 49}};
    for (const auto& [first, last, from, to] : bands) {
        view.SetSelectionColumns(first, last);
        EXPECT_EQ(Find(kHalfWhite, -1, 80),
                  from < 0 ? std::pair(-1, -1) : std::pair(31 + from, 31 + to))
            << first << ".." << last;
    }
    view.ClearSelection();
    EXPECT_EQ(Find(kHalfWhite, -1, 80), std::pair(-1, -1));
    // No columns: the waveform and the time axis go, and there is no cursor.
    view.SetWaveform(std::make_unique<short[]>(1), 0, 0.0, 1.0);
    view.SetCursorColumn(4);
    EXPECT_EQ(std::pair(view.GetCursorColumn(), drawn()),
              std::pair(-1, std::pair(std::pair(-1, -1), false)));
}

TEST_F(ViewTest, ScrollRangeIsTheTotalPlusOneAndOnlyThePresenterMovesTheThumb) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    // The view's maximum, page and position, then those of the bar, whose range is
    // only the thumb's travel.
    const auto range = [&](int total, int visible) {
        view.SetScrollRange(total, visible);
        return std::array{view.GetScrollMaximum(), view.GetScrollPage(), view.GetScrollPosition(),
                          bar->maximum(),          bar->pageStep(),      bar->value()};
    };
    EXPECT_EQ(range(0, 0), (std::array{1, 2, 0, 0, 2, 0}));  // empty: the thumb fills the bar
    EXPECT_EQ(range(1000, 900), (std::array{1001, 479, 523, 523, 479, 523}));  // 639 columns
    ResizeTo(QSize(900, 600));
    EXPECT_EQ(range(1000, 900), (std::array{1001, 629, 373, 373, 629, 373}));  // 839 columns
    EXPECT_EQ(range(-7, 3), (std::array{0, 1, 0, 0, 1, 0}));
    // Input goes to the presenter, which alone moves the thumb.
    range(1000, 100);
    for (auto action : {QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderSingleStepSub,
                        QAbstractSlider::SliderPageStepAdd, QAbstractSlider::SliderPageStepSub})
        bar->triggerAction(action);
    EXPECT_EQ(std::pair(presenter.events, bar->value()),
              std::pair(std::vector<std::string>{"line+", "line-", "page+", "page-"}, 100));
    presenter.onPage = [&](bool right) { view.SetScrollPosition(100 + (right ? 7 : -7)); };
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    // A dragged thumb follows the pointer and is reported; let go, it returns to
    // where the presenter put it.
    std::vector<int> tracked;
    presenter.onThumbTrack = [&] { tracked.push_back(view.GetScrollTrackPosition()); };
    bar->setSliderDown(true), bar->setSliderPosition(150), bar->setSliderDown(false);
    EXPECT_EQ(std::tuple(tracked, bar->value(), view.GetScrollPosition()),
              std::tuple(std::vector{150}, 107, 107));
    // It looks as Qt's own bar does in the same place.
    QScrollBar plain(Qt::Horizontal, Window());
    plain.setGeometry(bar->geometry()), plain.setRange(bar->minimum(), bar->maximum());
    plain.setPageStep(bar->pageStep()), plain.setValue(bar->value());
    EXPECT_EQ(bar->grab().toImage(), plain.grab().toImage());
}

// A redraw asked for within a frame of the screen waits for the next one, and is then shown.
TEST_F(ViewTest, RedrawsAreShownAtMostOnceAFrameAndNoneIsLost) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            return paints += event->type() == QEvent::Paint, false;
        }
    } counter;
    Window()->installEventFilter(&counter);
    QElapsedTimer asking;
    for (asking.start(); asking.elapsed() < 200;)
        view.Redraw(), QApplication::processEvents();
    const int shown = counter.paints;
    EXPECT_LE(shown, 200 * Window()->screen()->refreshRate() / 1000 + 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > shown; }));
    // Just after a frame, the thumb moves with the next one.
    view.SetScrollRange(1000, 0), view.SetScrollPosition(50);
    EXPECT_EQ(view.GetScrollPosition(), 50);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Control<QScrollBar>("WaveScrollBar")->value() == 50; }));
}

TEST(TimeAxis, FieldsAreTruncatedAndNeighbouringLabelsStandApartAndNeverReadTheSame) {
    // 0.29 is held as 0.28999...
    const std::tuple<double, bool, const wchar_t*> labels[] = {
        {0.0, false, L"00:00:00"},     {1.05, true, L"00:00:01, 5"},
        {0.29, true, L"00:00:00,29"},  {59.999, true, L"00:00:59,99"},
        {59.999, false, L"00:00:59"},  {3723.25, true, L"01:02:03,25"},
        {-1.5, true, L"-00:00:01,50"}, {123 * 3600.0 + 4 * 60 + 5.5, true, L"123:04:05,50"}};
    for (const auto& [t, hundredths, text] : labels)
        EXPECT_EQ(FormatTime(t, hundredths), text) << t;
    // From the closest zoom out, labels stand two label widths apart or more, with
    // four minor ticks between.
    for (double span : {0.001, 0.04, 0.3, 10.0, 1000.0}) {
        const auto ticks = ComputeTimeTicks(0.28, span, 643, 640, 50, 70);
        ASSERT_FALSE(ticks.empty()) << span;
        EXPECT_LE(ticks[0].x, 1) << span;
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            const TimeTick& before = ticks[i - 1];
            EXPECT_TRUE(ticks[i].label != before.label && ticks[i].x - before.x >= 99 &&
                        before.x < before.minorTicks[0] && before.minorTicks[3] < ticks[i].x)
                << span << ": " << i;
        }
    }
    EXPECT_TRUE(ComputeTimeTicks(5.0, 0.0, 643, 640, 50, 70).empty());
}

}  // namespace
