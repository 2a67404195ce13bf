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
#include "android_source/TimedAudioSource.h"

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
    int setVideoMeta(int width, int height, int bitRate, int frameRate, int iFrameInterval)
        EXCLUDES(mLock);
    int setAudioMeta(int sampleRate, int channels, int bitRate) EXCLUDES(mLock);
    int start(const char* path) EXCLUDES(mLock);
    int setPause() EXCLUDES(mLock);
    int stop() EXCLUDES(mLock);
    int status() EXCLUDES(mLock);
    int getColorFormat() EXCLUDES(mLock);
    int pushVideoBuffer(void* data, int sourceLength, int size, int64_t timeUs);
    int pushAudioBuffer(void* data, int sourceOffset, int size, int64_t timeUs);

    static const char* stateName(int state);

    // Pause hook: the sound after a resume is stamped `stampShiftUs` ahead
    // of the sound before it (0 when the pushes leave the paused time out).
    void audioResumed(int64_t stampShiftUs) EXCLUDES(mLock);

    // Priming samples an AAC-LC encoder puts before the sound (measured on
    // the platform encoders: one frame).
    static const int32_t kAacEncoderDelayFrames = 1024;

    // For tests: what the set-up chose.
    const char* encoderName() const EXCLUDES(mLock) {
        android::Mutex::Autolock autoLock(mLock);
        return mEncoderName.string();
    }
    bool isQcom() const { return mIsQcom; }
    bool skipQcomAvc() const { return mSkipQcomAvc; }

private:
    // Chooses the AVC component and colour format and builds the video
    // encoder's format; null when no component fits.
    sp<android::MetaData> geAVCMetaData(int width, int height, int bitRate, int frameRate,
                                        int iFrameInterval) REQUIRES(mLock);
    // The first listed component of a search that the device accepts.
    bool searchAVCComponent() REQUIRES(mLock);
    int startNew_l(const char* path) REQUIRES(mLock);
    int pushBuffer(bool video, void* data, int extra, int size, int64_t timeUs)
        EXCLUDES(mSourceLock);
    void readPlatformFlags();
    bool hasEncoder(android::OMXClient& client, const char* mime);
    int stop_l() REQUIRES(mLock) EXCLUDES(mSourceLock);
    // Snapshot of a push source that a concurrent stop cannot free.
    sp<EncodeSource> sourceRef(bool video) EXCLUDES(mSourceLock);
    void setSource(bool video, const sp<EncodeSource>& source) EXCLUDES(mSourceLock);

    RecorderFactories mFactories;

    // Lock order: mLock, then mSourceLock, then a source's own lock
    // (EncodeSource::mLock). Pushes take only mSourceLock, and release it
    // before they enter the source, where they may wait for the encoder.
    mutable android::Mutex mLock ACQUIRED_BEFORE(mSourceLock);
    // Written under mLock; read without it by pushes.
    std::atomic<int32_t> mState;
    sp<android::MediaWriter> mWriter GUARDED_BY(mLock);
    sp<android::MetaData> mFileMeta GUARDED_BY(mLock);
    android::OMXClient mClient;
    // Set by the constructor, constant afterwards.
    android::String8 mModel;
    bool mIsQcom;
    bool mSkipQcomAvc;
    bool mAvailable;
    android::String8 mEncoderName GUARDED_BY(mLock);
    int32_t mColorFormat GUARDED_BY(mLock);
    android::OMXClient mVideoClient GUARDED_BY(mLock);
    android::OMXClient mAudioClient GUARDED_BY(mLock);
    sp<android::MetaData> mVideoMeta GUARDED_BY(mLock);
    sp<android::MetaData> mAudioMeta GUARDED_BY(mLock);
    sp<android::MediaSource> mVideoEncoder GUARDED_BY(mLock);
    sp<android::MediaSource> mAudioEncoder GUARDED_BY(mLock);
    sp<TimedAudioSource> mTimedAudio GUARDED_BY(mLock);
    // The first push of a recording: sound that starts later is put at its
    // time. Set once by the constructor; reset by a start.
    sp<RecordingOrigin> mOrigin;

    // Guards only the two source pointers, so that pushes (which never take
    // mLock) can take a reference while a stop releases them.
    android::Mutex mSourceLock;
    sp<EncodeSource> mVideoSource GUARDED_BY(mSourceLock);
    sp<EncodeSource> mAudioSource GUARDED_BY(mSourceLock);

    AndroidCodec(const AndroidCodec&) = delete;
    AndroidCodec& operator=(const AndroidCodec&) = delete;
};

}  // namespace qor

#endif  // QOR_ANDROID_CODEC_H_
