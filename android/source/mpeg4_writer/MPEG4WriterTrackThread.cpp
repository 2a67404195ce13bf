// Track thread: pulls encoded buffers from the source, turns their time
// stamps into track time, fills the sample tables and writes or chunks the
// samples.
#define LOG_TAG "MPEG4Writer"

#include <arpa/inet.h>
#include <pthread.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <media/IMediaRecorderClient.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::MediaBuffer;
using android::MetaData;
using android::OK;
using android::kKeyDecodingTime;
using android::kKeyDriftTime;
using android::kKeyIsSyncFrame;
using android::kKeyTime;

namespace {

// Composition offsets are stored with this bias so that they stay
// non-negative; the smallest one is taken off when the ctts box is written.
const int64_t kMaxCttsOffsetTimeUs = 1000000LL;

const int kAudioThreadPriority = -16;

// Drops a leading 4-byte start code: MP4 samples carry length prefixes.
void StripStartcode(MediaBuffer* buffer) {
    if (buffer->range_length() < 4) return;
    const uint8_t* ptr = (const uint8_t*)buffer->data() + buffer->range_offset();
    if (!memcmp(ptr, "\x00\x00\x00\x01", 4)) {
        buffer->set_range(buffer->range_offset() + 4, buffer->range_length() - 4);
    }
}

int64_t ticks(int64_t timeUs, int32_t timeScale) {
    return (timeUs * timeScale + 500000LL) / 1000000LL;
}

}  // namespace

