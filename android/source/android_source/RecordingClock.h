/*
 * The time line a recording's pushes are stamped on: the wall clock less
 * every pause. Both tracks leave out the same paused interval, so sound and
 * picture stay together over any number of pauses. Not locked: the recorder
 * guards it (see AndroidCodec.h).
 */
#ifndef QOR_RECORDING_CLOCK_H_
#define QOR_RECORDING_CLOCK_H_

#include <stdint.h>

namespace qor {

class RecordingClock {
public:
    // The clock of the pushes' time stamps.
    static int64_t wallClockUs();

    // A new recording: running, nothing paused; sound of the given format
    // (0 bytes per second: no sound).
    void reset(int64_t audioBytesPerSecond);

    // Stamps a push made at `wallUs` on the recording's time line; false
    // while paused. A stream's stamps never go back: one earlier than the
    // stream's last (the wall clock stepped back, or the push was stamped
    // before the other stream's first push after a resume) gets the last.
    bool stamp(bool video, int64_t wallUs, int32_t size, int64_t* recordingUs);

    void pause(int64_t nowUs);
    // The recording goes on with the first push after this, from where what
    // was accepted before the pause ends: the pause time, or the end of the
    // sound pushed before it when that lies later (a block of sound lasts
    // beyond the moment it is pushed, and a game may push its sound ahead).
    // The time between the resume and that push holds nothing and is left
    // out too, and so is every pause before it that no push followed.
    void resume(int64_t nowUs);
    bool paused() const { return mPausedAtUs >= 0; }

private:
    int64_t goOnTimeUs() const;

    int64_t mPausedAtUs = -1;    // wall clock; -1 while running
    int64_t mPausedTotalUs = 0;  // wall clock less recording time
    // Recording time of the first push after a resume; -1 once it came.
    int64_t mGoOnAtUs = -1;
    int64_t mLastUs[2] = {0, 0};  // recording time of each stream's last push (audio, video)
    // The sound plays on from its first block without a gap: accepted sound
    // ends its length after that block's time (recording time).
    int64_t mAudioStartUs = -1;
    int64_t mAudioBytes = 0;
    int64_t mAudioBytesPerSecond = 0;
};

}  // namespace qor

#endif  // QOR_RECORDING_CLOCK_H_
