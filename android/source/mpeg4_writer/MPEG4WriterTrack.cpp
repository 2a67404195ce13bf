// Track life cycle, sample-table entries and the malformed-track check.
#define LOG_TAG "MPEG4Writer"

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/AvcDecoderConfigRecord.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::MetaData;
using android::OK;

namespace {
const int64_t kDefaultStartTimeOffsetUs = 700000;

const char* mimeOf(const sp<MetaData>& meta) {
    const char* mime = "";
    meta->findCString(android::kKeyMIMEType, &mime);
    return mime;
}
}  // namespace

MPEG4Writer::Track::Track(MPEG4Writer* owner, const sp<android::MediaSource>& source,
                          size_t trackId)
    : mOwner(owner),
      mMeta(source->getFormat()),
      mSource(source),
      mDone(false),
      mPauseState(kRunning),
      mStarted(false),
      mReachedEOS(false),
      mIsMalformedConfig(false),
      mPlayable(false),
      mTrackId((uint32_t)trackId),
      mTrackDurationUs(0),
      mEstimatedTrackSizeBytes(0),
      mMdatSizeBytes(0),
      mTimeScale(0),
      mTable(/*hasCompositionOffsets=*/strncasecmp(mimeOf(mMeta), "audio/", 6) != 0),
      mGotAllCodecSpecificData(false),
      mTrackProgress(false),
      mLastProgressTimeUs(-1),
      mProgressIntervalUs(0),
      mStartTimestampUs(0),
      mRotationDegrees(0) {
    const char* mime = mimeOf(mMeta);
    mIsAvc = !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_AVC);
    mIsAudio = !strncasecmp(mime, "audio/", 6);
    mIsMpeg4OrAac = !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_MPEG4) ||
                    !strcasecmp(mime, android::MEDIA_MIMETYPE_AUDIO_AAC);
    setTimeScale();
}

MPEG4Writer::Track::~Track() { stop(); }

void MPEG4Writer::Track::setTimeScale() {
    int32_t timeScale = 90000;
    if (mIsAudio) {
        bool success = mMeta->findInt32(android::kKeySampleRate, &timeScale);
        CHECK(success);
    }
    int32_t configuredTimeScale;
    if (mMeta->findInt32(android::kKeyTimeScale, &configuredTimeScale)) {
        timeScale = configuredTimeScale;
    }
    mTimeScale = timeScale;
    CHECK_GT(mTimeScale, 0);
}

void MPEG4Writer::Track::readStartParams(MetaData* params, int64_t* startTimeUs) {
    if (params == nullptr || !params->findInt64(android::kKeyTime, startTimeUs)) {
        *startTimeUs = 0;
    }
    int32_t rotationDegrees;
    if (!mIsAudio && params && params->findInt32(android::kKeyRotation, &rotationDegrees)) {
        mRotationDegrees = rotationDegrees;
    }
    mLastProgressTimeUs = -1;
    mTrackProgress = false;
    mProgressIntervalUs = 0;
    int64_t intervalUs;
    if (params && params->findInt64(android::kKeyTrackTimeStatus, &intervalUs)) {
        mProgressIntervalUs = intervalUs;
        mTrackProgress = true;
    }
}

// Start later than real time by a little, so audio and video start
// together and the first samples are not dropped.
int64_t MPEG4Writer::Track::startTimeOffsetUs() const {
#if PLATFORM_LEVEL >= 21
    int32_t offsetMs = mOwner->getStartTimeOffsetMs();
#else
    int32_t offsetMs = mOwner->mStartTimeOffsetMs;
#endif
    return offsetMs < 0 ? kDefaultStartTimeOffsetUs : (int64_t)offsetMs * 1000;
}

status_t MPEG4Writer::Track::start(MetaData* params) {
    if (!mDone && mPauseState != kRunning) {
        mPauseState = kResumed;
        return OK;
    }
    int64_t startTimeUs;
    readStartParams(params, &startTimeUs);
    if (mOwner->isRealTimeRecording() && mOwner->numTracks() > 1) {
        int64_t offsetUs = startTimeOffsetUs();
        startTimeUs += offsetUs;
        ALOGI("Start time offset: %lld us", (long long)offsetUs);
    }

    sp<MetaData> meta = new MetaData;
    meta->setInt64(android::kKeyTime, startTimeUs);
    status_t err = mSource->start(meta.get());
    if (err != OK) {
        mDone = true;
        mReachedEOS = true;
        return err;
    }

    mDone = false;
    mStarted = true;
    mTrackDurationUs = 0;
    mReachedEOS = false;
    mEstimatedTrackSizeBytes = 0;
    mMdatSizeBytes = 0;
    return startThread();
}

// A thread that cannot be made leaves the track stopped, its source too.
status_t MPEG4Writer::Track::startThread() {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    int rc = pthread_create(&mThread, &attr, ThreadWrapper, this);
    pthread_attr_destroy(&attr);
    if (rc == 0) return OK;
    ALOGE("Cannot start the %s track thread: %s", typeName(), strerror(rc));
    mStarted = false;
    mDone = true;
    mReachedEOS = true;
    mSource->stop();
    return android::UNKNOWN_ERROR;
}

status_t MPEG4Writer::Track::pause() {
    mPauseState = kPaused;
    return OK;
}

