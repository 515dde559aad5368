// The view as the presenter and the learner reach it: a real main window driven by a
// presenter that records what arrives, the dialogs, the oscillogram and its time axis.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <functional>
#include <numeric>
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
    std::vector<std::string> mouse;
    int closeResult = 1;
    std::function<void()> onMove, onThumbTrack;
    std::function<void(bool)> onPage;

    void Mouse(const char* what, const POINTS* p) {
        mouse.push_back(what + std::to_string(p->x) + "," + std::to_string(p->y));
    }
    int Run() override { return 0; }
    int OnCreate(HWND hwnd) override { return view.OnCreate(hwnd); }
    void OnSize(int type, int w, int h) override {
        type != SIZE_MINIMIZED ? view.Layout(type, w, h) : void();
    }
    int OnGetMinMaxInfo(MINMAXINFO* info) override { return info->ptMinTrackSize = {544, 400}, 0; }
    int OnPaint() override { return view.OnPaint(), 0; }
    int OnClose() override { return ++calls["OnClose"], closeResult; }
    void OnMove() override { ++calls["OnMove"], onMove ? onMove() : void(); }
    void OnScrollLine(bool right) override { ++calls[right ? "LineRight" : "LineLeft"]; }
    void OnScrollPage(bool right) override {
        ++calls[right ? "PageRight" : "PageLeft"], onPage ? onPage(right) : void();
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
};

const QRgb kBlack = qRgb(0, 0, 0), kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0), kHalfWhite = qRgb(127, 127, 127);

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
};

std::unique_ptr<short[]> Columns(const std::vector<short>& values) {
    auto columns = std::make_unique<short[]>(values.size());
    std::copy(values.begin(), values.end(), columns.get());
    return columns;
}

// The rows of column x, from the top, that have the colour.
std::vector<int> RowsOf(const QImage& image, int x, QRgb colour) {
    std::vector<int> found;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(x, y) == colour)
            found.push_back(y);
    }
    return found;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> rows(last - first + 1);
    std::iota(rows.begin(), rows.end(), first);
    return rows;
}

TEST_F(ViewTest, WindowIsNamedForScreenReadersKeepsItsControlsApartAndAsksBeforeClosing) {
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(Window());
    EXPECT_EQ(std::tuple(Window()->windowTitle(), window->role(), window->text(QAccessible::Name)),
              std::tuple(QStringLiteral("Sayalike v1.3"), QAccessible::Window,
                         QStringLiteral("Sayalike v1.3")));
    EXPECT_EQ(Window()->minimumSize(), QSize(544, 400));
    ResizeTo(QSize(544, 400));
    view.ShowInputDevices(true);
    view.ShowInputPins(true);
    view.LayoutDeviceCombos();
    const auto controls = Window()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* a : controls) {
        const std::string name = a->objectName().toStdString();
        EXPECT_FALSE(a->accessibleName().isEmpty()) << name;
        EXPECT_TRUE(Window()->rect().contains(a->geometry())) << name;
        for (QWidget* b : controls)
            EXPECT_TRUE(a == b || !a->geometry().intersects(b->geometry()))
                << name << " over " << b->objectName().toStdString();
    }
    // Maximised, the window still reports the rectangle it restores to.
    Window()->showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window()->isMaximized(); }));
    int x = 0, y = 0, w = 0, h = 0;
    bool maximized = false;
    ASSERT_TRUE(view.GetPlacement(&x, &y, &w, &h, &maximized));
    EXPECT_EQ(std::tuple(QRect(x, y, w, h), maximized),
              std::tuple(QRect(100, 100, 544, 400), true));
    // Only a refusal is tried: an accepted close ends the event loop of every later dialog.
    presenter.closeResult = 0;
    EXPECT_FALSE(Window()->close());
    EXPECT_EQ(presenter.calls["OnClose"], 1);
}

