#include "Presenter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "ErrorReport.h"
#include "MessageBox.h"

namespace {

const wchar_t* const kNoSourceText =
    L"Click the Open button to load an audio file or select a file from the \"Recent Files\" "
    L"list above.";
const wchar_t* const kLoadingText = L"Please wait...";
const wchar_t* const kLoadedWithSelectionText = L"Click the \"Loop\" button to begin training.";
const wchar_t* const kLoadedWithoutSelectionText =
    L"Drag your mouse through the oscillogram and select a particular part.";
const wchar_t* const kPlayingText = L"Click the \"Pause\" button to stop the file playing.";
const wchar_t* const kListeningText =
    L"Listen to the narrator. Click \"Pause\" button to stop the process.";
const wchar_t* const kRecordingText =
    L"Try to repeat what you have just heard. Click \"Pause\" button to stop the process.";
const wchar_t* const kComparingText =
    L"Listen carefully how you and the narrator say the same phrase, check for pronunciation "
    L"mistakes, compare both variants accurately.";

// Added after the recording text when no voice has come for ten seconds of ticks.
const wchar_t* const kMicHintText =
    L"No voice heard yet: check that the microphone is connected, not muted, and its level "
    L"is up.";
constexpr int kMicHintTicks = 1000;

void Refuse(const wchar_t* text) {
    MessageBoxW(text, L"Error!", MB_OK);
}

}  // namespace

Presenter::Presenter(IView* v, std::unique_ptr<IniReg> store)
    : view(v), settings(std::move(store)) {}

Presenter::~Presenter() {
    WaitForLoad();
    // The store goes first; nothing is saved here, only OnClose saves.
    settings.reset();
}

int Presenter::Run() {
    AssertUiThread();
    settings->Load();
    return view->Run(settings->left, settings->top, settings->width, settings->height,
                     settings->maximized != 0);
}

int Presenter::OnCreate(HWND hwnd) {
    AssertUiThread();
    input.m_CaptureState = CAPTURE_NONE;
    if (!CreateTempFiles(input))
        return -1;
    if (FAILED(input.InitCapture())) {
        input.ShutdownCapture();
        return -1;
    }
    input.m_CaptureState = CAPTURE_READY;
    if (view->OnCreate(hwnd) < 0)
        return -1;

    const MonikerList& devices = input.Devices();
    if (devices.Count() <= 0)
        return -1;
    for (const auto& name : devices.Names())
        view->AddInputDevice(name.c_str());
    view->ShowInputDevices(devices.Count() > 1);
    // A stored device that is there but cannot be opened is reported and then
    // treated as one that is gone, so that the next start does not fail again.
    int stored = devices.FindMoniker(settings->GetInputDeviceName());
    if (stored >= 0 && FAILED(input.SetInputDevice(stored)) && devices.Current() != 0)
        input.SetInputDevice(0);
    view->SelectInputDevice(devices.Current());

    if (devices.PinCount() <= 0)
        return -1;
    for (const auto& name : devices.PinNames())
        view->AddInputPin(name.c_str());
    view->ShowInputPins(devices.PinCount() > 1);
    int storedPin = devices.FindPin(settings->GetInputPinName());
    if (storedPin >= 0)
        input.SetInputPin(storedPin);
    view->SelectInputPin(devices.ActivePin());

    input.SetVolume(settings->GetMcVolPos());
    view->SetMicVolumePos(input.GetVolume());
    source.SetVolume(settings->GetSpkVolPos());
    view->SetSpeakerVolumePos(source.GetVolume());
    view->SetAdvanceAfter(settings->advanceAfter);
    advanceAfter = view->GetAdvanceAfter();
    view->SetSpeed(settings->speed);
    source.SetSpeed(view->GetSpeed());

    RefreshRecentFiles();
    EnterNoSourceData();
    return 0;
}

