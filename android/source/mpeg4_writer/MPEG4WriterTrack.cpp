// Track life cycle, sample-table entries and the malformed-track check.
#define LOG_TAG "MPEG4Writer"

#include <arpa/inet.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::MetaData;
using android::OK;

namespace {
const uint32_t kBlockEntries = 1000;
const int64_t kDefaultStartTimeOffsetUs = 700000;
}  // namespace

MPEG4Writer::Track::Track(MPEG4Writer* owner, const sp<android::MediaSource>& source,
                          size_t trackId)
    : mOwner(owner),
      mMeta(source->getFormat()),
      mSource(source),
      mDone(false),
      mPaused(false),
      mResumed(false),
      mStarted(false),
      mReachedEOS(false),
      mIsMalformedConfig(false),
      mTrackId((uint32_t)trackId),
      mTrackDurationUs(0),
      mEstimatedTrackSizeBytes(0),
      mMdatSizeBytes(0),
      mTimeScale(0),
      mSameSizeSamples(true),
      mStszTableEntries(new ListTableEntries<uint32_t>(kBlockEntries, 1)),
      mStcoTableEntries(new ListTableEntries<uint32_t>(kBlockEntries, 1)),
      mCo64TableEntries(new ListTableEntries<uint64_t>(kBlockEntries, 1)),
      mStscTableEntries(new ListTableEntries<uint32_t>(kBlockEntries, 3)),
      mStssTableEntries(new ListTableEntries<uint32_t>(kBlockEntries, 1)),
      mSttsTableEntries(new ListTableEntries<uint32_t>(kBlockEntries, 2)),
      mCttsTableEntries(new ListTableEntries<uint32_t>(kBlockEntries, 2)),
      mChunkOffsetCount(0),
      mMinCttsOffsetTicks(0),
      mMaxCttsOffsetTicks(0),
      mProfileIdc(0),
      mProfileCompatible(0),
      mLevelIdc(0),
      mCodecSpecificData(nullptr),
      mCodecSpecificDataSize(0),
      mGotAllCodecSpecificData(false),
      mTrackProgress(false),
      mLastProgressTimeUs(-1),
      mProgressIntervalUs(0),
      mStartTimestampUs(0),
      mRotationDegrees(0) {
    const char* mime = "";
    mMeta->findCString(android::kKeyMIMEType, &mime);
    mIsAvc = !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_AVC);
    mIsAudio = !strncasecmp(mime, "audio/", 6);
    mIsMpeg4OrAac = !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_MPEG4) ||
                    !strcasecmp(mime, android::MEDIA_MIMETYPE_AUDIO_AAC);
    setTimeScale();
}

MPEG4Writer::Track::~Track() {
    stop();
    delete mStszTableEntries;
    delete mStcoTableEntries;
    delete mCo64TableEntries;
    delete mStscTableEntries;
    delete mSttsTableEntries;
    delete mStssTableEntries;
    delete mCttsTableEntries;
    delete[] mCodecSpecificData;
    for (android::MediaBuffer* sample : mPendingChunkSamples) sample->release();
    mPendingChunkSamples.clear();
}

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