struct ControlRow {
    const char* name;
    const char* spoken;  // its accessible name and tooltip
    bool enabledAtStart;
    const char* click;  // what a click reports, for buttons
    void (View::*enable)(bool);
    const char* key;  // the key that clicks it, named in its tooltip
};
const ControlRow kControls[] = {
    {"PlayButton", "Play", false, "OnPlayClick", &View::EnablePlay, "Space"},
    {"LoopButton", "Loop", false, "OnLoopClick", &View::EnableLoop, "L"},
    {"ZoomInButton", "Zoom in", false, "OnZoomInClick", &View::EnableZoomIn, "+"},
    {"ZoomOutButton", "Zoom out", false, "OnZoomOutClick", &View::EnableZoomOut, "-"},
    {"OpenButton", "Open", true, "OnOpenClick", &View::EnableOpen, "Ctrl+O"},
    {"MicVolumeTrackbar", "Learner volume", true, nullptr, nullptr, nullptr},
    {"SpeakerVolumeTrackbar", "Narrator volume", true, nullptr, nullptr, nullptr},
    {"InputDeviceCombo", "Input device", true, nullptr, nullptr, nullptr},
    {"InputPinCombo", "Input pin", true, nullptr, nullptr, nullptr},
};

TEST_F(ViewTest, EachControlIsNamedEnabledOnItsOwnAndClickedOnlyWhenEnabled) {
    auto* recent = Control<QListWidget>("RecentFilesList");
    EXPECT_EQ(recent->accessibleName(), QStringLiteral("Recent files"));
    // Enter opens the selected recent file; Space stays the list's.
    view.AddRecentFile(L"/a.mp3");
    view.EnablePlay(true);
    recent->setCurrentRow(0);
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return})
        QTest::keyClick(recent, key);
    EXPECT_EQ(std::pair(presenter.calls["OnPlayClick"], presenter.calls["OnRecentFileDoubleClick"]),
              std::pair(0, 1));
    view.EnablePlay(false);
    for (const ControlRow& row : kControls) {
        const QWidget* control = Control(row.name);
        const QString tip = row.key ? QString("%1 (%2)").arg(row.spoken, row.key) : row.spoken;
        EXPECT_EQ(std::tuple(control->accessibleName(), control->toolTip(), control->isEnabled()),
                  std::tuple(QString(row.spoken), tip, row.enabledAtStart))
            << row.name;
    }
    for (const ControlRow& row : kControls) {
        if (!row.click)
            continue;
        SCOPED_TRACE(row.name);
        view.EnableControls(true);
        (view.*row.enable)(false);
        for (const ControlRow& other : kControls)
            EXPECT_EQ(Control(other.name)->isEnabled(), &other != &row) << other.name;
        QTest::mouseClick(Control(row.name), Qt::LeftButton);
        QTest::keySequence(Window(), QKeySequence(QString(row.key)));
        EXPECT_EQ(presenter.calls[row.click], 0);
        (view.*row.enable)(true);
        QTest::mouseClick(Control(row.name), Qt::LeftButton);
        QTest::keySequence(Window(), QKeySequence(QString(row.key)));
        EXPECT_EQ(presenter.calls[row.click], 2);
    }
    view.EnableControls(false);
    for (const ControlRow& row : kControls)
        EXPECT_FALSE(Control(row.name)->isEnabled()) << row.name;
}

TEST_F(ViewTest, TrackbarsShowTheVolumeLoudestAtTheTopAndReportOnlyTheUsersMoves) {
    const std::tuple<const char*, void (View::*)(int), int (View::*)(), const char*> rows[] = {
        {"MicVolumeTrackbar", &View::SetMicVolumePos, &View::GetMicVolumePos, "OnMicVolumeChange"},
        {"SpeakerVolumeTrackbar", &View::SetSpeakerVolumePos, &View::GetSpeakerVolumePos,
         "OnSpeakerVolumeChange"}};
    for (const auto& [name, set, get, call] : rows) {
        SCOPED_TRACE(name);
        auto* trackbar = Control<QSlider>(name);
        (view.*set)(130);
        EXPECT_EQ((view.*get)(), 100);
        (view.*set)(30);
        EXPECT_EQ(presenter.calls[call], 0);
        // Screen readers read and set the volume itself.
        QAccessibleValueInterface* spoken =
            QAccessible::queryAccessibleInterface(trackbar)->valueInterface();
        EXPECT_EQ(spoken->currentValue().toInt(), 30);
        spoken->setCurrentValue(35);
        EXPECT_EQ((view.*get)(), 35);
        // A click above the thumb pages louder.
        QTest::mouseClick(trackbar, Qt::LeftButton, {}, QPoint(trackbar->width() / 2, 3));
        EXPECT_EQ(std::pair((view.*get)(), presenter.calls[call]), std::pair(45, 2));
    }
}

