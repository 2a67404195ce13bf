/*
 * One track of the MP4 writer: reads its source on its own thread, fills the
 * sample tables and hands samples to the file (one track) or, in chunks, to
 * the writer thread (several tracks). At stop it writes its trak box.
 */
#ifndef QOR_MPEG4_WRITER_TRACK_H_
#define QOR_MPEG4_WRITER_TRACK_H_

#include <stdint.h>

#include <atomic>
#include <list>
#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <utils/String8.h>

#include "common/MediaBufferRef.h"
#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/SampleBufferPool.h"
#include "mpeg4_writer/SampleTable.h"
#include "mpeg4_writer/TrackDurations.h"

namespace qor {

class MPEG4Writer::Track {
public:
    Track(MPEG4Writer* owner, const sp<android::MediaSource>& source, size_t trackId);
    ~Track();

    status_t start(android::MetaData* params);
    status_t stop();
    // Stops the source before the thread, which may wait in it (a start
    // that failed half-way).
    void abandon();
    // Whether the trak can describe the samples (it has some, in a form a
    // player takes); known once the thread ended.
    bool isPlayable() const { return mReachedEOS.load() && mPlayable; }
    status_t pause();
    bool reachedEOS() const { return mReachedEOS.load(); }

    int64_t getDurationUs() const { return mTrackDurationUs.load(); }
    int64_t getEstimatedTrackSizeBytes() const { return mEstimatedTrackSizeBytes.load(); }
    // Writes the trak box; the track's tables stay as they are.
    void writeTrackHeader(bool use32BitOffset, uint64_t now) const;
    // The header durations, from the finished sample tables.
    TrackDurations durations() const;
    void bufferChunk(int64_t timestampUs);
    bool isAvc() const { return mIsAvc; }
    bool isAudio() const { return mIsAudio; }
    bool isMPEG4() const { return mIsMpeg4OrAac; }
    void addChunkOffset(int64_t offset);
    int32_t getTrackId() const { return (int32_t)mTrackId; }
    void dump(int fd, const std::vector<android::String8>& args) const;

    // What the journal records of the track; false until the sample entry
    // can be written. Called by the thread that journals.
    bool journalInfo(journal::TrackInfo* info) const;
    bool isJournaled() const { return mJournaled; }
    void setJournaled() { mJournaled = true; }

private:
    // What the track thread keeps from one sample to the next.
    struct SampleLoop {
        int64_t interleaveDurationUs = 0;
        bool hasMultipleTracks = false;
        int32_t buffers = 0;
        int32_t zeroLengthBuffers = 0;
        int64_t chunkTimestampUs = 0;
        int64_t lastTimestampUs = 0;  // of the previous sample, in track time
        int64_t lastDurationUs = 0;   // between the previous two samples
        int64_t previousPausedDurationUs = 0;
        bool foldPause = false;  // the next kept sample follows a resume
    };
    // One sample on its way into the tables and the file.
    struct Sample {
        MediaBufferRef copy;
        uint32_t size = 0;  // in the file, with the NAL length prefixes
        bool isSync = false;
        int64_t timestampUs = 0;
        int64_t decodingTimeUs = 0;
        bool hasDriftTime = false;
        int64_t driftTimeUs = 0;
        int64_t compositionOffsetTicks = 0;
        int64_t durationTicks = 0;  // since the previous sample
    };
    enum class Step { kNext, kStop };
    // What an esds box adds to the configuration in its descriptor lengths.
    static constexpr size_t kEsdsOverheadBytes = 23;

    MPEG4Writer* mOwner;
    sp<android::MetaData> mMeta;
    sp<android::MediaSource> mSource;
    std::atomic<bool> mDone;
    // One state, so that the track thread never sees a resume half made:
    // kResumed until its next sample has folded the pause out.
    enum PauseState : int { kRunning, kPaused, kResumed };
    std::atomic<int> mPauseState;
    bool mStarted;
    std::atomic<bool> mReachedEOS;
    bool mIsAvc;
    bool mIsAudio;
    bool mIsMpeg4OrAac;
    bool mIsMalformedConfig;
    bool mPlayable;  // set by the track thread before mReachedEOS
    uint32_t mTrackId;
    std::atomic<int64_t> mTrackDurationUs;
    std::atomic<int64_t> mEstimatedTrackSizeBytes;
    int64_t mMdatSizeBytes;
    int32_t mTimeScale;
    pthread_t mThread;

    // Declared before the samples that return to it.
    SampleBufferPool mSamplePool;
    std::list<MediaBufferRef> mPendingChunkSamples;