status_t MPEG4Writer::Track::stop() {
    ALOGD("Stopping %s track", typeName());
    if (!mStarted) {
        ALOGE("Stop() called but track is not started");
        return android::ERROR_END_OF_STREAM;
    }
    if (mDone) return OK;
    mDone = true;

    void* dummy;
    pthread_join(mThread, &dummy);
    status_t err = static_cast<status_t>(reinterpret_cast<intptr_t>(dummy));

    ALOGD("Stopping %s track source", typeName());
    {
        status_t status = mSource->stop();
        if (err == OK && status != OK && status != android::ERROR_END_OF_STREAM) {
            err = status;
        }
    }
    ALOGD("%s track stopped", typeName());
    return err;
}

void MPEG4Writer::Track::abandon() {
    if (!mStarted || mDone) return;
    ALOGW("Abandoning the %s track", typeName());
    mDone = true;
    mSource->stop();
    void* dummy;
    pthread_join(mThread, &dummy);
    mStarted = false;
}

void* MPEG4Writer::Track::ThreadWrapper(void* me) {
    Track* track = static_cast<Track*>(me);
    status_t err = track->threadEntry();
    return reinterpret_cast<void*>(static_cast<intptr_t>(err));
}

void MPEG4Writer::Track::dump(int fd, const std::vector<android::String8>& /*args*/) const {
    const size_t SIZE = 256;
    char buffer[SIZE];
    android::String8 result;
    snprintf(buffer, SIZE, "     %s track\n", typeName());
    result.append(buffer);
    snprintf(buffer, SIZE, "       reached EOS: %s\n", mReachedEOS ? "true" : "false");
    result.append(buffer);
    snprintf(buffer, SIZE, "       frames encoded : %d\n", (int)mTable.sampleCount());
    result.append(buffer);
    snprintf(buffer, SIZE, "       duration encoded : %lld us\n",
             (long long)mTrackDurationUs.load());
    result.append(buffer);
    ::write(fd, result.string(), result.size());
}

void MPEG4Writer::Track::bufferChunk(int64_t timestampUs) {
    Chunk chunk(this, timestampUs, std::move(mPendingChunkSamples));
    chunk.mInfo = std::move(mPendingChunkInfo);
    mOwner->bufferChunk(std::move(chunk));
    mPendingChunkSamples.clear();
    mPendingChunkInfo.clear();
}

void MPEG4Writer::Track::updateTrackSizeEstimate() {
    int64_t estimate = mMdatSizeBytes;
    // Reserved moov space covers the tables of a streamable file.
    if (!mOwner->isFileStreamable()) estimate += mTable.estimatedBoxBytes();
    mEstimatedTrackSizeBytes = estimate;
}

void MPEG4Writer::Track::addChunkOffset(int64_t offset) {
    mTable.addChunkOffset(offset, mOwner->use32BitFileOffset());
}

status_t MPEG4Writer::Track::makeAVCCodecSpecificData(const uint8_t* data, size_t size) {
    if (!mCodecSpecificData.empty()) {
        ALOGE("Already have codec specific data");
        return android::ERROR_MALFORMED;
    }
    return buildAvcDecoderConfigRecord(data, size, &mCodecSpecificData);
}

bool MPEG4Writer::Track::isTrackMalFormed() const {
    if (mTable.sampleCount() == 0) {
        ALOGE("The number of recorded samples is 0");
        return true;
    }
    if (!mIsAudio && mTable.syncSampleCount() == 0) {
        ALOGE("There are no sync frames for video track");
        return true;
    }
    const char* mime;
    CHECK(mMeta->findCString(android::kKeyMIMEType, &mime));
    bool needsCodecData = !strcasecmp(mime, android::MEDIA_MIMETYPE_AUDIO_AAC) ||
                          !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_MPEG4) ||
                          !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_AVC);
    if (needsCodecData) {
        if (mCodecSpecificData.empty()) {
            ALOGE("Missing codec specific data");
            return true;
        }
    } else if (!mCodecSpecificData.empty()) {
        ALOGE("Unexepected codec specific data found");
        return true;
    }
    return false;
}

void MPEG4Writer::Track::trackProgressStatus(int64_t timeUs) {
    if (mProgressIntervalUs > 0 && timeUs - mLastProgressTimeUs >= mProgressIntervalUs) {
        mOwner->trackProgressStatus(mTrackId, timeUs - mLastProgressTimeUs, OK);
        mLastProgressTimeUs = timeUs;
    }
}

void MPEG4Writer::Track::updateDriftTime(int64_t driftTimeUs) {
    // Read and written under the writer's lock in one go.
    android::Mutex::Autolock l(mOwner->mLock);
    mOwner->mDriftTimeUs = (mOwner->mDriftTimeUs + driftTimeUs) >> 1;
}

int64_t MPEG4Writer::Track::getStartTimeOffsetScaledTime() const {
    int64_t trackStartTimeOffsetUs = 0;
    int64_t moovStartTimeUs = mOwner->getStartTimestampUs();
    if (mStartTimestampUs != moovStartTimeUs) {
        CHECK_GT(mStartTimestampUs, moovStartTimeUs);
        trackStartTimeOffsetUs = mStartTimestampUs - moovStartTimeUs;
    }
    return (trackStartTimeOffsetUs * mTimeScale + 500000LL) / 1000000LL;
}

}  // namespace qor
