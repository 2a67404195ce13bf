/*
 * Sits between the audio push source and the AAC encoder and times the
 * sound on the kit's audio timeline (AudioTimeline): the encoder gets the
 * game's PCM as one continuous stream, stamped by its sample count, with
 * encoded silence where the game's sound stopped and a few samples dropped
 * or repeated where its clock drifts. All of it runs on the encoder's
 * reading thread; the game's push only hands its block over.
 */
#ifndef QOR_TIMED_AUDIO_SOURCE_H_
#define QOR_TIMED_AUDIO_SOURCE_H_

#include <stdint.h>

#include <atomic>
#include <deque>
#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <utils/Mutex.h>
#include <utils/RefBase.h>

#include "android_source/AudioTimeline.h"

namespace qor {

using android::sp;
using android::status_t;

// The time of a recording's first pushed buffer, audio or video.
class RecordingOrigin : public android::RefBase {
public:
    // Keeps the first time it is given.
    void note(int64_t timeUs) {
        int64_t unset = 0;
        mTimeUs.compare_exchange_strong(unset, timeUs);
    }
    int64_t timeUs() const { return mTimeUs.load(); }
    void reset() { mTimeUs = 0; }

private:
    std::atomic<int64_t> mTimeUs{0};
};

class TimedAudioSource : public android::MediaSource {
public:
    // `origin` may be null (no silence before late sound).
    TimedAudioSource(const sp<android::MediaSource>& pcm, int32_t sampleRate, int32_t channels,
                     const sp<RecordingOrigin>& origin);

    status_t start(android::MetaData* params = nullptr) override;
    status_t stop() override;
    sp<android::MetaData> getFormat() override;
    // One buffer of at most kMaxBufferBytes, stamped on the timeline.
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override;

    // Pause hook (any thread): the buffers pushed after a resume are
    // stamped `stampShiftUs` ahead of the sound before the pause (0 when
    // the pushes already leave the paused time out). The paused time is
    // left out of the track and the drift estimate starts again.
    void resumed(int64_t stampShiftUs) EXCLUDES(mEventLock);

    static const int32_t kMaxBufferBytes = 8192;  // the encoder's input size

protected:
    ~TimedAudioSource() override = default;

private:
    struct Block {
        int64_t stampUs;
        std::vector<uint8_t> pcm;
    };

    status_t readInput();
    bool gapFollows();
    status_t fetchBlock();
    android::MediaBuffer* emit(const uint8_t* data, size_t bytes);

    const sp<android::MediaSource> mPcm;
    const sp<RecordingOrigin> mOrigin;
    const int32_t mFrameBytes;

    // The reading thread's own state.
    AudioTimeline mTimeline;
    std::deque<Block> mInput;          // read from the push source, not yet placed
    status_t mInputEnd = android::OK;  // what ended the push source's stream
    int64_t mSilenceLeft = 0;          // frames of silence still to put out
    std::vector<uint8_t> mHeld;        // the placed block, after the silence
    size_t mHeldOffset = 0;
    int64_t mPlacedUs = 0;      // time of the first frame of the placement
    int64_t mPlacedFrames = 0;  // frames of the placement put out so far

    android::Mutex mEventLock;
    bool mResumed GUARDED_BY(mEventLock) = false;
    int64_t mResumeShiftUs GUARDED_BY(mEventLock) = 0;

    TimedAudioSource(const TimedAudioSource&) = delete;
    TimedAudioSource& operator=(const TimedAudioSource&) = delete;
};

// Repeats (step > 0) or drops (step < 0) |step| frames of `frames`
// interleaved frames, spread evenly over the block.
void adjustPcm(const uint8_t* data, int32_t frames, int32_t frameBytes, int32_t step,
               std::vector<uint8_t>* out);

}  // namespace qor

#endif  // QOR_TIMED_AUDIO_SOURCE_H_
