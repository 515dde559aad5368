#pragma once
// Small window-system types shared by the presenter, the view and the media layer.
#include <cstdint>

struct SIZE {
    int cx = 0;
    int cy = 0;
};

struct POINT {
    int x = 0;
    int y = 0;
};

// A client point as a mouse message carries it: two signed 16-bit coordinates.
struct POINTS {
    std::int16_t x = 0;
    std::int16_t y = 0;
};

struct MINMAXINFO {
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};

constexpr int SIZE_RESTORED = 0;
constexpr int SIZE_MINIMIZED = 1;
constexpr int SIZE_MAXIMIZED = 2;

constexpr std::uint32_t WM_APP = 0x8000;
// Posted by the capture graph to the main window when its event queue has events.
constexpr std::uint32_t WM_CAPTURE_NOTIFY = WM_APP + 1;

// A window that other threads may post messages to. Posting never blocks and may
// be done from any thread; the message is handled on the window's own thread.
class IWindow {
  public:
    virtual ~IWindow() = default;
    virtual void PostMessage(std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) = 0;
};

using HWND = IWindow*;
