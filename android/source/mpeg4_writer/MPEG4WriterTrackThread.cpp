// Track thread: pulls encoded buffers from the source, turns their time
// stamps into track time, fills the sample tables and writes or chunks the
// samples.
#define LOG_TAG "MPEG4Writer"

#include <pthread.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <media/IMediaRecorderClient.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/AvcSampleFormat.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::kKeyDecodingTime;
using android::kKeyDriftTime;
using android::kKeyIsSyncFrame;
using android::kKeyTime;
using android::MediaBuffer;
using android::MetaData;
using android::OK;

namespace {

// Composition offsets are stored with this bias so that they stay
// non-negative; the smallest one is taken off when the ctts box is written.
const int64_t kMaxCttsOffsetTimeUs = 1000000LL;

const int kAudioThreadPriority = -16;

// The only track of a file journals its samples at least this often.
const int64_t kJournalIntervalUs = 400000;

int64_t ticks(int64_t timeUs, int32_t timeScale) {
    return (timeUs * timeScale + 500000LL) / 1000000LL;
}

}  // namespace

status_t MPEG4Writer::Track::threadEntry() {
    nameAndPrioritizeThread();
    SampleLoop loop;
    loop.interleaveDurationUs = mOwner->interleaveDuration();
    loop.hasMultipleTracks = mOwner->numTracks() > 1;

    status_t err = finalStatus(readSamples(&loop));
    mOwner->trackProgressStatus(mTrackId, -1, err);
    finishTrack(&loop);

    ALOGI("Received total/0-length (%d/%d) buffers and encoded %d frames. - %s", loop.buffers,
          loop.zeroLengthBuffers, (int)mTable.sampleCount(), mIsAudio ? "audio" : "video");
    if (mIsAudio) {
        ALOGI("Audio track drift time: %lld us", (long long)mOwner->getDriftTimeUs());
    }
    if (err == android::ERROR_END_OF_STREAM) return OK;
    return err;
}

void MPEG4Writer::Track::nameAndPrioritizeThread() {
    // Thread names are at most 15 characters.
    const char* name = mIsAudio ? "AudioTrackEnc" : "VideoTrackEnc";
    int rc = pthread_setname_np(pthread_self(), name);
    if (rc != 0) ALOGW("Cannot name the thread %s: %s", name, strerror(rc));
    if (mOwner->isRealTimeRecording()) {
        // Best effort: an unprivileged process may not raise its priority.
        setpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid), kAudioThreadPriority);
    }
}

status_t MPEG4Writer::Track::readSamples(SampleLoop* loop) {
    status_t err = OK;
    MediaBufferRef buffer;
    while (!mDone && (err = mSource->read(buffer.receive())) == OK) {
        if (processBuffer(&buffer, loop) == Step::kStop) break;
    }
    if (mOutputError == OK) return err;
    // Nothing reads the encoder any more: stopped, it lets the game's pushes
    // to its stream be refused at once instead of waiting for a reader.
    mSource->stop();
    return mOutputError;
}

// The encoder handed over something no sample entry or table can hold: the
// track ends at the last good sample, the rest of the file goes on.
bool MPEG4Writer::Track::rejectOutput(const char* what) {
    ALOGE("The %s encoder's output is unusable (%s): the track ends here", typeName(), what);
    mOutputError = android::ERROR_MALFORMED;
    return false;
}

MPEG4Writer::Track::Step MPEG4Writer::Track::processBuffer(MediaBufferRef* buffer,
                                                           SampleLoop* loop) {
    // After a disk failure the source is still drained, so that its
    // producer never waits for a reader that is gone.
    if (mOwner->diskFailed()) {
        buffer->reset();
        return Step::kNext;
    }
    if ((*buffer)->range_length() == 0) {
        buffer->reset();
        ++loop->zeroLengthBuffers;
        return Step::kNext;
    }
    // The codec configuration is kept whatever the pause state: without it
    // the track could not be finished.
    int32_t isCodecConfig;
    if ((*buffer)->meta_data()->findInt32(android::kKeyIsCodecConfig, &isCodecConfig) &&
        isCodecConfig) {
        ++loop->buffers;
        return takeCodecConfig(buffer) ? Step::kNext : Step::kStop;
    }
    if (!settlePauseState(loop)) {
        buffer->reset();
        return Step::kNext;
    }
    ++loop->buffers;
    Sample sample;
    // False for parameter sets alone (the avcC already holds them), too.
    if (!takeSample(buffer, &sample)) return nextStep();
    if (reachedLimit(sample.size)) return Step::kStop;
    if (!toTrackTime(&sample, loop)) return nextStep();
    recordSample(sample, loop);
    return emitSample(&sample, loop);
}