TEST_F(ViewTest, ComboBoxesListWithoutSelectingAndReportOnlyTheUsersChoice) {
    struct Row {
        const char* name;
        void (View::*add)(const wchar_t*);
        void (View::*select)(int);
        int (View::*selected)();
        void (View::*show)(bool);
        const char* call;
    };
    const Row rows[] = {
        {"InputDeviceCombo", &View::AddInputDevice, &View::SelectInputDevice,
         &View::GetSelectedInputDevice, &View::ShowInputDevices, "OnInputDeviceChange"},
        {"InputPinCombo", &View::AddInputPin, &View::SelectInputPin, &View::GetSelectedInputPin,
         &View::ShowInputPins, "OnInputPinChange"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto* combo = Control<QComboBox>(r.name);
        for (const wchar_t* entry : {L"One", L"Two", static_cast<const wchar_t*>(nullptr)})
            (view.*r.add)(entry);
        EXPECT_EQ(std::pair(combo->count(), (view.*r.selected)()), std::pair(3, -1));
        (view.*r.select)(0);
        (view.*r.show)(true);
        EXPECT_TRUE(combo->isVisible());
        view.EnableLoop(true);
        QTest::keyClick(combo, Qt::Key_L);  // an entry's first letter, not Loop
        QTest::keyClick(combo, Qt::Key_Down);
        EXPECT_EQ(std::tuple((view.*r.selected)(), presenter.calls[r.call],
                             presenter.calls["OnLoopClick"]),
                  std::tuple(1, 1, 0));
        (view.*r.show)(false);
        EXPECT_FALSE(combo->isVisible());
    }
}

TEST_F(ViewTest, OnlyAPlainLeftDragIsReportedInClientPointsAlsoOutsideTheWindow) {
    const auto drag = [&](Qt::KeyboardModifiers keys, Qt::MouseButton button) {
        QTest::mousePress(Window(), button, keys, QPoint(30, 59));
        QTest::mouseEvent(QTest::MouseMove, Window(), Qt::NoButton, keys, QPoint(670, 175));
        QTest::mouseEvent(QTest::MouseMove, Window(), Qt::NoButton, keys, QPoint(-20, 450));
        QTest::mouseRelease(Window(), button, keys, QPoint(-20, 450));
    };
    drag({}, Qt::LeftButton);
    // With Shift or Ctrl held, or another button, neither press nor drag counts; a
    // release of the left button always does.
    drag(Qt::ShiftModifier, Qt::LeftButton);
    drag(Qt::ControlModifier, Qt::LeftButton);
    drag({}, Qt::RightButton);
    EXPECT_EQ(presenter.mouse,
              (std::vector<std::string>{"down 30,59", "drag 670,175", "drag -20,450", "up -20,450",
                                        "up -20,450", "up -20,450"}));
}

TEST_F(ViewTest, TimerAndCaptureNotificationsFromAnotherThreadReachThePresenter) {
    QApplication::processEvents();
    EXPECT_EQ(presenter.calls["OnTimer"], 0);
    view.SetPlaying(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.calls["OnTimer"] >= 3; }));
    // Once armed the timer is never stopped.
    view.SetPlaying(false);
    view.HideProgress();
    const int ticks = presenter.calls["OnTimer"];
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.calls["OnTimer"] >= ticks + 3; }));

    IWindow* window = view.GetWindowHandle();
    std::thread([window] {
        for (std::uint32_t message : {WM_CAPTURE_NOTIFY, WM_APP + 7, WM_CAPTURE_NOTIFY})
            window->PostMessage(message, 0, 0);
    }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.calls["OnCaptureEvent"] >= 2; }));
    QApplication::processEvents();
    EXPECT_EQ(presenter.calls["OnCaptureEvent"], 2);
}

