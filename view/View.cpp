#include "View.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHoverEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QRegion>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>

#include "IPresenter.h"
#include "IconButton.h"
#include "MainWindow.h"
#include "Pictures.h"
#include "ProgressDialog.h"
#include "Resources.h"
#include "ScrollBarDecorator.h"
#include "Shortcuts.h"
#include "SourceViewDecorator.h"
#include "TimelineDecorator.h"
#include "VisualComponent.h"

IPresenter* thePresenter = nullptr;

namespace {

// The chain's rectangle until the first layout.
constexpr int kInitialRight = 300;
constexpr int kInitialBottom = 100;

QString FromWide(const wchar_t* text) {
    return text ? QString::fromWCharArray(text) : QString();
}

QFont SmallFont() {
    QFont font = QApplication::font();
    font.setPixelSize(12);
    return font;
}

// The status bar, the recent-files list and its label use a smaller font than the
// other controls.
void GiveSmallFont(QWidget* widget) {
    widget->setFont(SmallFont());
}

void Name(QWidget* widget, const char* objectName, const QString& accessibleName) {
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(accessibleName);
}

IconButton* MakeButton(QWidget* parent, const char* objectName, const char* pictures,
                       const char* label, bool enabled) {
    auto* button = new IconButton(parent);
    button->setObjectName(QLatin1String(objectName));
    button->SetPictures(QLatin1String(pictures), QLatin1String(label));
    button->setEnabled(enabled);
    return button;
}

// Vertical, 0..100, the loudest at the top. The position is the volume itself, so
// screen readers announce and set what the learner hears; keys and wheel move the
// thumb the way they point.
QSlider* MakeTrackbar(QWidget* parent, const char* objectName, const char* label, int x) {
    auto* trackbar = new QSlider(Qt::Vertical, parent);
    Name(trackbar, objectName, QLatin1String(label));
    trackbar->setToolTip(QLatin1String(label));
    trackbar->setRange(SourceViewDecorator::kTrackbarMin, SourceViewDecorator::kTrackbarMax);
    trackbar->setPageStep(10);
    trackbar->setSingleStep(1);
    trackbar->setTickPosition(QSlider::NoTicks);
    // The channel stays plain: the thumb alone shows the volume.
    QPalette palette = trackbar->palette();
    palette.setColor(QPalette::Highlight, palette.color(QPalette::Button));
    trackbar->setPalette(palette);
    trackbar->setGeometry(x, 0, 18, 100);
    return trackbar;
}

QComboBox* MakeCombo(QWidget* parent, const char* objectName, const char* label, int x) {
    auto* combo = new QComboBox(parent);
    Name(combo, objectName, QLatin1String(label));
    combo->setToolTip(QLatin1String(label));
    combo->setGeometry(x, 0, 50, SourceViewDecorator::kControlHeight);
    combo->hide();
    return combo;
}

// A fixed list of choices, each item carrying its value; the caption leads every
// item, so the closed box says what it chooses.
QComboBox* MakeChoiceCombo(QWidget* parent, const char* objectName, const char* label,
                           std::initializer_list<std::pair<int, const char*>> choices) {
    QComboBox* combo = MakeCombo(parent, objectName, label, 0);
    combo->show();  // a choice is always there, unlike a device list
    for (const auto& [value, text] : choices)
        combo->addItem(QLatin1String(label) + QStringLiteral(": ") + QLatin1String(text), value);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

// The item whose value is nearest.
void SelectChoice(QComboBox* combo, int value) {
    int best = 0;
    for (int i = 1; i < combo->count(); ++i) {
        if (std::abs(combo->itemData(i).toInt() - value) <
            std::abs(combo->itemData(best).toInt() - value))
            best = i;
    }
    combo->setCurrentIndex(best);
}

QLabel* MakeHeaderLabel(QWidget* parent, const char* objectName, const char* text) {
    auto* label = new QLabel(QLatin1String(text), parent);
    Name(label, objectName, QLatin1String(text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(0, 0, SourceViewDecorator::kLabelWidth, SourceViewDecorator::kControlHeight);
    return label;
}

// A horizontal scroll bar that repaints only when it looks different. While the
// narrator plays, its position moves on every tick, mostly by less than a pixel
// of the thumb.
class ThumbScrollBar : public QScrollBar {
  public:
    explicit ThumbScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}

  protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverMove)
            hover_ = static_cast<QHoverEvent*>(event)->position().toPoint();
        else if (event->type() == QEvent::HoverLeave)
            hover_.reset();
        return QScrollBar::event(event);
    }
    void sliderChange(SliderChange change) override {
        if (change == SliderValueChange && Look() == shown_)
            return;
        QScrollBar::sliderChange(change);
    }
    // As QScrollBar paints itself, but with a clip of the painter's own: without
    // one, the raster engine hands the style's many short strokes to Qt's thread
    // pool and waits for it (a hundred thread switches a paint of a wide bar);
    // with one, it fills them on this thread. The pixels are the same.
    void paintEvent(QPaintEvent*) override {
        shown_ = Look();
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        if (const QStyle::SubControl pressed = Pressed(); pressed != QStyle::SC_None) {
            option.activeSubControls = pressed;
            option.state |= QStyle::State_Sunken;
        } else if (hover_) {
            option.activeSubControls =
                style()->hitTestComplexControl(QStyle::CC_ScrollBar, &option, *hover_, this);
        }
        QPainter painter(this);
        painter.setClipRect(rect());
        style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
    }

  private:
    // The thumb's place, and the ends, whose arrows a style may grey out.
    std::tuple<QRect, bool, bool> Look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }
    // The part held down: the thumb, or an arrow or page while it repeats.
    QStyle::SubControl Pressed() const {
        if (isSliderDown())
            return QStyle::SC_ScrollBarSlider;
        switch (repeatAction()) {
            case SliderSingleStepAdd:
                return QStyle::SC_ScrollBarAddLine;
            case SliderSingleStepSub:
                return QStyle::SC_ScrollBarSubLine;
            case SliderPageStepAdd:
                return QStyle::SC_ScrollBarAddPage;
            case SliderPageStepSub:
                return QStyle::SC_ScrollBarSubPage;
            default:
                return QStyle::SC_None;
        }
    }