int Presenter::OnClose() {
    AssertUiThread();
    int s = state;
    if (s != NO_SOURCE_DATA_STATE && s != LOADED_SOURCE_DATA_STATE)
        return 0;
    int x, y, w, h;
    bool maximized;
    if (view->GetPlacement(&x, &y, &w, &h, &maximized)) {
        settings->left = x;
        settings->top = y;
        settings->width = w;
        settings->height = h;
        settings->maximized = maximized ? 1 : 0;
    }
    settings->SetSpkVolPos(source.GetVolume());
    settings->SetMcVolPos(input.GetVolume());
    settings->SetInputDeviceName(input.Devices().CurrentName());
    settings->SetInputPinName(input.Devices().ActivePinName());
    settings->advanceAfter = advanceAfter;
    settings->speed = source.GetSpeed();
    settings->Save();
    source.ReleaseGraph();
    input.ReleaseGraph();
    return 1;
}

void Presenter::RefreshRecentFiles() {
    view->ClearRecentFiles();
    // Asked from the end: the store drops an entry whose file has gone and closes
    // the gap with the entries behind it, which have been asked already.
    std::vector<std::wstring> paths;
    for (int i = settings->GetRecentCapacity() - 1; i >= 0; --i) {
        if (const wchar_t* path = settings->GetRecent(i))
            paths.emplace_back(path);
    }
    for (auto path = paths.rbegin(); path != paths.rend(); ++path)
        view->AddRecentFile(path->c_str());
}

// ---- entry actions ---------------------------------------------------------

bool Presenter::HasSelection() const {
    return source.selectionStart >= 0 && source.selectionEnd >= 0;
}

int Presenter::SampleToColumn(int sample) const {
    if (sample < 0)
        return -1;
    return static_cast<int>((sample - source.scrollSample) * source.zoom);
}

void Presenter::RefreshWaveform(bool redraw) {
    pictureBehind = false;
    SIZE size;
    view->GetWaveformSize(&size);
    short* peaks = nullptr;
    double start = 0.0, span = 0.0;
    int count = source.GetPeaks(&peaks, size.cx, size.cy, &start, &span);
    view->SetWaveform(std::unique_ptr<short[]>(peaks), count, start, span);
    view->SetCursorColumn(source.GetCursorPos());
    view->SetSelectionColumns(SampleToColumn(source.selectionStart),
                              SampleToColumn(source.selectionEnd));
    ShowPhraseMarks(size.cx);
    if (redraw)
        view->Redraw();
}

// The starts and ends of the phrases in sight.
void Presenter::ShowPhraseMarks(int width) {
    std::vector<int> columns;
    const auto& phrases = source.phrases;
    auto phrase = std::ranges::lower_bound(phrases, source.scrollSample, {}, &Phrase::end);
    for (; phrase != phrases.end() && SampleToColumn(phrase->start) < width; ++phrase) {
        for (std::int32_t edge : {phrase->start, phrase->end})
            if (edge >= source.scrollSample && SampleToColumn(edge) < width)
                columns.push_back(SampleToColumn(edge));
    }
    view->SetPhraseMarks(std::move(columns));
}

// While the narrator plays (`following`), the waveform is rebuilt on the ticks
// that bring a frame to the screen: the ticks come more often, and a picture
// built between two frames would be replaced unseen.
void Presenter::ScrollTo(int position, bool following) {
    view->SetScrollPosition(position);
    source.SetScrollPos(view->GetScrollPosition());
    pictureBehind = following && !view->IsFrameDue();
    if (!pictureBehind)
        RefreshWaveform(true);
}

