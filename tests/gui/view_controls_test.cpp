// The view's controls as the presenter and the user reach them: buttons,
// trackbars, combo boxes, the recent-files list, the status bar, the mouse, the
// timer and messages posted from other threads.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QStatusBar>
#include <thread>

#include "IconButton.h"
#include "ViewFixture.h"

namespace {

TEST_F(ViewTest, ButtonsReportClicksOnlyWhenEnabled) {
    auto* play = Control<IconButton>("PlayButton");
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(presenter.Count("OnPlayClick"), 0);

    view.EnablePlay(true);
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(presenter.Count("OnPlayClick"), 1);

    const std::vector<std::pair<const char*, const char*>> buttons = {
        {"LoopButton", "OnLoopClick"},
        {"ZoomInButton", "OnZoomInClick"},
        {"ZoomOutButton", "OnZoomOutClick"},
        {"OpenButton", "OnOpenClick"}};
    view.EnableControls(true);
    for (const auto& [name, call] : buttons) {
        QTest::mouseClick(Control(name), Qt::LeftButton);
        EXPECT_EQ(presenter.Count(call), 1) << name;
    }
}

TEST_F(ViewTest, EnableOperationsReachTheirOwnControls) {
    const std::vector<const char*> all = {
        "InputDeviceCombo",      "InputPinCombo", "MicVolumeTrackbar",
        "SpeakerVolumeTrackbar", "PlayButton",    "LoopButton",
        "ZoomInButton",          "ZoomOutButton", "OpenButton"};
    view.EnableControls(false);
    for (const char* name : all)
        EXPECT_FALSE(Control(name)->isEnabled()) << name;
    view.EnableControls(true);
    for (const char* name : all)
        EXPECT_TRUE(Control(name)->isEnabled()) << name;

    const std::vector<std::pair<const char*, void (View::*)(bool)>> single = {
        {"PlayButton", &View::EnablePlay},
        {"LoopButton", &View::EnableLoop},
        {"ZoomInButton", &View::EnableZoomIn},
        {"ZoomOutButton", &View::EnableZoomOut},
        {"OpenButton", &View::EnableOpen}};
    for (const auto& [name, enable] : single) {
        (view.*enable)(false);
        for (const char* other : all) {
            EXPECT_EQ(Control(other)->isEnabled(), std::string(other) != name) << name << other;
        }
        (view.*enable)(true);
    }
}

TEST_F(ViewTest, EveryControlIsNamedForScreenReaders) {
    const std::vector<std::pair<const char*, const char*>> named = {
        {"PlayButton", "Play"},
        {"LoopButton", "Loop"},
        {"ZoomInButton", "Zoom in"},
        {"ZoomOutButton", "Zoom out"},
        {"OpenButton", "Open"},
        {"MicVolumeTrackbar", "Learner volume"},
        {"SpeakerVolumeTrackbar", "Narrator volume"},
        {"InputDeviceCombo", "Input device"},
        {"InputPinCombo", "Input pin"},
        {"RecentFilesList", "Recent files"}};
    for (const auto& [name, text] : named) {
        EXPECT_EQ(Control(name)->accessibleName(), QLatin1String(text)) << name;
        EXPECT_EQ(Control(name)->toolTip(), QLatin1String(text)) << name;
    }
    for (QWidget* child : Window()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_FALSE(child->accessibleName().isEmpty()) << child->objectName().toStdString();
    }
}

TEST_F(ViewTest, PlayingAndLoopingSwapToThePauseLookAndName) {
    auto* play = Control<IconButton>("PlayButton");
    auto* loop = Control<IconButton>("LoopButton");
    view.EnableControls(true);
    EXPECT_EQ(play->CurrentPicture(), QStringLiteral(":/icons/play-normal.svg"));

    view.SetPlaying(true);
    EXPECT_EQ(play->CurrentPicture(), QStringLiteral(":/icons/pause-normal.svg"));
    EXPECT_EQ(play->accessibleName(), QStringLiteral("Pause"));
    view.SetPlaying(false);
    EXPECT_EQ(play->accessibleName(), QStringLiteral("Play"));

    view.SetLooping(true);
    EXPECT_EQ(loop->PictureSet(), QStringLiteral("pause"));
    EXPECT_EQ(loop->toolTip(), QStringLiteral("Pause"));
    view.SetLooping(false);
    EXPECT_EQ(loop->CurrentPicture(), QStringLiteral(":/icons/loop-normal.svg"));

    view.EnablePlay(false);
    EXPECT_EQ(play->CurrentPicture(), QStringLiteral(":/icons/play-disabled.svg"));
}

TEST_F(ViewTest, ButtonsShowTheirPictures) {
    // The pictures come from the compiled-in resources: a button that found none
    // would be one flat colour.
    for (const char* name : {"PlayButton", "OpenButton"}) {
        const QImage image = Control(name)->grab().toImage();
        ASSERT_EQ(image.size(), QSize(45, 45)) << name;
        EXPECT_NE(image.pixel(22, 22), image.pixel(2, 22)) << name;
    }
}

TEST_F(ViewTest, ButtonLookFollowsPointerAndPress) {
    auto* open = Control<IconButton>("OpenButton");
    QTest::mouseMove(open, open->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return open->underMouse(); }));
    EXPECT_EQ(open->CurrentPicture(), QStringLiteral(":/icons/open-hot.svg"));
    open->setDown(true);
    EXPECT_EQ(open->CurrentPicture(), QStringLiteral(":/icons/open-pressed.svg"));
    open->setDown(false);
}