    SampleTable mTable;
    // The pending chunk's samples as the journal records them.
    std::vector<journal::SampleInfo> mPendingChunkInfo;
    // The only track journals its samples itself, a batch at a time.
    std::vector<journal::SampleInfo> mJournalBatch;
    int64_t mJournalBatchOffset = 0;
    int64_t mJournalBatchStartUs = 0;
    uint32_t mJournalBatchCrc = 0;  // of the batch's bytes in the file
    bool mJournaled = false;

    std::vector<uint8_t> mCodecSpecificData;
    // The configuration as the encoder handed it over (a repeat must match).
    std::vector<uint8_t> mRawCodecConfig;
    bool mGotAllCodecSpecificData;
    // Set by the track thread when the encoder's output ended the track.
    status_t mOutputError = android::OK;
    bool mTrackProgress;

    int64_t mLastProgressTimeUs;
    int64_t mProgressIntervalUs;
    int64_t mStartTimestampUs;
    int32_t mRotationDegrees;

    static void* ThreadWrapper(void* me);
    status_t threadEntry();

    // The steps of the track thread.
    void nameAndPrioritizeThread();
    status_t readSamples(SampleLoop* loop);
    Step processBuffer(MediaBufferRef* buffer, SampleLoop* loop);
    bool settlePauseState(SampleLoop* loop);
    bool takeCodecConfig(MediaBufferRef* buffer);
    bool takeRepeatedCodecConfig(MediaBufferRef* buffer);
    bool takeSample(MediaBufferRef* buffer, Sample* sample);
    bool readSampleTimes(const sp<android::MetaData>& meta, Sample* sample);
    bool copyAccessUnit(const uint8_t* data, size_t size, Sample* sample);
    // Ends the track on the encoder's unusable output; returns false.
    bool rejectOutput(const char* what);
    Step nextStep() const { return mOutputError == android::OK ? Step::kNext : Step::kStop; }
    bool reachedLimit(uint32_t sampleSize);
    bool toTrackTime(Sample* sample, SampleLoop* loop);
    void startTrackTime(const Sample& sample, SampleLoop* loop);
    bool toDecodingOrder(Sample* sample, SampleLoop* loop);
    void recordSample(const Sample& sample, SampleLoop* loop);
    Step emitSample(Sample* sample, SampleLoop* loop);
    void writeOwnSample(Sample* sample);
    void flushJournalBatch();
    status_t finalStatus(status_t err);
    void finishTrack(SampleLoop* loop);

    status_t makeAVCCodecSpecificData(const uint8_t* data, size_t size);
    status_t startThread();
    void readStartParams(android::MetaData* params, int64_t* startTimeUs);
    int64_t startTimeOffsetUs() const;

    void updateTrackSizeEstimate();
    bool isTrackMalFormed() const;
    void trackProgressStatus(int64_t timeUs);
    void updateDriftTime(int64_t driftTimeUs);
    void setTimeScale();
    const char* typeName() const { return mIsAudio ? "Audio" : "Video"; }
    int64_t getStartTimeOffsetScaledTime() const;
    // The encoder's priming in media ticks (0 when it names none).
    uint64_t primingTicks() const;

    // Box writers of the trak.
    BoxWriter* out() const { return &mOwner->mBoxWriter; }
    void writeMdhdBox(uint64_t now, uint64_t duration) const;
    void writeEdtsBox(const TrackDurations& durations) const;
    void writeMdiaBox(uint64_t now, uint64_t duration, bool use32BitOffset) const;
    void writeMinfBox(bool use32BitOffset) const;
    void writeHdlrBox() const;
    void writeTkhdBox(uint64_t now, uint64_t duration) const;
    void writeMp4aEsdsBox() const;
    void writeMp4vEsdsBox() const;
    void writeEsdsHead(uint8_t esFlags, uint8_t objectType, uint8_t streamType) const;
    void writeEsdsTail() const;
    void writeAudioFourCCBox() const;
    void writeVideoFourCCBox() const;
    void writeStblBox(bool use32BitOffset) const;
    void writeSmhdBox() const;
    void writeVmhdBox() const;
    void writeDinfBox() const;
    void writeDrefBox() const;
    void writeUrlBox() const;
    void writeStsdBox() const;
    void writeD263Box() const;
    void writeDamrBox() const;
    void writePaspBox() const;
    void writeAvccBox() const;

    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;
};

}  // namespace qor

#endif  // QOR_MPEG4_WRITER_TRACK_H_
