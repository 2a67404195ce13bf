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
}

AudioTimeline::Placement AudioTimeline::place(int64_t stampUs, int32_t frames) {
    Placement p;
    if (frames <= 0) {
        p.timeUs = nextTimeUs();
        return p;
    }
    int64_t offsetUs = 0;
    if (!mStarted) {
        // Sound that starts after the recording did sits at its time.
        mStarted = true;
        mAnchorUs = mOriginUs > 0 && mOriginUs < stampUs ? mOriginUs : stampUs;
        mAnchorFrame = mFrames = 0;
        p.silenceFrames = (stampUs - mAnchorUs) * mRate / 1000000LL;
        restartEstimate();
    } else {
        offsetUs = stampUs - nextTimeUs();
        if (offsetUs > kGapUs) {
            // The game's sound stopped: the block plays at its stamp.
            p.silenceFrames = offsetUs * mRate / 1000000LL;
            restartEstimate();
        }
    }
    p.timeUs = nextTimeUs();
    mFrames += p.silenceFrames;
    offsetUs = stampUs - nextTimeUs();
    p.adjustFrames = driftStep(offsetUs, frames);
    mFrames += frames + p.adjustFrames;
    return p;
}

// Averages the block's offset; a step when the average left its settled
// value by more than kDriftUs.
int32_t AudioTimeline::driftStep(int64_t offsetUs, int32_t frames) {
    const int64_t blockUs = (int64_t)frames * 1000000LL / mRate;
    if (mSettleLeftUs > 0) {
        mSettleSumUs += (double)offsetUs * frames;
        mSettleWeight += frames;
        mSettleLeftUs -= blockUs;
        if (mSettleLeftUs <= 0) mSettledUs = mAverageUs = mSettleSumUs / mSettleWeight;
        return 0;
    }
    const double weight = blockUs >= kAverageUs ? 1.0 : (double)blockUs / kAverageUs;
    mAverageUs += (offsetUs - mAverageUs) * weight;
    const int64_t driftUs = (int64_t)(mAverageUs - mSettledUs);
    if (absUs(driftUs) <= kDriftUs) return 0;
    const int64_t most = frames / kStepDivisor;
    const int64_t needed = absUs(driftUs) * mRate / 1000000LL;
    const int32_t n = (int32_t)(needed < most ? needed : most);
    // Stamps ahead of the count: the sound lags, so frames are repeated.
    const int32_t step = driftUs > 0 ? n : -n;
    // The later blocks' offsets move by the step right away.
    mAverageUs -= (double)step * 1000000.0 / mRate;
    return step;
}

void AudioTimeline::resume(int64_t stampShiftUs) {
    if (!mStarted) return;
    mAnchorUs = nextTimeUs() + stampShiftUs;
    mAnchorFrame = mFrames;
    restartEstimate();
}

}  // namespace qor
