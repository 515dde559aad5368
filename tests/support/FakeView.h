#pragma once
// A recording stand-in for the main window: it keeps what the presenter set and
// a journal of the calls, in order, for tests to read.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "IView.h"
#include "LastError.h"

class FakeView : public IView {
  public:
    std::vector<std::string> journal;
    std::map<std::string, bool> enabled;
    std::wstring status;
    std::vector<std::wstring> devices, pins, recent;
    int selectedDevice = -1, selectedPin = -1, selectedRecent = -1;
    bool devicesShown = false, pinsShown = false;
    int micPos = 0, speakerPos = 0;
    bool playing = false, looping = false, listenLamp = false, sayLamp = false;
    bool progressShown = false;
    int createResult = 0;
    int placement[4] = {10, 20, 800, 500};
    bool maximized = false;
    bool placementReadable = true;
    SIZE waveformSize{600, 200};
    // What the Open dialog answers: empty = Cancel.
    std::wstring openPath;
    int openFilterIndex = 2;
    std::wstring openFolder = L"/chosen/folder";
    int progress = -1;
    int waveformCount = -1;
    int scrollMax = 0, scrollPage = 0, scrollPos = 0, cursorColumn = -1;

    void Log(const std::string& entry) { journal.push_back(entry); }
    static std::string B(bool b) { return b ? "true" : "false"; }
    static std::string N(const wchar_t* s) { return s ? NarrowUtf8(s) : "(null)"; }

    int Run(int x, int y, int w, int h, bool max) override {
        Log("Run " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
            std::to_string(h) + " " + B(max));
        return 0;
    }
    int OnCreate(HWND) override {
        Log("OnCreate");
        return createResult;
    }
    void Layout(int type, int w, int h) override {
        Log("Layout " + std::to_string(type) + " " + std::to_string(w) + "x" + std::to_string(h));
    }
    void CenterProgressDialog() override { Log("CenterProgressDialog"); }
    void LayoutDeviceCombos() override { Log("LayoutDeviceCombos"); }
    void OnPaint() override { Log("OnPaint"); }
    bool GetPlacement(int* x, int* y, int* w, int* h, bool* max) override {
        if (!placementReadable)
            return false;
        *x = placement[0];
        *y = placement[1];
        *w = placement[2];
        *h = placement[3];
        *max = maximized;
        return true;
    }
    HWND GetWindowHandle() override { return nullptr; }
    bool AskOpenFileName(wchar_t* fileName, wchar_t* initialDir, const wchar_t*,
                         int* filterIndex) override {
        Log("AskOpenFileName");
        if (openPath.empty())
            return false;
        openPath.copy(fileName, 259);
        openFolder.copy(initialDir, 259);
        initialDir[std::min<std::size_t>(openFolder.size(), 259)] = 0;
        *filterIndex = openFilterIndex;
        return true;
    }
    void Redraw() override { Log("Redraw"); }
    void ResetWaveform(bool redraw) override { Log("ResetWaveform " + B(redraw)); }
    void SetWaveform(std::unique_ptr<short[]>, int count, double, double) override {
        waveformCount = count;
        Log("SetWaveform " + std::to_string(count));
    }
    void SetScrollRange(int total, int position) override {
        scrollMax = total + 1;
        scrollPos = std::clamp(position, 0, scrollMax);
        Log("SetScrollRange " + std::to_string(total) + " " + std::to_string(position));
    }
    void SetScrollPosition(int position) override {
        scrollPos = std::clamp(position, 0, std::max(scrollMax, 0));
    }
    void SetCursorColumn(int column) override { cursorColumn = column; }
    int selectionFirst = -1, selectionLast = -1;
    void SetSelectionColumns(int first, int last) override {
        selectionFirst = first;
        selectionLast = last;
        Log("SetSelectionColumns " + std::to_string(first) + " " + std::to_string(last));
    }
    void ClearSelection() override {
        selectionFirst = selectionLast = -1;
        Log("ClearSelection");
    }
    SIZE* GetWaveformSize(SIZE* size) override {
        *size = waveformSize;
        return size;
    }
    int GetScrollMaximum() override { return scrollMax; }
    int GetScrollPage() override { return scrollPage; }
    int GetScrollPosition() override { return scrollPos; }
    int GetScrollTrackPosition() override { return scrollPos; }
    int GetCursorColumn() override { return cursorColumn; }
    // The waveform starts at client x = 0 and spans waveformSize.
    int HitTestWaveform(const POINTS* point) override {
        return point->x >= 0 && point->x < waveformSize.cx && point->y >= 0 &&
                       point->y < waveformSize.cy
                   ? point->x
                   : -1;
    }
    void SetPlaying(bool p) override {
        playing = p;
        Log(std::string("SetPlaying ") + B(p));
    }
    void SetLooping(bool l) override {
        looping = l;
        listenLamp = l;
        sayLamp = false;
    }
    void SetListenLamp(bool on) override { listenLamp = on; }
    void SetSayLamp(bool on) override { sayLamp = on; }
    void AddInputDevice(const wchar_t* name) override {
        devices.push_back(name);
        Log("AddInputDevice " + N(name));
    }
    void SelectInputDevice(int index) override {
        selectedDevice = index;
        Log("SelectInputDevice " + std::to_string(index));
    }
    int GetSelectedInputDevice() override { return selectedDevice; }
    void ShowInputDevices(bool show) override {
        devicesShown = show;
        Log("ShowInputDevices " + B(show));
    }
    void ClearInputDevices() override { devices.clear(); }
    void AddInputPin(const wchar_t* name) override {
        pins.push_back(name);
        Log("AddInputPin " + N(name));
    }
    void SelectInputPin(int index) override {
        selectedPin = index;
        Log("SelectInputPin " + std::to_string(index));
    }
    int GetSelectedInputPin() override { return selectedPin; }
    void ShowInputPins(bool show) override {
        pinsShown = show;
        Log("ShowInputPins " + B(show));
    }
    void ClearInputPins() override {
        pins.clear();
        Log("ClearInputPins");
    }
    void SetMicVolumePos(int v) override {
        micPos = v;
        Log("SetMicVolumePos " + std::to_string(v));
    }
    void SetSpeakerVolumePos(int v) override {
        speakerPos = v;
        Log("SetSpeakerVolumePos " + std::to_string(v));
    }
    int GetMicVolumePos() override { return micPos; }
    int GetSpeakerVolumePos() override { return speakerPos; }
    void EnableControls(bool e) override {
        for (auto name :
             {"device", "pin", "mic", "speaker", "play", "loop", "zoomin", "zoomout", "open"})
            enabled[name] = e;
        Log("EnableControls " + B(e));
    }
    void EnablePlay(bool e) override { enabled["play"] = e; }
    void EnableLoop(bool e) override { enabled["loop"] = e; }
    void EnableZoomIn(bool e) override { enabled["zoomin"] = e; }
    void EnableZoomOut(bool e) override { enabled["zoomout"] = e; }
    void EnableOpen(bool e) override { enabled["open"] = e; }
    void ShowProgress() override {
        progressShown = true;
        Log("ShowProgress");
    }
    void SetProgress(int position) override { progress = position; }
    void HideProgress() override {
        progressShown = false;
        Log("HideProgress");
    }
    void SetStatusText(const wchar_t* text) override {
        status = text;
        Log("SetStatusText");
    }
    void ClearRecentFiles() override {
        recent.clear();
        Log("ClearRecentFiles");
    }
    void AddRecentFile(const wchar_t* path) override {
        recent.push_back(path);
        Log("AddRecentFile " + N(path));
    }
    int GetSelectedRecentFile() override { return selectedRecent; }
};
