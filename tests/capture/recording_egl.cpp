// Test EGL library: records the surfaces given to eglSwapBuffers and forwards
// every call to the host EGL layer (its dependency), which forwards to Mesa.
#include <dlfcn.h>

#include <mutex>
#include <vector>

#include <EGL/egl.h>

namespace {
std::mutex gLock;
std::vector<EGLSurface> gSwaps;
}  // namespace

extern "C" __attribute__((visibility("default"))) EGLBoolean eglSwapBuffers(EGLDisplay dpy,
                                                                            EGLSurface surface) {
    {
        std::lock_guard<std::mutex> guard(gLock);
        gSwaps.push_back(surface);
    }
    static void* mesa = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
    auto swap = reinterpret_cast<PFNEGLSWAPBUFFERSPROC>(dlsym(mesa, "eglSwapBuffers"));
    return swap(dpy, surface);
}

// Surfaces swapped since the last call, oldest first.
extern "C" __attribute__((visibility("default"))) std::vector<EGLSurface> recordingEglTakeSwaps() {
    std::lock_guard<std::mutex> guard(gLock);
    std::vector<EGLSurface> out;
    out.swap(gSwaps);
    return out;
}
