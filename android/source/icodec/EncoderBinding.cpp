// Binding of the encoder library build that suits the device's platform level.
#define LOG_TAG "qor_icodec"
#include "icodec/EncoderLibrary.h"

#include <dlfcn.h>
#include <stdio.h>

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

namespace qor {

namespace {

// Library number for a platform level; 0 when no build fits.
int libraryNumberFor(int level) {
    switch (level) {
        case 9:
        case 10:
            return 10;
        case 11:
        case 12:
        case 13:
            return 13;
        case 14:
        case 15:
            return 14;
        case 16:
        case 17:
            return 17;
        case 18:
            return 18;
        case 19:
            return 19;
        case 21:
        case 22:
            return 21;
        case 23:
            return 23;
        default:
            return 0;
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

void EncoderLibrary::Closer::operator()(void* handle) const {
    ALOGI("dlclose mDllHandle <%p>.", handle);
    dlclose(handle);
}

void EncoderLibrary::open(int sdkVersion, const char* packageName) {
    if (mHandle || mKept != nullptr) {
        ALOGI("open_symbol, has yet open.");
        return;
    }
    ALOGI("open_symbol.");
    const int number = libraryNumberFor(sdkVersion);
    if (number == 0) return;

    char path[256] = {};
    int n = packageName != nullptr
                ? snprintf(path, sizeof(path), "/data/data/%s/lib/libvencora_%d.so", packageName,
                           number)
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
    mHandle.reset(handle);
    ALOGI("dlopen handle <%p>.", handle);
    bindAll();
    mLoaded = true;
}

void EncoderLibrary::bindAll() {
    void* handle = mHandle.get();
    bindSymbol(handle, "available", &mApi.available);
    bindSymbol(handle, "start", &mApi.start);
    bindSymbol(handle, "stop", &mApi.stop);
    bindSymbol(handle, "setPause", &mApi.setPause);
    bindSymbol(handle, "status", &mApi.status);
    bindSymbol(handle, "getColorFormat", &mApi.getColorFormat);
    bindSymbol(handle, "setVideoMeta", &mApi.setVideoMeta);
    bindSymbol(handle, "setAudioMeta", &mApi.setAudioMeta);
    bindSymbol(handle, "pushVideoBuffer", &mApi.pushVideoBuffer);
    bindSymbol(handle, "pushAudioBuffer", &mApi.pushAudioBuffer);
}

}  // namespace qor
