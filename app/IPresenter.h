#pragma once
// What the window reaches the application through: one operation per window event.
// Called on the UI thread only.
#include "Window.h"

class IPresenter {
  public:
    virtual ~IPresenter() = default;
    virtual int Run() = 0;
    virtual int OnCreate(HWND hwnd) = 0;
    // sizeType is SIZE_RESTORED, SIZE_MINIMIZED or SIZE_MAXIMIZED; width and height
    // are the new client size.
    virtual void OnSize(int sizeType, int width, int height) = 0;
    virtual void OnMove() = 0;
    virtual int OnGetMinMaxInfo(MINMAXINFO* info) = 0;
    virtual int OnPaint() = 0;
    virtual int OnClose() = 0;
    virtual void OnPlayClick() = 0;
    virtual void OnLoopClick() = 0;
    virtual void OnZoomInClick() = 0;
    virtual void OnZoomOutClick() = 0;
    virtual void OnOpenClick() = 0;
    virtual void OnRecentFileDoubleClick() = 0;
    virtual void OnScrollLine(bool right) = 0;
    virtual void OnScrollPage(bool right) = 0;
    virtual void OnScrollThumbTrack() = 0;
    virtual void OnMouseDown(const POINTS* point) = 0;
    virtual void OnMouseDrag(const POINTS* point) = 0;
    virtual void OnMouseUp(const POINTS* point) = 0;
    virtual void OnTimer() = 0;
    virtual void OnMicVolumeChange() = 0;
    virtual void OnSpeakerVolumeChange() = 0;
    virtual void OnInputDeviceChange() = 0;
    virtual void OnInputPinChange() = 0;
    virtual void OnCaptureEvent() = 0;
    // Selects the phrase under the point.
    virtual void OnMouseDoubleClick(const POINTS* point) = 0;
    // Selects the next (or previous) phrase; while looping, from the next cycle.
    virtual void OnPhraseKey(bool next) = 0;
    virtual void OnAdvanceAfterChange() = 0;
    virtual void OnSpeedChange() = 0;
};

// The presenter every window procedure calls; set by start-up once the presenter
// is built, before the main window exists.
extern IPresenter* thePresenter;
