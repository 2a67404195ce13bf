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
#include "android_source/RecordingClock.h"
#include "android_source/TimedAudioSource.h"
#include "android_source/WriterEvents.h"

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
    // The recording goes on after setPause: 0, or -1 when nothing is paused
    // or the recording ended during the pause (it is then stopped in order).
    // start() while paused calls it.
    int resume() EXCLUDES(mLock);
    int stop() EXCLUDES(mLock);
    int status() EXCLUDES(mLock);
    int getColorFormat() EXCLUDES(mLock);
    int pushVideoBuffer(void* data, int sourceLength, int size, int64_t timeUs);
    int pushAudioBuffer(void* data, int sourceOffset, int size, int64_t timeUs);

    static const char* stateName(int state);
    // The longest a stop keeps the game waiting (the encoders' ends, then
    // the file's moov); a recording not finished by then is completed in
    // the background.
    static const int64_t kStopLimitUs = 1400000;

    // Priming samples an AAC-LC encoder puts before the sound (measured on
    // the platform encoders: one frame).
    static const int32_t kAacEncoderDelayFrames = 1024;

    // For tests: what the set-up chose.
    const char* encoderName() const EXCLUDES(mLock) {
        android::Mutex::Autolock autoLock(mLock);
        return mEncoderName.string();
    }
    bool isQcom() const { return mIsQcom; }
    // Video frames of the current (or last) recording dropped because the
    // disk was behind.
    uint32_t droppedVideoFrames() const { return mWriterEvents->droppedVideoFrames(); }
    bool skipQcomAvc() const { return mSkipQcomAvc; }

private:
    // Chooses the AVC component and colour format and builds the video
    // encoder's format; null when no component fits.
    sp<android::MetaData> geAVCMetaData(int width, int height, int bitRate, int frameRate,
                                        int iFrameInterval) REQUIRES(mLock);
    // The first listed component of a search that the device accepts.
    bool searchAVCComponent() REQUIRES(mLock);
    sp<android::MediaSource> createVideoEncoder_l(const sp<android::MetaData>& videoMeta,
                                                  const sp<EncodeSource>& source) REQUIRES(mLock);
    // A stream's encoder, its source and its format are set and cleared
    // together.
    void clearVideo_l() REQUIRES(mLock) EXCLUDES(mSourceLock);
    void clearAudio_l() REQUIRES(mLock) EXCLUDES(mSourceLock);
    int startNew_l(const char* path) REQUIRES(mLock);
    int pushBuffer(bool video, void* data, int extra, int size, int64_t timeUs)
        EXCLUDES(mSourceLock);
    void readPlatformFlags();
    bool hasEncoder(android::OMXClient& client, const char* mime);
    int stop_l() REQUIRES(mLock) EXCLUDES(mSourceLock);
    int resume_l() REQUIRES(mLock) EXCLUDES(mSourceLock);
    // The recording clock of a new recording, which knows its sound format.
    void resetClock_l() REQUIRES(mLock) EXCLUDES(mSourceLock);
    // Snapshot of a push source that a concurrent stop cannot free.
    sp<EncodeSource> sourceRef(bool video) EXCLUDES(mSourceLock);
    // The source of a push and its time on the recording's clock; null when
    // the push is refused (paused, or made during a pause).
    sp<EncodeSource> admitPush(bool video, int size, int64_t wallUs, int64_t* timeUs)
        EXCLUDES(mSourceLock);
    void setSource(bool video, const sp<EncodeSource>& source) EXCLUDES(mSourceLock);

    RecorderFactories mFactories;

    // Lock order: mLock, then mSourceLock, then a source's own lock
    // (EncodeSource::mLock). Pushes take only mSourceLock, and release it
    // before they enter the source, where they may wait for the encoder.
    mutable android::Mutex mLock ACQUIRED_BEFORE(mSourceLock);
    // Written under mLock; read without it by pushes.
    std::atomic<int32_t> mState;
    sp<android::MediaWriter> mWriter GUARDED_BY(mLock);
    // Lives as long as the recorder; reset for each recording.
    const sp<WriterEvents> mWriterEvents;
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

    // Guards the two source pointers and the recording clock, so that
    // pushes (which never take mLock) can take a reference while a stop
    // releases them, and see a pause or resume whole.
    android::Mutex mSourceLock;
    sp<EncodeSource> mVideoSource GUARDED_BY(mSourceLock);
    sp<EncodeSource> mAudioSource GUARDED_BY(mSourceLock);
    RecordingClock mClock GUARDED_BY(mSourceLock);

    AndroidCodec(const AndroidCodec&) = delete;
    AndroidCodec& operator=(const AndroidCodec&) = delete;
};

}  // namespace qor

#endif  // QOR_ANDROID_CODEC_H_