void Presenter::RequestState(int n) {
    AssertUiThread();
    switch (n) {
        case NO_SOURCE_DATA_STATE:
            EnterNoSourceData();
            break;
        case LOADING_SOURCE_DATA_STATE:
            EnterLoadingSourceData();
            break;
        case LOADED_SOURCE_DATA_STATE:
            EnterLoadedSourceData();
            break;
        case SETTING_CURSOR_AND_SAMPLE_STATE:
            if (state == LOADED_SOURCE_DATA_STATE)
                state = SETTING_CURSOR_AND_SAMPLE_STATE;
            else
                Refuse(L"Can't move to SETTING_CURSOR_AND_SAMPLE_STATE from this current state");
            break;
        case PLAYING_SOURCE_DATA_STATE:
            EnterPlayingSourceData();
            break;
        case LISTENING_SAMPLE_STATE:
            EnterListeningSample();
            break;
        case RECORDING_INPUT_DATA_STATE:
            EnterRecordingInputData();
            break;
        case COMPARING_SOURCE_SAMPLE_STATE:
            EnterComparingSourceSample();
            break;
        case COMPARING_INPUT_DATA_STATE:
            EnterComparingInputData();
            break;
        default:
            Refuse(L"Wrong state is requested");
            break;
    }
}

void Presenter::EnterNoSourceData() {
    int s = state;
    if (s != NO_SOURCE_DATA_STATE && s != LOADING_SOURCE_DATA_STATE &&
        s != LOADED_SOURCE_DATA_STATE)
        return;
    state = CHANGING_STATE;
    view->EnableControls(true);
    view->EnablePlay(false);
    view->EnableLoop(false);
    view->EnableZoomIn(false);
    view->EnableZoomOut(false);
    source.Clear();
    view->ResetWaveform(true);
    view->SetStatusText(kNoSourceText);
    input.Clear();
    state = NO_SOURCE_DATA_STATE;
}

void Presenter::EnterLoadingSourceData() {
    int s = state;
    if (s != NO_SOURCE_DATA_STATE && s != LOADED_SOURCE_DATA_STATE) {
        Refuse(L"Can't move to LOADING_SOURCE_DATA_STATE from this current state");
        return;
    }
    state = CHANGING_STATE;
    view->EnableControls(false);
    source.Clear();
    view->ResetWaveform(true);
    input.Clear();
    view->ShowProgress();
    view->SetStatusText(kLoadingText);
    state = LOADING_SOURCE_DATA_STATE;
}

void Presenter::StopNarrator() {
    source.StopGraph();
}

void Presenter::PlaySourceSample() {
    SIZE size;
    view->GetWaveformSize(&size);
    int position;
    if (HasSelection()) {
        source.cursorSample = source.selectionStart;
        position = source.CenterCursor(size.cx);
    } else {
        position = source.GetScrollPos();
    }
    ScrollTo(position);
    view->SetListenLamp(true);
    source.PlaySelection(true);
}

void Presenter::EnterLoadedSourceData() {
    int s = state;
    int keptColumn = 0;
    SIZE size;
    switch (s) {
        case LOADING_SOURCE_DATA_STATE:
            state = CHANGING_STATE;
            view->HideProgress();
            view->SetScrollRange(source.GetWidth(), 0);
            RefreshWaveform(true);
            state = LOADED_SOURCE_DATA_STATE;
            break;
        case SETTING_CURSOR_AND_SAMPLE_STATE:
            state = LOADED_SOURCE_DATA_STATE;
            break;
        case PLAYING_SOURCE_DATA_STATE:
            state = CHANGING_STATE;
            view->SetPlaying(false);
            source.UpdatePlayback();
            source.Play(false);
            view->GetWaveformSize(&size);
            source.CenterCursor(size.cx);
            ScrollTo(source.GetScrollPos());
            state = LOADED_SOURCE_DATA_STATE;
            break;
        case LISTENING_SAMPLE_STATE:
        case COMPARING_SOURCE_SAMPLE_STATE:
            state = CHANGING_STATE;
            view->SetLooping(false);
            keptColumn = source.GetCursorPos() - source.GetScrollPos();
            source.UpdatePlayback();
            StopNarrator();
            ScrollTo(source.GetCursorPos() - keptColumn);
            state = LOADED_SOURCE_DATA_STATE;
            break;
        case RECORDING_INPUT_DATA_STATE:
            state = CHANGING_STATE;
            view->SetLooping(false);
            input.StopCapturing();
            state = LOADED_SOURCE_DATA_STATE;
            break;
        case COMPARING_INPUT_DATA_STATE:
            state = CHANGING_STATE;
            view->SetLooping(false);
            input.Play(false);
            state = LOADED_SOURCE_DATA_STATE;
            break;
        default:
            Refuse(L"Can't move to LOADED_SOURCE_DATA_STATE from this current state");
            break;
    }
    if (state == LOADED_SOURCE_DATA_STATE)
        ShowLoadedLook();
}

