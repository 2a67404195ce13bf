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
#include <sys/uio.h>

#include <atomic>
#include <list>
#include <vector>

#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MediaWriter.h>
#include <media/stagefright/MetaData.h>
#include <utils/Condition.h>
#include <utils/Mutex.h>
#include <utils/String8.h>

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
    int32_t numTracks();
    int64_t getStartTimestampUs();

    // First failure of a write or seek on the output file (OK when none).
    status_t ioStatus() const { return mIoStatus.load(); }

    // Box primitives; multi-byte values are written big-endian. They write
    // to the in-memory moov while it fits the reservation, else to the file.
    void writeInt8(int8_t x);
    void writeInt16(int16_t x);
    void writeInt32(int32_t x);
    void writeInt64(int64_t x);
    void writeFourcc(const char* s);
    void writeCString(const char* s);
    void write(const void* data, size_t size);
    void beginBox(const char* fourcc);
    void endBox();
    void writeCompositionMatrix(int degrees);

    // Header boxes (mvhd, tkhd, mdhd) take the 64-bit layout, version 1,
    // only when a time or duration does not fit 32 bits, so that every
    // file that fits keeps the common layout.
    static bool needsVersion1(uint64_t now, uint64_t duration);
    void writeVersionAndTimes(bool version1, uint32_t flags, uint64_t now);
    void writeTimeField(bool version1, uint64_t value);
    // Seconds since 1904-01-01, the epoch of the header boxes.
    static uint64_t mpeg4Time();
    // A duration in units of `timeScale`, rounded to nearest.
    static uint64_t scaledDuration(int64_t durationUs, int32_t timeScale);

protected:
    ~MPEG4Writer() override;

private:
    class Track;
    friend class Track;
    // Lets the interleaving tests queue chunks without running threads.
    friend class MPEG4WriterTestPeer;

    struct Chunk {
        Chunk() : mTrack(nullptr), mTimeStampUs(0) {}
        Chunk(Track* track, int64_t timeUs, std::list<android::MediaBuffer*>&& samples)
            : mTrack(track), mTimeStampUs(timeUs), mSamples(std::move(samples)) {}
        Track* mTrack;
        int64_t mTimeStampUs;
        std::list<android::MediaBuffer*> mSamples;
    };
    struct ChunkInfo {
        Track* mTrack;
        std::list<Chunk> mChunks;
    };

    int mFd;
    status_t mInitStatus;
    std::atomic<bool> mRealTimeRecording;
    bool mNalLengthFour;
    bool m32BitFileOffset;
    bool mFileSizeLimitRequested;
    bool mPaused;
    bool mStarted;
    bool mWriterThreadRunning;
    int64_t mWriteOffset;
    int64_t mMdatStart;
    uint8_t* mMoovBoxBuffer;
    int64_t mMoovBoxBufferOffset;
    bool mMoovInMemory;
    int64_t mFreeBoxStart;
    bool mStreamable;
    int64_t mEstimatedMoovBoxSize;
    uint32_t mInterleaveDuration;
    int32_t mTimeScale;
    int64_t mEarliestStartTimeUs;
    int32_t mLatitude;
    int32_t mLongitude;
    bool mHasGeoData;
    int32_t mStartTimeOffsetMs;
    std::atomic<status_t> mIoStatus;

    android::Mutex mLock;
    std::list<Track*> mTracks;
    std::vector<int64_t> mBoxes;

    bool mDone;
    pthread_t mWriterThread;
    std::list<ChunkInfo> mChunkQueues;
    android::Condition mChunkReady;
    int64_t mDriftTimeUs;

    void init();
    status_t startTracks(android::MetaData* param);
    status_t reset();
    void release();
    void writeFtyp(android::MetaData* param);
    int64_t estimateMoovBoxSize(int32_t bitRate);
    void writeMoovBox(int64_t durationUs);
    void writeMvhdBox(int64_t durationUs);
    void writeUdtaBox();
    void writeGeoDataBox();
    void writeCoordinate(int degreex10000, int wholeDigits);
    void patchMdatSize();

    // Checked file access: the first failure is kept in mIoStatus.
    void writeToFile(const void* data, size_t size);
    // Writes every piece in order, in as few system calls as possible.
    void writevToFile(struct iovec* iov, size_t count);
    void seekFile(int64_t offset);
    void noteIoError(const char* what, int err);

    // Sample writes (always to the file).
    int64_t addSample_l(android::MediaBuffer* buffer);
    int64_t addLengthPrefixedSample_l(android::MediaBuffer* buffer);
    // The big-endian NAL length prefix of a sample; returns its size.
    size_t makeNalLengthPrefix(size_t length, uint8_t* prefix);

    // Writer thread and chunk interleaving.
    status_t startWriterThread();
    void stopWriterThread();
    static void* ThreadWrapper(void* me);
    void threadFunc();
    void bufferChunk(Chunk&& chunk);
    bool findChunkToWrite(Chunk* chunk);
    void writeChunkToFile(Chunk* chunk);
    void writeAllChunks();

    // Called by the track threads.
    bool exceedsFileSizeLimit();
    bool exceedsFileDurationLimit();
    void setStartTimestampUs(int64_t timeUs);
    int64_t getDriftTimeUs();
    void setDriftTimeUs(int64_t driftTimeUs);
    void trackProgressStatus(size_t trackId, int64_t timeUs, status_t err);
    void notifyLimit(int what);

    MPEG4Writer(const MPEG4Writer&) = delete;
    MPEG4Writer& operator=(const MPEG4Writer&) = delete;
};

}  // namespace qor

#endif  // QOR_MPEG4_WRITER_H_