TEST(ProgressPlacement, CentredOnTheOwnerAndKeptOnTheScreen) {
    const QRect screen(0, 0, 1280, 1024);
    for (const QRect owner :
         {QRect(100, 100, 702, 400), QRect(-600, -300, 800, 400), QRect(1100, 1000, 800, 400)}) {
        const QRect dialog = progress_placement::Initial(owner, screen);
        EXPECT_EQ(dialog.size(), QSize(owner.width() / 2, 75));
        EXPECT_TRUE(screen.contains(dialog));
        EXPECT_TRUE(!screen.contains(owner) ||
                    (dialog.center() - owner.center()).manhattanLength() <= 2);
    }
}

TEST_F(ViewTest, LoadingWindowCannotBeClosedAndStaysOverTheMainWindow) {
    view.SetProgress(40);  // nothing to show it on yet
    view.ShowProgress();
    auto* dialog = Window()->findChild<ProgressDialog*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }));
    EXPECT_EQ(std::pair(dialog->windowTitle(), dialog->isModal()),
              std::pair(QStringLiteral("Loading..."), false));
    const auto owner = [&] { return Window()->frameGeometry(); };
    const QRect screen = Window()->screen()->availableGeometry();
    EXPECT_EQ(dialog->frameGeometry(), progress_placement::Initial(owner(), screen));
    view.SetProgress(42);
    EXPECT_EQ(dialog->Bar()->value(), 42);
    view.SetProgress(250);
    EXPECT_EQ(dialog->Bar()->value(), 100);
    dialog->close();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());

    view.HideProgress();
    EXPECT_FALSE(dialog->isVisible());
    Window()->move(20, 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return owner().topLeft() == QPoint(20, 40); }));
    view.ShowProgress();
    const auto centred = [&] {
        return dialog->frameGeometry().topLeft() == progress_placement::Centred(owner()).topLeft();
    };
    EXPECT_EQ(std::pair(dialog->Bar()->value(), centred()), std::pair(0, true));

    // Each follows the other; the dialog's own re-centring starts no chase.
    presenter.onMove = [&] { view.CenterProgressDialog(); };
    Window()->move(60, 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return owner().topLeft() == QPoint(60, 90) && centred(); }));
    dialog->move(300, 300);
    const QPoint target = progress_placement::OwnerFollowing(
        QRect(QPoint(300, 300), dialog->frameGeometry().size()), owner(), screen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return owner().topLeft() == target && centred(); }));
    const int moves = presenter.calls["OnMove"];
    for (int round = 0; round < 5; ++round)
        QApplication::processEvents();
    EXPECT_EQ(std::pair(presenter.calls["OnMove"], owner().topLeft()), std::pair(moves, target));
}

