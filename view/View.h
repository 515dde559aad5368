#pragma once
// The main window as the presenter sees it: every IView operation is a thin,
// synchronous command on a control or on the oscillogram's component chain, and
// every window event goes to the presenter through thePresenter. The view decides
// nothing itself.
//
// Threads: every operation is called on the UI thread (the thread that built the
// View). Other threads reach the window only through IWindow::PostMessage on the
// handle from GetWindowHandle.
#include <QColor>
#include <QRegion>
#include <memory>

#include "ControlTable.h"
#include "FramePacer.h"
#include "IView.h"
#include "OpenFileName.h"

class MainWindow;
class ProgressDialog;
class QFrame;
class QLabel;
class QListWidget;
class QScrollBar;
class QStatusBar;
class QTimer;
class QWidget;
class ScrollBarDecorator;
class SourceViewDecorator;
class TimelineDecorator;
class VisualComponent;

class View : public IView {
  public:
    static constexpr char kTitle[] = "Sayalike v1.3";
    static inline const QColor kBackground{212, 208, 200};
    static constexpr int kStatusBarHeight = 22;
    static constexpr int kRecentListHeight = 100;
    static constexpr int kTimerPeriodMs = 10;

    // Sets thePresenter to null; start-up sets it once the presenter exists.
    View();
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Replaces the Open dialog (the Qt file dialog by default); tests give a
    // prepared answer instead of a modal dialog.
    void SetOpenDialogFunction(OpenDialogFunction dialog);

    // Run without the event loop: creates the main window through the presenter,
    // places and shows it; false (and no window) when creation is aborted.
    bool CreateAndShow(int x, int y, int width, int height, bool maximized);
    // The main window's widget, null before it is created (for tests and tools
    // that look at the controls).
    QWidget* MainWidget() const;

    int Run(int x, int y, int width, int height, bool maximized) override;
    int OnCreate(HWND hwnd) override;
    void Layout(int sizeType, int width, int height) override;
    void CenterProgressDialog() override;
    void LayoutDeviceCombos() override;
    void OnPaint() override;
    bool GetPlacement(int* x, int* y, int* width, int* height, bool* maximized) override;
    HWND GetWindowHandle() override;
    bool AskOpenFileName(wchar_t* fileName, wchar_t* initialDir, const wchar_t* filter,
                         int* filterIndex) override;
    void Redraw() override;
    bool IsFrameDue() const override;
    void ResetWaveform(bool redraw) override;
    void SetWaveform(std::unique_ptr<short[]> columns, int count, double visibleStartSeconds,
                     double visibleSpanSeconds) override;
    void SetScrollRange(int total, int position) override;
    void SetScrollPosition(int position) override;
    void SetCursorColumn(int column) override;
    void SetSelectionColumns(int first, int last) override;
    void ClearSelection() override;
    SIZE* GetWaveformSize(SIZE* size) override;
    int GetScrollMaximum() override;
    int GetScrollPage() override;
    int GetScrollPosition() override;
    int GetScrollTrackPosition() override;
    int GetCursorColumn() override;
    int HitTestWaveform(const POINTS* point) override;
    void SetPlaying(bool playing) override;
    void SetLooping(bool looping) override;
    void SetListenLamp(bool on) override;
    void SetSayLamp(bool on) override;
    void AddInputDevice(const wchar_t* name) override;
    void SelectInputDevice(int index) override;
    int GetSelectedInputDevice() override;
    void ShowInputDevices(bool show) override;
    void ClearInputDevices() override;
    void AddInputPin(const wchar_t* name) override;
    void SelectInputPin(int index) override;
    int GetSelectedInputPin() override;
    void ShowInputPins(bool show) override;
    void ClearInputPins() override;
    void SetMicVolumePos(int value) override;
    void SetSpeakerVolumePos(int value) override;
    int GetMicVolumePos() override;
    int GetSpeakerVolumePos() override;
    void EnableControls(bool enable) override;
    void EnablePlay(bool enable) override;
    void EnableLoop(bool enable) override;
    void EnableZoomIn(bool enable) override;
    void EnableZoomOut(bool enable) override;
    void EnableOpen(bool enable) override;
    void ShowProgress() override;
    void SetProgress(int position) override;
    void HideProgress() override;
    void SetStatusText(const wchar_t* text) override;
    void ClearRecentFiles() override;
    void AddRecentFile(const wchar_t* path) override;
    int GetSelectedRecentFile() override;
    void SetPhraseMarks(std::vector<int> columns) override;
    void SetInputLevel(int level) override;
    void SetAdvanceAfter(int cycles) override;
    int GetAdvanceAfter() override;
    void SetSpeed(int percent) override;
    int GetSpeed() override;

  private:
    void CreateControls(MainWindow* window);
    void ConnectControls();
    void BuildChain();
    void DestroyWindow();
    void ArmTimer();
    void OnScrollAction(int action);
    void ShowHeldChanges();

    std::unique_ptr<MainWindow> mainWindow_;
    bool created_ = false;       // the controls and the chain exist
    bool lampsChanged_ = false;  // since the last redraw
    QTimer* timer_ = nullptr;
    std::unique_ptr<FramePacer> framePacer_;
    QRegion heldChanges_;  // to be repainted at the next frame
    ProgressDialog* progressDialog_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QFrame* separator_ = nullptr;
    QLabel* recentLabel_ = nullptr;
    QListWidget* recentList_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusText_ = nullptr;
    ControlTable controls_;
    std::unique_ptr<SourceViewDecorator> topComponent_;
    ScrollBarDecorator* scrollComponent_ = nullptr;
    TimelineDecorator* timelineComponent_ = nullptr;
    VisualComponent* waveComponent_ = nullptr;
    OpenDialogFunction openDialog_;
};
