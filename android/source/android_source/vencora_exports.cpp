// The encoder library's C interface: ten functions over one recorder object,
// constructed when the library is loaded and destroyed when it is unloaded.
#include <stdint.h>

#include "android_source/AndroidCodec.h"
#include "android_source/RecorderFactories.h"

namespace {

// Null only outside the library's lifetime (e.g. a caller's destructor that
// runs after this library's at process exit). Owned from the load hook to the
// unload hook; not a unique_ptr, whose static destructor would run at exit
// before the callers' unload hooks and leave them a dangling pointer.
qor::AndroidCodec* gRecorder = nullptr;

__attribute__((constructor)) void createRecorder() {
    gRecorder = new qor::AndroidCodec(qor::defaultRecorderFactories());
}

__attribute__((destructor)) void destroyRecorder() {
    delete gRecorder;
    gRecorder = nullptr;
}

}  // namespace

extern "C" {

int available() { return gRecorder ? gRecorder->available() : -1; }

int start(const char* path) { return gRecorder ? gRecorder->start(path) : -1; }

int stop() { return gRecorder ? gRecorder->stop() : -1; }

int setPause() { return gRecorder ? gRecorder->setPause() : -1; }

int status() { return gRecorder ? gRecorder->status() : -1; }

int getColorFormat() { return gRecorder ? gRecorder->getColorFormat() : -1; }

int setVideoMeta(int width, int height, int bitRate, int frameRate, int iFrameInterval) {
    return gRecorder == nullptr
               ? -1
               : gRecorder->setVideoMeta(width, height, bitRate, frameRate, iFrameInterval);
}

int setAudioMeta(int sampleRate, int channels, int bitRate) {
    return gRecorder == nullptr ? -1 : gRecorder->setAudioMeta(sampleRate, channels, bitRate);
}

int pushVideoBuffer(void* data, int sourceLength, int size, int64_t timeUs) {
    return gRecorder == nullptr ? -1 : gRecorder->pushVideoBuffer(data, sourceLength, size, timeUs);
}

int pushAudioBuffer(void* data, int sourceOffset, int size, int64_t timeUs) {
    return gRecorder == nullptr ? -1 : gRecorder->pushAudioBuffer(data, sourceOffset, size, timeUs);
}

}  // extern "C"
