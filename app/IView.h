#pragma once
// What the presenter drives the main window through. Every operation is a thin,
// synchronous command on the window; none keeps presenter state. Call on the UI
// thread only.
#include <memory>
#include <vector>

#include "Window.h"

class IView {
  public:
    virtual ~IView() = default;
    // Creates and shows the main window at the placement and runs the event loop;
    // returns the quit code, 0 when the window was not created.
    virtual int Run(int x, int y, int width, int height, bool maximized) = 0;
    // Creates the child controls and the oscillogram; 0, or -1 to abort.
    virtual int OnCreate(HWND hwnd) = 0;
    virtual void Layout(int sizeType, int width, int height) = 0;
    virtual void CenterProgressDialog() = 0;
    virtual void LayoutDeviceCombos() = 0;
    // Paints the client area; only valid while the window handles a paint event.
    virtual void OnPaint() = 0;
    virtual bool GetPlacement(int* x, int* y, int* width, int* height, bool* maximized) = 0;
    virtual HWND GetWindowHandle() = 0;
    // The Open dialog. fileName and initialDir are buffers of 260 characters; on OK
    // writes the chosen file, its folder and the filter index; false on cancel.
    // filter is the multi-string of display texts and patterns.
    virtual bool AskOpenFileName(wchar_t* fileName, wchar_t* initialDir, const wchar_t* filter,
                                 int* filterIndex) = 0;
    virtual void Redraw() = 0;
    // Whether a redraw asked for now would reach the screen at once; one asked for
    // sooner after the last frame waits for the next refresh of the screen.
    virtual bool IsFrameDue() const = 0;
    virtual void ResetWaveform(bool redraw) = 0;
    // Takes the columns: count peak half-heights in pixels.
    virtual void SetWaveform(std::unique_ptr<short[]> columns, int count,
                             double visibleStartSeconds, double visibleSpanSeconds) = 0;
    virtual void SetScrollRange(int total, int position) = 0;
    virtual void SetScrollPosition(int position) = 0;
    virtual void SetCursorColumn(int column) = 0;
    virtual void SetSelectionColumns(int first, int last) = 0;
    virtual void ClearSelection() = 0;
    virtual SIZE* GetWaveformSize(SIZE* size) = 0;
    virtual int GetScrollMaximum() = 0;
    virtual int GetScrollPage() = 0;
    virtual int GetScrollPosition() = 0;
    virtual int GetScrollTrackPosition() = 0;
    virtual int GetCursorColumn() = 0;
    virtual int HitTestWaveform(const POINTS* point) = 0;
    virtual void SetPlaying(bool playing) = 0;
    virtual void SetLooping(bool looping) = 0;
    virtual void SetListenLamp(bool on) = 0;
    virtual void SetSayLamp(bool on) = 0;
    virtual void AddInputDevice(const wchar_t* name) = 0;
    virtual void SelectInputDevice(int index) = 0;
    virtual int GetSelectedInputDevice() = 0;
    virtual void ShowInputDevices(bool show) = 0;
    virtual void ClearInputDevices() = 0;
    virtual void AddInputPin(const wchar_t* name) = 0;
    virtual void SelectInputPin(int index) = 0;
    virtual int GetSelectedInputPin() = 0;
    virtual void ShowInputPins(bool show) = 0;
    virtual void ClearInputPins() = 0;
    virtual void SetMicVolumePos(int value) = 0;
    virtual void SetSpeakerVolumePos(int value) = 0;
    virtual int GetMicVolumePos() = 0;
    virtual int GetSpeakerVolumePos() = 0;
    virtual void EnableControls(bool enable) = 0;
    virtual void EnablePlay(bool enable) = 0;
    virtual void EnableLoop(bool enable) = 0;
    virtual void EnableZoomIn(bool enable) = 0;
    virtual void EnableZoomOut(bool enable) = 0;
    virtual void EnableOpen(bool enable) = 0;
    virtual void ShowProgress() = 0;
    virtual void SetProgress(int position) = 0;
    virtual void HideProgress() = 0;
    virtual void SetStatusText(const wchar_t* text) = 0;
    virtual void ClearRecentFiles() = 0;
    virtual void AddRecentFile(const wchar_t* path) = 0;
    virtual int GetSelectedRecentFile() = 0;
    // Marks on the time axis at these waveform columns (phrase starts and ends).
    virtual void SetPhraseMarks(std::vector<int> columns) = 0;
    // The learner's input level, 0..100, kInputLevelThreshold where the voice test
    // starts to hear a voice; shown while the "Say" lamp is lit.
    virtual void SetInputLevel(int level) = 0;
    // The study choices: cycles before the loop moves on (0 = never) and the
    // narrator's speed in percent. Setting picks the nearest listed choice.
    virtual void SetAdvanceAfter(int cycles) = 0;
    virtual int GetAdvanceAfter() = 0;
    virtual void SetSpeed(int percent) = 0;
    virtual int GetSpeed() = 0;
    static constexpr int kInputLevelThreshold = 25;
};
