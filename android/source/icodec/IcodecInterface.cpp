#define LOG_TAG "qor_icodec"
#include "icodec/IcodecInterface.h"

#include <dlfcn.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <cutils/properties.h>
#include <utils/Log.h>

namespace qor {

namespace {

std::atomic<IcodecInterface*> gFacade{nullptr};
std::mutex gInitLock;

int64_t wallClockUs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ((int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec) / 1000;
}

const char* yesNo(bool b) { return b ? "yes" : "no"; }
const char* startStop(bool started) { return started ? "start" : "stop"; }

bool videoConfigured(const IcodecInterface* f) { return f->mWidth > 0 && f->mHeight > 0; }
bool audioConfigured(const IcodecInterface* f) { return f->mSampleRate > 0 && f->mChannels > 0; }

// Counts a push for as long as it may touch the frame or audio buffers.
class PushScope {
public:
    explicit PushScope(IcodecInterface* f) : mFacade(f) { f->mActivePushes.fetch_add(1); }
    ~PushScope() { mFacade->mActivePushes.fetch_sub(1); }

private:
    IcodecInterface* mFacade;
};

int stop_l(IcodecInterface* f) {
    ALOGI("stop(Receied video/audio %u/%u).", f->mVideoCount.load(), f->mAudioCount.load());
    if (!f->mStarted) return 0;
    f->mStarted = false;
    f->mStopTimeUs = wallClockUs();
    const int64_t elapsedMs = (f->mStopTimeUs - f->mStartTimeUs) / 1000;
    const uint32_t frames = f->mVideoCount;
    ALOGI("stop video frames %u elapsed %0.3f(s) fps %0.2f", frames, elapsedMs / 1000.0,
          (double)((float)frames * 1000.0f / (float)elapsedMs));
    // The library's stop ends the sources' streams, which also releases any
    // push waiting for a slot.
    int err = f->Istop();
    ALOGI("stop success.");
    while (f->mActivePushes.load() != 0) sched_yield();
    f->mFrameBuffer.reset();
    f->mAudioBuffer.reset();
    // A recording whose file could not be completed is not a success.
    return err == 0 ? 0 : -1;
}

}  // namespace

IcodecInterface::IcodecInterface()
    : Iavailable(nullptr), Istart(nullptr), Istop(nullptr), IsetPause(nullptr),
      Istatus(nullptr), IgetColorFormat(nullptr), IsetVideoMeta(nullptr),
      IsetAudioMeta(nullptr), IpushVideoBuffer(nullptr), IpushAudioBuffer(nullptr),
      mDllHandle(nullptr), mSdkVersion(0), mStartTimeUs(0), mStopTimeUs(0), mLoaded(false),
      mStarted(false), mSupported(false), mSkipNextVideo(true), mWidth(0), mHeight(0),
      mColorFormat(0), mStride(0), mSliceHeight(0), mFrameSize(0), mInvert(0), mFrameRate(30),
      mBitRate(2000000), mIFrameInterval(1), mSampleRate(0), mChannels(0),
      mAudioBitRate(48000), mVideoCount(0), mAudioCount(0), mFrameSlotBytes(0),
      mNextFrameSlot(0), mNextAudioSlot(0), mActivePushes(0) {}

IcodecInterface::~IcodecInterface() {
    ALOGI("~destructor");
    if (mLock) {
        std::lock_guard<std::recursive_mutex> guard(*mLock);
        stop_l(this);
    }
    if (mDllHandle != nullptr) {
        ALOGI("dlclose mDllHandle <%p>.", mDllHandle);
        dlclose(mDllHandle);
        mDllHandle = nullptr;
    }
    mYuv.releaseScratch();
}

int init(const char* packageName) {
    std::lock_guard<std::mutex> guard(gInitLock);
    if (gFacade.load() != nullptr) return 0;
    IcodecInterface* f = new IcodecInterface;
    char sdk[PROPERTY_VALUE_MAX];
    __system_property_get("ro.build.version.sdk", sdk);
    ALOGI("sdk version is %s.", sdk);
    f->mSdkVersion = atoi(sdk);
    if (f->mSdkVersion > 13) {
        f->open_symbol(packageName);
        if (f->mLoaded && f->Iavailable() == 0) f->mSupported = true;
    }
    ALOGI("construction, codec is supported ? %s, buildinfo %s", yesNo(f->mSupported),
          "liblumokast " __DATE__ " " __TIME__);
    f->mLock.reset(new std::recursive_mutex);
    gFacade.store(f);
    return 0;
}

void destroyFacade() {
    std::lock_guard<std::mutex> guard(gInitLock);
    delete gFacade.exchange(nullptr);
}

int isAvailable() {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return 0;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    if (!f->mSupported) return 0;
    return f->available() ? 1 : 0;
}

int setVideoParameter(int width, int height, int frameRate, int bitRate, int iFrameInterval,
                      int invert) {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    if (f->mStarted || width <= 0 || height <= 0 || bitRate <= 0 || frameRate <= 0 ||
        iFrameInterval <= 0) {
        ALOGE("video parameters width %d height %d frameRate %d bitRate %d isinvert ? %s "
              "status ? %s.",
              width, height, frameRate, bitRate, yesNo(invert != 0), startStop(f->mStarted));
        return -1;
    }
    f->mWidth = width;
    f->mHeight = height;
    f->mFrameRate = frameRate;
    f->mBitRate = bitRate;
    f->mIFrameInterval = iFrameInterval;
    f->mInvert = invert;
    ALOGI("video parameters width %d height %d frameRate %d bitRate %d isinvert ? %s.", width,
          height, frameRate, bitRate, yesNo(invert != 0));
    return 0;
}

int setAudioParameter(int sampleRate, int channels, int bitRate) {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    if (f->mStarted || sampleRate <= 0 || channels <= 0 || bitRate <= 0) {
        ALOGE("audio parameters sampleRate %d channels %d bitRate %d status ? %s.", sampleRate,
              channels, bitRate, startStop(f->mStarted));
        return -1;
    }
    f->mSampleRate = sampleRate;
    f->mChannels = channels;
    f->mAudioBitRate = bitRate;
    ALOGI("audio parameters sampleRate %d channels %d bitRate %d.", sampleRate, channels,
          bitRate);
    return 0;
}

int start(const char* path) {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    ALOGI("start file %s.", path);
    if (!f->mSupported || !f->mLoaded) {
        ALOGE("start(%s) avilable ? %s init ? %s.", path, yesNo(f->mSupported),
              yesNo(f->mLoaded));
        return -1;
    }
    if (f->mStarted) {
        ALOGW("Has yet started!");
        return 0;
    }
    const bool video = videoConfigured(f);
    const bool audio = audioConfigured(f);
    if (video) f->IsetVideoMeta(f->mWidth, f->mHeight, f->mBitRate, f->mFrameRate,
                                f->mIFrameInterval);
    if (audio) f->IsetAudioMeta(f->mSampleRate, f->mChannels, f->mAudioBitRate);
    if (!video && !audio) {
        ALOGE("Please call (video_parameters && audio_parameters), before start.");
        return -1;
    }
    if (f->Istart(path) != 0) {
        ALOGE("android source start(%s) fail!", path);
        return -1;
    }
    if (video) {
        f->mFrameBuffer.reset();
        f->mColorFormat = f->IgetColorFormat();
        f->mFrameSize = qoryuv::getOMXColorSizeAndDimensions(
                f->mWidth, f->mHeight, f->mColorFormat, &f->mStride, &f->mSliceHeight);
        ALOGI("colorformat is %d size %d width %d height %d width_stride %d height_stride %d",
              f->mColorFormat, f->mFrameSize, f->mWidth, f->mHeight, f->mStride,
              f->mSliceHeight);
        int64_t bytes = f->mFrameSize;
        int64_t extent = qoryuv::getConvertedExtent(f->mWidth, f->mHeight, f->mColorFormat,
                                                    f->mStride, f->mSliceHeight);
        if (extent > bytes) bytes = extent;
        if (bytes < 0) bytes = 0;
        f->mFrameSlotBytes = (size_t)bytes + 128;
        f->mFrameBuffer.reset(new uint8_t[f->mFrameSlotBytes * IcodecInterface::kBufferSlots]);
        f->mNextFrameSlot = 0;
    }
    if (audio) {
        f->mAudioBuffer.reset();
        ALOGI("sample %d channels %d bitrate %d.", f->mSampleRate, f->mChannels,
              f->mAudioBitRate);
        f->mAudioBuffer.reset(
                new uint8_t[IcodecInterface::kAudioBufferBytes * IcodecInterface::kBufferSlots]);
        f->mNextAudioSlot = 0;
    }
    f->mSkipNextVideo = true;
    f->mStartTimeUs = wallClockUs();
    f->mVideoCount = 0;
    f->mAudioCount = 0;
    f->mStarted = true;
    return 0;
}

int pushVideoBuffer(const uint8_t* frame, int64_t capacity, int length, int /*unused*/) {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    const int64_t timeUs = wallClockUs();
    PushScope scope(f);
    if (!f->mStarted) {
        ALOGE("pushVideoBuffer, has no yet started.");
        return -1;
    }
    const int64_t needed = (int64_t)f->mWidth * f->mHeight * 2;
    if (frame == nullptr || capacity < needed || length < needed) {
        ALOGE("pushVideoBuffer, invalid frame (address %p capacity %lld length %d, a frame "
              "needs %lld bytes).",
              frame, (long long)capacity, length, (long long)needed);
        return -1;
    }
    f->mVideoCount++;
    if (f->mSkipNextVideo.exchange(false)) return 0;
    if (!f->mFrameBuffer) return -1;

    uint8_t* slot = f->mFrameBuffer.get() + f->mFrameSlotBytes * f->mNextFrameSlot;
    f->mNextFrameSlot = (f->mNextFrameSlot + 1) % IcodecInterface::kBufferSlots;
    f->mYuv.ConvertFromRGB565(frame, slot, f->mColorFormat, f->mWidth,
                              f->mInvert ? -f->mHeight : f->mHeight, f->mStride,
                              f->mSliceHeight);
    return f->IpushVideoBuffer(slot, length, f->mFrameSize, timeUs);
}

int pushAudioBuffer(const uint8_t* data, int offset, int length) {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    PushScope scope(f);
    const uint8_t* position = data + offset;
    int remaining = length;
    while (f->mStarted && remaining > 0 && f->mAudioBuffer) {
        f->mAudioCount++;
        const int64_t timeUs = wallClockUs();
        const int n = remaining < IcodecInterface::kAudioBlockBytes
                              ? remaining
                              : IcodecInterface::kAudioBlockBytes;
        uint8_t* slot = f->mAudioBuffer.get() +
                        (size_t)IcodecInterface::kAudioBufferBytes * f->mNextAudioSlot;
        f->mNextAudioSlot = (f->mNextAudioSlot + 1) % IcodecInterface::kBufferSlots;
        memcpy(slot, position, n);
        f->IpushAudioBuffer(slot, offset, n, timeUs);
        position += n;
        remaining -= n;
    }
    return 0;
}

int pause(int /*ignored*/) {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    ALOGI("pause");
    if (!f->mLoaded) return -1;
    return f->IsetPause();
}

int status() {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    ALOGI("status %s.", startStop(f->mStarted));
    return f->mStarted ? 1 : 0;
}

int stop() {
    IcodecInterface* f = gFacade.load();
    if (f == nullptr) return -1;
    std::lock_guard<std::recursive_mutex> guard(*f->mLock);
    return stop_l(f);
}

}  // namespace qor
