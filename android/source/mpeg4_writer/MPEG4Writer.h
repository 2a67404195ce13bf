/*
 * MP4 writer: turns one AVC/MPEG-4/H.263 video track and one AAC/AMR audio
 * track, each read from a MediaSource on its own thread, into an MP4 file.
 * Samples of several tracks are gathered into chunks and interleaved into
 * mdat by a writer thread; the moov box is written at stop, into space
 * reserved after ftyp when it fits, else at the end of the file.
 */
#ifndef QOR_MPEG4_WRITER_H_
#define QOR_MPEG4_WRITER_H_

#include <pthread.h>
#include <stdint.h>

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <android-base/thread_annotations.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MediaWriter.h>
#include <media/stagefright/MetaData.h>
#include <utils/Condition.h>
#include <utils/Mutex.h>
#include <utils/String8.h>

#include "common/MediaBufferRef.h"
#include "mpeg4_writer/BoxWriter.h"
#include "mpeg4_writer/ByteSink.h"
#include "mpeg4_writer/RecoveryJournal.h"

namespace android {
class MediaBuffer;
}

namespace qor {

using android::sp;
using android::status_t;

class MPEG4Writer : public android::MediaWriter {
public:
    explicit MPEG4Writer(const char* filename);
    explicit MPEG4Writer(int fd);
    // Writes through `sink` instead of a file (tests inject failures so).
    explicit MPEG4Writer(std::unique_ptr<IByteSink> sink);
    // The same, where `path` names the file the sink writes: the recording
    // keeps a recovery journal next to it and is mended from it at a stop
    // after a write failure.
    MPEG4Writer(std::unique_ptr<IByteSink> sink, const char* path);

    // Listener events besides the platform's: the chunks waiting for the
    // disk passed the cap (ext2 1) or fell back under half of it (ext2 0);
    // the disk failed (an error event), nothing more is written.
    static const int kInfoWriterBacklog = 0x7100;
    static const int kErrorWriterDisk = 0x7101;
    // Bytes of queued chunks past which the writer reports a backlog.
    void setMaxQueuedBytes(int64_t bytes) { mMaxQueuedBytes = bytes; }
    int64_t peakQueuedBytes() EXCLUDES(mLock);

    status_t initCheck() const { return mInitStatus; }

    status_t addSource(const sp<android::MediaSource>& source) override;
    bool reachedEOS() override;
    status_t start(android::MetaData* param = nullptr) override;
    status_t stop() override;
    status_t pause() override;
    status_t dump(int fd, const std::vector<android::String8>& args) override;
#if PLATFORM_LEVEL >= 21
    void setStartTimeOffsetMs(int ms) override { mStartTimeOffsetMs = ms; }
    int32_t getStartTimeOffsetMs() const override { return mStartTimeOffsetMs; }
#else
    void setStartTimeOffsetMs(int ms) { mStartTimeOffsetMs = ms; }
    int32_t getStartTimeOffsetMs() const { return mStartTimeOffsetMs; }
#endif

    void setInterleaveDuration(uint32_t durationUs) { mInterleaveDuration = durationUs; }
    uint32_t interleaveDuration() const { return mInterleaveDuration; }
    status_t setGeoData(int latitudex10000, int longitudex10000);

    bool use32BitFileOffset() const { return m32BitFileOffset; }
    bool useNalLengthFour() const { return mNalLengthFour; }
    bool isRealTimeRecording() const { return mRealTimeRecording.load(); }
    bool isFileStreamable() const { return mStreamable; }
    int64_t estimatedMoovBoxSize() const { return mEstimatedMoovBoxSize; }
    int32_t numTracks() EXCLUDES(mLock);
    int64_t getStartTimestampUs() EXCLUDES(mLock);

    // First failure of a write or seek on the output file (OK when none).
    status_t ioStatus() const {
        if (mDiskFailed.load()) return android::ERROR_IO;
        return mFile ? mFile->status() : android::OK;
    }

    // Header boxes (mvhd, tkhd, mdhd) take the 64-bit layout, version 1,
    // only when a time or duration does not fit 32 bits.
    static bool needsVersion1(uint64_t now, uint64_t duration) {
        return BoxWriter::needsVersion1(now, duration);
    }
    // Seconds since 1904-01-01, the epoch of the header boxes.
    static uint64_t mpeg4Time();

protected:
    ~MPEG4Writer() override;

private:
    class Track;
    friend class Track;
    // Lets the interleaving tests queue chunks without running threads.
    friend class MPEG4WriterTestPeer;

    struct Chunk {
        Chunk() : mTrack(nullptr), mTimeStampUs(0) {}
        Chunk(Track* track, int64_t timeUs, std::list<MediaBufferRef>&& samples)
            : mTrack(track), mTimeStampUs(timeUs), mSamples(std::move(samples)) {}
        Track* mTrack;
        int64_t mTimeStampUs;
        std::list<MediaBufferRef> mSamples;
        // The samples as the journal records them, when it is kept.
        std::vector<journal::SampleInfo> mInfo;
        int64_t bytes() const;
    };
    struct ChunkInfo {
        Track* mTrack;
        std::list<Chunk> mChunks;
    };

