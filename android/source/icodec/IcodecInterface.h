/*
 * The muxer facade: one process-wide object that binds the encoder library
 * of the device's platform level, converts captured frames and drives a
 * recording through the library's ten C functions.
 *
 * Lock order: the init lock (init, destroyFacade) before the facade's mLock,
 * mLock before the push gate's lock; the encoder library's own locks are
 * taken inside its calls, under mLock.
 */
#ifndef QOR_ICODEC_INTERFACE_H_
#define QOR_ICODEC_INTERFACE_H_

#include <stdint.h>

#include <atomic>

#include <utils/Mutex.h>

#include "icodec/EncoderLibrary.h"
#include "icodec/PushGate.h"
#include "icodec/SlotRing.h"
#include "icodec/qoryuv.h"

namespace qor {

class IcodecInterface {
public:
    IcodecInterface() = default;
    ~IcodecInterface();

    // Reads the platform level and binds the encoder library that suits it.
    void bind(const char* packageName) EXCLUDES(mLock);

    int isAvailable() EXCLUDES(mLock);
    int setVideoParameter(int width, int height, int frameRate, int bitRate, int iFrameInterval,
                          int invert) EXCLUDES(mLock);
    int setAudioParameter(int sampleRate, int channels, int bitRate) EXCLUDES(mLock);
    int start(const char* path) EXCLUDES(mLock);
    int stop() EXCLUDES(mLock);
    int pause() EXCLUDES(mLock);
    // 0 when the paused recording goes on; -1 when nothing is paused, or
    // when the restart fails (the recording is then stopped in order).
    int resume() EXCLUDES(mLock);
    int status() EXCLUDES(mLock);

    // Pushes take no facade lock: see mFrame.
    int pushVideoBuffer(const uint8_t* frame, int64_t capacity, int length);
    int pushAudioBuffer(const uint8_t* data, int offset, int length);

    static const int kAudioBlockBytes = 8192;
    static const int kAudioSlotBytes = 8320;

private:
    struct VideoParameters {
        int32_t width = 0, height = 0;
        int32_t frameRate = 30;
        int32_t bitRate = 2000000;
        int32_t iFrameInterval = 1;
        int32_t invert = 0;
        bool configured() const { return width > 0 && height > 0; }
    };
    struct AudioParameters {
        int32_t sampleRate = 0, channels = 0;
        int32_t bitRate = 48000;
        bool configured() const { return sampleRate > 0 && channels > 0; }
    };
    // The encoder's view of a frame, fixed by start.
    struct FrameLayout {
        int32_t width = 0, height = 0;
        int32_t colorFormat = 0;
        int32_t stride = 0, sliceHeight = 0;
        int32_t frameSize = 0;
        int32_t handOverSize = 0;  // bytes the encoder reads per frame
        bool invert = false;
    };

    int stop_l() REQUIRES(mLock);
    int startLibrary_l(const char* path, bool video, bool audio) REQUIRES(mLock);
    void prepareVideo_l() REQUIRES(mLock);
    void prepareAudio_l() REQUIRES(mLock);
    const EncoderApi& api() const { return mLibrary.api(); }

    // First member: closed last, after the destructor's stop.
    EncoderLibrary mLibrary;

    android::Mutex mLock;  // before the push gate's lock (stop waits in the gate)
    bool mLoaded GUARDED_BY(mLock) = false;
    bool mSupported GUARDED_BY(mLock) = false;
    bool mModelSupported GUARDED_BY(mLock) = false;
    VideoParameters mVideo GUARDED_BY(mLock);
    AudioParameters mAudio GUARDED_BY(mLock);
    int64_t mStartTimeUs GUARDED_BY(mLock) = 0;

    // Written by start before it sets mStarted and freed by stop only once
    // mStarted is clear and mPushes idle: a push reads them, without mLock,
    // between seeing mStarted set and leaving the gate. Video and audio have
    // one producer each (SlotRing), so mYuv is only used by video pushes.
    std::atomic<bool> mStarted{false};
    FrameLayout mFrame;
    SlotRing mFrameSlots;
    SlotRing mAudioSlots;
    qoryuv mYuv;
    PushGate mPushes;

    std::atomic<bool> mSkipNextVideo{true};
    std::atomic<uint32_t> mVideoCount{0};
    std::atomic<uint32_t> mAudioCount{0};

    IcodecInterface(const IcodecInterface&) = delete;
    IcodecInterface& operator=(const IcodecInterface&) = delete;
};

// The facade functions behind the Mp4Muxer natives.
int init(const char* packageName);
int isAvailable();
int start(const char* path);
int stop();
int pause(int ignored);
int resume(int ignored);
int status();
int setVideoParameter(int width, int height, int frameRate, int bitRate, int iFrameInterval,
                      int invert);
int setAudioParameter(int sampleRate, int channels, int bitRate);
// `capacity` is the number of readable bytes at `frame` (the direct buffer's
// capacity); frames smaller than width x height x 2 are refused.
int pushVideoBuffer(const uint8_t* frame, int64_t capacity, int length, int unused);
int pushAudioBuffer(const uint8_t* data, int offset, int length);

// Destroys the facade (library unload).
void destroyFacade();

}  // namespace qor

#endif  // QOR_ICODEC_INTERFACE_H_