void Presenter::ShowLoadedLook() {
    view->EnableControls(true);
    view->EnableLoop(HasSelection());
    view->SetStatusText(HasSelection() ? kLoadedWithSelectionText : kLoadedWithoutSelectionText);
}

void Presenter::EnterPlayingSourceData() {
    if (state == PLAYING_SOURCE_DATA_STATE) {
        RequestState(LOADED_SOURCE_DATA_STATE);
        return;
    }
    if (state != LOADED_SOURCE_DATA_STATE)
        return;
    state = CHANGING_STATE;
    SIZE size;
    view->GetWaveformSize(&size);
    ScrollTo(source.CenterCursor(size.cx));
    view->SetPlaying(true);
    view->EnableLoop(false);
    view->EnableZoomIn(false);
    view->EnableZoomOut(false);
    view->EnableOpen(false);
    source.Play(true);
    view->SetStatusText(kPlayingText);
    state = PLAYING_SOURCE_DATA_STATE;
}

void Presenter::EnterListeningSample() {
    int s = state;
    if (s == LOADED_SOURCE_DATA_STATE) {
        if (!HasSelection())
            return;
        state = CHANGING_STATE;
        cyclesDone = 0;
        pendingPhrase = -1;
        PlaySourceSample();
        view->EnablePlay(false);
        view->EnableZoomIn(false);
        view->EnableZoomOut(false);
        view->EnableOpen(false);
        view->SetLooping(true);
        view->SetStatusText(kListeningText);
        state = LISTENING_SAMPLE_STATE;
    } else if (s == COMPARING_INPUT_DATA_STATE) {
        if (!MoveOnAfterCycle()) {
            EnterLoadedSourceData();
            return;
        }
        state = CHANGING_STATE;
        input.Play(false);
        PlaySourceSample();
        view->SetListenLamp(true);
        view->SetSayLamp(false);
        view->SetStatusText(kListeningText);
        state = LISTENING_SAMPLE_STATE;
    }
}

void Presenter::EnterRecordingInputData() {
    if (state != LISTENING_SAMPLE_STATE)
        return;
    state = CHANGING_STATE;
    view->SetListenLamp(false);
    int keptColumn = source.GetCursorPos() - source.GetScrollPos();
    source.UpdateSelectionPlayback();
    StopNarrator();
    ScrollTo(source.GetCursorPos() - keptColumn);
    view->SetListenLamp(false);
    view->SetSayLamp(true);
    view->SetStatusText(kRecordingText);
    view->SetInputLevel(0);
    ticksWithoutVoice = 0;
    micHintShown = false;
    input.StartCapturing(view->GetWindowHandle());
    state = RECORDING_INPUT_DATA_STATE;
}

void Presenter::EnterComparingSourceSample() {
    if (state != RECORDING_INPUT_DATA_STATE)
        return;
    state = CHANGING_STATE;
    view->SetListenLamp(true);
    view->SetSayLamp(false);
    input.StopCapturing();
    view->SetStatusText(kComparingText);
    PlaySourceSample();
    state = COMPARING_SOURCE_SAMPLE_STATE;
}

void Presenter::EnterComparingInputData() {
    if (state != COMPARING_SOURCE_SAMPLE_STATE)
        return;
    state = CHANGING_STATE;
    StopNarrator();
    view->SetListenLamp(true);
    view->SetSayLamp(false);
    input.Play(true);
    state = COMPARING_INPUT_DATA_STATE;
}

// ---- window housekeeping --------------------------------------------------

