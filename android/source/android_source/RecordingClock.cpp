#include "android_source/RecordingClock.h"

#include <utils/Timers.h>

namespace qor {

// The clock the front end stamps pushes with.
int64_t RecordingClock::wallClockUs() { return systemTime(SYSTEM_TIME_REALTIME) / 1000; }

void RecordingClock::reset(int64_t audioBytesPerSecond) {
    *this = RecordingClock();
    mAudioBytesPerSecond = audioBytesPerSecond;
}

bool RecordingClock::stamp(bool video, int64_t wallUs, int32_t size, int64_t* recordingUs) {
    if (paused() || wallUs < mResumedAtUs) return false;
    if (mGoOnAtUs >= 0) {
        // A push of the other stream stamped before this one and admitted
        // after it would go back in time: it is refused like a paused one.
        mPausedTotalUs = wallUs - mGoOnAtUs;
        mResumedAtUs = wallUs;
        mGoOnAtUs = -1;
    }
    *recordingUs = wallUs - mPausedTotalUs;
    if (!video) {
        if (mAudioStartUs < 0) mAudioStartUs = *recordingUs;
        mAudioBytes += size;
    }
    return true;
}

void RecordingClock::pause(int64_t nowUs) {
    if (!paused()) mPausedAtUs = nowUs;
}

void RecordingClock::resume(int64_t nowUs) {
    if (!paused()) return;
    int64_t goOnAtUs = mPausedAtUs - mPausedTotalUs;
    if (mAudioStartUs >= 0 && mAudioBytesPerSecond > 0) {
        const int64_t audioEndUs = mAudioStartUs + mAudioBytes * 1000000 / mAudioBytesPerSecond;
        if (audioEndUs > goOnAtUs) goOnAtUs = audioEndUs;
    }
    mGoOnAtUs = goOnAtUs;
    mResumedAtUs = nowUs;
    mPausedAtUs = -1;
}

}  // namespace qor
