// Sample tables of one track: appending samples and chunks, writing boxes.
#define LOG_TAG "MPEG4Writer"

#include "mpeg4_writer/SampleTable.h"

#include <arpa/inet.h>

#include <utils/Log.h>

namespace qor {

namespace {
const uint32_t kBlockEntries = 1000;

uint64_t toFileOrder64(uint64_t v) {
    return ((uint64_t)htonl((uint32_t)(v >> 32))) | ((uint64_t)htonl((uint32_t)v) << 32);
}
}  // namespace

SampleTable::SampleTable(bool hasCompositionOffsets)
    : mHasCompositionOffsets(hasCompositionOffsets),
      mSizes(kBlockEntries, 1),
      mTimeRuns(kBlockEntries, 2),
      mCompositionOffsetRuns(kBlockEntries, 2),
      mSyncSamples(kBlockEntries, 1),
      mChunkRuns(kBlockEntries, 3),
      mChunkOffsets32(kBlockEntries, 1),
      mChunkOffsets64(kBlockEntries, 1),
      mChunkOffsetCount(0),
      mSameSizeSamples(true),
      mDurationTicks(0),
      mPreviousSize(0),
      mTimeRunSamples(1),
      mLastDeltaTicks(0),
      mOffsetRunSamples(0),
      mLastOffsetTicks(-1),
      mMinOffsetTicks(0),
      mMaxOffsetTicks(0),
      mChunkCount(0),
      mLastSamplesPerChunk(0) {}

void SampleTable::addSttsEntry(uint32_t sampleCount, uint32_t delta) {
    if (delta == 0) {
        ALOGW("0-duration samples found: %d", (int)sampleCount);
    }
    mTimeRuns.add(htonl(sampleCount));
    mTimeRuns.add(htonl(delta));
    mDurationTicks += (uint64_t)sampleCount * delta;
}

void SampleTable::addCttsEntry(uint32_t sampleCount, int64_t offsetTicks) {
    mCompositionOffsetRuns.add(htonl(sampleCount));
    mCompositionOffsetRuns.add(htonl((uint32_t)(int32_t)offsetTicks));
}

void SampleTable::addStscEntry(uint32_t chunkId, uint32_t samples) {
    mChunkRuns.add(htonl(chunkId));
    mChunkRuns.add(htonl(samples));
    mChunkRuns.add(htonl(1));
}

void SampleTable::addSample(uint32_t size, int64_t deltaTicks, int64_t compositionOffsetTicks,
                            bool isSync) {
    mSizes.add(htonl(size));
    const uint32_t n = mSizes.count();
    if (n > 2) addTimeRun(deltaTicks);
    if (mSameSizeSamples && n >= 2 && mPreviousSize != size) mSameSizeSamples = false;
    mPreviousSize = size;
    if (mHasCompositionOffsets) addCompositionOffsetRun(compositionOffsetTicks);
    mLastDeltaTicks = deltaTicks;
    if (isSync) mSyncSamples.add(htonl(n));
}

// A delta is the duration of the sample before; the first sample keeps an
// stts entry of its own, later runs merge equal deltas.
void SampleTable::addTimeRun(int64_t deltaTicks) {
    if (mSizes.count() == 3 || deltaTicks != mLastDeltaTicks) {
        addSttsEntry(mTimeRunSamples, (uint32_t)mLastDeltaTicks);
        mTimeRunSamples = 1;
    } else {
        ++mTimeRunSamples;
    }
}

void SampleTable::addCompositionOffsetRun(int64_t offsetTicks) {
    if (mSizes.count() == 1) {
        addCttsEntry(1, offsetTicks);
        mOffsetRunSamples = 0;
        mLastOffsetTicks = offsetTicks;
        mMinOffsetTicks = mMaxOffsetTicks = offsetTicks;
        return;
    }
    if (offsetTicks == mLastOffsetTicks) {
        ++mOffsetRunSamples;
    } else {
        if (mOffsetRunSamples > 0) addCttsEntry(mOffsetRunSamples, mLastOffsetTicks);
        mOffsetRunSamples = 1;
        mLastOffsetTicks = offsetTicks;
    }
    if (offsetTicks > mMaxOffsetTicks) {
        mMaxOffsetTicks = offsetTicks;
    } else if (offsetTicks < mMinOffsetTicks) {
        mMinOffsetTicks = offsetTicks;
    }
}

void SampleTable::finishSamples() {
    const uint32_t n = mSizes.count();
    if (n == 1) {
        addSttsEntry(1, 0);
        if (mTimeRunSamples > 1) addSttsEntry(mTimeRunSamples - 1, 0);
    } else {
        ++mTimeRunSamples;
        if (n <= 2) {
            addSttsEntry(1, (uint32_t)mLastDeltaTicks);
            addSttsEntry(mTimeRunSamples - 1, (uint32_t)mLastDeltaTicks);
        } else {
            addSttsEntry(mTimeRunSamples, (uint32_t)mLastDeltaTicks);
        }
    }
    if (mHasCompositionOffsets && mOffsetRunSamples > 0) {
        addCttsEntry(mOffsetRunSamples, mLastOffsetTicks);
    }
}

void SampleTable::addChunk(uint32_t samples) {
    ++mChunkCount;
    if (mChunkCount == 1 || mLastSamplesPerChunk != samples) {
        mLastSamplesPerChunk = samples;
        addStscEntry(mChunkCount, samples);
    }
}

void SampleTable::addChunkWithOwnEntry(uint32_t samples) { addStscEntry(++mChunkCount, samples); }

void SampleTable::addChunkOffset(int64_t offset, bool use32BitOffset) {
    if (use32BitOffset) {
        mChunkOffsets32.add(htonl((uint32_t)offset));
    } else {
        mChunkOffsets64.add(toFileOrder64((uint64_t)offset));
    }
    mChunkOffsetCount.fetch_add(1);
}

int64_t SampleTable::estimatedBoxBytes() const {
    int64_t stcoBytes = (int64_t)mChunkOffsetCount.load() * 4;
    int64_t stszBytes = mSameSizeSamples ? 4 : (int64_t)mSizes.count() * 4;
    return (int64_t)mChunkRuns.count() * 12 + (int64_t)mSyncSamples.count() * 4 +
           (int64_t)mTimeRuns.count() * 8 + (int64_t)mCompositionOffsetRuns.count() * 8 +
           stcoBytes + stszBytes;
}

void SampleTable::writeSttsBox(BoxWriter* out, uint32_t startOffsetTicks) const {
    out->beginBox("stts");
    out->writeInt32(0);  // version=0, flags=0
    // The first sample of a later-starting track lasts longer, which keeps
    // the tracks aligned to the earliest start.
    CHECK_GT(mTimeRuns.count(), 0u);
    mTimeRuns.writeChanged(out, [startOffsetTicks](uint32_t pos, uint32_t value) {
        return pos == 1 ? htonl(ntohl(value) + startOffsetTicks) : value;
    });
    out->endBox();  // stts
}

void SampleTable::writeCttsBox(BoxWriter* out, uint32_t startOffsetTicks) const {
    if (!mHasCompositionOffsets) return;
    // Equal offsets everywhere: presentation order is decoding order.
    if (mMinOffsetTicks == mMaxOffsetTicks) return;
    if (mCompositionOffsetRuns.count() == 0) return;

    out->beginBox("ctts");
    out->writeInt32(0);  // version=0, flags=0
    // Every offset carries the same bias; the smallest one comes off all of
    // them, and the first sample moves like its stts entry.
    const uint32_t minOffset = (uint32_t)mMinOffsetTicks;
    mCompositionOffsetRuns.writeChanged(out, [=](uint32_t pos, uint32_t value) {
        if (pos % 2 == 0) return value;  // sample count
        uint32_t offset = ntohl(value) - minOffset;
        if (pos == 1) offset += startOffsetTicks;
        return htonl(offset);
    });
    out->endBox();  // ctts
}

void SampleTable::writeStssBox(BoxWriter* out) const {
    out->beginBox("stss");
    out->writeInt32(0);  // version=0, flags=0
    mSyncSamples.write(out);
    out->endBox();  // stss
}

void SampleTable::writeStszBox(BoxWriter* out) const {
    out->beginBox("stsz");
    out->writeInt32(0);  // version=0, flags=0
    out->writeInt32(0);
    mSizes.write(out);
    out->endBox();  // stsz
}

void SampleTable::writeStscBox(BoxWriter* out) const {
    out->beginBox("stsc");
    out->writeInt32(0);  // version=0, flags=0
    mChunkRuns.write(out);
    out->endBox();  // stsc
}

void SampleTable::writeStcoBox(BoxWriter* out, bool use32BitOffset) const {
    out->beginBox(use32BitOffset ? "stco" : "co64");
    out->writeInt32(0);  // version=0, flags=0
    if (use32BitOffset) {
        mChunkOffsets32.write(out);
    } else {
        mChunkOffsets64.write(out);
    }
    out->endBox();  // stco or co64
}

}  // namespace qor