// Read once per sample, so that a pause and resume in between cannot make
// it keep a gap: false drops the sample (paused); the first sample after a
// resume is marked to fold the pause out. A sample dropped later on keeps
// the mark for the next one.
bool MPEG4Writer::Track::settlePauseState(SampleLoop* loop) {
    int state = mPauseState.load();
    if (state == kResumed && mPauseState.compare_exchange_strong(state, kRunning)) {
        loop->foldPause = true;
        return true;
    }
    return state != kPaused;
}

bool MPEG4Writer::Track::takeCodecConfig(MediaBufferRef* buffer) {
    if (mGotAllCodecSpecificData) return takeRepeatedCodecConfig(buffer);
    const uint8_t* data = (const uint8_t*)(*buffer)->data() + (*buffer)->range_offset();
    const size_t size = (*buffer)->range_length();
    mRawCodecConfig.assign(data, data + size);
    // A configuration the encoder got wrong ends this track as malformed
    // instead of taking the whole process down. The esds descriptors have
    // one-byte lengths.
    const bool fits = mIsAvc ? makeAVCCodecSpecificData(data, size) == OK
                             : !mIsMpeg4OrAac || size + kEsdsOverheadBytes < 128;
    if (!fits) {
        ALOGE("The %s encoder's configuration (%zu bytes) cannot be described", typeName(), size);
        mIsMalformedConfig = true;
        mOutputError = android::ERROR_MALFORMED;
        buffer->reset();
        return false;
    }
    if (mIsMpeg4OrAac) mCodecSpecificData.assign(data, data + size);
    buffer->reset();
    mGotAllCodecSpecificData = true;
    return true;
}

// Some encoders repeat their configuration; a different one would describe
// samples that the track's one sample entry cannot.
bool MPEG4Writer::Track::takeRepeatedCodecConfig(MediaBufferRef* buffer) {
    const uint8_t* data = (const uint8_t*)(*buffer)->data() + (*buffer)->range_offset();
    const size_t size = (*buffer)->range_length();
    const bool same =
        size == mRawCodecConfig.size() && memcmp(data, mRawCodecConfig.data(), size) == 0;
    buffer->reset();
    if (!same) return rejectOutput("a second, different configuration");
    ALOGW("The %s encoder repeated its configuration: ignored", typeName());
    return true;
}

// Copies the sample: the encoder wants its buffer back right away, and the
// sample may wait in a chunk for up to the interleave duration. The
// buffer's metadata is read before it goes back, as the encoder may reuse it.
// False for an access unit with nothing to store.
bool MPEG4Writer::Track::takeSample(MediaBufferRef* buffer, Sample* sample) {
    MediaBuffer* source = buffer->get();
    const uint8_t* data = (const uint8_t*)source->data() + source->range_offset();
    bool taken = readSampleTimes(source->meta_data(), sample);
    if (taken && mIsAvc) {
        taken = copyAccessUnit(data, source->range_length(), sample);
    } else if (taken) {
        sample->copy.reset(mSamplePool.acquire(source->range_length()));
        memcpy(sample->copy->data(), data, source->range_length());
    }
    buffer->reset();
    if (!taken) return false;
    sample->size = (uint32_t)sample->copy->range_length();
    return sample->size > 0;
}

bool MPEG4Writer::Track::readSampleTimes(const sp<MetaData>& meta, Sample* sample) {
    int32_t isSync = false;
    meta->findInt32(kKeyIsSyncFrame, &isSync);
    sample->isSync = isSync != 0;
    if (!meta->findInt64(kKeyTime, &sample->timestampUs)) {
        return rejectOutput("a sample without a time");
    }
    if (!mIsAudio && !meta->findInt64(kKeyDecodingTime, &sample->decodingTimeUs)) {
        return rejectOutput("a sample without a decoding time");
    }
    sample->hasDriftTime = meta->findInt64(kKeyDriftTime, &sample->driftTimeUs);
    return true;
}

// An Annex B access unit becomes one sample whose NAL units each carry
// their own length: several slices, delimiters and SEI stay separate units.
bool MPEG4Writer::Track::copyAccessUnit(const uint8_t* data, size_t size, Sample* sample) {
    const std::vector<std::pair<size_t, size_t>> units = splitAnnexB(data, size);
    const size_t prefixBytes = mOwner->useNalLengthFour() ? 4 : 2;
    for (const auto& u : units) {
        if (prefixBytes == 2 && u.second >= 65536u) {
            return rejectOutput("a NAL unit too long for 2-byte lengths");
        }
    }
    const size_t bytes = lengthPrefixedSize(data, units, prefixBytes);
    sample->copy.reset(mSamplePool.acquire(bytes > 0 ? bytes : 1));
    writeLengthPrefixed(data, units, prefixBytes, (uint8_t*)sample->copy->data());
    sample->copy->set_range(0, bytes);
    return true;
}