    std::tuple<QRect, bool, bool> shown_;
    std::optional<QPoint> hover_;  // the pointer, while over the bar
};

// Keeps the selection as it was: adding an entry selects nothing, even in an
// empty box.
void AddComboItem(QComboBox* combo, const wchar_t* text) {
    const int selected = combo->currentIndex();
    combo->addItem(FromWide(text));
    combo->setCurrentIndex(selected);
}

}  // namespace

View::View() : openDialog_(ShowOpenFileDialog) {
    thePresenter = nullptr;
    InitResources();
}

View::~View() {
    DestroyWindow();
}

void View::SetOpenDialogFunction(OpenDialogFunction dialog) {
    openDialog_ = std::move(dialog);
}

QWidget* View::MainWidget() const {
    return mainWindow_.get();
}

bool View::CreateAndShow(int x, int y, int width, int height, bool maximized) {
    if (mainWindow_ || !thePresenter)
        return false;
    mainWindow_ = std::make_unique<MainWindow>();
    mainWindow_->setWindowTitle(QLatin1String(kTitle));
    const QIcon icon = pictures::ApplicationIcon();
    mainWindow_->setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
    QPalette palette = mainWindow_->palette();
    palette.setColor(QPalette::Window, kBackground);
    mainWindow_->setPalette(palette);

    MINMAXINFO info;
    info.ptMinTrackSize = {0, 0};
    info.ptMaxTrackSize = {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    thePresenter->OnGetMinMaxInfo(&info);
    mainWindow_->setMinimumSize(std::max(info.ptMinTrackSize.x, 0),
                                std::max(info.ptMinTrackSize.y, 0));
    mainWindow_->setMaximumSize(std::clamp(info.ptMaxTrackSize.x, 0, QWIDGETSIZE_MAX),
                                std::clamp(info.ptMaxTrackSize.y, 0, QWIDGETSIZE_MAX));

    if (thePresenter->OnCreate(mainWindow_.get()) < 0 || !created_) {
        DestroyWindow();
        return false;
    }
    mainWindow_->setGeometry(x, y, width, height);
    if (maximized) {
        mainWindow_->showMaximized();
    } else {
        mainWindow_->show();
    }
    return true;
}

int View::Run(int x, int y, int width, int height, bool maximized) {
    if (!CreateAndShow(x, y, width, height, maximized))
        return 0;
    return QApplication::exec();
}

int View::OnCreate(HWND hwnd) {
    if (created_ || !mainWindow_ || hwnd != static_cast<IWindow*>(mainWindow_.get()))
        return -1;
    CreateControls(mainWindow_.get());
    BuildChain();
    ConnectControls();
    AddShortcuts(mainWindow_.get(), controls_, recentList_, [] {
        if (thePresenter)
            thePresenter->OnRecentFileDoubleClick();
    });
    created_ = true;
    return 0;
}

void View::CreateControls(MainWindow* window) {
    framePacer_ =
        std::make_unique<FramePacer>(window, kTimerPeriodMs, [this] { ShowHeldChanges(); });
    scrollBar_ = new ThumbScrollBar(window);
    Name(scrollBar_, "WaveScrollBar", QStringLiteral("Waveform position"));
    scrollBar_->setGeometry(0, 0, 100, ScrollBarDecorator::kStripHeight);
    // Scrolling is the presenter's: no keyboard focus, and the wheel is ignored.
    scrollBar_->setFocusPolicy(Qt::NoFocus);

    controls_.playButton = MakeButton(window, "PlayButton", "play", "Play", false);
    controls_.loopButton = MakeButton(window, "LoopButton", "loop", "Loop", false);
    controls_.zoomInButton = MakeButton(window, "ZoomInButton", "zoomin", "Zoom in", false);
    controls_.zoomOutButton = MakeButton(window, "ZoomOutButton", "zoomout", "Zoom out", false);
    controls_.openButton = MakeButton(window, "OpenButton", "open", "Open", true);
    controls_.micVolumeTrackbar = MakeTrackbar(window, "MicVolumeTrackbar", "Learner volume", 0);
    controls_.speakerVolumeTrackbar =
        MakeTrackbar(window, "SpeakerVolumeTrackbar", "Narrator volume", 190);
    controls_.inputDeviceCombo = MakeCombo(window, "InputDeviceCombo", "Input device", 180);
    controls_.inputPinCombo = MakeCombo(window, "InputPinCombo", "Input pin", 120);
    controls_.advanceCombo = MakeChoiceCombo(window, "AdvanceCombo", "Advance after",
                                             {{0, "Off"}, {1, "1"}, {2, "2"}, {3, "3"}, {5, "5"}});
    controls_.speedCombo = MakeChoiceCombo(
        window, "SpeedCombo", "Speed",
        {{100, "100 %"}, {90, "90 %"}, {80, "80 %"}, {70, "70 %"}, {60, "60 %"}, {50, "50 %"}});
    controls_.listenLabel = MakeHeaderLabel(window, "ListenLabel", "Listen");
    controls_.sayLabel = MakeHeaderLabel(window, "SayLabel", "Say");

    statusBar_ = new QStatusBar(window);
    Name(statusBar_, "StatusBar", QStringLiteral("Status"));
    statusBar_->setSizeGripEnabled(true);
    statusBar_->setFixedHeight(kStatusBarHeight);
    GiveSmallFont(statusBar_);
    // A label rather than showMessage(): its text is its accessible name and no
    // status tip can wipe it.
    statusText_ = new QLabel(statusBar_);
    statusText_->setObjectName(QStringLiteral("StatusText"));
    statusText_->setTextFormat(Qt::PlainText);
    GiveSmallFont(statusText_);
    statusBar_->addWidget(statusText_, 1);

    recentList_ = new QListWidget(window);
    Name(recentList_, "RecentFilesList", QStringLiteral("Recent files"));
    recentList_->setToolTip(QStringLiteral("Recent files"));
    recentList_->setSelectionMode(QAbstractItemView::SingleSelection);
    GiveSmallFont(recentList_);

    recentLabel_ = new QLabel(QStringLiteral("Recent files:"), window);
    Name(recentLabel_, "RecentFilesLabel", QStringLiteral("Recent files:"));
    recentLabel_->setTextFormat(Qt::PlainText);
    recentLabel_->setGeometry(18, 164, 100, 13);
    GiveSmallFont(recentLabel_);

    separator_ = new QFrame(window);
    Name(separator_, "SeparatorLine", QStringLiteral("Separator"));
    separator_->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separator_->setLineWidth(1);
    separator_->setGeometry(10, 100, 200, 2);

    timer_ = new QTimer(window);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kTimerPeriodMs);
}

