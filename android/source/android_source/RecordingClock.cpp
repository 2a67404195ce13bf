#include "android_source/RecordingClock.h"

#include <algorithm>

#include <utils/Timers.h>

namespace qor {

// The clock the front end stamps pushes with.
int64_t RecordingClock::wallClockUs() { return systemTime(SYSTEM_TIME_REALTIME) / 1000; }

void RecordingClock::reset(int64_t audioBytesPerSecond) {
    *this = RecordingClock();
    mAudioBytesPerSecond = audioBytesPerSecond;
}

bool RecordingClock::stamp(bool video, int64_t wallUs, int32_t size, int64_t* recordingUs) {
    if (paused()) return false;
    if (mGoOnAtUs >= 0) {
        // The time line goes on from this push's own clock, even one that
        // stepped back during the pause.
        mPausedTotalUs = wallUs - mGoOnAtUs;
        mGoOnAtUs = -1;
    }
    int64_t& lastUs = mLastUs[video ? 1 : 0];
    *recordingUs = std::max(wallUs - mPausedTotalUs, lastUs);
    lastUs = *recordingUs;
    if (!video) {
        if (mAudioStartUs < 0) mAudioStartUs = *recordingUs;
        mAudioBytes += size;
    }
    return true;
}

void RecordingClock::pause(int64_t nowUs) {
    if (!paused()) mPausedAtUs = nowUs;
}

// The first push after a resume sets where the time line goes on; a
// second pause before it changes nothing.
void RecordingClock::resume(int64_t /*nowUs*/) {
    if (!paused()) return;
    if (mGoOnAtUs < 0) mGoOnAtUs = goOnTimeUs();
    // No push of either stream goes before what was accepted.
    for (int64_t& lastUs : mLastUs) lastUs = std::max(lastUs, mGoOnAtUs);
    mPausedAtUs = -1;
}

// The end of what was accepted before the pause, in recording time.
int64_t RecordingClock::goOnTimeUs() const {
    int64_t goOnAtUs = std::max({mPausedAtUs - mPausedTotalUs, mLastUs[0], mLastUs[1]});
    if (mAudioStartUs >= 0 && mAudioBytesPerSecond > 0) {
        const int64_t audioEndUs = mAudioStartUs + mAudioBytes * 1000000 / mAudioBytesPerSecond;
        goOnAtUs = std::max(goOnAtUs, audioEndUs);
    }
    return goOnAtUs;
}

}  // namespace qor