void Presenter::OnSize(int sizeType, int width, int height) {
    AssertUiThread();
    if (sizeType == SIZE_MINIMIZED)
        return;
    view->Layout(sizeType, width, height);
    // The loading thread is still writing source; the end of the load draws the
    // waveform at whatever size the window has then.
    if (state == LOADING_SOURCE_DATA_STATE) {
        view->CenterProgressDialog();
        return;
    }
    view->SetScrollRange(source.GetWidth(), source.GetScrollPos());
    RefreshWaveform(false);
}

void Presenter::OnMove() {
    AssertUiThread();
    if (state == LOADING_SOURCE_DATA_STATE)
        view->CenterProgressDialog();
}

int Presenter::OnGetMinMaxInfo(MINMAXINFO* info) {
    AssertUiThread();
    info->ptMinTrackSize.x = settings->minWidth;
    info->ptMinTrackSize.y = settings->minHeight;
    return 0;
}

int Presenter::OnPaint() {
    AssertUiThread();
    view->OnPaint();
    return 0;
}

// ---- scrolling, zooming, selecting ------------------------------------------

void Presenter::OnScrollLine(bool right) {
    AssertUiThread();
    if (state != LOADED_SOURCE_DATA_STATE)
        return;
    ScrollTo(view->GetScrollPosition() + (right ? 1 : -1));
}

void Presenter::OnScrollPage(bool right) {
    AssertUiThread();
    if (state != LOADED_SOURCE_DATA_STATE)
        return;
    int page = view->GetScrollPage();
    ScrollTo(view->GetScrollPosition() + (right ? page : -page));
}

void Presenter::OnScrollThumbTrack() {
    AssertUiThread();
    if (state != LOADED_SOURCE_DATA_STATE)
        return;
    ScrollTo(view->GetScrollTrackPosition());
}

void Presenter::Zoom(bool in) {
    if (state != LOADED_SOURCE_DATA_STATE)
        return;
    SIZE size;
    view->GetWaveformSize(&size);
    bool anchored = view->GetCursorColumn() >= 0;
    if (in)
        source.ZoomIn(size.cx, anchored);
    else
        source.ZoomOut(size.cx, anchored);
    view->SetScrollRange(source.GetWidth(), source.GetScrollPos());
    RefreshWaveform(true);
    view->Redraw();
}

void Presenter::OnZoomInClick() {
    AssertUiThread();
    Zoom(true);
}
void Presenter::OnZoomOutClick() {
    AssertUiThread();
    Zoom(false);
}

void Presenter::OnMouseDown(const POINTS* point) {
    AssertUiThread();
    if (state != LOADED_SOURCE_DATA_STATE)
        return;
    int x = view->HitTestWaveform(point);
    if (x == -1)
        return;
    source.SetCursor(source.GetScrollPos() + x);
    int c = source.GetCursorPos();
    dragAnchor = dragColumn = c;
    view->SetCursorColumn(c);
    view->Redraw();
    state = SETTING_CURSOR_AND_SAMPLE_STATE;
}

void Presenter::OnMouseDrag(const POINTS* point) {
    AssertUiThread();
    if (state != SETTING_CURSOR_AND_SAMPLE_STATE)
        return;
    int x = view->HitTestWaveform(point);
    if (x >= 0)
        dragColumn = x;
    int s = source.GetScrollPos();
    source.SetCursor(dragColumn + s);
    view->SetCursorColumn(source.GetCursorPos());
    if (std::abs(dragColumn - dragAnchor) <= 5) {
        source.selectionStart = source.selectionEnd = -1;
        view->ClearSelection();
    } else {
        source.SetSelection(std::min(dragAnchor, dragColumn) + s,
                            std::max(dragAnchor, dragColumn) + s);
        view->SetSelectionColumns(SampleToColumn(source.selectionStart),
                                  SampleToColumn(source.selectionEnd));
    }
    if (x == -1)
        EnterLoadedSourceData();
    view->Redraw();
}