void View::BuildChain() {
    auto wave = std::make_unique<VisualComponent>(0, 0, kInitialRight, kInitialBottom);
    waveComponent_ = wave.get();
    auto timeline =
        std::make_unique<TimelineDecorator>(0, 0, kInitialRight, kInitialBottom, std::move(wave));
    timelineComponent_ = timeline.get();
    auto scroll = std::make_unique<ScrollBarDecorator>(0, 0, kInitialRight, kInitialBottom,
                                                       std::move(timeline), scrollBar_);
    scrollComponent_ = scroll.get();
    scrollComponent_->UpdateScrollInfo(0, 0);
    topComponent_ = std::make_unique<SourceViewDecorator>(0, 0, kInitialRight, kInitialBottom,
                                                          std::move(scroll), &controls_);
}

void View::ConnectControls() {
    QWidget* context = mainWindow_.get();
    auto forward = [context](auto* sender, auto signal, void (IPresenter::*operation)()) {
        QObject::connect(sender, signal, context, [operation] {
            if (thePresenter)
                (thePresenter->*operation)();
        });
    };
    forward(controls_.playButton, &QAbstractButton::clicked, &IPresenter::OnPlayClick);
    forward(controls_.loopButton, &QAbstractButton::clicked, &IPresenter::OnLoopClick);
    forward(controls_.zoomInButton, &QAbstractButton::clicked, &IPresenter::OnZoomInClick);
    forward(controls_.zoomOutButton, &QAbstractButton::clicked, &IPresenter::OnZoomOutClick);
    forward(controls_.openButton, &QAbstractButton::clicked, &IPresenter::OnOpenClick);
    // Setting a position from here blocks the signal, so only the user's moves
    // reach the presenter.
    forward(controls_.micVolumeTrackbar, &QSlider::valueChanged, &IPresenter::OnMicVolumeChange);
    forward(controls_.speakerVolumeTrackbar, &QSlider::valueChanged,
            &IPresenter::OnSpeakerVolumeChange);
    forward(controls_.inputDeviceCombo, &QComboBox::activated, &IPresenter::OnInputDeviceChange);
    forward(controls_.inputPinCombo, &QComboBox::activated, &IPresenter::OnInputPinChange);
    forward(controls_.advanceCombo, &QComboBox::activated, &IPresenter::OnAdvanceAfterChange);
    forward(controls_.speedCombo, &QComboBox::activated, &IPresenter::OnSpeedChange);
    forward(recentList_, &QListWidget::itemDoubleClicked, &IPresenter::OnRecentFileDoubleClick);
    forward(timer_, &QTimer::timeout, &IPresenter::OnTimer);

    QObject::connect(scrollBar_, &QAbstractSlider::actionTriggered, context,
                     [this](int action) { OnScrollAction(action); });
    // A thumb the presenter did not follow goes back when it is let go.
    QObject::connect(scrollBar_, &QAbstractSlider::sliderReleased, context,
                     [this] { scrollBar_->setValue(scrollComponent_->Position()); });
}

