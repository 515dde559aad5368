#pragma once
// A drawable part of the oscillogram area. The area is one chain of components:
// each decorator takes a strip or margin of its rectangle for itself and hands the
// rest to the component it wraps. Rectangles are inclusive client coordinates.
// UI thread only.
#include "Window.h"

class QPainter;

class IVisualComponent {
  public:
    virtual ~IVisualComponent() = default;
    virtual void Draw(QPainter& painter) = 0;
    virtual void SetBounds(int left, int top, int right, int bottom) = 0;
    // The usable drawing size of the waveform, passed through by every decorator.
    virtual void GetDrawingSize(SIZE* size) = 0;
    // Forgets all data; decorators reset what they wrap as well.
    virtual void Reset() = 0;
};