void Presenter::OnMouseUp(const POINTS*) {
    AssertUiThread();
    if (state == SETTING_CURSOR_AND_SAMPLE_STATE)
        EnterLoadedSourceData();
}

// ---- volumes, device and pin ---------------------------------------------

void Presenter::OnMicVolumeChange() {
    AssertUiThread();
    input.SetVolume(view->GetMicVolumePos());
}

void Presenter::OnSpeakerVolumeChange() {
    AssertUiThread();
    source.SetVolume(view->GetSpeakerVolumePos());
}

void Presenter::FillInputPins() {
    view->ClearInputPins();
    for (const auto& name : input.Devices().PinNames())
        view->AddInputPin(name.c_str());
    view->ShowInputPins(input.Devices().PinCount() > 1);
}

void Presenter::OnInputDeviceChange() {
    AssertUiThread();
    if (state != NO_SOURCE_DATA_STATE && state != LOADED_SOURCE_DATA_STATE)
        return;
    int i = view->GetSelectedInputDevice();
    input.SetInputDevice(i);
    view->SelectInputDevice(input.Devices().Current());
    FillInputPins();
    input.StopOnFirstPin();
    view->SelectInputPin(input.Devices().ActivePin());
}

void Presenter::OnInputPinChange() {
    AssertUiThread();
    if (state != NO_SOURCE_DATA_STATE && state != LOADED_SOURCE_DATA_STATE)
        return;
    input.SetInputPin(view->GetSelectedInputPin());
    view->SelectInputPin(input.Devices().ActivePin());
}

// ---- loading a narrator file ------------------------------------------------

void Presenter::OnOpenClick() {
    AssertUiThread();
    if (state != NO_SOURCE_DATA_STATE && state != LOADED_SOURCE_DATA_STATE)
        return;
    wchar_t path[IniReg::kPathCapacity] = {};
    if (!view->AskOpenFileName(path, settings->initialDir.data(), settings->Filter(),
                               &settings->filterIndex))
        return;
    settings->AddRecent(path);
    RefreshRecentFiles();
    EnterLoadingSourceData();
    StartLoading(path);
}

void Presenter::OnRecentFileDoubleClick() {
    AssertUiThread();
    if (state != NO_SOURCE_DATA_STATE && state != LOADED_SOURCE_DATA_STATE)
        return;
    int i = view->GetSelectedRecentFile();
    auto path = settings->DuplicateRecent(i);
    if (!path) {
        MessageBoxW(L"Sorry, such file doesn't exist...", L"", MB_OK);
        RefreshRecentFiles();
        return;
    }
    settings->MoveRecentToTop(i);
    EnterLoadingSourceData();
    StartLoading(path.get());
    RefreshRecentFiles();
}

void Presenter::StartLoading(std::wstring path) {
    if (state != LOADING_SOURCE_DATA_STATE)
        return;
    loadOutcome = LOAD_RUNNING;
    try {
        loader = std::thread([this, file = std::move(path)] { LoadSourceFile(file); });
    } catch (const std::system_error&) {
        // No thread, no load: the timer finds it failed and brings the window back.
        loadOutcome = LOAD_FAILED;
    }
}

// Runs on the loading thread: it touches source alone, never the view.
void Presenter::LoadSourceFile(const std::wstring& path) {
    bool ok = source.LoadFile(path.c_str());
    if (ok)
        source.FindPhrases();
    loadOutcome.store(ok ? LOAD_SUCCEEDED : LOAD_FAILED, std::memory_order_release);
}

void Presenter::WaitForLoad() {
    if (loader.joinable())
        loader.join();
}

void Presenter::FinishLoadingIfDone() {
    int outcome = loadOutcome.load(std::memory_order_acquire);
    if (outcome == LOAD_RUNNING)
        return;
    if (loader.joinable())
        loader.join();
    loadOutcome = LOAD_RUNNING;
    if (outcome == LOAD_SUCCEEDED) {
        EnterLoadedSourceData();
    } else {
        view->HideProgress();
        EnterNoSourceData();
    }
}

// ---- playing and the training cycle ------------------------------------------

