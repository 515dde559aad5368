#pragma once
// A stand-in for the main window: it keeps what the presenter set, as the learner
// would see it, and counts the calls that lay out or draw.
#include <algorithm>
#include <cwchar>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "IView.h"
#include "LastError.h"
#include "Presenter.h"

struct FakeView : IView {
    std::map<std::string, int> calls;
    std::map<std::string, bool> shown;  // enabled buttons, lamps, modes and the progress
    // The status, and what the Open dialog answers: empty is Cancel.
    std::wstring status, openPath;
    std::vector<std::wstring> devices, pins, recent;
    int selectedDevice = -1, selectedPin = -1, selectedRecent = -1, micPos = 0, speakerPos = 0;
    int progress = -1, createResult = 0, scrollMax = 0, scrollPos = 0, cursorColumn = -1;
    // The placement is at 10, 20, sized 800 x 500.
    bool devicesShown = false, pinsShown = false, maximized = false, placementReadable = true;

    int Run(int, int, int, int, bool) override { return 0; }
    int OnCreate(HWND) override { return createResult; }
    void Layout(int, int, int) override { ++calls["Layout"]; }
    void CenterProgressDialog() override { ++calls["CenterProgressDialog"]; }
    void LayoutDeviceCombos() override {}
    void OnPaint() override {}
    bool GetPlacement(int* x, int* y, int* w, int* h, bool* max) override {
        return *x = 10, *y = 20, *w = 800, *h = 500, *max = maximized, placementReadable;
    }
    HWND GetWindowHandle() override { return nullptr; }
    bool AskOpenFileName(wchar_t* file, wchar_t* folder, const wchar_t*, int* filter) override {
        return !openPath.empty() &&
               (openPath.copy(file, 259), std::wcscpy(folder, L"/chosen/folder"), (*filter = 2));
    }
    void Redraw() override {}
    bool frameDue = true;
    bool IsFrameDue() const override { return frameDue; }
    void ResetWaveform(bool) override {}
    void SetWaveform(std::unique_ptr<short[]>, int, double, double) override { ++calls["draw"]; }
    void SetScrollRange(int total, int p) override { scrollMax = total + 1, SetScrollPosition(p); }
    void SetScrollPosition(int p) override { scrollPos = std::clamp(p, 0, scrollMax); }
    void SetCursorColumn(int column) override { cursorColumn = column; }
    void SetSelectionColumns(int, int) override {}
    void ClearSelection() override {}
    SIZE* GetWaveformSize(SIZE* size) override { return &(*size = {300, 100}); }
    int GetScrollMaximum() override { return scrollMax; }
    int GetScrollPage() override { return 10; }
    int GetScrollPosition() override { return scrollPos; }
    int GetScrollTrackPosition() override { return scrollPos; }
    int GetCursorColumn() override { return cursorColumn; }
    // The waveform starts at client x = 0.
    int HitTestWaveform(const POINTS* p) override { return p->x < 300 ? p->x : -1; }
    void SetPlaying(bool p) override { shown["playing"] = p; }
    void SetLooping(bool l) override { shown["looping"] = shown["listen"] = l, shown["say"] = 0; }
    void SetListenLamp(bool on) override { shown["listen"] = on; }
    void SetSayLamp(bool on) override { shown["say"] = on; }
    void AddInputDevice(const wchar_t* name) override { devices.push_back(name); }
    void SelectInputDevice(int index) override { selectedDevice = index; }
    int GetSelectedInputDevice() override { return selectedDevice; }
    void ShowInputDevices(bool show) override { devicesShown = show; }
    void ClearInputDevices() override { devices.clear(); }
    void AddInputPin(const wchar_t* name) override { pins.push_back(name); }
    void SelectInputPin(int index) override { selectedPin = index; }
    int GetSelectedInputPin() override { return selectedPin; }
    void ShowInputPins(bool show) override { pinsShown = show; }
    void ClearInputPins() override { pins.clear(); }
    void SetMicVolumePos(int v) override { micPos = v; }
    void SetSpeakerVolumePos(int v) override { speakerPos = v; }
    int GetMicVolumePos() override { return micPos; }
    int GetSpeakerVolumePos() override { return speakerPos; }
    void EnableControls(bool e) override {
        shown["play"] = shown["loop"] = shown["zoomin"] = shown["zoomout"] = shown["open"] = e;
    }
    void EnablePlay(bool e) override { shown["play"] = e; }
    void EnableLoop(bool e) override { shown["loop"] = e; }
    void EnableZoomIn(bool e) override { shown["zoomin"] = e; }
    void EnableZoomOut(bool e) override { shown["zoomout"] = e; }
    void EnableOpen(bool e) override { shown["open"] = e; }
    void ShowProgress() override { shown["progress"] = true; }
    void SetProgress(int position) override { progress = position; }
    void HideProgress() override { shown["progress"] = false; }
    void SetStatusText(const wchar_t* text) override { status = text; }
    void ClearRecentFiles() override { recent.clear(); }
    void AddRecentFile(const wchar_t* path) override { recent.push_back(path); }
    int GetSelectedRecentFile() override { return selectedRecent; }
    std::vector<int> marks;
    int level = -1, advanceAfter = 0, speed = 100;
    void SetPhraseMarks(std::vector<int> columns) override { marks = std::move(columns); }
    void SetInputLevel(int l) override { level = l; }
    void SetAdvanceAfter(int c) override { advanceAfter = c; }
    int GetAdvanceAfter() override { return advanceAfter; }
    void SetSpeed(int p) override { speed = p; }
    int GetSpeed() override { return speed; }

    // What is on, by name, in one line.
    std::string Shown() const {
        return std::accumulate(shown.begin(), shown.end(), std::string(), [](auto on, auto& is) {
            return on + (is.second ? is.first + " " : "");
        });
    }
};