// The scroll bar has already moved its thumb when it reports the action; the
// presenter decides where it really goes (SetScrollPosition), so the thumb is put
// back at the stored position afterwards. Only a dragged thumb follows the
// pointer until it is let go.
void View::OnScrollAction(int action) {
    if (thePresenter) {
        switch (action) {
            case QAbstractSlider::SliderSingleStepAdd:
            case QAbstractSlider::SliderSingleStepSub:
                thePresenter->OnScrollLine(action == QAbstractSlider::SliderSingleStepAdd);
                break;
            case QAbstractSlider::SliderPageStepAdd:
            case QAbstractSlider::SliderPageStepSub:
                thePresenter->OnScrollPage(action == QAbstractSlider::SliderPageStepAdd);
                break;
            case QAbstractSlider::SliderMove:
                if (scrollBar_->isSliderDown()) {
                    thePresenter->OnScrollThumbTrack();
                    return;
                }
                break;
            default:
                break;
        }
    }
    scrollBar_->setSliderPosition(scrollComponent_->Position());
}

void View::DestroyWindow() {
    topComponent_.reset();
    scrollComponent_ = nullptr;
    timelineComponent_ = nullptr;
    waveComponent_ = nullptr;
    controls_ = ControlTable();
    created_ = false;
    // The controls, the timer and the progress window are children of the window.
    progressDialog_ = nullptr;
    timer_ = nullptr;
    framePacer_.reset();
    heldChanges_ = QRegion();
    scrollBar_ = nullptr;
    separator_ = nullptr;
    recentLabel_ = nullptr;
    recentList_ = nullptr;
    statusBar_ = nullptr;
    statusText_ = nullptr;
    mainWindow_.reset();
}

