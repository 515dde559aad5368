#pragma once
// The media layer: graphs, filters, pins, devices and events, named after the roles
// the audio objects call. The program's backend is gst/; the unit tests install a
// scripted one of their own. Either is reached through CoCreateInstance below.
//
// Units at this interface: media times and clock times in 100-ns units, volumes in
// hundredths of a decibel (0 full level, -10000 silence), mix levels 0.0..1.0 with
// -1.0 meaning automatic gain.
//
// Objects are shared (std::shared_ptr); an interface is asked for with
// QueryInterface, which answers E_NOINTERFACE when the object lacks it.
//
// Threads: unless an operation says otherwise, call it from one thread at a time
// (the UI thread or a loading thread). ISampleGrabberCB::SampleCB runs on a
// streaming thread. IMediaEventSink::Notify may be called from any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../Result.h"
#include "../Window.h"

namespace media {

class IUnknown {
  public:
    virtual ~IUnknown() = default;
};

template <class T, class U>
HRESULT QueryInterface(const std::shared_ptr<U>& from, std::shared_ptr<T>* out) {
    if (!out)
        return E_POINTER;
    *out = std::dynamic_pointer_cast<T>(from);
    return *out ? S_OK : E_NOINTERFACE;
}

enum class PinDirection { Input, Output };
enum class FilterState { Stopped, Paused, Running };

// Event codes, as DirectShow numbers them.
constexpr long EC_COMPLETE = 0x01;
constexpr long EC_USERABORT = 0x02;
constexpr long EC_ERRORABORT = 0x03;
constexpr long EC_BUFFERING_DATA = 0x11;

// ---- formats --------------------------------------------------------------

struct WaveFormat {
    std::uint16_t formatTag = 1;  // PCM
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

enum class MajorType { None, Audio };
enum class SubType { None, PCM };
enum class FormatType { None, WaveFormatEx };

struct AM_MEDIA_TYPE {
    MajorType majortype = MajorType::None;
    SubType subtype = SubType::None;
    FormatType formattype = FormatType::None;
    bool hasFormat = false;
    WaveFormat format;
};

// ---- pins and filters -----------------------------------------------------

class IPin : public virtual IUnknown {
  public:
    virtual HRESULT QueryDirection(PinDirection* direction) = 0;
    // The pin's name (its id for FindPin).
    virtual HRESULT QueryPinInfo(std::wstring* name) = 0;
    // The pin this one is connected to; VFW_E_NOT_CONNECTED when free.
    virtual HRESULT ConnectedTo(std::shared_ptr<IPin>* other) = 0;
};

// The input mixer of a capture filter's input pin (query it from the pin).
class IAMAudioInputMixer : public virtual IUnknown {
  public:
    virtual HRESULT put_Enable(bool enable) = 0;
    virtual HRESULT put_MixLevel(double level) = 0;
    virtual HRESULT get_MixLevel(double* level) = 0;
};
constexpr double AMF_AUTOMATICGAIN = -1.0;

class IBaseFilter : public virtual IUnknown {
  public:
    virtual HRESULT EnumPins(std::vector<std::shared_ptr<IPin>>* pins) = 0;
    virtual HRESULT FindPin(const wchar_t* id, std::shared_ptr<IPin>* pin) = 0;
};

// Receives every media sample of a sample grabber, on the streaming thread.
class ISampleGrabberCB {
  public:
    virtual ~ISampleGrabberCB() = default;
    virtual HRESULT SampleCB(double sampleTime, const std::uint8_t* buffer, long length) = 0;
};

class ISampleGrabber : public virtual IUnknown {
  public:
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE& type) = 0;
    virtual HRESULT SetOneShot(bool oneShot) = 0;
    virtual HRESULT SetBufferSamples(bool buffer) = 0;
    // The callback is not owned; it must outlive the graph's running.
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, int whichMethod) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
};

// ---- graphs ---------------------------------------------------------------

class IGraphBuilder : public virtual IUnknown {
  public:
    virtual HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const wchar_t* name) = 0;
    virtual HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) = 0;
    virtual HRESULT EnumFilters(std::vector<std::shared_ptr<IBaseFilter>>* filters) = 0;
    // Connects an output pin to an input pin, inserting converters where needed.
    virtual HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) = 0;
    virtual HRESULT AddSourceFilter(const wchar_t* fileName, const wchar_t* filterName,
                                    std::shared_ptr<IBaseFilter>* filter) = 0;
    // Builds a complete playback chain for a file, ending in the default audio output.
    virtual HRESULT RenderFile(const wchar_t* fileName, const wchar_t* playList) = 0;
    virtual HRESULT Abort() = 0;
};

class IMediaControl : public virtual IUnknown {
  public:
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    // S_OK with the settled state, VFW_S_STATE_INTERMEDIATE while a change is
    // under way after timeoutMs, or a failure.
    virtual HRESULT GetState(long timeoutMs, FilterState* state) = 0;
};

class IMediaEvent : public virtual IUnknown {
  public:
    // timeoutMs < 0 waits without a bound (only for graphs that are sure to end).
    virtual HRESULT WaitForCompletion(long timeoutMs, long* eventCode) = 0;
    // S_OK with an event, E_ABORT when none arrived within timeoutMs.
    virtual HRESULT GetEvent(long* eventCode, std::intptr_t* param1, std::intptr_t* param2,
                             long timeoutMs) = 0;
    virtual HRESULT FreeEventParams(long eventCode, std::intptr_t param1, std::intptr_t param2) = 0;
};

