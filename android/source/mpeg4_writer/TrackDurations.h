/*
 * The durations a trak's headers give, all taken from what its samples
 * last, so that every box of a file tells the same length: mdhd the sum of
 * the sample durations (the first of which carries the track's start
 * offset), an edit that skips the encoder's priming and plays every sample
 * after it, tkhd and mvhd that edit's length. Plain numbers, so that a moov
 * built from a journal gets the same values.
 */
#ifndef QOR_TRACK_DURATIONS_H_
#define QOR_TRACK_DURATIONS_H_

#include <stdint.h>

#include "mpeg4_writer/BoxWriter.h"

namespace qor {

struct TrackTiming {
    uint64_t sampleTicks = 0;       // sum of the sample durations, media time scale
    uint64_t startOffsetTicks = 0;  // added to the first sample's duration
    uint64_t primingTicks = 0;      // where the sound starts in the media; 0: no edit
    int32_t mediaTimeScale = 0;
    int32_t movieTimeScale = 0;
};

struct TrackDurations {
    uint64_t mediaTicks = 0;  // mdhd, media time scale
    bool hasEdit = false;
    uint64_t editMediaTime = 0;  // elst media_time, media time scale
    uint64_t editTicks = 0;      // elst segment duration, movie time scale
    uint64_t trackTicks = 0;     // tkhd, movie time scale
};

TrackDurations trackDurations(const TrackTiming& timing);

// `ticks` of time scale `from` in time scale `to`, rounded to nearest.
uint64_t rescaleTicks(uint64_t ticks, int32_t from, int32_t to);

// The edts box of a track with an edit (nothing without one).
void writeEditList(BoxWriter* out, const TrackDurations& durations);

}  // namespace qor

#endif  // QOR_TRACK_DURATIONS_H_