void View::Layout(int, int width, int height) {
    if (!created_)
        return;
    statusBar_->setGeometry(0, height - kStatusBarHeight, width, kStatusBarHeight);
    const int listTop = height - kStatusBarHeight - kRecentListHeight;
    recentList_->setGeometry(0, listTop, width, kRecentListHeight);
    const int labelTop = listTop - recentLabel_->height() - 5;
    recentLabel_->move(5, labelTop);
    const int separatorTop = labelTop - separator_->height() - 5;
    separator_->setGeometry(10, separatorTop, width - 20, separator_->height());
    topComponent_->SetBounds(0, 0, width, separatorTop - 10);
}

void View::CenterProgressDialog() {
    if (progressDialog_) {
        progressDialog_->PlaceFrame(progress_placement::Centred(mainWindow_->frameGeometry()));
    }
}

void View::LayoutDeviceCombos() {
    if (created_)
        topComponent_->LayoutDeviceCombos();
}

void View::OnPaint() {
    if (!mainWindow_ || !mainWindow_->IsPainting())
        return;
    if (framePacer_)
        framePacer_->Painted();
    QPainter painter(mainWindow_.get());
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The background only where the waveform and its time axis leave it showing:
    // their pictures cover the rest, and filling under them first would double
    // the cost of every frame of the playing cursor.
    QRegion background(mainWindow_->rect());
    if (created_) {
        background -= waveComponent_->PictureArea();
        background -= timelineComponent_->StripArea();
    }
    for (const QRect& part : background)
        painter.fillRect(part, kBackground);
    if (topComponent_)
        topComponent_->Draw(painter);
}

