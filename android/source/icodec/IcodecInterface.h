/*
 * The muxer facade: one process-wide object that binds the encoder library
 * of the device's platform level, converts captured frames and drives a
 * recording through the library's ten C functions.
 */
#ifndef QOR_ICODEC_INTERFACE_H_
#define QOR_ICODEC_INTERFACE_H_

#include <stdint.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "icodec/qoryuv.h"

namespace qor {

class IcodecInterface {
public:
    IcodecInterface();
    ~IcodecInterface();

    // Binds libvencora_<n> for the level in mSdkVersion (see EncoderBinding.cpp).
    void open_symbol(const char* packageName);
    // The device-model check (see DeviceCheck.cpp).
    bool available();

    // Bound in this order from the library.
    int (*Iavailable)();
    int (*Istart)(const char* path);
    int (*Istop)();
    int (*IsetPause)();
    int (*Istatus)();
    int (*IgetColorFormat)();
    int (*IsetVideoMeta)(int width, int height, int bitRate, int frameRate, int iFrameInterval);
    int (*IsetAudioMeta)(int sampleRate, int channels, int bitRate);
    int (*IpushVideoBuffer)(void* data, int sourceLength, int size, int64_t timeUs);
    int (*IpushAudioBuffer)(void* data, int sourceOffset, int size, int64_t timeUs);
    void* mDllHandle;

    std::unique_ptr<std::recursive_mutex> mLock;
    qoryuv mYuv;
    int32_t mSdkVersion;
    int64_t mStartTimeUs;
    int64_t mStopTimeUs;
    bool mLoaded;
    std::atomic<bool> mStarted;
    bool mSupported;
    std::atomic<bool> mSkipNextVideo;
    int32_t mWidth, mHeight;
    int32_t mColorFormat;
    int32_t mStride, mSliceHeight;
    int32_t mFrameSize;
    int32_t mInvert;
    int32_t mFrameRate;
    int32_t mBitRate;
    int32_t mIFrameInterval;
    int32_t mSampleRate;
    int32_t mChannels;
    int32_t mAudioBitRate;
    // Converted frames and PCM blocks are handed to the library by reference,
    // and the encoder may still read the previous one or two while the next
    // is written; each buffer therefore holds kBufferSlots slots used in turn.
    std::unique_ptr<uint8_t[]> mFrameBuffer;
    std::unique_ptr<uint8_t[]> mAudioBuffer;
    std::atomic<uint32_t> mVideoCount;
    std::atomic<uint32_t> mAudioCount;

    static const int kBufferSlots = 3;
    static const int kAudioBlockBytes = 8192;
    static const int kAudioBufferBytes = 8320;
    size_t mFrameSlotBytes;
    unsigned mNextFrameSlot;
    unsigned mNextAudioSlot;
    // Pushes under way; stop frees the buffers only once none is left.
    std::atomic<int> mActivePushes;

private:
    IcodecInterface(const IcodecInterface&) = delete;
    IcodecInterface& operator=(const IcodecInterface&) = delete;
};

// The facade functions behind the Mp4Muxer natives.
int init(const char* packageName);
int isAvailable();
int start(const char* path);
int stop();
int pause(int ignored);
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