// Max file size or duration handling.
bool MPEG4Writer::Track::reachedLimit(uint32_t sampleSize) {
    mMdatSizeBytes += sampleSize;
    updateTrackSizeEstimate();
    if (mOwner->exceedsFileSizeLimit()) {
        mOwner->notifyLimit(android::MEDIA_RECORDER_INFO_MAX_FILESIZE_REACHED);
        return true;
    }
    if (mOwner->exceedsFileDurationLimit()) {
        mOwner->notifyLimit(android::MEDIA_RECORDER_INFO_MAX_DURATION_REACHED);
        return true;
    }
    return false;
}

// Turns the sample's time stamps into track time; false drops the sample.
bool MPEG4Writer::Track::toTrackTime(Sample* sample, SampleLoop* loop) {
    int64_t& timestampUs = sample->timestampUs;
    if (timestampUs <= 0 || timestampUs < loop->previousPausedDurationUs) {
        ALOGW("previous timestamp %lld gt timestamp %lld",
              (long long)loop->previousPausedDurationUs, (long long)timestampUs);
        return false;
    }
    if (mTable.sampleCount() == 0) startTrackTime(*sample, loop);
    if (loop->foldPause) {
        // The pause shrinks to one ordinary sample interval. A pause shorter
        // than that (the encoder's time stamps jitter) folds nothing out.
        int64_t durExcludingEarlierPausesUs = timestampUs - loop->previousPausedDurationUs;
        CHECK_GE(durExcludingEarlierPausesUs, 0ll);
        int64_t pausedDurationUs = durExcludingEarlierPausesUs - mTrackDurationUs.load();
        if (pausedDurationUs > loop->lastDurationUs) {
            loop->previousPausedDurationUs += pausedDurationUs - loop->lastDurationUs;
        }
        loop->foldPause = false;
    }
    timestampUs -= loop->previousPausedDurationUs;
    CHECK_GE(timestampUs, 0ll);
    if (!mIsAudio && !toDecodingOrder(sample, loop)) return false;

    if (mOwner->isRealTimeRecording() && mIsAudio && sample->hasDriftTime) {
        updateDriftTime(sample->driftTimeUs);
    }
    CHECK_GE(timestampUs, 0ll);
    sample->durationTicks =
        ticks(timestampUs, mTimeScale) - ticks(loop->lastTimestampUs, mTimeScale);
    if (sample->durationTicks < 0ll) {
        // Checked before anything is recorded, so a dropped sample
        // leaves no entry behind in any table.
        ALOGW("timestampUs %lld < lastTimestampUs %lld for %s track", (long long)timestampUs,
              (long long)loop->lastTimestampUs, typeName());
        return false;
    }
    if (timestampUs > mTrackDurationUs.load()) mTrackDurationUs = timestampUs;
    return true;
}

// Track time starts at the first sample's decoding time when that comes
// first; otherwise an encoder whose first frame is decoded before it is
// presented would have every frame dropped.
void MPEG4Writer::Track::startTrackTime(const Sample& sample, SampleLoop* loop) {
    if (!mIsAudio && sample.decodingTimeUs > 0 && sample.decodingTimeUs < sample.timestampUs) {
        mStartTimestampUs = sample.decodingTimeUs;
    } else {
        mStartTimestampUs = sample.timestampUs;
    }
    mOwner->setStartTimestampUs(mStartTimestampUs);
    loop->previousPausedDurationUs = mStartTimestampUs;
}

// Video samples are stored by decoding time; the presentation time becomes
// a composition offset.
bool MPEG4Writer::Track::toDecodingOrder(Sample* sample, SampleLoop* loop) {
    sample->decodingTimeUs -= loop->previousPausedDurationUs;
    if (sample->decodingTimeUs < 0) return false;
    int64_t cttsOffsetTimeUs = sample->timestampUs + kMaxCttsOffsetTimeUs - sample->decodingTimeUs;
    if (cttsOffsetTimeUs < 0) return rejectOutput("a decoding time far after the presentation");
    sample->timestampUs = sample->decodingTimeUs;
    sample->compositionOffsetTicks = ticks(cttsOffsetTimeUs, mTimeScale);
    if (sample->compositionOffsetTicks > 0xFFFFFFFFLL) {
        return rejectOutput("a presentation time far after the decoding");
    }
    return true;
}

void MPEG4Writer::Track::recordSample(const Sample& sample, SampleLoop* loop) {
    mTable.addSample(sample.size, sample.durationTicks, sample.compositionOffsetTicks,
                     sample.isSync);
    loop->lastDurationUs = sample.timestampUs - loop->lastTimestampUs;
    loop->lastTimestampUs = sample.timestampUs;
    if (mTrackProgress) {
        if (mLastProgressTimeUs <= 0) mLastProgressTimeUs = mStartTimestampUs;
        trackProgressStatus(sample.timestampUs);
    }
}

