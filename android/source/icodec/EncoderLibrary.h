/*
 * The encoder library build (libvencora_<n>) that suits the device's
 * platform level, and its ten C functions. Closed when this object goes.
 */
#ifndef QOR_ENCODER_LIBRARY_H_
#define QOR_ENCODER_LIBRARY_H_

#include <stdint.h>

#include <memory>

namespace qor {

// The library's status() while a recording is paused.
const int kLibraryPaused = 2;

// The library's C interface, bound in this order.
struct EncoderApi {
    int (*available)() = nullptr;
    int (*start)(const char* path) = nullptr;
    int (*stop)() = nullptr;
    int (*setPause)() = nullptr;
    int (*status)() = nullptr;
    int (*getColorFormat)() = nullptr;
    int (*setVideoMeta)(int width, int height, int bitRate, int frameRate,
                        int iFrameInterval) = nullptr;
    int (*setAudioMeta)(int sampleRate, int channels, int bitRate) = nullptr;
    int (*pushVideoBuffer)(void* data, int sourceLength, int size, int64_t timeUs) = nullptr;
    int (*pushAudioBuffer)(void* data, int sourceOffset, int size, int64_t timeUs) = nullptr;
};

class EncoderLibrary {
public:
    // Opens the build for platform level `sdkVersion`, from the package's
    // library folder (or the loader's search path without a package name).
    // Does nothing when a build is open already; loaded() tells the outcome.
    void open(int sdkVersion, const char* packageName);
    bool loaded() const { return mLoaded; }
    // Never unloads it (a recording still ends in the background on one of
    // its threads).
    void keepLoaded() {
        if (mHandle) mKept = mHandle.release();
    }
    // Valid once loaded().
    const EncoderApi& api() const { return mApi; }

private:
    void bindAll();

    struct Closer {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, Closer> mHandle;
    void* mKept = nullptr;  // open for the life of the process
    EncoderApi mApi;
    bool mLoaded = false;
};

}  // namespace qor

#endif  // QOR_ENCODER_LIBRARY_H_