    // Lock order: mLock, then a track's sample buffer pool lock (a chunk's
    // samples go back to their pool while mLock may be held). Track state
    // shared with the track threads is atomic and takes no lock.
    android::Mutex mLock;

    std::unique_ptr<IByteSink> mFile;
    // Writes ftyp and the mdat header to the file, the moov to memory.
    BoxWriter mBoxWriter;
    status_t mInitStatus;
    std::atomic<bool> mRealTimeRecording;
    bool mNalLengthFour;
    bool m32BitFileOffset;
    bool mFileSizeLimitRequested;
    bool mPaused;
    bool mStarted;
    bool mWriterThreadRunning;
    int64_t mMdatStart;
    int64_t mFreeBoxStart;
    bool mStreamable;
    int64_t mEstimatedMoovBoxSize;
    uint32_t mInterleaveDuration;
    int32_t mTimeScale;
    int64_t mEarliestStartTimeUs GUARDED_BY(mLock);
    int32_t mLatitude;
    int32_t mLongitude;
    bool mHasGeoData;
    int32_t mStartTimeOffsetMs;

    // Added before start only; read without the lock afterwards.
    std::list<std::unique_ptr<Track>> mTracks;

    bool mDone GUARDED_BY(mLock);
    pthread_t mWriterThread;
    std::list<ChunkInfo> mChunkQueues GUARDED_BY(mLock);
    android::Condition mChunkReady;
    int64_t mDriftTimeUs GUARDED_BY(mLock);
    int64_t mQueuedBytes GUARDED_BY(mLock) = 0;
    int64_t mPeakQueuedBytes GUARDED_BY(mLock) = 0;
    int64_t mMaxQueuedBytes = 8 * 1024 * 1024;
    bool mBacklogged GUARDED_BY(mLock) = false;

    // The recovery journal, used by the one thread that writes samples
    // (the writer thread, or the only track's thread), then by stop.
    std::string mPath;
    // The file at mPath is this recording's own (opened by path, not handed in).
    bool mOwnsFile = false;
    RecoveryJournal mJournal;
    // Set at the first failed write: nothing more goes to the disk.
    std::atomic<bool> mDiskFailed{false};

    void init();
    // Creates and locks the file's journal (in memory when no file can
    // hold it); false when another recording or a recovery holds it.
    bool takeJournal();
    status_t startTracks(android::MetaData* param);
    void readStartParams(android::MetaData* param);
    void beginFile(android::MetaData* param);
    void reserveMoovSpace(android::MetaData* param);
    status_t reset();
    status_t stopTracks();
    // Tracks with samples the moov can describe; the others are left out.
    size_t playableTrackCount() const;
    void release();
    void writeFtyp(android::MetaData* param);
    int64_t estimateMoovBoxSize(int32_t bitRate);
    // The moov is always built in memory, then placed into its reservation
    // when it fits, else at the end of the file.
    void buildMoov(uint64_t now, MemoryByteSink* moov);
    void placeMoov(const std::vector<uint8_t>& moov);
    // The movie lasts as long as the longest track it holds.
    void writeMoovBox(uint64_t now);
    void writeMvhdBox(uint64_t duration, uint64_t now);
    void writeUdtaBox();
    void writeGeoDataBox();
    void writeCoordinate(int degreex10000, int wholeDigits);
    void patchMdatSize();
    int64_t fileOffset() const { return mFile->position(); }

    // Sample writes (always to the file).
    int64_t addSample_l(android::MediaBuffer* buffer);

    // Writer thread and chunk interleaving.
    status_t startWriterThread() EXCLUDES(mLock);
    void stopWriterThread() EXCLUDES(mLock);
    static void* ThreadWrapper(void* me);
    void threadFunc() EXCLUDES(mLock);
    void bufferChunk(Chunk&& chunk) EXCLUDES(mLock);
    bool findChunkToWrite(Chunk* chunk) REQUIRES(mLock);
    void writeChunkToFile(Chunk* chunk);
    void writeAllChunks() REQUIRES(mLock);
    void noteQueued_l(int64_t bytes) REQUIRES(mLock);

    // Journal and disk failure (see MPEG4WriterJournal.cpp).
    void openJournal();
    bool prepareJournal(size_t samples);
    void journalChunk(Track* track, int64_t offset, uint32_t crc,
                      const std::vector<journal::SampleInfo>& info);
    void noteDiskFailure();
    bool diskFailed() const { return mDiskFailed.load(); }
    // Mends the file from the journal after a disk failure, then closes it.
    status_t finishFromJournal(status_t err);
    // Stop when no track is playable.
    status_t discardUnplayable(status_t err);

    // Called by the track threads.
    bool exceedsFileSizeLimit();
    bool exceedsFileDurationLimit();
    void setStartTimestampUs(int64_t timeUs) EXCLUDES(mLock);
    int64_t getDriftTimeUs() EXCLUDES(mLock);
    void setDriftTimeUs(int64_t driftTimeUs) EXCLUDES(mLock);
    void trackProgressStatus(size_t trackId, int64_t timeUs, status_t err) EXCLUDES(mLock);
    void notifyLimit(int what);

    MPEG4Writer(const MPEG4Writer&) = delete;
    MPEG4Writer& operator=(const MPEG4Writer&) = delete;
};

}  // namespace qor

#endif  // QOR_MPEG4_WRITER_H_
