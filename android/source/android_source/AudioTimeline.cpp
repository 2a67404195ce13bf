#include "android_source/AudioTimeline.h"

namespace qor {

namespace {

int64_t absUs(int64_t us) { return us < 0 ? -us : us; }

}  // namespace

AudioTimeline::AudioTimeline(int32_t sampleRate) : mRate(sampleRate > 0 ? sampleRate : 1) {}

void AudioTimeline::setOrigin(int64_t timeUs) { mOriginUs = timeUs; }

int64_t AudioTimeline::timeOfFrame(int64_t frame) const {
    return mAnchorUs + (frame - mAnchorFrame) * 1000000LL / mRate;
}

int64_t AudioTimeline::nextTimeUs() const { return timeOfFrame(mFrames); }

void AudioTimeline::restartEstimate() {
    mAverageUs = mSettledUs = 0;
    mSettleLeftUs = kSettleUs;
    mSettleSumUs = 0;
    mSettleWeight = 0;
    mSincePushFrames = 0;
    mPendingStep = 0;
}

bool AudioTimeline::isLate(int64_t stampUs) const {
    return mStarted && stampUs - nextTimeUs() > kGapUs;
}

AudioTimeline::Placement AudioTimeline::place(int64_t stampUs, int32_t frames, bool afterGap) {
    Placement p;
    if (frames <= 0) {
        p.timeUs = nextTimeUs();
        return p;
    }
    if (!mStarted) {
        // Sound that starts after the recording did sits at its time.
        mStarted = true;
        mAnchorUs = mOriginUs > 0 && mOriginUs < stampUs ? mOriginUs : stampUs;
        mAnchorFrame = mFrames = 0;
        p.silenceFrames = (stampUs - mAnchorUs) * mRate / 1000000LL;
        restartEstimate();
    } else if (isLate(stampUs) && afterGap) {
        // The game's sound stopped: the block plays at its stamp.
        p.silenceFrames = (stampUs - nextTimeUs()) * mRate / 1000000LL;
        restartEstimate();
    }
    const bool stalled = !afterGap && isLate(stampUs);
    p.timeUs = nextTimeUs();
    mFrames += p.silenceFrames;
    if (tellsClocks(stampUs, p.silenceFrames > 0) && !stalled) {
        const int64_t sinceUs = mSincePushFrames * 1000000LL / mRate;
        mPendingStep += driftStep(stampUs - nextTimeUs(), sinceUs > 0 ? sinceUs : 1);
        mSincePushFrames = 0;
    }
    mSincePushFrames += frames;
    mPushFrames += frames;
    p.adjustFrames = takeStep(frames);
    mFrames += frames + p.adjustFrames;
    return p;
}

// Only the first block of a push that comes at the pace of the sound before
// it tells how the clocks run: the later blocks of a push (stamped within
// kBurstUs of the block before) and the pushes of a game catching up (less
// than half the previous push's sound after it) are counted, not measured.
bool AudioTimeline::tellsClocks(int64_t stampUs, bool afterSilence) {
    const bool continuesPush = mLastStampUs > 0 && stampUs - mLastStampUs < kBurstUs;
    mLastStampUs = stampUs;
    if (continuesPush && !afterSilence) return false;
    const int64_t paceUs = mPushFrames * 1000000LL / mRate;
    const bool catchingUp = mPushStampUs > 0 && stampUs - mPushStampUs < paceUs / 2;
    mPushStampUs = stampUs;
    mPushFrames = 0;
    return !catchingUp || afterSilence;
}

// Averages the offset of a push's first block, weighted by the time since
// the push before; the frames to repeat (> 0) or drop when the average left
// its settled value by more than kDriftUs, at most 1% of that time.
int64_t AudioTimeline::driftStep(int64_t offsetUs, int64_t sinceUs) {
    if (mSettleLeftUs > 0) {
        mSettleSumUs += (double)offsetUs * (double)sinceUs;
        mSettleWeight += sinceUs;
        mSettleLeftUs -= sinceUs;
        if (mSettleLeftUs <= 0) mSettledUs = mAverageUs = mSettleSumUs / (double)mSettleWeight;
        return 0;
    }
    const double weight = sinceUs >= kAverageUs ? 1.0 : (double)sinceUs / kAverageUs;
    double sampleUs = (double)offsetUs;
    if (sampleUs > mSettledUs + kJitterUs) sampleUs = mSettledUs + kJitterUs;
    if (sampleUs < mSettledUs - kJitterUs) sampleUs = mSettledUs - kJitterUs;
    mAverageUs += (sampleUs - mAverageUs) * weight;
    const int64_t driftUs = (int64_t)(mAverageUs - mSettledUs);
    if (absUs(driftUs) <= kDriftUs) return 0;
    const int64_t most = sinceUs * mRate / 1000000LL / kStepDivisor;
    const int64_t needed = absUs(driftUs) * mRate / 1000000LL;
    const int64_t n = needed < most ? needed : most;
    // Stamps ahead of the count: the sound lags, so frames are repeated.
    const int64_t step = driftUs > 0 ? n : -n;
    // The later pushes' offsets move by the step as it is taken.
    mAverageUs -= (double)step * 1000000.0 / mRate;
    return step;
}

// The part of the pending step a block of `frames` takes (1% at most).
int32_t AudioTimeline::takeStep(int32_t frames) {
    const int64_t most = frames / kStepDivisor;
    const int64_t pending = mPendingStep < 0 ? -mPendingStep : mPendingStep;
    const int64_t n = pending < most ? pending : most;
    const int64_t step = mPendingStep < 0 ? -n : n;
    mPendingStep -= step;
    return (int32_t)step;
}

void AudioTimeline::resume(int64_t stampShiftUs) {
    if (!mStarted) return;
    // Time never goes back.
    mAnchorUs = nextTimeUs() + (stampShiftUs > 0 ? stampShiftUs : 0);
    mAnchorFrame = mFrames;
    restartEstimate();
}

}  // namespace qor