void Presenter::OnPlayClick() {
    AssertUiThread();
    EnterPlayingSourceData();
}

void Presenter::OnLoopClick() {
    AssertUiThread();
    switch (state) {
        case LOADED_SOURCE_DATA_STATE:
            EnterListeningSample();
            break;
        case LISTENING_SAMPLE_STATE:
        case RECORDING_INPUT_DATA_STATE:
        case COMPARING_SOURCE_SAMPLE_STATE:
        case COMPARING_INPUT_DATA_STATE:
            EnterLoadedSourceData();
            break;
        default:
            break;
    }
}

// The cursor follows the file with the view centred on it, until the end.
void Presenter::FollowFilePlayback() {
    if (!source.UpdatePlayback()) {
        EnterLoadedSourceData();
        return;
    }
    SIZE size;
    view->GetWaveformSize(&size);
    source.CenterCursor(size.cx);
    ScrollTo(source.GetScrollPos(), true);
}

// The cursor follows the selection and keeps its screen column; true at the end.
void Presenter::FollowSelectionPlayback() {
    int keptColumn = source.GetCursorPos() - source.GetScrollPos();
    if (!source.UpdateSelectionPlayback()) {
        if (state == LISTENING_SAMPLE_STATE) {
            EnterRecordingInputData();
        } else {
            EnterComparingInputData();
            if (pictureBehind)
                RefreshWaveform(true);
        }
        return;
    }
    ScrollTo(source.GetCursorPos() - keptColumn, true);
}

void Presenter::OnTimer() {
    AssertUiThread();
    // A narrator playback that broke down is reported once; its cursor then
    // stands still until Pause.
    if ((state == PLAYING_SOURCE_DATA_STATE || state == LISTENING_SAMPLE_STATE ||
         state == COMPARING_SOURCE_SAMPLE_STATE) &&
        source.TakePlaybackError())
        ShowError(L"Playback");
    switch (state) {
        case LOADING_SOURCE_DATA_STATE:
            view->SetProgress(source.progress);
            FinishLoadingIfDone();
            break;
        case PLAYING_SOURCE_DATA_STATE:
            FollowFilePlayback();
            break;
        case LISTENING_SAMPLE_STATE:
        case COMPARING_SOURCE_SAMPLE_STATE:
            FollowSelectionPlayback();
            break;
        case COMPARING_INPUT_DATA_STATE:
            if (input.IsPlaybackFinished())
                EnterListeningSample();
            break;
        case RECORDING_INPUT_DATA_STATE:
            FollowInputLevel();
            break;
        default:
            break;
    }
}

void Presenter::OnCaptureEvent() {
    AssertUiThread();
    if (state != RECORDING_INPUT_DATA_STATE)
        return;
    long code = 0;
    std::intptr_t p1 = 0;
    while (input.NextCaptureEvent(&code, &p1)) {
        if (code == media::EC_BUFFERING_DATA && p1 == 0)
            EnterComparingSourceSample();
        // A device or server lost mid-recording: say so; the cycle waits for Pause.
        if (code == media::EC_ERRORABORT)
            ShowError(L"Recording");
    }
}

// A silent microphone is the commonest reason the cycle never goes on, so the
// learner sees the level and, after a while without a voice, what to check.
void Presenter::FollowInputLevel() {
    double ratio = input.InputLevel();
    // 48 dB on the meter, the voice test's threshold a quarter of the way up.
    double decibels = ratio > 0 ? 20 * std::log10(ratio) : -100.0;
    double level =
        IView::kInputLevelThreshold + decibels * (100 - IView::kInputLevelThreshold) / 36;
    view->SetInputLevel(static_cast<int>(std::clamp(level, 0.0, 100.0)));
    // The hint goes once a voice is heard.
    bool waiting = input.m_CaptureState == CAPTURE_ARMED;
    if (waiting ? ++ticksWithoutVoice == kMicHintTicks : micHintShown) {
        micHintShown = waiting;
        view->SetStatusText(waiting ? (std::wstring(kRecordingText) + L" " + kMicHintText).c_str()
                                    : kRecordingText);
    }
}