TEST_F(ViewTest, TrackbarsKeepTheLoudestSettingAtTheTop) {
    auto* mic = Control<QSlider>("MicVolumeTrackbar");
    view.SetMicVolumePos(30);
    view.SetSpeakerVolumePos(80);
    EXPECT_EQ(view.GetMicVolumePos(), 30);
    EXPECT_EQ(view.GetSpeakerVolumePos(), 80);
    EXPECT_EQ(presenter.Count("OnMicVolumeChange"), 0);
    EXPECT_EQ(presenter.Count("OnSpeakerVolumeChange"), 0);
    // Screen readers read and set the volume itself.
    QAccessibleValueInterface* spoken =
        QAccessible::queryAccessibleInterface(mic)->valueInterface();
    EXPECT_EQ(spoken->currentValue().toInt(), 30);
    spoken->setCurrentValue(35);
    EXPECT_EQ(view.GetMicVolumePos(), 35);
    EXPECT_EQ(presenter.Count("OnMicVolumeChange"), 1);
    view.SetMicVolumePos(30);

    // A click above the thumb pages towards the top: louder.
    QTest::mouseClick(mic, Qt::LeftButton, Qt::NoModifier, QPoint(mic->width() / 2, 3));
    EXPECT_EQ(view.GetMicVolumePos(), 40);
    EXPECT_EQ(presenter.Count("OnMicVolumeChange"), 2);

    mic->setFocus();
    QTest::keyClick(mic, Qt::Key_Up);
    EXPECT_EQ(view.GetMicVolumePos(), 41);
    EXPECT_EQ(presenter.Count("OnMicVolumeChange"), 3);
    EXPECT_EQ(presenter.Count("OnSpeakerVolumeChange"), 0);

    view.SetMicVolumePos(130);
    EXPECT_EQ(view.GetMicVolumePos(), 100);
}

TEST_F(ViewTest, ComboBoxesAddSelectShowAndClearLikeDropDownLists) {
    auto* devices = Control<QComboBox>("InputDeviceCombo");
    view.AddInputDevice(L"Built-in microphone");
    view.AddInputDevice(L"USB headset");
    view.AddInputDevice(nullptr);
    EXPECT_EQ(devices->count(), 3);
    // Adding selects nothing.
    EXPECT_EQ(view.GetSelectedInputDevice(), -1);
    view.SelectInputDevice(1);
    EXPECT_EQ(view.GetSelectedInputDevice(), 1);
    EXPECT_EQ(devices->currentText(), QStringLiteral("USB headset"));
    view.SelectInputDevice(7);
    EXPECT_EQ(view.GetSelectedInputDevice(), -1);

    view.ShowInputDevices(true);
    EXPECT_TRUE(devices->isVisible());
    view.ShowInputDevices(false);
    EXPECT_FALSE(devices->isVisible());
    view.ClearInputDevices();
    EXPECT_EQ(devices->count(), 0);
    EXPECT_EQ(view.GetSelectedInputDevice(), -1);

    view.AddInputPin(L"Microphone");
    view.AddInputPin(L"Line in");
    view.SelectInputPin(0);
    EXPECT_EQ(view.GetSelectedInputPin(), 0);
    view.ShowInputPins(true);
    EXPECT_TRUE(Control("InputPinCombo")->isVisible());
    view.ClearInputPins();
    EXPECT_EQ(view.GetSelectedInputPin(), -1);
    EXPECT_EQ(presenter.Count("OnInputDeviceChange") + presenter.Count("OnInputPinChange"), 0);
}

TEST_F(ViewTest, ChoosingAnEntryTellsThePresenter) {
    for (const wchar_t* name : {L"One", L"Two"}) {
        view.AddInputDevice(name);
        view.AddInputPin(name);
    }
    view.SelectInputDevice(0);
    view.SelectInputPin(0);
    view.ShowInputDevices(true);
    view.ShowInputPins(true);

    auto* devices = Control<QComboBox>("InputDeviceCombo");
    devices->setFocus();
    QTest::keyClick(devices, Qt::Key_Down);
    EXPECT_EQ(presenter.Count("OnInputDeviceChange"), 1);
    EXPECT_EQ(view.GetSelectedInputDevice(), 1);
    EXPECT_EQ(presenter.Count("OnInputPinChange"), 0);

    auto* pins = Control<QComboBox>("InputPinCombo");
    pins->setFocus();
    QTest::keyClick(pins, Qt::Key_Down);
    EXPECT_EQ(presenter.Count("OnInputPinChange"), 1);
    EXPECT_EQ(view.GetSelectedInputPin(), 1);
}