bool View::GetPlacement(int* x, int* y, int* width, int* height, bool* maximized) {
    if (!mainWindow_)
        return false;
    const QRect normal = mainWindow_->normalGeometry();
    *x = normal.x();
    *y = normal.y();
    *width = normal.width();
    *height = normal.height();
    *maximized = mainWindow_->isMaximized();
    return true;
}

HWND View::GetWindowHandle() {
    return mainWindow_.get();
}

bool View::AskOpenFileName(wchar_t* fileName, wchar_t* initialDir, const wchar_t* filter,
                           int* filterIndex) {
    if (!fileName || !initialDir || !filterIndex || !openDialog_)
        return false;
    OpenFileRequest request;
    request.initialDir = FromWide(initialDir);
    request.nameFilters = NameFiltersFromMultiString(filter);
    request.filterIndex = *filterIndex - 1;
    request.fileName = FromWide(fileName);
    if (!openDialog_(mainWindow_.get(), request))
        return false;
    // A path that does not fit the buffer is refused as a failed dialog, rather
    // than handed on cut short.
    const std::wstring path = request.fileName.toStdWString();
    if (path.empty() || path.size() >= static_cast<std::size_t>(kPathBufferLength))
        return false;
    std::copy(path.begin(), path.end(), fileName);
    fileName[path.size()] = L'\0';
    *filterIndex = std::max(request.filterIndex, 0) + 1;
    WriteBackFolder(fileName, initialDir);
    return true;
}

void View::Redraw() {
    if (!mainWindow_)
        return;
    if (!created_) {
        mainWindow_->update();
        return;
    }
    // A redraw shows a new waveform, time axis, cursor, selection or lamp; the
    // rest of the window repaints itself when it changes. Repainting the whole
    // window with its controls on every frame of the playing cursor would cost
    // many times what the waveform does.
    heldChanges_ += timelineComponent_->Area();
    if (lampsChanged_)
        heldChanges_ += topComponent_->LampArea();
    lampsChanged_ = false;
    framePacer_->Request();
}

bool View::IsFrameDue() const {
    return !framePacer_ || framePacer_->IsDue();
}

void View::ShowHeldChanges() {
    if (scrollComponent_)
        scrollComponent_->ShowPosition();
    mainWindow_->update(heldChanges_);
    heldChanges_ = QRegion();
}

void View::ResetWaveform(bool redraw) {
    if (!created_)
        return;
    topComponent_->Reset();
    if (redraw)
        Redraw();
}

void View::SetWaveform(std::unique_ptr<short[]> columns, int count, double visibleStartSeconds,
                       double visibleSpanSeconds) {
    if (!created_)
        return;
    waveComponent_->Reset();
    const bool shown = columns && count > 0;
    waveComponent_->SetColumns(std::move(columns), count);
    if (shown) {
        timelineComponent_->SetTimeRange(visibleStartSeconds, visibleSpanSeconds);
    } else {
        // Also releases an array handed in with no count.
        timelineComponent_->Reset();
    }
}

void View::SetScrollRange(int total, int position) {
    if (created_)
        scrollComponent_->UpdateScrollInfo(total, position);
}

void View::SetScrollPosition(int position) {
    if (!created_)
        return;
    // Between two frames of the screen the thumb waits for the next, as the
    // waveform does: the playing cursor scrolls on every tick.
    const bool due = IsFrameDue();
    scrollComponent_->SetPosition(std::clamp(position, 0, std::max(0, GetScrollMaximum())), due);
    if (!due)
        framePacer_->Request();
}

void View::SetCursorColumn(int column) {
    if (!created_ || !waveComponent_->HasColumns())
        return;
    const bool inside = column >= 0 && column < waveComponent_->DrawingWidth();
    waveComponent_->SetCursorColumn(inside ? column : -1);
}