status_t MPEG4Writer::Track::threadEntry() {
    int32_t count = 0;
    const int64_t interleaveDurationUs = mOwner->interleaveDuration();
    const bool hasMultipleTracks = (mOwner->numTracks() > 1);
    int64_t chunkTimestampUs = 0;
    int32_t nChunks = 0;
    int32_t nZeroLengthFrames = 0;
    int64_t lastTimestampUs = 0;      // Previous sample time stamp
    int64_t lastDurationUs = 0;       // Between the previous two samples
    int64_t currDurationTicks = 0;    // Timescale based ticks
    int64_t lastDurationTicks = 0;    // Timescale based ticks
    int32_t sampleCount = 1;          // Sample count in the current stts run
    uint32_t previousSampleSize = 0;  // Size of the previous sample
    int64_t previousPausedDurationUs = 0;
    int64_t timestampUs = 0;
    int64_t cttsOffsetTimeUs = 0;
    int64_t currCttsOffsetTimeTicks = 0;
    int64_t lastCttsOffsetTimeTicks = -1;
    int32_t cttsSampleCount = 0;      // Sample count in the current ctts run
    size_t lastSamplesPerChunk = 0;

    pthread_setname_np(pthread_self(), mIsAudio ? "AudioTrackEncoding" : "VideoTrackEncoding");
    if (mOwner->isRealTimeRecording()) {
        // Best effort: an unprivileged process may not raise its priority.
        setpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid), kAudioThreadPriority);
    }

    // The sample's time stamps and flags, read before its buffer goes back.
    bool hasDriftTime = false;
    int64_t decodingTimeUs = 0, sampleDriftTimeUs = 0;
    status_t err = OK;
    MediaBuffer* buffer;
    while (!mDone && (err = mSource->read(&buffer)) == OK) {
        if (buffer->range_length() == 0) {
            buffer->release();
            buffer = nullptr;
            ++nZeroLengthFrames;
            continue;
        }

        // Samples after the codec configuration are dropped while paused.
        if (mPaused && !mResumed) {
            buffer->release();
            buffer = nullptr;
            continue;
        }

        ++count;

        int32_t isCodecConfig;
        if (buffer->meta_data()->findInt32(android::kKeyIsCodecConfig, &isCodecConfig) &&
            isCodecConfig) {
            CHECK(!mGotAllCodecSpecificData);
            const uint8_t* data = (const uint8_t*)buffer->data() + buffer->range_offset();
            size_t size = buffer->range_length();
            if (mIsAvc) {
                // A configuration the encoder got wrong ends this track as
                // malformed instead of taking the whole process down.
                if (makeAVCCodecSpecificData(data, size) != OK) {
                    mIsMalformedConfig = true;
                    buffer->release();
                    buffer = nullptr;
                    break;
                }
            } else if (mIsMpeg4OrAac) {
                mCodecSpecificDataSize = size;
                mCodecSpecificData = new uint8_t[size];
                memcpy(mCodecSpecificData, data, size);
            }
            buffer->release();
            buffer = nullptr;
            mGotAllCodecSpecificData = true;
            continue;
        }

        // Copy the sample: the encoder wants its buffer back right away, and
        // the sample may wait in a chunk for up to the interleave duration.
        MediaBuffer* copy = mSamplePool.acquire(buffer->range_length());
        memcpy(copy->data(), (const uint8_t*)buffer->data() + buffer->range_offset(),
               buffer->range_length());
        // The buffer's metadata is read here, before the buffer goes back to
        // the encoder, which may reuse it.
        int32_t isSync = false;
        {
            sp<MetaData> meta_data = buffer->meta_data();
            meta_data->findInt32(kKeyIsSyncFrame, &isSync);
            CHECK(meta_data->findInt64(kKeyTime, &timestampUs));
            if (!mIsAudio) {
                CHECK(meta_data->findInt64(kKeyDecodingTime, &decodingTimeUs));
            }
            hasDriftTime = meta_data->findInt64(kKeyDriftTime, &sampleDriftTimeUs);
        }
        buffer->release();
        buffer = nullptr;

        if (mIsAvc) StripStartcode(copy);

        uint32_t sampleSize = (uint32_t)copy->range_length();
        if (mIsAvc) sampleSize += mOwner->useNalLengthFour() ? 4 : 2;

        // Max file size or duration handling
        mMdatSizeBytes += sampleSize;
        updateTrackSizeEstimate();

        if (mOwner->exceedsFileSizeLimit()) {
            mOwner->notifyLimit(android::MEDIA_RECORDER_INFO_MAX_FILESIZE_REACHED);
            copy->release();
            break;
        }
        if (mOwner->exceedsFileDurationLimit()) {
            mOwner->notifyLimit(android::MEDIA_RECORDER_INFO_MAX_DURATION_REACHED);
            copy->release();
            break;
        }

        if (timestampUs <= 0 || timestampUs < previousPausedDurationUs) {
            ALOGW("previous timestamp %lld gt timestamp %lld",
                  (long long)previousPausedDurationUs, (long long)timestampUs);
            copy->release();
            continue;
        }

        if (mStszTableEntries->count() == 0) {
            // Track time starts at the first sample's decoding time when that
            // comes first; otherwise an encoder whose first frame is decoded
            // before it is presented would have every frame dropped below.
            if (!mIsAudio && decodingTimeUs > 0 && decodingTimeUs < timestampUs) {
                mStartTimestampUs = decodingTimeUs;
            } else {
                mStartTimestampUs = timestampUs;
            }
            mOwner->setStartTimestampUs(mStartTimestampUs);
            previousPausedDurationUs = mStartTimestampUs;
        }

        if (mResumed) {
            // The pause shrinks to one ordinary sample interval.
            int64_t durExcludingEarlierPausesUs = timestampUs - previousPausedDurationUs;
            CHECK_GE(durExcludingEarlierPausesUs, 0ll);
            int64_t pausedDurationUs = durExcludingEarlierPausesUs - mTrackDurationUs.load();
            CHECK_GE(pausedDurationUs, lastDurationUs);
            previousPausedDurationUs += pausedDurationUs - lastDurationUs;
            mResumed = false;
        }

        timestampUs -= previousPausedDurationUs;
        CHECK_GE(timestampUs, 0ll);
        if (!mIsAudio) {
            // Samples are stored by decoding time; the presentation time
            // becomes a composition offset.
            decodingTimeUs -= previousPausedDurationUs;
            if (decodingTimeUs < 0) {
                copy->release();
                continue;
            }
            cttsOffsetTimeUs = timestampUs + kMaxCttsOffsetTimeUs - decodingTimeUs;
            CHECK_GE(cttsOffsetTimeUs, 0ll);
            timestampUs = decodingTimeUs;
            currCttsOffsetTimeTicks = ticks(cttsOffsetTimeUs, mTimeScale);
            CHECK_LE(currCttsOffsetTimeTicks, 0x0FFFFFFFFLL);
        }

        if (mOwner->isRealTimeRecording() && mIsAudio && hasDriftTime) {
            updateDriftTime(sampleDriftTimeUs);
        }

        CHECK_GE(timestampUs, 0ll);
        currDurationTicks = ticks(timestampUs, mTimeScale) - ticks(lastTimestampUs, mTimeScale);
        if (currDurationTicks < 0ll) {
            // Checked before anything is recorded, so a dropped sample
            // leaves no entry behind in any table.
            ALOGW("timestampUs %lld < lastTimestampUs %lld for %s track", (long long)timestampUs,
                  (long long)lastTimestampUs, typeName());
            copy->release();
            continue;
        }
        if (timestampUs > mTrackDurationUs.load()) mTrackDurationUs = timestampUs;

        mStszTableEntries->add(htonl(sampleSize));
        const uint32_t n = mStszTableEntries->count();
        if (n > 2) {
            // The first sample keeps an stts entry of its own; later runs
            // merge equal deltas.
            if (n == 3 || currDurationTicks != lastDurationTicks) {
                addOneSttsTableEntry(sampleCount, (uint32_t)lastDurationTicks);
                sampleCount = 1;
            } else {
                ++sampleCount;
            }
        }
        if (mSameSizeSamples && n >= 2 && previousSampleSize != sampleSize) {
            mSameSizeSamples = false;
        }
        previousSampleSize = sampleSize;

        if (!mIsAudio) {
            if (n == 1) {
                addOneCttsTableEntry(1, (int32_t)currCttsOffsetTimeTicks);
                cttsSampleCount = 0;
                lastCttsOffsetTimeTicks = currCttsOffsetTimeTicks;
                mMinCttsOffsetTicks = mMaxCttsOffsetTicks = currCttsOffsetTimeTicks;
            } else {
                if (currCttsOffsetTimeTicks == lastCttsOffsetTimeTicks) {
                    ++cttsSampleCount;
                } else {
                    if (cttsSampleCount > 0) {
                        addOneCttsTableEntry(cttsSampleCount, (int32_t)lastCttsOffsetTimeTicks);
                    }
                    cttsSampleCount = 1;
                    lastCttsOffsetTimeTicks = currCttsOffsetTimeTicks;
                }
                if (currCttsOffsetTimeTicks > mMaxCttsOffsetTicks) {
                    mMaxCttsOffsetTicks = currCttsOffsetTimeTicks;
                } else if (currCttsOffsetTimeTicks < mMinCttsOffsetTicks) {
                    mMinCttsOffsetTicks = currCttsOffsetTimeTicks;
                }
            }
        }

        lastDurationUs = timestampUs - lastTimestampUs;
        lastDurationTicks = currDurationTicks;
        lastTimestampUs = timestampUs;

        if (isSync != 0) addOneStssTableEntry(n);

        if (mTrackProgress) {
            if (mLastProgressTimeUs <= 0) mLastProgressTimeUs = mStartTimestampUs;
            trackProgressStatus(timestampUs);
        }

        if (!hasMultipleTracks) {
            // The only track writes its samples itself, as one chunk.
            int64_t offset = mIsAvc ? mOwner->addLengthPrefixedSample_l(copy)
                                    : mOwner->addSample_l(copy);
            if (mChunkOffsetCount.load() == 0) addChunkOffset(offset);
            copy->release();
            copy = nullptr;
            if (mOwner->ioStatus() != OK) break;
            continue;
        }

        mPendingChunkSamples.push_back(copy);
        if (interleaveDurationUs == 0) {
            addOneStscTableEntry(++nChunks, 1);
            bufferChunk(timestampUs);
        } else if (chunkTimestampUs == 0) {
            chunkTimestampUs = timestampUs;
        } else if (timestampUs - chunkTimestampUs > interleaveDurationUs) {
            ++nChunks;
            if (nChunks == 1 || lastSamplesPerChunk != mPendingChunkSamples.size()) {
                lastSamplesPerChunk = mPendingChunkSamples.size();
                addOneStscTableEntry(nChunks, lastSamplesPerChunk);
            }
            bufferChunk(timestampUs);
            chunkTimestampUs = timestampUs;
        }
        if (mOwner->ioStatus() != OK) break;
    }

    if (mIsMalformedConfig || isTrackMalFormed()) err = android::ERROR_MALFORMED;
    if (err == OK || err == android::ERROR_END_OF_STREAM) {
        status_t ioErr = mOwner->ioStatus();
        if (ioErr != OK) err = ioErr;
    }
    mOwner->trackProgressStatus(mTrackId, -1, err);

    // Last chunk
    if (!hasMultipleTracks) {
        addOneStscTableEntry(1, mStszTableEntries->count());
    } else if (!mPendingChunkSamples.empty()) {
        addOneStscTableEntry(++nChunks, mPendingChunkSamples.size());
        bufferChunk(lastTimestampUs);
    }

    // The last sample lasts as long as the one before it; a lone sample
    // gets no duration.
    if (mStszTableEntries->count() == 1) {
        lastDurationUs = 0;
        addOneSttsTableEntry(1, 0);
        if (sampleCount > 1) addOneSttsTableEntry(sampleCount - 1, 0);
    } else {
        ++sampleCount;
        if (mStszTableEntries->count() <= 2) {
            addOneSttsTableEntry(1, (uint32_t)lastDurationTicks);
            addOneSttsTableEntry(sampleCount - 1, (uint32_t)lastDurationTicks);
        } else {
            addOneSttsTableEntry(sampleCount, (uint32_t)lastDurationTicks);
        }
    }
    if (!mIsAudio && cttsSampleCount > 0) {
        addOneCttsTableEntry(cttsSampleCount, (int32_t)lastCttsOffsetTimeTicks);
    }

    mSamplePool.close();
    mTrackDurationUs += lastDurationUs;
    mReachedEOS = true;

    ALOGI("Received total/0-length (%d/%d) buffers and encoded %d frames. - %s", count,
          nZeroLengthFrames, (int)mStszTableEntries->count(), mIsAudio ? "audio" : "video");
    if (mIsAudio) {
        ALOGI("Audio track drift time: %lld us", (long long)mOwner->getDriftTimeUs());
    }

    if (err == android::ERROR_END_OF_STREAM) return OK;
    return err;
}

}  // namespace qor
