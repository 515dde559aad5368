// Linked into the test programs of a ThreadSanitizer build only. GLib's mutexes
// and conditions are futexes that ThreadSanitizer cannot see, so whatever one
// thread hands to another through GStreamer (a callback set under an object
// lock, a pipeline started under a stream lock) looks unsynchronised. These
// definitions take the place of GLib's for every call that crosses into GLib,
// do the real work and tell ThreadSanitizer about the order it establishes.
#include <dlfcn.h>
#include <glib.h>

extern "C" {
void __tsan_acquire(void* address);
void __tsan_release(void* address);
}

namespace {
template <typename Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {

void g_mutex_lock(GMutex* mutex) {
    static const auto real = Real<void (*)(GMutex*)>("g_mutex_lock");
    real(mutex);
    __tsan_acquire(mutex);
}

gboolean g_mutex_trylock(GMutex* mutex) {
    static const auto real = Real<gboolean (*)(GMutex*)>("g_mutex_trylock");
    const gboolean locked = real(mutex);
    if (locked)
        __tsan_acquire(mutex);
    return locked;
}

void g_mutex_unlock(GMutex* mutex) {
    static const auto real = Real<void (*)(GMutex*)>("g_mutex_unlock");
    __tsan_release(mutex);
    real(mutex);
}

void g_rec_mutex_lock(GRecMutex* mutex) {
    static const auto real = Real<void (*)(GRecMutex*)>("g_rec_mutex_lock");
    real(mutex);
    __tsan_acquire(mutex);
}

gboolean g_rec_mutex_trylock(GRecMutex* mutex) {
    static const auto real = Real<gboolean (*)(GRecMutex*)>("g_rec_mutex_trylock");
    const gboolean locked = real(mutex);
    if (locked)
        __tsan_acquire(mutex);
    return locked;
}

void g_rec_mutex_unlock(GRecMutex* mutex) {
    static const auto real = Real<void (*)(GRecMutex*)>("g_rec_mutex_unlock");
    __tsan_release(mutex);
    real(mutex);
}

void g_cond_wait(GCond* cond, GMutex* mutex) {
    static const auto real = Real<void (*)(GCond*, GMutex*)>("g_cond_wait");
    __tsan_release(mutex);
    real(cond, mutex);
    __tsan_acquire(mutex);
}

gboolean g_cond_wait_until(GCond* cond, GMutex* mutex, gint64 endTime) {
    static const auto real = Real<gboolean (*)(GCond*, GMutex*, gint64)>("g_cond_wait_until");
    __tsan_release(mutex);
    const gboolean signalled = real(cond, mutex, endTime);
    __tsan_acquire(mutex);
    return signalled;
}

}  // extern "C"