void View::SetSelectionColumns(int first, int last) {
    if (!created_ || !waveComponent_->HasColumns())
        return;
    const int width = waveComponent_->DrawingWidth();
    if (first < width && last >= 0) {
        const int shownFirst = std::max(first, 0);
        // The band covers columns first .. last - 1, so it may end at the last one.
        const int shownLast = std::min(last, width);
        // A band narrower than two columns is never shown.
        if (shownLast - shownFirst >= 2) {
            waveComponent_->SetSelection(shownFirst, shownLast);
            return;
        }
    }
    waveComponent_->SetSelection(-1, -1);
}

void View::ClearSelection() {
    if (created_)
        waveComponent_->SetSelection(-1, -1);
}

SIZE* View::GetWaveformSize(SIZE* size) {
    if (created_) {
        topComponent_->GetDrawingSize(size);
    } else {
        *size = SIZE();
    }
    return size;
}

int View::GetScrollMaximum() {
    return created_ ? scrollComponent_->Maximum() : 0;
}

int View::GetScrollPage() {
    return created_ ? scrollComponent_->Page() : 0;
}

int View::GetScrollPosition() {
    return created_ ? scrollComponent_->Position() : 0;
}

int View::GetScrollTrackPosition() {
    return created_ ? scrollBar_->sliderPosition() : 0;
}

int View::GetCursorColumn() {
    return created_ ? waveComponent_->CursorColumn() : -1;
}

int View::HitTestWaveform(const POINTS* point) {
    if (!created_ || !point)
        return -1;
    return waveComponent_->HitTest(point->x, point->y);
}

void View::ArmTimer() {
    // Starting a running timer restarts it, as re-arming a Windows timer does.
    // It is never stopped: the presenter's state decides what a tick does.
    timer_->start();
}

