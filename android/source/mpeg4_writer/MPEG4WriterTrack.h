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

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <utils/String8.h>

#include "mpeg4_writer/ListTableEntries.h"
#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/SampleBufferPool.h"

namespace qor {

class MPEG4Writer::Track {
public:
    Track(MPEG4Writer* owner, const sp<android::MediaSource>& source, size_t trackId);
    ~Track();

    status_t start(android::MetaData* params);
    status_t stop();
    status_t pause();
    bool reachedEOS() const { return mReachedEOS.load(); }

    int64_t getDurationUs() const { return mTrackDurationUs.load(); }
    int64_t getEstimatedTrackSizeBytes() const { return mEstimatedTrackSizeBytes.load(); }
    void writeTrackHeader(bool use32BitOffset);
    void bufferChunk(int64_t timestampUs);
    bool isAvc() const { return mIsAvc; }
    bool isAudio() const { return mIsAudio; }
    bool isMPEG4() const { return mIsMpeg4OrAac; }
    void addChunkOffset(int64_t offset);
    int32_t getTrackId() const { return (int32_t)mTrackId; }
    void dump(int fd, const std::vector<android::String8>& args) const;

private:
    struct AVCParamSet {
        AVCParamSet(uint16_t length, const uint8_t* data) : mLength(length), mData(data) {}
        uint16_t mLength;
        const uint8_t* mData;
    };

    MPEG4Writer* mOwner;
    sp<android::MetaData> mMeta;
    sp<android::MediaSource> mSource;
    std::atomic<bool> mDone;
    std::atomic<bool> mPaused;
    std::atomic<bool> mResumed;
    bool mStarted;
    std::atomic<bool> mReachedEOS;
    bool mIsAvc;
    bool mIsAudio;
    bool mIsMpeg4OrAac;
    bool mIsMalformedConfig;
    uint32_t mTrackId;
    std::atomic<int64_t> mTrackDurationUs;
    std::atomic<int64_t> mEstimatedTrackSizeBytes;
    int64_t mMdatSizeBytes;
    int32_t mTimeScale;
    pthread_t mThread;

    // Declared before the samples that return to it.
    SampleBufferPool mSamplePool;
    std::list<android::MediaBuffer*> mPendingChunkSamples;

    bool mSameSizeSamples;
    ListTableEntries<uint32_t>* mStszTableEntries;
    ListTableEntries<uint32_t>* mStcoTableEntries;
    ListTableEntries<uint64_t>* mCo64TableEntries;
    ListTableEntries<uint32_t>* mStscTableEntries;
    ListTableEntries<uint32_t>* mStssTableEntries;
    ListTableEntries<uint32_t>* mSttsTableEntries;
    ListTableEntries<uint32_t>* mCttsTableEntries;
    std::atomic<uint32_t> mChunkOffsetCount;

    int64_t mMinCttsOffsetTicks;
    int64_t mMaxCttsOffsetTicks;

    std::list<AVCParamSet> mSpsList;
    std::list<AVCParamSet> mPpsList;
    uint8_t mProfileIdc;
    uint8_t mProfileCompatible;
    uint8_t mLevelIdc;

    uint8_t* mCodecSpecificData;
    size_t mCodecSpecificDataSize;
    bool mGotAllCodecSpecificData;
    bool mTrackProgress;

    int64_t mLastProgressTimeUs;
    int64_t mProgressIntervalUs;
    int64_t mStartTimestampUs;
    int32_t mRotationDegrees;

    static void* ThreadWrapper(void* me);
    status_t threadEntry();

    status_t makeAVCCodecSpecificData(const uint8_t* data, size_t size);
    const uint8_t* parseParamSet(const uint8_t* data, size_t length, int type, size_t* paramSetLen);
    status_t copyAVCCodecSpecificData(const uint8_t* data, size_t size);
    status_t parseAVCCodecSpecificData(const uint8_t* data, size_t size);

    void updateTrackSizeEstimate();
    void addOneStscTableEntry(size_t chunkId, size_t sampleId);
    void addOneStssTableEntry(size_t sampleId);
    void addOneSttsTableEntry(size_t sampleCount, uint32_t delta);
    void addOneCttsTableEntry(size_t sampleCount, int32_t sampleOffset);

    bool isTrackMalFormed() const;
    void trackProgressStatus(int64_t timeUs);
    void updateDriftTime(int64_t driftTimeUs);
    void setTimeScale();
    const char* typeName() const { return mIsAudio ? "Audio" : "Video"; }
    int64_t getStartTimeOffsetScaledTime() const;

    // Box writers of the trak.
    void writeMdhdBox(uint64_t now);
    void writeMdiaBox(uint64_t now, bool use32BitOffset);
    void writeMinfBox(bool use32BitOffset);
    void writeHdlrBox();
    void writeTkhdBox(uint64_t now);
    void writeMp4aEsdsBox();
    void writeMp4vEsdsBox();
    void writeEsdsTail();
    void writeAudioFourCCBox();
    void writeVideoFourCCBox();
    void writeStblBox(bool use32BitOffset);
    void writeSmhdBox();
    void writeVmhdBox();
    void writeDinfBox();
    void writeDrefBox();
    void writeUrlBox();
    void writeStsdBox();
    void writeStszBox();
    void writeStscBox();
    void writeStcoBox(bool use32BitOffset);
    void writeSttsBox();
    void writeCttsBox();
    void writeStssBox();
    void writeD263Box();
    void writeDamrBox();
    void writePaspBox();
    void writeAvccBox();

    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;
};

}  // namespace qor

#endif  // QOR_MPEG4_WRITER_TRACK_H_