status_t MPEG4Writer::Track::start(MetaData* params) {
    if (!mDone && mPaused) {
        mPaused = false;
        mResumed = true;
        return OK;
    }

    int64_t startTimeUs;
    if (params == nullptr || !params->findInt64(android::kKeyTime, &startTimeUs)) {
        startTimeUs = 0;
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

    if (mOwner->isRealTimeRecording() && mOwner->numTracks() > 1) {
        // Start later than real time by a little, so audio and video start
        // together and the first samples are not dropped.
#if PLATFORM_LEVEL >= 21
        int32_t offsetMs = mOwner->getStartTimeOffsetMs();
#else
        int32_t offsetMs = mOwner->mStartTimeOffsetMs;
#endif
        int64_t startTimeOffsetUs =
            offsetMs < 0 ? kDefaultStartTimeOffsetUs : (int64_t)offsetMs * 1000;
        startTimeUs += startTimeOffsetUs;
        ALOGI("Start time offset: %lld us", (long long)startTimeOffsetUs);
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

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    pthread_create(&mThread, &attr, ThreadWrapper, this);
    pthread_attr_destroy(&attr);
    return OK;
}

status_t MPEG4Writer::Track::pause() {
    mPaused = true;
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
    snprintf(buffer, SIZE, "       frames encoded : %d\n", (int)mStszTableEntries->count());
    result.append(buffer);
    snprintf(buffer, SIZE, "       duration encoded : %lld us\n",
             (long long)mTrackDurationUs.load());
    result.append(buffer);
    ::write(fd, result.string(), result.size());
}

void MPEG4Writer::Track::bufferChunk(int64_t timestampUs) {
    mOwner->bufferChunk(Chunk(this, timestampUs, std::move(mPendingChunkSamples)));
    mPendingChunkSamples.clear();
}

void MPEG4Writer::Track::updateTrackSizeEstimate() {
    int64_t estimate = mMdatSizeBytes;
    if (!mOwner->isFileStreamable()) {
        // Reserved moov space covers the tables of a streamable file.
        int64_t stcoBoxSizeBytes = (int64_t)mChunkOffsetCount.load() * 4;
        int64_t stszBoxSizeBytes =
            mSameSizeSamples ? 4 : (int64_t)mStszTableEntries->count() * 4;
        estimate += (int64_t)mStscTableEntries->count() * 12 +
                    (int64_t)mStssTableEntries->count() * 4 +
                    (int64_t)mSttsTableEntries->count() * 8 +
                    (int64_t)mCttsTableEntries->count() * 8 + stcoBoxSizeBytes +
                    stszBoxSizeBytes;
    }
    mEstimatedTrackSizeBytes = estimate;
}

void MPEG4Writer::Track::addOneStscTableEntry(size_t chunkId, size_t sampleId) {
    mStscTableEntries->add(htonl((uint32_t)chunkId));
    mStscTableEntries->add(htonl((uint32_t)sampleId));
    mStscTableEntries->add(htonl(1));
}

void MPEG4Writer::Track::addOneStssTableEntry(size_t sampleId) {
    mStssTableEntries->add(htonl((uint32_t)sampleId));
}

void MPEG4Writer::Track::addOneSttsTableEntry(size_t sampleCount, uint32_t delta) {
    if (delta == 0) {
        ALOGW("0-duration samples found: %d", (int)sampleCount);
    }
    mSttsTableEntries->add(htonl((uint32_t)sampleCount));
    mSttsTableEntries->add(htonl(delta));
}

void MPEG4Writer::Track::addOneCttsTableEntry(size_t sampleCount, int32_t sampleOffset) {
    if (mIsAudio) return;
    mCttsTableEntries->add(htonl((uint32_t)sampleCount));
    mCttsTableEntries->add(htonl((uint32_t)sampleOffset));
}

void MPEG4Writer::Track::addChunkOffset(int64_t offset) {
    if (mOwner->use32BitFileOffset()) {
        mStcoTableEntries->add(htonl((uint32_t)offset));
    } else {
        uint64_t v = (uint64_t)offset;
        uint64_t be = ((uint64_t)htonl((uint32_t)(v >> 32))) | ((uint64_t)htonl((uint32_t)v) << 32);
        mCo64TableEntries->add(be);
    }
    mChunkOffsetCount.fetch_add(1);
}

bool MPEG4Writer::Track::isTrackMalFormed() const {
    if (mStszTableEntries->count() == 0) {
        ALOGE("The number of recorded samples is 0");
        return true;
    }
    if (!mIsAudio && mStssTableEntries->count() == 0) {
        ALOGE("There are no sync frames for video track");
        return true;
    }
    const char* mime;
    CHECK(mMeta->findCString(android::kKeyMIMEType, &mime));
    bool needsCodecData = !strcasecmp(mime, android::MEDIA_MIMETYPE_AUDIO_AAC) ||
                          !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_MPEG4) ||
                          !strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_AVC);
    if (needsCodecData) {
        if (mCodecSpecificData == nullptr || mCodecSpecificDataSize == 0) {
            ALOGE("Missing codec specific data");
            return true;
        }
    } else if (mCodecSpecificData != nullptr || mCodecSpecificDataSize != 0) {
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