namespace {
journal::SampleInfo journalSample(uint32_t size, int64_t durationTicks, int64_t offsetTicks,
                                  bool isSync) {
    journal::SampleInfo info;
    info.size = size;
    info.deltaTicks = durationTicks > 0xFFFFFFFFLL ? 0xFFFFFFFFu : (uint32_t)durationTicks;
    info.compositionOffsetTicks = (uint32_t)offsetTicks;
    info.isSync = isSync;
    return info;
}
}  // namespace

MPEG4Writer::Track::Step MPEG4Writer::Track::emitSample(Sample* sample, SampleLoop* loop) {
    const journal::SampleInfo info = journalSample(sample->size, sample->durationTicks,
                                                   sample->compositionOffsetTicks, sample->isSync);
    if (!loop->hasMultipleTracks) {
        // The only track writes its samples itself, as one chunk.
        mJournalBatch.push_back(info);
        writeOwnSample(sample);
        return Step::kNext;
    }
    const int64_t timestampUs = sample->timestampUs;
    mPendingChunkSamples.push_back(std::move(sample->copy));
    mPendingChunkInfo.push_back(info);
    if (loop->interleaveDurationUs == 0) {
        mTable.addChunkWithOwnEntry(1);
        bufferChunk(timestampUs);
    } else if (loop->chunkTimestampUs == 0) {
        loop->chunkTimestampUs = timestampUs;
    } else if (timestampUs - loop->chunkTimestampUs > loop->interleaveDurationUs) {
        mTable.addChunk((uint32_t)mPendingChunkSamples.size());
        bufferChunk(timestampUs);
        loop->chunkTimestampUs = timestampUs;
    }
    return Step::kNext;
}

// The journal takes the samples in batches of about the interval in which
// a killed recording may lose them. A sample that did not reach the disk
// whole is left out of it.
void MPEG4Writer::Track::writeOwnSample(Sample* sample) {
    const journal::SampleInfo info = mJournalBatch.back();
    mJournalBatch.pop_back();
    if (!mOwner->prepareJournal(mJournalBatch.size() + 1)) {
        flushJournalBatch();
        return;
    }
    int64_t offset = mOwner->addSample_l(sample->copy.get());
    if (mTable.chunkOffsetCount() == 0) addChunkOffset(offset);
    // The batch's CRC ties the journal to the bytes that reached the file.
    const MediaBufferRef& copy = sample->copy;
    const uint32_t crc =
        journal::crc32((const uint8_t*)copy->data() + copy->range_offset(), copy->range_length(),
                       mJournalBatch.empty() ? 0 : mJournalBatchCrc);
    sample->copy.reset();
    if (mOwner->mFile->status() != OK) {
        mOwner->noteDiskFailure();
        flushJournalBatch();
        return;
    }
    if (mJournalBatch.empty()) {
        mJournalBatchOffset = offset;
        mJournalBatchStartUs = sample->timestampUs;
    }
    mJournalBatch.push_back(info);
    mJournalBatchCrc = crc;
    if (sample->timestampUs - mJournalBatchStartUs >= kJournalIntervalUs) flushJournalBatch();
}

void MPEG4Writer::Track::flushJournalBatch() {
    mOwner->journalChunk(this, mJournalBatchOffset, mJournalBatchCrc, mJournalBatch);
    mJournalBatch.clear();
}

status_t MPEG4Writer::Track::finalStatus(status_t err) {
    mPlayable = !mIsMalformedConfig && !isTrackMalFormed();
    if (!mPlayable) err = android::ERROR_MALFORMED;
    if (err != OK && err != android::ERROR_END_OF_STREAM) {
        ALOGE("The %s track ended with error %d after %d samples", typeName(), err,
              (int)mTable.sampleCount());
    }
    if (err == OK || err == android::ERROR_END_OF_STREAM) {
        status_t ioErr = mOwner->ioStatus();
        if (ioErr != OK) err = ioErr;
    }
    return err;
}

// The last chunk goes out and the open table runs are closed.
void MPEG4Writer::Track::finishTrack(SampleLoop* loop) {
    if (!loop->hasMultipleTracks) {
        flushJournalBatch();
        mTable.addChunkWithOwnEntry(mTable.sampleCount());
    } else if (!mPendingChunkSamples.empty()) {
        mTable.addChunkWithOwnEntry((uint32_t)mPendingChunkSamples.size());
        bufferChunk(loop->lastTimestampUs);
    }
    mTable.finishSamples();
    // The last sample lasts as long as the one before it; a lone sample
    // gets no duration.
    if (mTable.sampleCount() == 1) loop->lastDurationUs = 0;

    mSamplePool.close();
    mTrackDurationUs += loop->lastDurationUs;
    mReachedEOS = true;
}

}  // namespace qor
