// Header durations of a track from the totals of its sample table.
#include "mpeg4_writer/TrackDurations.h"

namespace qor {

// Whole units and the rest apart: no product overflows for any duration a
// header can hold.
uint64_t rescaleTicks(uint64_t ticks, int32_t from, int32_t to) {
    if (from <= 0 || to <= 0) return 0;
    const uint64_t f = (uint64_t)from, t = (uint64_t)to;
    return ticks / f * t + ((ticks % f) * t + f / 2) / f;
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

}  // namespace qor
