// Header durations of a track from the totals of its sample table.
#include "mpeg4_writer/TrackDurations.h"

namespace qor {

// Whole units and the rest apart: no product overflows for any duration a
// header can hold. Rounded up: a player that stops at the movie's duration
// must not stop before the last sample ends.
uint64_t rescaleTicks(uint64_t ticks, int32_t from, int32_t to) {
    if (from <= 0 || to <= 0) return 0;
    const uint64_t f = (uint64_t)from, t = (uint64_t)to;
    return ticks / f * t + ((ticks % f) * t + f - 1) / f;
}

TrackDurations trackDurations(const TrackTiming& timing) {
    TrackDurations d;
    d.mediaTicks = timing.sampleTicks + timing.startOffsetTicks;
    // A track that ends within its priming has no sound to skip to.
    if (timing.primingTicks > 0 && d.mediaTicks > timing.primingTicks) {
        d.hasEdit = true;
        d.editMediaTime = timing.primingTicks;
        d.editTicks = rescaleTicks(d.mediaTicks - timing.primingTicks, timing.mediaTimeScale,
                                   timing.movieTimeScale);
        d.trackTicks = d.editTicks;
        return d;
    }
    d.trackTicks = rescaleTicks(d.mediaTicks, timing.mediaTimeScale, timing.movieTimeScale);
    return d;
}

void writeEditList(BoxWriter* out, const TrackDurations& d) {
    if (!d.hasEdit) return;
    const bool version1 = d.editTicks > 0xFFFFFFFFull || d.editMediaTime > 0x7FFFFFFFull;
    out->beginBox("edts");
    out->beginBox("elst");
    out->writeInt32(version1 ? 0x01000000 : 0);  // version, flags
    out->writeInt32(1);                          // entry count
    if (version1) {
        out->writeInt64((int64_t)d.editTicks);
        out->writeInt64((int64_t)d.editMediaTime);
    } else {
        out->writeInt32((int32_t)d.editTicks);
        out->writeInt32((int32_t)d.editMediaTime);
    }
    out->writeInt16(1);  // media rate 1.0
    out->writeInt16(0);
    out->endBox();  // elst
    out->endBox();  // edts
}

}  // namespace qor
