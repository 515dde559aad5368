#pragma once
// The application's state machine: it owns the narrator's audio (source), the
// learner's voice (input) and the settings store, and drives the window through
// IView. Every operation checks the state first and ignores input outside the
// states it names.
//
// Threads: the UI thread, except the end of a file load, which the loading thread
// hands to the UI thread before any entry action runs.
#include <atomic>
#include <cassert>
#include <memory>
#include <string>
#include <thread>

#include "IPresenter.h"
#include "IView.h"
#include "IniReg.h"
#include "InputData.h"
#include "SourceData.h"

enum PresenterState : int {
    NO_SOURCE_DATA_STATE = 0,
    LOADING_SOURCE_DATA_STATE = 1,
    LOADED_SOURCE_DATA_STATE = 2,
    SETTING_CURSOR_AND_SAMPLE_STATE = 3,
    PLAYING_SOURCE_DATA_STATE = 4,
    LISTENING_SAMPLE_STATE = 5,
    RECORDING_INPUT_DATA_STATE = 6,
    COMPARING_SOURCE_SAMPLE_STATE = 10,
    COMPARING_INPUT_DATA_STATE = 11,
    CHANGING_STATE = 255,
};

class Presenter : public IPresenter {
  public:
    Presenter(IView* view, std::unique_ptr<IniReg> settings);
    ~Presenter() override;
    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

    int Run() override;
    int OnCreate(HWND hwnd) override;
    void OnSize(int sizeType, int width, int height) override;
    void OnMove() override;
    int OnGetMinMaxInfo(MINMAXINFO* info) override;
    int OnPaint() override;
    int OnClose() override;
    void OnPlayClick() override;
    void OnLoopClick() override;
    void OnZoomInClick() override;
    void OnZoomOutClick() override;
    void OnOpenClick() override;
    void OnRecentFileDoubleClick() override;
    void OnScrollLine(bool right) override;
    void OnScrollPage(bool right) override;
    void OnScrollThumbTrack() override;
    void OnMouseDown(const POINTS* point) override;
    void OnMouseDrag(const POINTS* point) override;
    void OnMouseUp(const POINTS* point) override;
    void OnTimer() override;
    void OnMicVolumeChange() override;
    void OnSpeakerVolumeChange() override;
    void OnInputDeviceChange() override;
    void OnInputPinChange() override;
    void OnCaptureEvent() override;
    void OnMouseDoubleClick(const POINTS* point) override;
    void OnPhraseKey(bool next) override;
    void OnAdvanceAfterChange() override;
    void OnSpeedChange() override;

    void RequestState(int n);
    // Blocks until the loading thread, if one runs, has ended; the next timer tick
    // then hands its outcome over.
    void WaitForLoad();
    int State() const { return state; }
    SourceData& Source() { return source; }
    InputData& Input() { return input; }
    IniReg& Settings() { return *settings; }

  private:
    // Every operation of the presenter belongs to the thread that made it.
    void AssertUiThread() const { assert(std::this_thread::get_id() == uiThread); }
    void EnterNoSourceData();
    void EnterLoadingSourceData();
    void EnterLoadedSourceData();
    void EnterPlayingSourceData();
    void EnterListeningSample();
    void EnterRecordingInputData();
    void EnterComparingSourceSample();
    void EnterComparingInputData();
    void RefreshWaveform(bool redraw);
    void PlaySourceSample();
    void StopNarrator();
    void FollowSelectionPlayback();
    void FollowFilePlayback();
    void StartLoading(std::wstring path);
    void LoadSourceFile(const std::wstring& path);
    void FinishLoadingIfDone();
    void RefreshRecentFiles();
    void ScrollTo(int position, bool following = false);
    void FillInputPins();
    void Zoom(bool in);
    void ShowLoadedLook();
    int NeighbourPhrase(int from, bool next) const;
    void SelectPhrase(int index);
    void BringSelectionIntoView();
    bool MoveOnAfterCycle();
    void ShowPhraseMarks(int width);
    void FollowInputLevel();
    bool HasSelection() const;
    int SampleToColumn(int sample) const;

    const std::thread::id uiThread = std::this_thread::get_id();
    std::atomic<int> state{NO_SOURCE_DATA_STATE};
    IView* view;
    std::unique_ptr<IniReg> settings;
    SourceData source;
    InputData input;
    int dragAnchor = 0;
    int dragColumn = 0;
    // The study choices: cycles of one phrase before the loop moves on (0: it
    // stays), and the phrase the learner asked for while looping (-1: none).
    int advanceAfter = 0;
    int cyclesDone = 0;
    int pendingPhrase = -1;
    // Timer ticks spent waiting for the learner's voice, and whether the status
    // already says to check the microphone.
    int ticksWithoutVoice = 0;
    bool micHintShown = false;
    // The last tick moved the cursor without rebuilding the waveform.
    bool pictureBehind = false;

    // The loading thread decodes into source and then only reports its outcome;
    // the UI thread's timer sees it, joins the thread and runs the entry action,
    // so widgets and the waveform are touched on the UI thread alone.
    enum LoadOutcome : int { LOAD_RUNNING, LOAD_SUCCEEDED, LOAD_FAILED };
    std::thread loader;
    std::atomic<int> loadOutcome{LOAD_RUNNING};
};
