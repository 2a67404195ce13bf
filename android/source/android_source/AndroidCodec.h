/*
 * The recorder behind the encoder library's C interface: owns the push
 * sources, the encoders on top of them and the MP4 writer of a recording,
 * and runs the UNINITIALIZED / INITIALIZED / STARTED / PAUSE / STOPPED
 * state machine.
 */
#ifndef QOR_ANDROID_CODEC_H_
#define QOR_ANDROID_CODEC_H_

#include <stdint.h>

#include <atomic>

#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MediaWriter.h>
#include <media/stagefright/MetaData.h>
#include <media/stagefright/OMXClient.h>
#include <utils/Mutex.h>
#include <utils/String8.h>

#include "android_source/EncodeSource.h"
#include "android_source/RecorderFactories.h"

namespace qor {

class AndroidCodec {
public:
    enum State {
        UNINITIALIZED = 0,
        INITIALIZED = 1,
        PAUSE = 2,
        STARTED = 3,
        STOPPED = 4,
    };

    explicit AndroidCodec(const RecorderFactories& factories);
    ~AndroidCodec();

    int available() const;
    int setVideoMeta(int width, int height, int bitRate, int frameRate, int iFrameInterval);
    int setAudioMeta(int sampleRate, int channels, int bitRate);
    int start(const char* path);
    int setPause();
    int stop();
    int status();
    int getColorFormat();
    int pushVideoBuffer(void* data, int sourceLength, int size, int64_t timeUs);
    int pushAudioBuffer(void* data, int sourceOffset, int size, int64_t timeUs);

    // Chooses the AVC component and colour format and builds the video
    // encoder's format; null when no component fits.
    sp<android::MetaData> geAVCMetaData(int width, int height, int bitRate, int frameRate,
                                        int iFrameInterval);

    static const char* stateName(int state);

    // For tests: what the set-up chose.
    const char* encoderName() const { return mEncoderName.string(); }
    bool isQcom() const { return mIsQcom; }
    bool skipQcomAvc() const { return mSkipQcomAvc; }

private:
    int pushBuffer(bool video, void* data, int extra, int size, int64_t timeUs);
    void readPlatformFlags();
    bool hasEncoder(android::OMXClient& client, const char* mime);
    int stop_l();
    // Snapshot of a push source that a concurrent stop cannot free.
    sp<EncodeSource> sourceRef(bool video);

    RecorderFactories mFactories;

    std::atomic<int32_t> mState;
    sp<android::MediaWriter> mWriter;
    sp<android::MetaData> mFileMeta;
    android::OMXClient mClient;
    android::Mutex mLock;
    android::String8 mModel;
    android::String8 mEncoderName;
    bool mIsQcom;
    bool mSkipQcomAvc;
    bool mAvailable;
    int32_t mColorFormat;
    android::OMXClient mVideoClient;
    android::OMXClient mAudioClient;
    sp<android::MetaData> mVideoMeta;
    sp<android::MetaData> mAudioMeta;
    sp<EncodeSource> mVideoSource;
    sp<EncodeSource> mAudioSource;
    sp<android::MediaSource> mVideoEncoder;
    sp<android::MediaSource> mAudioEncoder;

    // Guards only the two source pointers, so that pushes (which never take
    // mLock) can take a reference while a stop releases them.
    android::Mutex mSourceLock;

    AndroidCodec(const AndroidCodec&) = delete;
    AndroidCodec& operator=(const AndroidCodec&) = delete;
};

}  // namespace qor

#endif  // QOR_ANDROID_CODEC_H_
