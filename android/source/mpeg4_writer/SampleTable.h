/*
 * The sample tables of one track: sizes (stsz), decoding-time runs (stts),
 * composition-offset runs (ctts), sync samples (stss), sample-to-chunk runs
 * (stsc) and chunk offsets (stco/co64). The track thread appends samples;
 * the chunk offsets are appended by whoever writes the chunk (the writer
 * thread with several tracks), so they are kept apart. Writing the boxes
 * leaves the tables as they are.
 */
#ifndef QOR_SAMPLE_TABLE_H_
#define QOR_SAMPLE_TABLE_H_

#include <stdint.h>

#include <atomic>

#include "mpeg4_writer/BoxWriter.h"
#include "mpeg4_writer/ListTableEntries.h"

namespace qor {

class SampleTable {
public:
    // Tables without composition offsets (audio) ignore them.
    explicit SampleTable(bool hasCompositionOffsets);

    // One sample, in decoding order: its size in the file, the ticks since
    // the previous sample (since time 0 for the first) and, for video, its
    // biased composition offset in ticks.
    void addSample(uint32_t size, int64_t deltaTicks, int64_t compositionOffsetTicks, bool isSync);
    // Closes the open time runs at the end of the track: the last sample
    // lasts as long as the one before it; a lone sample gets no duration.
    void finishSamples();

    // A chunk of `samples` samples ends; runs of equal chunk sizes share
    // one stsc entry.
    void addChunk(uint32_t samples);
    // A chunk with an stsc entry of its own whatever came before.
    void addChunkWithOwnEntry(uint32_t samples);
    void addChunkOffset(int64_t offset, bool use32BitOffset);

    uint32_t sampleCount() const { return mSizes.count(); }
    uint32_t syncSampleCount() const { return mSyncSamples.count(); }
    uint32_t chunkOffsetCount() const { return mChunkOffsetCount.load(); }
    bool sameSizeSamples() const { return mSameSizeSamples; }
    // What the stts entries add up to (without the start offset written into
    // the first); complete once the samples are finished.
    uint64_t durationTicks() const { return mDurationTicks; }
    // Bytes the tables will take in the moov (without box headers).
    int64_t estimatedBoxBytes() const;

    // `startOffsetTicks` delays the first sample of a track that starts
    // after the movie.
    void writeSttsBox(BoxWriter* out, uint32_t startOffsetTicks) const;
    // Nothing when every sample has the same offset.
    void writeCttsBox(BoxWriter* out, uint32_t startOffsetTicks) const;
    void writeStssBox(BoxWriter* out) const;
    void writeStszBox(BoxWriter* out) const;
    void writeStscBox(BoxWriter* out) const;
    void writeStcoBox(BoxWriter* out, bool use32BitOffset) const;

private:
    void addSttsEntry(uint32_t sampleCount, uint32_t delta);
    void addCttsEntry(uint32_t sampleCount, int64_t offsetTicks);
    void addStscEntry(uint32_t chunkId, uint32_t samples);
    void addTimeRun(int64_t deltaTicks);
    void addCompositionOffsetRun(int64_t offsetTicks);

    const bool mHasCompositionOffsets;
    ListTableEntries<uint32_t> mSizes;
    ListTableEntries<uint32_t> mTimeRuns;
    ListTableEntries<uint32_t> mCompositionOffsetRuns;
    ListTableEntries<uint32_t> mSyncSamples;
    ListTableEntries<uint32_t> mChunkRuns;
    ListTableEntries<uint32_t> mChunkOffsets32;
    ListTableEntries<uint64_t> mChunkOffsets64;
    std::atomic<uint32_t> mChunkOffsetCount;

    bool mSameSizeSamples;
    uint64_t mDurationTicks;
    uint32_t mPreviousSize;
    // The open stts run.
    uint32_t mTimeRunSamples;
    int64_t mLastDeltaTicks;
    // The open ctts run.
    uint32_t mOffsetRunSamples;
    int64_t mLastOffsetTicks;
    int64_t mMinOffsetTicks;
    int64_t mMaxOffsetTicks;
    // The open stsc run.
    uint32_t mChunkCount;
    uint32_t mLastSamplesPerChunk;

    SampleTable(const SampleTable&) = delete;
    SampleTable& operator=(const SampleTable&) = delete;
};

}  // namespace qor

#endif  // QOR_SAMPLE_TABLE_H_
