// Binding of the encoder library build that suits the device's platform level.
#define LOG_TAG "qor_icodec"
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "icodec/IcodecInterface.h"

namespace qor {

namespace {

// Library number for a platform level; 0 when no build fits.
int libraryNumberFor(int level) {
    switch (level) {
        case 9: case 10: return 10;
        case 11: case 12: case 13: return 13;
        case 14: case 15: return 14;
        case 16: case 17: return 17;
        case 18: return 18;
        case 19: return 19;
        case 21: case 22: return 21;
        case 23: return 23;
        default: return 0;
    }
}

template <typename F>
void bindSymbol(void* handle, const char* name, F* slot) {
    ALOGI("dlopen handle <%p>, symbol is <%s>.", handle, name);
    void* symbol = dlsym(handle, name);
    // Every build exports all ten; a missing one is a broken installation.
    if (symbol == nullptr) LOG_ALWAYS_FATAL("symbol <%s> missing: %s.", name, dlerror());
    *slot = reinterpret_cast<F>(symbol);
}

}  // namespace

void IcodecInterface::open_symbol(const char* packageName) {
    if (mDllHandle != nullptr) {
        ALOGI("open_symbol, has yet open.");
        return;
    }
    ALOGI("open_symbol.");
    const int number = libraryNumberFor(mSdkVersion);
    mSdkVersion = number;
    if (number == 0) return;

    char path[256];
    memset(path, 0, sizeof(path));
    int n = packageName != nullptr
                    ? snprintf(path, sizeof(path), "/data/data/%s/lib/libvencora_%d.so",
                               packageName, number)
                    : snprintf(path, sizeof(path), "libvencora_%d.so", number);
    if (n < 0 || n >= (int)sizeof(path)) {
        ALOGE("package name too long for the library path (%d bytes).", n);
        return;
    }
    ALOGI("using <%s> lib.", path);
    ALOGI("dlopen lib is <%s>.", path);
    void* handle = dlopen(path, RTLD_LAZY);
    if (handle == nullptr) {
        ALOGE("%s.", dlerror());
        return;
    }
    mDllHandle = handle;
    ALOGI("dlopen handle <%p>.", handle);
    bindSymbol(handle, "available", &Iavailable);
    bindSymbol(handle, "start", &Istart);
    bindSymbol(handle, "stop", &Istop);
    bindSymbol(handle, "setPause", &IsetPause);
    bindSymbol(handle, "status", &Istatus);
    bindSymbol(handle, "getColorFormat", &IgetColorFormat);
    bindSymbol(handle, "setVideoMeta", &IsetVideoMeta);
    bindSymbol(handle, "setAudioMeta", &IsetAudioMeta);
    bindSymbol(handle, "pushVideoBuffer", &IpushVideoBuffer);
    bindSymbol(handle, "pushAudioBuffer", &IpushAudioBuffer);
    mLoaded = true;
}

}  // namespace qor
