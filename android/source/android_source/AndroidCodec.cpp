#define LOG_TAG "qor_codec"
#include "android_source/AndroidCodec.h"

#include <strings.h>
#include <unistd.h>

#include <binder/ProcessState.h>
#include <cutils/properties.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/OMXCodec.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "android_source/RecordingFinisher.h"
#include "common/LibraryResults.h"

namespace qor {

using android::MetaData;
using android::Mutex;
using android::OMXClient;

AndroidCodec::AndroidCodec(const RecorderFactories& factories)
    : mFactories(factories),
      mState(UNINITIALIZED),
      mWriterEvents(new WriterEvents),
      mModel("unknow"),
      mIsQcom(false),
      mSkipQcomAvc(false),
      mAvailable(false),
      mEncoderName("unknow"),
      mColorFormat(0),
      mOrigin(new RecordingOrigin) {
    char model[PROPERTY_VALUE_MAX];
    __system_property_get("ro.product.model", model);
    mModel.setTo(model);

    readPlatformFlags();

    OMXClient client;
    if (client.connect() != android::OK) {
        ALOGE("[%s] the media service cannot be reached: recording is not available.",
              mModel.string());
        return;
    }
    if (!hasEncoder(client, android::MEDIA_MIMETYPE_VIDEO_AVC) ||
        !hasEncoder(client, android::MEDIA_MIMETYPE_AUDIO_AAC)) {
        client.disconnect();
        return;
    }
    client.disconnect();
    mAvailable = true;
    mState = INITIALIZED;
}

AndroidCodec::~AndroidCodec() {
    Mutex::Autolock autoLock(mLock);
    if (mState == STARTED || mState == PAUSE) {
        stop_l();
    } else {
        ALOGE("[%s] stop is called in invalid state '%s'.", mModel.string(), stateName(mState));
    }
}

bool AndroidCodec::hasEncoder(OMXClient& client, const char* mime) {
    std::vector<android::CodecCapabilities> caps;
    if (android::QueryCodecs(client.interface(), mime, false, &caps) != android::OK ||
        caps.empty()) {
        ALOGE("[%s] %s encode size is zero!", mModel.string(), mime);
        return false;
    }
    return true;
}

const char* AndroidCodec::stateName(int state) {
    switch (state) {
        case UNINITIALIZED:
            return "UNINITIALIZED";
        case INITIALIZED:
            return "INITIALIZED";
        case PAUSE:
            return "PAUSE";
        case STARTED:
            return "STARTED";
        case STOPPED:
            return "STOPPED";
        default:
            return "???";
    }
}

int AndroidCodec::available() const { return mAvailable ? 0 : -1; }

int AndroidCodec::start(const char* path) {
    Mutex::Autolock autoLock(mLock);
    const int32_t state = mState;
    if (state != INITIALIZED && state != STOPPED && state != PAUSE) {
        ALOGE("[%s] start is called in invalid state '%s'.", mModel.string(), stateName(state));
        return -1;
    }
    if (mVideoEncoder == nullptr && mAudioEncoder == nullptr) {
        ALOGE("[%s] start video_omx_source andr audio_omx_source is null!", mModel.string());
        ALOGE("[%s] please set the video or audio parameter fist!", mModel.string());
        return -1;
    }
    if (state == PAUSE) return resume_l();
    if (path == nullptr) {
        ALOGE("[%s] start without a file path.", mModel.string());
        return -1;
    }
    ALOGI("[%s] start is called in state '%s'.", mModel.string(), stateName(state));
    return startNew_l(path);
}

// A new file: the writer, its sources and the encoders' threads.
int AndroidCodec::startNew_l(const char* path) {
    mWriter.clear();
    mFileMeta.clear();
    mOrigin->reset();
    mWriter = mFactories.createWriter ? mFactories.createWriter(path) : nullptr;
    if (mWriter == nullptr) {
        ALOGE("[%s] start fail in create MPEG4Writer.", mModel.string());
        return -1;
    }
    mWriterEvents->reset();
    mWriter->setListener(mWriterEvents->listenerForRecording());
    mFileMeta = new MetaData;
    if (mFileMeta == nullptr) {
        ALOGE("[%s] start fail in create MetaData.", mModel.string());
        return -1;
    }

    if (mAudioEncoder != nullptr) mWriter->addSource(mAudioEncoder);
    if (mVideoEncoder != nullptr) {
        sp<MetaData> format = mVideoEncoder->getFormat();
        int32_t width = 0, height = 0, bitRate = 0;
        format->findInt32(android::kKeyWidth, &width);
        format->findInt32(android::kKeyHeight, &height);
        format->findInt32(android::kKeyBitRate, &bitRate);
        format->setInt32(android::kKeyStride, width);
        format->setInt32(android::kKeySliceHeight, height);
        mFileMeta->setInt32(android::kKeyBitRate, bitRate);
        mWriter->addSource(mVideoEncoder);
    }

    android::ProcessState::self()->startThreadPool();
    resetClock_l();

    if (mWriter->start(nullptr) != android::OK) {
        ALOGE("[%s] start is fail, state '%s'.", mModel.string(), stateName(mState));
        // The writer ends its own thread and the tracks it started.
        mWriter.clear();
        mFileMeta.clear();
        return -1;
    }
    mState = STARTED;
    return 0;
}

int AndroidCodec::setPause() {
    Mutex::Autolock autoLock(mLock);
    if (mState != STARTED) {
        ALOGE("[%s] setPause is called in invalid state '%s'.", mModel.string(), stateName(mState));
        return -1;
    }
    // The writer goes on: what the encoders still hold from before the
    // pause belongs in the file. Pushes are refused from here on.
    {
        Mutex::Autolock sourceLock(mSourceLock);
        mClock.pause(RecordingClock::wallClockUs());
    }
    ALOGI("[%s] set pause success.", mModel.string());
    mState = PAUSE;
    return 0;
}

int AndroidCodec::resume() {
    Mutex::Autolock autoLock(mLock);
    return resume_l();
}

int AndroidCodec::resume_l() {
    if (mState != PAUSE) {
        ALOGE("[%s] resume is called in invalid state '%s'.", mModel.string(), stateName(mState));
        return -1;
    }
    if (mWriter->reachedEOS()) {
        // Every track ended during the pause (its encoder failed): the file
        // keeps what was recorded.
        ALOGE("[%s] resume fail, the recording ended while paused.", mModel.string());
        stop_l();
        return -1;
    }
    {
        Mutex::Autolock sourceLock(mSourceLock);
        mClock.resume(RecordingClock::wallClockUs());
    }
    // The pause is no gap in the sound (the stamps after it already leave
    // it out); the sound's drift estimate starts again.
    if (mTimedAudio != nullptr) mTimedAudio->resumed(0);
    ALOGI("[%s] resume success.", mModel.string());
    mState = STARTED;
    return 0;
}

void AndroidCodec::resetClock_l() {
    int64_t audioBytesPerSecond = 0;
    if (mAudioEncoder != nullptr && mAudioMeta != nullptr) {
        int32_t rate = 0, channels = 0;
        mAudioMeta->findInt32(android::kKeySampleRate, &rate);
        mAudioMeta->findInt32(android::kKeyChannelCount, &channels);
        audioBytesPerSecond = (int64_t)rate * channels * 2;
    }
    Mutex::Autolock sourceLock(mSourceLock);
    mClock.reset(audioBytesPerSecond);
}

int AndroidCodec::stop() {
    Mutex::Autolock autoLock(mLock);
    if (mState != STARTED && mState != PAUSE) {
        ALOGE("[%s] stop is called in invalid state '%s'.", mModel.string(), stateName(mState));
        return -1;
    }
    return stop_l();
}

int AndroidCodec::stop_l() {
    // Pushes are refused from here on; the job owns what the recording used.
    FinishJob job;
    job.videoSource = sourceRef(true);
    job.audioSource = sourceRef(false);
    setSource(true, nullptr);
    setSource(false, nullptr);
    job.videoEncoder = mVideoEncoder;
    job.audioEncoder = mAudioEncoder;
    job.writer = mWriter;
    job.model = mModel;
    job.droppedVideoFrames = mWriterEvents->droppedVideoFrames();

    mFileMeta.clear();
    mWriter.clear();
    mVideoEncoder.clear();
    mAudioEncoder.clear();
    mTimedAudio.clear();
    mVideoMeta.clear();
    mAudioMeta.clear();
    mState = STOPPED;

    const android::status_t err = finishRecording(job, kStopLimitUs);
    if (err != android::OK) {
        ALOGE("[%s] stop fail.", mModel.string());
    } else {
        ALOGI("[%s] stop success.", mModel.string());
    }
    return err;
}

int AndroidCodec::status() {
    Mutex::Autolock autoLock(mLock);
    ALOGI("[%s] status current state is %s.", mModel.string(), stateName(mState));
    return mState;
}

int AndroidCodec::getColorFormat() {
    Mutex::Autolock autoLock(mLock);
    return mState == STARTED ? mColorFormat : -1;
}

sp<EncodeSource> AndroidCodec::sourceRef(bool video) {
    Mutex::Autolock sourceLock(mSourceLock);
    return video ? mVideoSource : mAudioSource;
}

void AndroidCodec::setSource(bool video, const sp<EncodeSource>& source) {
    Mutex::Autolock sourceLock(mSourceLock);
    (video ? mVideoSource : mAudioSource) = source;
}

sp<EncodeSource> AndroidCodec::admitPush(bool video, int size, int64_t wallUs, int64_t* timeUs) {
    Mutex::Autolock sourceLock(mSourceLock);
    sp<EncodeSource> source = video ? mVideoSource : mAudioSource;
    if (source == nullptr || !mClock.stamp(video, wallUs, size, timeUs)) return nullptr;
    return source;
}

// Pushes come stamped with the wall clock; the encoders get them on the
// recording's clock, which leaves the pauses out.
int AndroidCodec::pushBuffer(bool video, void* data, int extra, int size, int64_t timeUs) {
    const int32_t state = mState;
    if (state == STARTED && size != 0 && timeUs > 0) {
        // A failed disk takes nothing more; a slow one sheds video before it
        // is encoded (the game's frame is not an error).
        if (mWriterEvents->diskFailed()) return -1;
        if (video && mWriterEvents->dropVideoFrame()) return kPushDropped;
        int64_t recordingUs = 0;
        sp<EncodeSource> source = admitPush(video, size, timeUs, &recordingUs);
        if (source != nullptr) {
            mOrigin->note(recordingUs);
            return source->pushBuffer(data, extra, size, recordingUs);
        }
    }
    ALOGW(video ? "[video] state '%s' size %u timestamp %lld"
                : "[audio] state '%s' size %u timestamp %lld",
          stateName(state), (unsigned)size, (long long)timeUs);
    return -1;
}

int AndroidCodec::pushVideoBuffer(void* data, int sourceLength, int size, int64_t timeUs) {
    return pushBuffer(true, data, sourceLength, size, timeUs);
}

int AndroidCodec::pushAudioBuffer(void* data, int sourceOffset, int size, int64_t timeUs) {
    return pushBuffer(false, data, sourceOffset, size, timeUs);
}

}  // namespace qor