class IMediaEventEx : public IMediaEvent {
  public:
    // Posts `message` (wParam 0, lParam instanceData) to the window whenever an
    // event is queued; a null window stops the notifications.
    virtual HRESULT SetNotifyWindow(HWND window, std::uint32_t message,
                                    std::intptr_t instanceData) = 0;
};

// Any thread may post events into a graph's queue.
class IMediaEventSink : public virtual IUnknown {
  public:
    virtual HRESULT Notify(long eventCode, std::intptr_t param1, std::intptr_t param2) = 0;
};

constexpr std::uint32_t AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr std::uint32_t AM_SEEKING_CanSeekForwards = 0x2;
constexpr std::uint32_t AM_SEEKING_CanSeekBackwards = 0x4;
constexpr std::uint32_t AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr std::uint32_t AM_SEEKING_CanGetStopPos = 0x10;
constexpr std::uint32_t AM_SEEKING_CanGetDuration = 0x20;
constexpr std::uint32_t AM_SEEKING_NoPositioning = 0x0;
constexpr std::uint32_t AM_SEEKING_AbsolutePositioning = 0x1;

class IMediaSeeking : public virtual IUnknown {
  public:
    // S_OK when every asked capability is there, S_FALSE when some are, E_FAIL when none.
    virtual HRESULT CheckCapabilities(std::uint32_t* capabilities) = 0;
    virtual HRESULT GetDuration(std::int64_t* duration) = 0;
    virtual HRESULT GetCurrentPosition(std::int64_t* position) = 0;
    virtual HRESULT SetPositions(std::int64_t* current, std::uint32_t currentFlags,
                                 std::int64_t* stop, std::uint32_t stopFlags) = 0;
    // The speed of playback (1.0 normal, 0.5 half speed, the pitch kept), taken up
    // by the next SetPositions. Positions stay in the stream's own time; a graph's
    // reference clock keeps real time, whatever the rate.
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetRate(double* rate) = 0;
};

class IBasicAudio : public virtual IUnknown {
  public:
    virtual HRESULT put_Volume(long volume) = 0;
    virtual HRESULT get_Volume(long* volume) = 0;
};

class IReferenceClock : public virtual IUnknown {
  public:
    virtual HRESULT GetTime(std::int64_t* time) = 0;
};

// Gives the reference clock of a playback graph (its audio renderer's clock).
class IGraphClock : public virtual IUnknown {
  public:
    virtual HRESULT GetReferenceClock(std::shared_ptr<IReferenceClock>* clock) = 0;
};

// A renderer's synchronisation: without a clock it takes every sample at once.
class IMediaFilter : public virtual IUnknown {
  public:
    virtual HRESULT SetSyncSource(const std::shared_ptr<IReferenceClock>& clock) = 0;
};

class ICaptureGraphBuilder2 : public virtual IUnknown {
  public:
    virtual HRESULT SetFiltergraph(const std::shared_ptr<IGraphBuilder>& graph) = 0;
};

// ---- devices --------------------------------------------------------------

class IPropertyBag : public virtual IUnknown {
  public:
    virtual HRESULT Read(const wchar_t* property, std::wstring* value) = 0;
};

class IMoniker : public virtual IUnknown {
  public:
    virtual HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) = 0;
    // The device's capture filter: one output pin, one input pin per input line.
    virtual HRESULT BindToObject(std::shared_ptr<IBaseFilter>* filter) = 0;
};

class IEnumMoniker : public virtual IUnknown {
  public:
    // S_OK with the next moniker, S_FALSE at the end.
    virtual HRESULT Next(std::shared_ptr<IMoniker>* moniker) = 0;
};

enum class DeviceCategory { AudioInput };

class ICreateDevEnum : public virtual IUnknown {
  public:
    // S_OK with an enumerator, S_FALSE (and no enumerator) for an empty category.
    virtual HRESULT CreateClassEnumerator(DeviceCategory category,
                                          std::shared_ptr<IEnumMoniker>* enumerator) = 0;
};

// ---- creation -------------------------------------------------------------

enum class Clsid {
    SystemDeviceEnum,      // ICreateDevEnum
    FilterGraph,           // IGraphBuilder, IMediaControl, IMediaEventEx, IMediaEventSink,
                           // IMediaSeeking, IBasicAudio, IGraphClock
    CaptureGraphBuilder2,  // ICaptureGraphBuilder2
    SampleGrabber,         // IBaseFilter, ISampleGrabber
    NullRenderer,          // IBaseFilter, IMediaFilter
};

class IMediaFactory {
  public:
    virtual ~IMediaFactory() = default;
    virtual HRESULT CreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object) = 0;
};

// Installs the backend (once at start-up, before any object is made).
void SetMediaFactory(std::shared_ptr<IMediaFactory> factory);
std::shared_ptr<IMediaFactory> GetMediaFactory();

// Creates an object of the installed backend and asks it for interface T. Sets the
// last error when it fails.
HRESULT CoCreateInstance(Clsid clsid, std::shared_ptr<IUnknown>* object);

template <class T>
HRESULT CoCreateInstance(Clsid clsid, std::shared_ptr<T>* out) {
    if (!out)
        return E_POINTER;
    out->reset();
    std::shared_ptr<IUnknown> object;
    HRESULT hr = CoCreateInstance(clsid, &object);
    if (FAILED(hr))
        return hr;
    return QueryInterface(object, out);
}

}  // namespace media