// ---- phrases -------------------------------------------------------------------

// The phrase a step on from `from`, or from the selection (the cursor when there
// is none): the first one reaching past its end, or the last one starting before
// its start. -1 when there is none.
int Presenter::NeighbourPhrase(int from, bool next) const {
    const auto& phrases = source.phrases;
    std::int32_t start = source.cursorSample, end = source.cursorSample;
    if (from >= 0)
        start = phrases[from].start, end = phrases[from].end;
    else if (HasSelection())
        start = source.selectionStart, end = source.selectionEnd;
    const int count = static_cast<int>(phrases.size());
    if (next) {
        for (int i = 0; i < count; ++i)
            if (phrases[i].start > start && phrases[i].end > end)
                return i;
        return -1;
    }
    for (int i = count - 1; i >= 0; --i)
        if (phrases[i].start < start)
            return i;
    return -1;
}

void Presenter::SelectPhrase(int index) {
    source.selectionStart = source.phrases[index].start;
    source.selectionEnd = source.phrases[index].end;
    source.cursorSample = source.selectionStart;
}

// A phrase out of sight comes to the middle of the view, or its start a tenth in
// when it is wider than the view.
void Presenter::BringSelectionIntoView() {
    SIZE size;
    view->GetWaveformSize(&size);
    int first = SampleToColumn(source.selectionStart), last = SampleToColumn(source.selectionEnd);
    if (source.selectionStart >= source.scrollSample && last < size.cx) {
        RefreshWaveform(true);
        return;
    }
    int width = last - first;
    int inset = width < size.cx ? (size.cx - width) / 2 : size.cx / 10;
    ScrollTo(static_cast<int>(source.selectionStart * source.zoom) - inset);
}

// At the end of a cycle the loop takes the phrase the learner asked for, or the
// next one once the chosen number of cycles is done; false when none is left.
bool Presenter::MoveOnAfterCycle() {
    ++cyclesDone;
    int next = pendingPhrase;
    pendingPhrase = -1;
    if (next < 0 && advanceAfter > 0 && cyclesDone >= advanceAfter) {
        next = NeighbourPhrase(-1, true);
        if (next < 0)
            return false;
    }
    if (next >= 0) {
        SelectPhrase(next);
        cyclesDone = 0;
    }
    return true;
}

// The second click puts the cursor as any click does; on a phrase it selects it.
void Presenter::OnMouseDoubleClick(const POINTS* point) {
    AssertUiThread();
    OnMouseDown(point);
    int phrase = source.PhraseAt(source.cursorSample);
    if (state != SETTING_CURSOR_AND_SAMPLE_STATE || phrase < 0)
        return;
    state = LOADED_SOURCE_DATA_STATE;
    SelectPhrase(phrase);
    RefreshWaveform(true);
    ShowLoadedLook();
}

void Presenter::OnPhraseKey(bool next) {
    AssertUiThread();
    switch (state) {
        case LOADED_SOURCE_DATA_STATE: {
            int phrase = NeighbourPhrase(-1, next);
            if (phrase < 0)
                return;
            SelectPhrase(phrase);
            BringSelectionIntoView();
            ShowLoadedLook();
            break;
        }
        case LISTENING_SAMPLE_STATE:
        case RECORDING_INPUT_DATA_STATE:
        case COMPARING_SOURCE_SAMPLE_STATE:
        case COMPARING_INPUT_DATA_STATE:
            if (int phrase = NeighbourPhrase(pendingPhrase, next); phrase >= 0)
                pendingPhrase = phrase;
            break;
        default:
            break;
    }
}

void Presenter::OnAdvanceAfterChange() {
    AssertUiThread();
    advanceAfter = view->GetAdvanceAfter();
    cyclesDone = 0;
}

void Presenter::OnSpeedChange() {
    AssertUiThread();
    source.SetSpeed(view->GetSpeed());
}