TEST_F(ViewTest, RecentFilesListReportsDoubleClickAndSelection) {
    auto* list = Control<QListWidget>("RecentFilesList");
    view.AddRecentFile(L"/home/learner/first.mp3");
    view.AddRecentFile(L"/home/learner/second.wav");
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(view.GetSelectedRecentFile(), -1);

    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second);
    EXPECT_EQ(presenter.Count("OnRecentFileDoubleClick"), 1);
    EXPECT_EQ(view.GetSelectedRecentFile(), 1);

    view.ClearRecentFiles();
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(view.GetSelectedRecentFile(), -1);
}

TEST_F(ViewTest, StatusTextIsShownAndReadable) {
    view.SetStatusText(L"Select a phrase with the mouse");
    auto* text = Control<QStatusBar>("StatusBar")->findChild<QLabel*>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(), QStringLiteral("Select a phrase with the mouse"));
    EXPECT_TRUE(text->isVisible());
    EXPECT_EQ(text->font().pixelSize(), 12);
    view.SetStatusText(nullptr);
    EXPECT_TRUE(text->text().isEmpty());
}

std::vector<std::pair<int, int>> Pairs(const std::vector<POINTS>& points) {
    std::vector<std::pair<int, int>> pairs;
    for (const POINTS& p : points)
        pairs.emplace_back(p.x, p.y);
    return pairs;
}

void Drag(QWidget* window, Qt::KeyboardModifiers keys, Qt::MouseButton button, QPoint from,
          std::initializer_list<QPoint> through) {
    QTest::mousePress(window, button, keys, from);
    for (const QPoint& p : through)
        QTest::mouseEvent(QTest::MouseMove, window, Qt::NoButton, keys, p);
    QTest::mouseRelease(window, button, keys, *std::prev(through.end()));
}

TEST_F(ViewTest, LeftButtonDragIsReportedInClientPointsAlsoOutsideTheWindow) {
    // The waveform rectangle at 700 x 400 is 30,59 .. 670,175, edges included.
    Drag(Window(), Qt::NoModifier, Qt::LeftButton, QPoint(30, 59),
         {QPoint(670, 175), QPoint(671, 176), QPoint(-20, 450)});
    EXPECT_EQ(Pairs(presenter.downs), (std::vector<std::pair<int, int>>{{30, 59}}));
    EXPECT_EQ(Pairs(presenter.drags),
              (std::vector<std::pair<int, int>>{{670, 175}, {671, 176}, {-20, 450}}));
    EXPECT_EQ(Pairs(presenter.ups), (std::vector<std::pair<int, int>>{{-20, 450}}));
    std::vector<int> columns;
    for (const POINTS& p : {presenter.downs[0], presenter.drags[0], presenter.drags[1],
                            presenter.drags[2], POINTS{29, 100}, POINTS{100, 58}})
        columns.push_back(view.HitTestWaveform(&p));
    EXPECT_EQ(columns, (std::vector<int>{0, 638, -1, -1, -1, -1}));

    // With Shift or Ctrl held, or another button, neither press nor drag counts;
    // a release of the left button always does.
    presenter.downs.clear();
    presenter.drags.clear();
    presenter.ups.clear();
    Drag(Window(), Qt::ShiftModifier, Qt::LeftButton, QPoint(100, 80), {QPoint(140, 90)});
    Drag(Window(), Qt::ControlModifier, Qt::LeftButton, QPoint(100, 80), {QPoint(140, 90)});
    Drag(Window(), Qt::NoModifier, Qt::RightButton, QPoint(100, 80), {QPoint(140, 90)});
    EXPECT_TRUE(presenter.downs.empty());
    EXPECT_TRUE(presenter.drags.empty());
    EXPECT_EQ(presenter.ups.size(), 2u);
}

TEST_F(ViewTest, TimerTicksOnceArmedAndIsNeverStopped) {
    QApplication::processEvents();
    EXPECT_EQ(presenter.Count("OnTimer"), 0);
    view.SetPlaying(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.Count("OnTimer") >= 3; }));
    view.SetPlaying(false);
    view.HideProgress();
    const int ticks = presenter.Count("OnTimer");
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.Count("OnTimer") >= ticks + 3; }));
}

TEST_F(ViewTest, CaptureNotificationsPostedFromAnotherThreadReachThePresenter) {
    IWindow* window = view.GetWindowHandle();
    std::thread streaming([window] {
        window->PostMessage(WM_CAPTURE_NOTIFY, 0, 0);
        window->PostMessage(WM_APP + 7, 0, 0);
        window->PostMessage(WM_CAPTURE_NOTIFY, 0, 0);
    });
    streaming.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.Count("OnCaptureEvent") == 2; }));
    QApplication::processEvents();
    EXPECT_EQ(presenter.Count("OnCaptureEvent"), 2);
}

}  // namespace