TEST_F(ViewTest, OpenWritesBackTheFileItsFolderAndTheFilterOrNothing) {
    constexpr wchar_t kFilter[] = L"Sound\0*.mp3;*.wav\0Wave Files (*.wav)\0*.wav\0";
    wchar_t fileName[kPathBufferLength] = L"";
    wchar_t folder[kPathBufferLength] = L"/home/learner/Documents";
    int filterIndex = 2;
    OpenFileRequest asked;
    QString answer;
    view.SetOpenDialogFunction([&](QWidget* parent, OpenFileRequest& request) {
        EXPECT_EQ(parent, Window());
        asked = request;
        request.fileName = answer;
        request.filterIndex = 0;
        return !answer.isEmpty();
    });
    EXPECT_FALSE(view.AskOpenFileName(fileName, folder, kFilter, &filterIndex));  // cancelled
    answer = QStringLiteral("/") + QString(kPathBufferLength, QLatin1Char('a'));
    EXPECT_FALSE(view.AskOpenFileName(fileName, folder, kFilter, &filterIndex));  // too long
    EXPECT_EQ(std::tuple(std::wstring(fileName), std::wstring(folder), filterIndex),
              std::tuple(L"", L"/home/learner/Documents", 2));
    EXPECT_EQ(std::tuple(asked.initialDir, asked.nameFilters, asked.filterIndex),
              std::tuple(QStringLiteral("/home/learner/Documents"),
                         QStringList({QStringLiteral("Sound (*.mp3 *.wav)"),
                                      QStringLiteral("Wave Files (*.wav)")}),
                         1));
    const std::pair<const char*, const wchar_t*> folders[] = {
        {"/home/learner/Speech/lesson.mp3", L"/home/learner/Speech"},
        {"/a.wav", L"/"},
        {"C:\\Speech\\Lesson 1\\a.mp3", L"C:\\Speech\\Lesson 1"}};
    for (const auto& [file, kept] : folders) {
        answer = QString::fromUtf8(file);
        ASSERT_TRUE(view.AskOpenFileName(fileName, folder, kFilter, &filterIndex));
        EXPECT_EQ(std::tuple(QString::fromWCharArray(fileName), std::wstring(folder), filterIndex),
                  std::tuple(answer, kept, 1));
    }
}

// Answers every message box that comes up, recording what it showed.
struct BoxAnswerer : QTimer {
    BoxAnswerer() {
        connect(this, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->windowTitle() + QLatin1Char('|') + box->text();
                icon = box->icon();
                box->accept();
            }
        });
        start(5);
    }
    QStringList shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

TEST(OpenFileDialog, TakesAnExistingFileTypedInThatTheFilterHidesAndRefusesAMissingOne) {
    QTemporaryDir folder;
    const QString wave = folder.filePath(QStringLiteral("lesson.wav"));
    QFile(wave).open(QIODevice::WriteOnly);
    QFile(folder.filePath(QStringLiteral("lesson.mp3"))).open(QIODevice::WriteOnly);
    OpenFileRequest request{folder.path(),
                            {QStringLiteral("Audio Files (*.mp3)"), QStringLiteral("Wave (*.wav)")},
                            0,
                            {}};
    BoxAnswerer answerer;
    bool openEnabled = false, stayedForMissing = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        // Once the folder is read, the filter hides the wave file.
        auto* list = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 1; }));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QPushButton* open = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        name->setText(folder.filePath(QStringLiteral("missing.wav")));
        open->click();
        stayedForMissing = dialog->isVisible();
        name->setText(wave);
        openEnabled = open->isEnabled();
        open->click();
        if (dialog->isVisible())
            dialog->reject();
    });
    EXPECT_TRUE(ShowOpenFileDialog(nullptr, request));
    EXPECT_EQ(std::tuple(stayedForMissing, answerer.shown.size(), openEnabled),
              std::tuple(true, 1, true));
    // The filter shown is answered, not the file's type.
    EXPECT_EQ(std::pair(request.fileName, request.filterIndex), std::pair(wave, 0));
}

TEST(QtMessageBoxes, ABoxRaisedOnAnotherThreadIsShownOnTheUiThreadAndWaitedFor) {
    InstallQtMessageBoxes();
    BoxAnswerer answerer;
    std::atomic<int> result{0};
    std::thread loader([&] {
        result = MessageBoxW(L"Sorry, such file doesn't exist...", L"Error", MB_OK | MB_ICONERROR);
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return result.load() != 0; }));
    loader.join();
    EXPECT_EQ(result.load(), IDOK);
    EXPECT_EQ(answerer.shown,
              QStringList(QStringLiteral("Error|Sorry, such file doesn't exist...")));
    EXPECT_EQ(answerer.icon, QMessageBox::Critical);
    SetMessageBoxHandler(nullptr);
}

