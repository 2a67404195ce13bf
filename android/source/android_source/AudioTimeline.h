/*
 * The audio track's timeline. The sound is timed by counting its samples
 * from an anchor (the first block's wall-clock time, or the recording's
 * start when the sound starts later), so bursts of pushes and the jitter of
 * push-time stamps never reach the file. The wall-clock stamps only move
 * the count when they disagree with it:
 *  - a block stamped more than kGapUs after its counted time follows a
 *    silence of the game's audio when the pushes after it come at the pace
 *    of their sound: silence fills the gap and the block plays at its
 *    stamp. When they come faster (the game's thread stalled and catches
 *    up), the lateness was a stall: the block keeps its counted time;
 *  - when the game's audio clock runs faster or slower than the wall clock,
 *    the offset between the two, averaged over about a second, moves away
 *    from where it settled: a few samples per block are dropped or repeated
 *    until it is back within kDriftUs.
 * Not thread-safe: one reader (the audio encoder's thread) places blocks.
 */
#ifndef QOR_AUDIO_TIMELINE_H_
#define QOR_AUDIO_TIMELINE_H_

#include <stdint.h>

namespace qor {

class AudioTimeline {
public:
    // Thresholds, from push patterns measured in bench/sync and the tests
    // (README): a block's stamp lags its counted time by up to one block
    // (46 ms for 8192 bytes of 44.1 kHz stereo) and a burst puts the stamps
    // of one push up to two blocks ahead of their count, so only an offset
    // beyond three blocks is a gap. Pushes that jitter by up to a block on
    // every push move the averaged offset by less than 4 ms, and a single
    // late block by 2 ms, so a change of 6 ms is drift.
    static const int64_t kGapUs = 150000;
    static const int64_t kDriftUs = 6000;
    // A push's offset counts in the average up to one block from where it
    // settled: a stall's late pushes do not pass for drift.
    static const int64_t kJitterUs = 46000;
    // Averaging window of the offset.
    static const int64_t kAverageUs = 1000000;
    // How long the averaged offset settles after a start, gap or resume.
    static const int64_t kSettleUs = 1000000;
    // Blocks stamped this close together come from one push.
    static const int64_t kBurstUs = 2000;
    // At most one sample in kStepDivisor is dropped or repeated (1%, well
    // above any audio clock's error, and inaudible spread over a block).
    static const int32_t kStepDivisor = 100;

    // Where a block goes.
    struct Placement {
        int64_t silenceFrames = 0;  // silent sample frames to put before the block
        int32_t adjustFrames = 0;   // frames to repeat (> 0) or drop (< 0) in the block
        int64_t timeUs = 0;         // time of the first frame put out (silence or block)
    };

    explicit AudioTimeline(int32_t sampleRate);

    // The recording's start: sound that starts later gets silence before it.
    void setOrigin(int64_t timeUs);
    // Whether a block pushed at `stampUs` comes too late for jitter: a gap
    // or a stall, which the pushes after it tell apart.
    bool isLate(int64_t stampUs) const;
    // Places a block of `frames` sample frames pushed at `stampUs`;
    // `afterGap` says that a late block follows a gap (false: a stall).
    Placement place(int64_t stampUs, int32_t frames, bool afterGap = true);

    // Pause hook: the stamps of blocks after a resume run `stampShiftUs`
    // ahead of the count (0 when the pushes were already stamped without
    // the paused time): that time is left out rather than filled, and the
    // drift estimate starts again.
    void resume(int64_t stampShiftUs);

    // Time of the next frame to be put out.
    int64_t nextTimeUs() const;
    int64_t framesOut() const { return mFrames; }
    int32_t sampleRate() const { return mRate; }

private:
    int64_t timeOfFrame(int64_t frame) const;
    bool tellsClocks(int64_t stampUs, bool afterSilence);
    int64_t driftStep(int64_t offsetUs, int64_t sinceUs);
    int32_t takeStep(int32_t frames);
    void restartEstimate();

    const int32_t mRate;
    int64_t mOriginUs = 0;
    bool mStarted = false;
    int64_t mAnchorUs = 0;  // time of frame mAnchorFrame
    int64_t mAnchorFrame = 0;
    int64_t mFrames = 0;  // frames put out so far (silence and adjustments included)
    // Averaged offset (stamp minus counted time) and where it settled.
    double mAverageUs = 0;
    double mSettledUs = 0;
    int64_t mSettleLeftUs = 0;
    double mSettleSumUs = 0;
    int64_t mSettleWeight = 0;
    int64_t mLastStampUs = 0;
    int64_t mPushStampUs = 0;      // the current push's first block
    int64_t mPushFrames = 0;       // and its frames so far
    int64_t mSincePushFrames = 0;  // frames since the last measured push
    int64_t mPendingStep = 0;      // frames still to repeat (> 0) or drop
};

}  // namespace qor

#endif  // QOR_AUDIO_TIMELINE_H_