void View::SetPlaying(bool playing) {
    if (!created_)
        return;
    controls_.playButton->SetPictures(playing ? QStringLiteral("pause") : QStringLiteral("play"),
                                      playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    if (playing)
        ArmTimer();
}

void View::SetLooping(bool looping) {
    if (!created_)
        return;
    SetSayLamp(false);
    SetListenLamp(looping);
    controls_.loopButton->SetPictures(looping ? QStringLiteral("pause") : QStringLiteral("loop"),
                                      looping ? QStringLiteral("Pause") : QStringLiteral("Loop"));
    if (looping)
        ArmTimer();
    Redraw();
}

void View::SetListenLamp(bool on) {
    if (!created_)
        return;
    lampsChanged_ = lampsChanged_ || topComponent_->ListenLamp() != on;
    topComponent_->SetListenLamp(on);
}

void View::SetSayLamp(bool on) {
    if (!created_)
        return;
    lampsChanged_ = lampsChanged_ || topComponent_->SayLamp() != on;
    topComponent_->SetSayLamp(on);
}

void View::SetInputLevel(int level) {
    if (!created_ || topComponent_->InputLevel() == level)
        return;
    topComponent_->SetInputLevel(level);
    if (topComponent_->SayLamp())
        mainWindow_->update(topComponent_->LampArea());
}

void View::SetPhraseMarks(std::vector<int> columns) {
    if (created_)
        timelineComponent_->SetMarks(std::move(columns));
}

void View::SetAdvanceAfter(int cycles) {
    if (created_)
        SelectChoice(controls_.advanceCombo, cycles);
}

int View::GetAdvanceAfter() {
    return created_ ? controls_.advanceCombo->currentData().toInt() : 0;
}

void View::SetSpeed(int percent) {
    if (created_)
        SelectChoice(controls_.speedCombo, percent);
}

int View::GetSpeed() {
    return created_ ? controls_.speedCombo->currentData().toInt() : 100;
}

void View::AddInputDevice(const wchar_t* name) {
    if (created_)
        AddComboItem(controls_.inputDeviceCombo, name);
}

void View::SelectInputDevice(int index) {
    if (created_)
        controls_.inputDeviceCombo->setCurrentIndex(index);
}

int View::GetSelectedInputDevice() {
    return created_ ? controls_.inputDeviceCombo->currentIndex() : -1;
}

void View::ShowInputDevices(bool show) {
    if (created_)
        controls_.inputDeviceCombo->setVisible(show);
}

void View::ClearInputDevices() {
    if (created_)
        controls_.inputDeviceCombo->clear();
}

void View::AddInputPin(const wchar_t* name) {
    if (created_)
        AddComboItem(controls_.inputPinCombo, name);
}

void View::SelectInputPin(int index) {
    if (created_)
        controls_.inputPinCombo->setCurrentIndex(index);
}

int View::GetSelectedInputPin() {
    return created_ ? controls_.inputPinCombo->currentIndex() : -1;
}

void View::ShowInputPins(bool show) {
    if (created_)
        controls_.inputPinCombo->setVisible(show);
}

void View::ClearInputPins() {
    if (created_)
        controls_.inputPinCombo->clear();
}

void View::SetMicVolumePos(int value) {
    if (!created_)
        return;
    const QSignalBlocker quiet(controls_.micVolumeTrackbar);
    controls_.micVolumeTrackbar->setValue(value);
}

void View::SetSpeakerVolumePos(int value) {
    if (!created_)
        return;
    const QSignalBlocker quiet(controls_.speakerVolumeTrackbar);
    controls_.speakerVolumeTrackbar->setValue(value);
}

int View::GetMicVolumePos() {
    return created_ ? controls_.micVolumeTrackbar->value() : 0;
}

int View::GetSpeakerVolumePos() {
    return created_ ? controls_.speakerVolumeTrackbar->value() : 0;
}

void View::EnableControls(bool enable) {
    if (!created_)
        return;
    const ControlTable& c = controls_;
    const std::initializer_list<QWidget*> controls = {
        c.inputDeviceCombo,      c.inputPinCombo, c.micVolumeTrackbar,
        c.speakerVolumeTrackbar, c.playButton,    c.loopButton,
        c.zoomInButton,          c.zoomOutButton, c.openButton};
    for (QWidget* control : controls)
        control->setEnabled(enable);
}

void View::EnablePlay(bool enable) {
    if (created_)
        controls_.playButton->setEnabled(enable);
}

void View::EnableLoop(bool enable) {
    if (created_)
        controls_.loopButton->setEnabled(enable);
}

void View::EnableZoomIn(bool enable) {
    if (created_)
        controls_.zoomInButton->setEnabled(enable);
}

void View::EnableZoomOut(bool enable) {
    if (created_)
        controls_.zoomOutButton->setEnabled(enable);
}

void View::EnableOpen(bool enable) {
    if (created_)
        controls_.openButton->setEnabled(enable);
}

void View::ShowProgress() {
    if (!created_)
        return;
    if (!progressDialog_) {
        progressDialog_ = new ProgressDialog(mainWindow_.get());
    } else {
        // The main window may have moved since the last load.
        CenterProgressDialog();
    }
    SetProgress(0);
    progressDialog_->show();
    ArmTimer();
}

void View::SetProgress(int position) {
    if (progressDialog_)
        progressDialog_->Bar()->setValue(std::clamp(position, 0, 100));
}

void View::HideProgress() {
    if (!progressDialog_)
        return;
    progressDialog_->hide();
}

void View::SetStatusText(const wchar_t* text) {
    if (created_)
        statusText_->setText(FromWide(text));
}

void View::ClearRecentFiles() {
    if (created_)
        recentList_->clear();
}

void View::AddRecentFile(const wchar_t* path) {
    if (created_)
        recentList_->addItem(FromWide(path));
}

int View::GetSelectedRecentFile() {
    if (!created_)
        return -1;
    const QList<QListWidgetItem*> selected = recentList_->selectedItems();
    return selected.isEmpty() ? -1 : recentList_->row(selected.constFirst());
}