TEST_F(ViewTest, ClickedPixelCarriesTheCursorInsideTheFrameAndTheBandShadesTheSelection) {
    const auto tickOverFirstColumn = [&] { return Picture().pixel(31, 43) == kBlack; };
    view.SetWaveform(Columns(std::vector<short>(600, 3)), 600, 0.0, 12.5);
    EXPECT_EQ(std::pair(RowsOf(Picture(), 34, kBlue), tickOverFirstColumn()),
              std::pair(Range(114, 120), true));
    const std::tuple<int, int, int> clicks[] = {{30, 59, 0},     {31, 100, 0},    {400, 100, 369},
                                                {669, 100, 638}, {670, 175, 638}, {29, 100, -1},
                                                {100, 58, -1},   {671, 176, -1}};
    for (const auto& [x, y, column] : clicks) {
        const POINTS point{static_cast<short>(x), static_cast<short>(y)};
        view.SetCursorColumn(view.HitTestWaveform(&point));
        EXPECT_EQ(view.GetCursorColumn(), column) << x << "," << y;
        EXPECT_EQ(RowsOf(Picture(), 31 + std::max(column, 0), kRed),
                  column < 0 ? std::vector<int>() : Range(60, 173))
            << x;
    }
    view.SetCursorColumn(639);  // beyond the frame
    EXPECT_EQ(view.GetCursorColumn(), -1);

    // Columns darkened to half, read as (first, last + 1).
    const auto shaded = [&] {
        std::vector<int> columns;
        const QImage image = Picture();
        for (int x = 30; x <= 670; ++x) {
            if (image.pixel(x, 80) == kHalfWhite)
                columns.push_back(x - 31);
        }
        return columns.empty() ? std::pair(-1, -1) : std::pair(columns.front(), columns.back() + 1);
    };
    const std::tuple<int, int, std::pair<int, int>> bands[] = {
        {10, 11, {-1, -1}},     {10, 12, {10, 12}},   {-5, 50, {0, 50}},  {641, 651, {-1, -1}},
        {600, 900, {600, 639}}, {638, 900, {-1, -1}}, {-20, -1, {-1, -1}}};
    for (const auto& [first, last, shown] : bands) {
        view.SetSelectionColumns(first, last);
        EXPECT_EQ(shaded(), shown) << first << ".." << last;
    }
    view.SetSelectionColumns(10, 50);
    view.ClearSelection();
    EXPECT_EQ(shaded(), std::pair(-1, -1));

    // No columns: the waveform and the time axis go, and there is no cursor.
    view.SetWaveform(Columns({3}), 0, 0.0, 1.0);
    view.SetCursorColumn(4);
    EXPECT_EQ(
        std::tuple(view.GetCursorColumn(), RowsOf(Picture(), 34, kBlue), tickOverFirstColumn()),
        std::tuple(-1, std::vector<int>(), false));
}

TEST_F(ViewTest, LampsFollowTheCycle) {
    // Each lamp is painted just left of its label; lit, its middle is green.
    const auto lit = [&](const char* label) {
        const QColor c = Picture().pixelColor(Control(label)->geometry().topLeft() + QPoint(-8, 8));
        return c.green() > c.red() + 60 && c.green() > c.blue() + 60;
    };
    EXPECT_EQ(std::pair(lit("ListenLabel"), lit("SayLabel")), std::pair(false, false));
    view.SetLooping(true);
    EXPECT_EQ(std::pair(lit("ListenLabel"), lit("SayLabel")), std::pair(true, false));
    view.SetListenLamp(false);
    view.SetSayLamp(true);
    EXPECT_EQ(std::pair(lit("ListenLabel"), lit("SayLabel")), std::pair(false, true));
    view.SetLooping(false);  // on or off, looping puts the Say lamp out
    EXPECT_EQ(std::pair(lit("ListenLabel"), lit("SayLabel")), std::pair(false, false));
}

