#define LOG_TAG "qor_icodec"
#include "icodec/IcodecInterface.h"

#include <stdlib.h>
#include <string.h>

#include <cutils/properties.h>
#include <utils/Log.h>
#include <utils/Timers.h>

#include "common/LibraryResults.h"
#include "icodec/ColorLayout.h"
#include "icodec/DeviceCheck.h"

namespace qor {

using android::Mutex;

namespace {

int64_t wallClockUs() { return systemTime(SYSTEM_TIME_REALTIME) / 1000; }

const char* yesNo(bool b) { return b ? "yes" : "no"; }
const char* startStop(bool started) { return started ? "start" : "stop"; }

}  // namespace

IcodecInterface::~IcodecInterface() {
    ALOGI("~destructor");
    Mutex::Autolock guard(mLock);
    stop_l();
}

void IcodecInterface::bind(const char* packageName) {
    Mutex::Autolock guard(mLock);
    char sdk[PROPERTY_VALUE_MAX];
    __system_property_get("ro.build.version.sdk", sdk);
    ALOGI("sdk version is %s.", sdk);
    const int sdkVersion = atoi(sdk);
    if (sdkVersion > 13) {
        mLibrary.open(sdkVersion, packageName);
        mLoaded = mLibrary.loaded();
        if (mLoaded && api().available() == 0) mSupported = true;
    }
    ALOGI("construction, codec is supported ? %s, buildinfo %s", yesNo(mSupported),
          "liblumokast " __DATE__ " " __TIME__);
}

int IcodecInterface::isAvailable() {
    Mutex::Autolock guard(mLock);
    if (!mSupported) return 0;
    // A model found supported stays so; a refused one is looked up again.
    if (!mModelSupported) mModelSupported = deviceModelSupported();
    return mModelSupported ? 1 : 0;
}

int IcodecInterface::setVideoParameter(int width, int height, int frameRate, int bitRate,
                                       int iFrameInterval, int invert) {
    Mutex::Autolock guard(mLock);
    // Chroma is sampled over 2x2 pixels: an odd size has no exact frame.
    const bool odd = (width & 1) != 0 || (height & 1) != 0;
    if (odd) ALOGE("video parameters %dx%d: width and height must be even.", width, height);
    if (mStarted || odd || width <= 0 || height <= 0 || bitRate <= 0 || frameRate <= 0 ||
        iFrameInterval <= 0) {
        ALOGE(
            "video parameters width %d height %d frameRate %d bitRate %d isinvert ? %s "
            "status ? %s.",
            width, height, frameRate, bitRate, yesNo(invert != 0), startStop(mStarted));
        return -1;
    }
    mVideo.width = width;
    mVideo.height = height;
    mVideo.frameRate = frameRate;
    mVideo.bitRate = bitRate;
    mVideo.iFrameInterval = iFrameInterval;
    mVideo.invert = invert;
    ALOGI("video parameters width %d height %d frameRate %d bitRate %d isinvert ? %s.", width,
          height, frameRate, bitRate, yesNo(invert != 0));
    return 0;
}

int IcodecInterface::setAudioParameter(int sampleRate, int channels, int bitRate) {
    Mutex::Autolock guard(mLock);
    if (mStarted || sampleRate <= 0 || channels <= 0 || bitRate <= 0) {
        ALOGE("audio parameters sampleRate %d channels %d bitRate %d status ? %s.", sampleRate,
              channels, bitRate, startStop(mStarted));
        return -1;
    }
    mAudio.sampleRate = sampleRate;
    mAudio.channels = channels;
    mAudio.bitRate = bitRate;
    ALOGI("audio parameters sampleRate %d channels %d bitRate %d.", sampleRate, channels, bitRate);
    return 0;
}

int IcodecInterface::start(const char* path) {
    Mutex::Autolock guard(mLock);
    ALOGI("start file %s.", path);
    if (!mSupported || !mLoaded) {
        ALOGE("start(%s) avilable ? %s init ? %s.", path, yesNo(mSupported), yesNo(mLoaded));
        return -1;
    }
    if (mStarted) {
        ALOGW("Has yet started!");
        return 0;
    }
    const bool video = mVideo.configured();
    const bool audio = mAudio.configured();
    if (startLibrary_l(path, video, audio) != 0) return -1;
    if (video) prepareVideo_l();
    if (audio) prepareAudio_l();
    mSkipNextVideo = true;
    mStartTimeUs = wallClockUs();
    mVideoCount = 0;
    mAudioCount = 0;
    mStarted = true;
    return 0;
}

int IcodecInterface::startLibrary_l(const char* path, bool video, bool audio) {
    if (video) {
        api().setVideoMeta(mVideo.width, mVideo.height, mVideo.bitRate, mVideo.frameRate,
                           mVideo.iFrameInterval);
    }
    if (audio) api().setAudioMeta(mAudio.sampleRate, mAudio.channels, mAudio.bitRate);
    if (!video && !audio) {
        ALOGE("Please call (video_parameters && audio_parameters), before start.");
        return -1;
    }
    if (api().start(path) != 0) {
        ALOGE("android source start(%s) fail!", path);
        return -1;
    }
    return 0;
}

void IcodecInterface::prepareVideo_l() {
    FrameLayout& f = mFrame;
    f.width = mVideo.width;
    f.height = mVideo.height;
    f.invert = mVideo.invert != 0;
    f.colorFormat = api().getColorFormat();
    f.frameSize = qoryuv::getOMXColorSizeAndDimensions(f.width, f.height, f.colorFormat, &f.stride,
                                                       &f.sliceHeight);
    ALOGI("colorformat is %d size %d width %d height %d width_stride %d height_stride %d",
          f.colorFormat, f.frameSize, f.width, f.height, f.stride, f.sliceHeight);
    // The encoder reads a frame as it was configured (stride x slice height),
    // which for a semi-planar one is more than the tight size.
    const int64_t handOver = encoderFrameBytes(f.width, f.height, f.colorFormat);
    f.handOverSize = handOver > 0 ? (int32_t)handOver : f.frameSize;
    int64_t bytes = f.handOverSize > f.frameSize ? f.handOverSize : f.frameSize;
    const int64_t extent =
        qoryuv::getConvertedExtent(f.width, f.height, f.colorFormat, f.stride, f.sliceHeight);
    if (extent > bytes) bytes = extent;
    if (bytes < 0) bytes = 0;
    mFrameSlots.allocate((size_t)bytes + 128);
}

void IcodecInterface::prepareAudio_l() {
    ALOGI("sample %d channels %d bitrate %d.", mAudio.sampleRate, mAudio.channels, mAudio.bitRate);
    mAudioSlots.allocate(kAudioSlotBytes);
}

int IcodecInterface::pushVideoBuffer(const uint8_t* frame, int64_t capacity, int length) {
    const int64_t timeUs = wallClockUs();
    PushGate::Scope scope(mPushes);
    if (!mStarted) {
        ALOGE("pushVideoBuffer, has no yet started.");
        return -1;
    }
    // A frame of another size would be read as this one (striped picture).
    // A recording of sound alone has no frame size.
    const bool hasVideo = !mFrameSlots.empty();
    const int64_t needed = hasVideo ? (int64_t)mFrame.width * mFrame.height * 2 : 0;
    if (frame == nullptr || (hasVideo && (length != needed || capacity < needed))) {
        ALOGE(
            "pushVideoBuffer, invalid frame (address %p capacity %lld length %d, a frame "
            "needs %lld bytes).",
            frame, (long long)capacity, length, (long long)needed);
        return -1;
    }
    mVideoCount++;
    if (mSkipNextVideo.exchange(false)) return 0;
    if (mFrameSlots.empty()) return -1;

    uint8_t* slot = mFrameSlots.next();
    mYuv.ConvertFromRGB565(frame, slot, mFrame.colorFormat, mFrame.width,
                           mFrame.invert ? -mFrame.height : mFrame.height, mFrame.stride,
                           mFrame.sliceHeight);
    const int result = api().pushVideoBuffer(slot, length, mFrame.handOverSize, timeUs);
    if (result != 0) mFrameSlots.giveBack();  // paused, refused or dropped: never handed over
    return result == kPushDropped ? 0 : result;
}

int IcodecInterface::pushAudioBuffer(const uint8_t* data, int offset, int length) {
    PushGate::Scope scope(mPushes);
    const uint8_t* position = data + offset;
    int remaining = length;
    while (mStarted && remaining > 0 && !mAudioSlots.empty()) {
        mAudioCount++;
        const int64_t timeUs = wallClockUs();
        const int n = remaining < kAudioBlockBytes ? remaining : kAudioBlockBytes;
        uint8_t* slot = mAudioSlots.next();
        memcpy(slot, position, n);
        if (api().pushAudioBuffer(slot, offset, n, timeUs) != 0) mAudioSlots.giveBack();
        position += n;
        remaining -= n;
    }
    return 0;
}

int IcodecInterface::pause() {
    Mutex::Autolock guard(mLock);
    ALOGI("pause");
    if (!mLoaded) return -1;
    return api().setPause();
}

int IcodecInterface::resume() {
    Mutex::Autolock guard(mLock);
    ALOGI("resume");
    if (!mLoaded || !mStarted || api().status() != kLibraryPaused) {
        ALOGE("resume, nothing paused to resume.");
        return -1;
    }
    // The library's start while paused resumes; the path is not used.
    if (api().start(nullptr) != 0) {
        ALOGE("resume fail, the recording ends.");
        stop_l();
        return -1;
    }
    return 0;
}

int IcodecInterface::status() {
    Mutex::Autolock guard(mLock);
    ALOGI("status %s.", startStop(mStarted));
    return mStarted ? 1 : 0;
}

int IcodecInterface::stop() {
    Mutex::Autolock guard(mLock);
    return stop_l();
}

int IcodecInterface::stop_l() {
    ALOGI("stop(Receied video/audio %u/%u).", mVideoCount.load(), mAudioCount.load());
    // Every recording is set up anew: a sound-only one may follow one with video.
    mVideo = VideoParameters();
    mAudio = AudioParameters();
    if (!mStarted) return 0;
    mStarted = false;
    const int64_t elapsedMs = (wallClockUs() - mStartTimeUs) / 1000;
    const uint32_t frames = mVideoCount;
    ALOGI("stop video frames %u elapsed %0.3f(s) fps %0.2f", frames, elapsedMs / 1000.0,
          (double)((float)frames * 1000.0f / (float)elapsedMs));
    // The library's stop ends the sources' streams, which also releases any
    // push waiting for a slot.
    const int err = api().stop();
    ALOGI("stop success.");
    mPushes.waitUntilIdle();
    if (err == kStopInBackground) {
        mFrameSlots.retire();
        mAudioSlots.retire();
        mLibrary.keepLoaded();
    } else {
        mFrameSlots.release();
        mAudioSlots.release();
    }
    // A recording whose file could not be completed is not a success.
    return err == 0 ? 0 : -1;
}

}  // namespace qor
