// Linked into the test programs of a ThreadSanitizer build only. GLib's mutexes
// and conditions are futexes that ThreadSanitizer cannot see, so whatever one
// thread hands to another through GStreamer (a callback set under an object
// lock, a pipeline started under a stream lock) looks unsynchronised. These
// definitions take the place of GLib's for every call that crosses into GLib,
// do the real work and tell ThreadSanitizer about the order it establishes.
#include <dlfcn.h>
#include <glib.h>

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

template <typename Function>
static Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// A lock orders what was done before its release after its next acquisition.
#define TSAN_VISIBLE_LOCK(Type, lock, unlock)                    \
    extern "C" void lock(Type* mutex) {                          \
        static const auto real = Real<void (*)(Type*)>(#lock);   \
        real(mutex);                                             \
        __tsan_acquire(mutex);                                   \
    }                                                            \
    extern "C" void unlock(Type* mutex) {                        \
        static const auto real = Real<void (*)(Type*)>(#unlock); \
        __tsan_release(mutex);                                   \
        real(mutex);                                             \
    }
TSAN_VISIBLE_LOCK(GMutex, g_mutex_lock, g_mutex_unlock)
TSAN_VISIBLE_LOCK(GRecMutex, g_rec_mutex_lock, g_rec_mutex_unlock)

// A wait gives the mutex up and takes it again.
extern "C" gboolean g_cond_wait_until(GCond* cond, GMutex* mutex, gint64 endTime) {
    static const auto real = Real<gboolean (*)(GCond*, GMutex*, gint64)>("g_cond_wait_until");
    __tsan_release(mutex);
    const gboolean signalled = real(cond, mutex, endTime);
    __tsan_acquire(mutex);
    return signalled;
}
extern "C" void g_cond_wait(GCond* cond, GMutex* mutex) {
    static const auto real = Real<void (*)(GCond*, GMutex*)>("g_cond_wait");
    __tsan_release(mutex);
    real(cond, mutex);
    __tsan_acquire(mutex);
}
