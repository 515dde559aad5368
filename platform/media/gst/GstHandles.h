#pragma once
// Owning handles for GStreamer and GLib references. Every reference the backend
// keeps lives in one of these; nothing else calls an unref function.
//
// A handle is made explicitly from a raw pointer in one of three ways:
//   Adopt   takes over a reference the caller already owns (a "transfer full" return)
//   Ref     adds a reference of its own (a "transfer none" return)
//   RefSink takes over a new object's floating reference (gst_element_factory_make,
//           gst_ghost_pad_new, gst_bin_new ...) so that it stays ours when a bin
//           later takes its own reference.
// Handles of reference-counted types copy by adding a reference.
#include <gst/gst.h>

#include <memory>
#include <utility>

namespace media::gst {

template <class T>
struct GstObjectTraits {
    static void Unref(T* p) { gst_object_unref(p); }
    static T* Ref(T* p) { return static_cast<T*>(gst_object_ref(p)); }
    static T* RefSink(T* p) { return static_cast<T*>(gst_object_ref_sink(p)); }
};

// Plain GObjects (a GstAdapter): no floating reference to sink.
template <class T>
struct GObjectTraits {
    static void Unref(T* p) { g_object_unref(p); }
    static T* Ref(T* p) { return static_cast<T*>(g_object_ref(p)); }
};

struct BufferTraits {
    static void Unref(GstBuffer* p) { gst_buffer_unref(p); }
    static GstBuffer* Ref(GstBuffer* p) { return gst_buffer_ref(p); }
};

struct CapsTraits {
    static void Unref(GstCaps* p) { gst_caps_unref(p); }
    static GstCaps* Ref(GstCaps* p) { return gst_caps_ref(p); }
};

struct QueryTraits {
    static void Unref(GstQuery* p) { gst_query_unref(p); }
    static GstQuery* Ref(GstQuery* p) { return gst_query_ref(p); }
};

struct MessageTraits {
    static void Unref(GstMessage* p) { gst_message_unref(p); }
    static GstMessage* Ref(GstMessage* p) { return gst_message_ref(p); }
};

template <class T, class Traits>
class Handle {
  public:
    Handle() = default;
    ~Handle() { reset(); }

    static Handle Adopt(T* p) { return Handle(p); }
    static Handle Ref(T* p) { return Handle(p ? Traits::Ref(p) : nullptr); }
    static Handle RefSink(T* p) { return Handle(p ? Traits::RefSink(p) : nullptr); }

    Handle(const Handle& other) : p_(other.p_ ? Traits::Ref(other.p_) : nullptr) {}
    Handle(Handle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Handle& operator=(Handle other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    void reset() {
        if (p_)
            Traits::Unref(std::exchange(p_, nullptr));
    }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    explicit Handle(T* p) : p_(p) {}
    T* p_ = nullptr;
};

using ElementHandle = Handle<GstElement, GstObjectTraits<GstElement>>;
using PadHandle = Handle<GstPad, GstObjectTraits<GstPad>>;
using BusHandle = Handle<GstBus, GstObjectTraits<GstBus>>;
using CapsHandle = Handle<GstCaps, CapsTraits>;
using BufferHandle = Handle<GstBuffer, BufferTraits>;
using MessageHandle = Handle<GstMessage, MessageTraits>;
using QueryHandle = Handle<GstQuery, QueryTraits>;

struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
struct GFreeDeleter {
    void operator()(gchar* s) const { g_free(s); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

// A shared object handed to a GLib callback as its user data. The box holds a
// reference of its own, freed by the destroy notify, so the object outlives
// every call GLib can still make, whenever its owner lets go.
template <class T>
struct SharedBox {
    static gpointer Make(std::shared_ptr<T> object) {
        return new std::shared_ptr<T>(std::move(object));
    }
    static void Destroy(gpointer box) { delete static_cast<std::shared_ptr<T>*>(box); }
    static T& Get(gpointer box) { return **static_cast<std::shared_ptr<T>*>(box); }
};

// Makes an element of the named factory, or an empty handle (with the last error
// naming the missing element) when its plugin is not installed.
ElementHandle MakeElement(const char* factory, const char* name = nullptr);

}  // namespace media::gst