TEST_F(ViewTest, ScrollRangeIsTheTotalPlusOneAndOnlyThePresenterMovesTheThumb) {
    auto* bar = Control<QScrollBar>("WaveScrollBar");
    // The view's maximum, page and position, then those of the bar, whose range is
    // only the thumb's travel.
    const auto state = [&] {
        return std::array{view.GetScrollMaximum(), view.GetScrollPage(), view.GetScrollPosition(),
                          bar->maximum(),          bar->pageStep(),      bar->value()};
    };
    view.SetScrollRange(0, 0);  // empty: the thumb fills the bar
    EXPECT_EQ(state(), (std::array{1, 2, 0, 0, 2, 0}));
    view.SetScrollRange(1000, 900);  // 639 columns
    EXPECT_EQ(state(), (std::array{1001, 479, 523, 523, 479, 523}));
    ResizeTo(QSize(900, 600));  // 839 columns
    view.SetScrollRange(1000, 900);
    EXPECT_EQ(state(), (std::array{1001, 629, 373, 373, 629, 373}));
    view.SetScrollPosition(-5);
    EXPECT_EQ(view.GetScrollPosition(), 0);
    view.SetScrollRange(-7, 3);
    EXPECT_EQ(state(), (std::array{0, 1, 0, 0, 1, 0}));
    view.SetScrollRange(1000, 200);
    view.ResetWaveform(false);
    EXPECT_EQ(state(), (std::array{1, 2, 0, 0, 2, 0}));

    // Input goes to the presenter, which alone moves the thumb.
    view.SetScrollRange(1000, 100);
    presenter.calls.clear();
    for (auto action : {QAbstractSlider::SliderSingleStepAdd, QAbstractSlider::SliderSingleStepSub,
                        QAbstractSlider::SliderPageStepAdd, QAbstractSlider::SliderPageStepSub})
        bar->triggerAction(action);
    EXPECT_EQ(presenter.calls,
              (std::map<std::string, int>{
                  {"LineLeft", 1}, {"LineRight", 1}, {"PageLeft", 1}, {"PageRight", 1}}));
    EXPECT_EQ(bar->value(), 100);  // ignored by the presenter
    presenter.onPage = [&](bool right) { view.SetScrollPosition(100 + (right ? 7 : -7)); };
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(bar->value(), 107);

    // A dragged thumb follows the pointer and is reported; let go, it returns to
    // where the presenter put it.
    std::vector<int> tracked;
    presenter.onThumbTrack = [&] { tracked.push_back(view.GetScrollTrackPosition()); };
    bar->setSliderDown(true);
    bar->setSliderPosition(150);
    EXPECT_EQ(tracked, std::vector<int>{150});
    bar->setSliderDown(false);
    EXPECT_EQ(std::pair(bar->value(), view.GetScrollPosition()), std::pair(107, 107));
}

TEST(TimeLabels, FieldsAreTruncatedAndHundredthsPaddedWithASpace) {
    const std::tuple<double, bool, const wchar_t*> cases[] = {
        {0.0, false, L"00:00:00"},       {1.05, true, L"00:00:01, 5"},
        {0.29, true, L"00:00:00,29"},  // held as 0.28999...
        {59.999, true, L"00:00:59,99"},  {59.999, false, L"00:00:59"},
        {3723.25, true, L"01:02:03,25"}, {123 * 3600.0 + 4 * 60 + 5.5, true, L"123:04:05,50"},
        {-1.5, true, L"-00:00:01,50"},
    };
    for (const auto& [t, hundredths, text] : cases)
        EXPECT_EQ(FormatTime(t, hundredths), text) << t;
}

// From the closest zoom out, labels stand two label widths apart or more, with four
// minor ticks between, and neighbours never read the same.
TEST(TimeTicks, LabelsStandApartAndNeverReadTheSame) {
    for (double span : {0.001, 0.04, 0.3, 10.0, 1000.0}) {
        const auto ticks = ComputeTimeTicks(0.28, span, 643, 640, 50, 70);
        ASSERT_FALSE(ticks.empty()) << span;
        EXPECT_LE(ticks[0].x, 1) << span;
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            const TimeTick& before = ticks[i - 1];
            EXPECT_NE(ticks[i].label, before.label) << span;
            EXPECT_GE(ticks[i].x - before.x, 99) << span;
            EXPECT_TRUE(before.x < before.minorTicks[0] && before.minorTicks[3] < ticks[i].x);
        }
    }
    EXPECT_TRUE(ComputeTimeTicks(5.0, 0.0, 643, 640, 50, 70).empty());
}

}  // namespace
