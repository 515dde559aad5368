// The main window: creation through the presenter, the controls it starts with,
// the layout numbers at two sizes, placement and closing.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

#include "ViewFixture.h"

namespace {

struct Expected {
    const char* name;
    QRect geometry;
};

void ExpectGeometry(QWidget* window, const std::vector<Expected>& expected) {
    for (const Expected& e : expected) {
        auto* control = window->findChild<QWidget*>(QLatin1String(e.name));
        ASSERT_NE(control, nullptr) << e.name;
        EXPECT_EQ(control->geometry(), e.geometry) << e.name;
    }
}

TEST_F(ViewTest, StartsWithTitleMinimumSizeAndItsControls) {
    EXPECT_EQ(Window()->windowTitle(), QStringLiteral("Sayalike v1.3"));
    // Screen readers see the application's window under its title.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(Window());
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral("Sayalike v1.3"));
    EXPECT_FALSE(Window()->windowIcon().isNull());
    EXPECT_EQ(Window()->minimumSize(), QSize(544, 400));
    EXPECT_EQ(view.GetWindowHandle(), dynamic_cast<IWindow*>(Window()));

    for (const char* name : {"PlayButton", "LoopButton", "ZoomInButton", "ZoomOutButton"}) {
        EXPECT_FALSE(Control(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(Control("OpenButton")->isEnabled());
    EXPECT_TRUE(Control("InputDeviceCombo")->isHidden());
    EXPECT_TRUE(Control("InputPinCombo")->isHidden());
    EXPECT_EQ(Control<QLabel>("ListenLabel")->text(), QStringLiteral("Listen"));
    EXPECT_EQ(Control<QLabel>("SayLabel")->text(), QStringLiteral("Say"));
    EXPECT_EQ(Control<QLabel>("RecentFilesLabel")->text(), QStringLiteral("Recent files:"));
    EXPECT_EQ(Control<QStatusBar>("StatusBar")->font().pixelSize(), 12);
    EXPECT_EQ(Control<QListWidget>("RecentFilesList")->font().pixelSize(), 12);
    EXPECT_EQ(Window()->palette().color(QPalette::Window), QColor(212, 208, 200));
}

TEST_F(ViewTest, LaysOutEveryControlAtItsPlace) {
    view.ShowInputDevices(true);
    view.ShowInputPins(true);
    ResizeTo(700, 400);
    view.LayoutDeviceCombos();
    // Client 700 x 400: status bar 22 high, list 100, label 13, separator 2; the
    // oscillogram area is 0,0 .. 700,243.
    ExpectGeometry(Window(), {
                                 {"StatusBar", QRect(0, 378, 700, 22)},
                                 {"RecentFilesList", QRect(0, 278, 700, 100)},
                                 {"RecentFilesLabel", QRect(5, 260, 100, 13)},
                                 {"SeparatorLine", QRect(10, 253, 680, 2)},
                                 {"MicVolumeTrackbar", QRect(5, 40, 20, 153)},
                                 {"SpeakerVolumeTrackbar", QRect(675, 40, 20, 153)},
                                 {"PlayButton", QRect(30, 196, 45, 45)},
                                 {"LoopButton", QRect(75, 196, 45, 45)},
                                 {"ZoomInButton", QRect(535, 196, 45, 45)},
                                 {"ZoomOutButton", QRect(580, 196, 45, 45)},
                                 {"OpenButton", QRect(625, 196, 45, 45)},
                                 {"WaveScrollBar", QRect(30, 176, 641, 18)},
                                 {"InputDeviceCombo", QRect(30, 10, 210, 21)},
                                 {"InputPinCombo", QRect(250, 10, 210, 21)},
                                 {"ListenLabel", QRect(551, 15, 40, 21)},
                                 {"SayLabel", QRect(616, 15, 40, 21)},
                             });
    SIZE size;
    EXPECT_EQ(view.GetWaveformSize(&size), &size);
    EXPECT_EQ(size.cx, 639);
    EXPECT_EQ(size.cy, 115);

    ResizeTo(900, 600);
    ExpectGeometry(Window(), {
                                 {"StatusBar", QRect(0, 578, 900, 22)},
                                 {"RecentFilesList", QRect(0, 478, 900, 100)},
                                 {"RecentFilesLabel", QRect(5, 460, 100, 13)},
                                 {"SeparatorLine", QRect(10, 453, 880, 2)},
                                 {"MicVolumeTrackbar", QRect(5, 40, 20, 353)},
                                 {"SpeakerVolumeTrackbar", QRect(875, 40, 20, 353)},
                                 {"PlayButton", QRect(30, 396, 45, 45)},
                                 {"LoopButton", QRect(75, 396, 45, 45)},
                                 {"ZoomInButton", QRect(735, 396, 45, 45)},
                                 {"ZoomOutButton", QRect(780, 396, 45, 45)},
                                 {"OpenButton", QRect(825, 396, 45, 45)},
                                 {"WaveScrollBar", QRect(30, 376, 841, 18)},
                                 {"InputDeviceCombo", QRect(30, 10, 270, 21)},
                                 {"InputPinCombo", QRect(310, 10, 270, 21)},
                                 {"ListenLabel", QRect(751, 15, 40, 21)},
                                 {"SayLabel", QRect(816, 15, 40, 21)},
                             });
    view.GetWaveformSize(&size);
    EXPECT_EQ(size.cx, 839);
    EXPECT_EQ(size.cy, 315);
}

TEST_F(ViewTest, HiddenComboBoxesKeepTheirPlaceAndFreeTheFirstPosition) {
    auto* device = Control("InputDeviceCombo");
    auto* pin = Control("InputPinCombo");
    const QRect deviceBefore = device->geometry();

    view.ShowInputPins(true);
    // Showing moves nothing until the next layout.
    EXPECT_EQ(pin->geometry(), QRect(120, 0, 50, 21));
    view.LayoutDeviceCombos();
    EXPECT_EQ(pin->geometry(), QRect(30, 10, 210, 21));
    EXPECT_EQ(device->geometry(), deviceBefore);
}

TEST(ViewCreation, MaximizedPlacementKeepsTheRestoredRectangle) {
    View view;
    RecordingPresenter presenter(view);
    thePresenter = &presenter;
    ASSERT_TRUE(view.CreateAndShow(40, 30, 600, 450, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.MainWidget()->isMaximized(); }));
    int x = 0, y = 0, width = 0, height = 0;
    bool maximized = false;
    ASSERT_TRUE(view.GetPlacement(&x, &y, &width, &height, &maximized));
    EXPECT_TRUE(maximized);
    EXPECT_EQ(QRect(x, y, width, height), QRect(40, 30, 600, 450));
    thePresenter = nullptr;
}

TEST(ViewCreation, PresenterRefusalLeavesNoWindow) {
    View view;
    RecordingPresenter presenter(view);
    thePresenter = &presenter;
    presenter.createResult = -1;
    EXPECT_EQ(view.Run(0, 0, 700, 400, false), 0);
    EXPECT_EQ(presenter.Count("OnCreate"), 1);
    EXPECT_EQ(view.MainWidget(), nullptr);
    EXPECT_EQ(view.GetWindowHandle(), nullptr);
    int x = 0, y = 0, w = 0, h = 0;
    bool maximized = false;
    EXPECT_FALSE(view.GetPlacement(&x, &y, &w, &h, &maximized));
    thePresenter = nullptr;
}

TEST(ViewCreation, CloseIsHonouredOnlyWhenThePresenterAgrees) {
    View view;
    RecordingPresenter presenter(view);
    thePresenter = &presenter;
    presenter.closeResult = 0;
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        QWidget* window = view.MainWidget();
        window->close();
        stayedOpen = window->isVisible();
        presenter.closeResult = 1;
        window->close();
    });
    EXPECT_EQ(view.Run(120, 80, 640, 420, false), 0);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(presenter.Count("OnClose"), 2);
    EXPECT_FALSE(view.MainWidget()->isVisible());
    thePresenter = nullptr;
}

}  // namespace
