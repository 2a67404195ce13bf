#define LOG_TAG "qor_codec"
#include "android_source/TimedAudioSource.h"

#include <string.h>

#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

namespace qor {

using android::MediaBuffer;
using android::MetaData;
using android::Mutex;

void adjustPcm(const uint8_t* data, int32_t frames, int32_t frameBytes, int32_t step,
               std::vector<uint8_t>* out) {
    const int32_t n = step < 0 ? -step : step;
    out->clear();
    out->reserve((size_t)(frames + step) * frameBytes);
    // Frame i*frames/(n+1) for i = 1..n is the one repeated or dropped.
    int32_t next = 1;
    for (int32_t f = 0; f < frames; ++f) {
        const uint8_t* frame = data + (size_t)f * frameBytes;
        const bool marked = next <= n && f == (int32_t)((int64_t)next * frames / (n + 1));
        if (marked) ++next;
        if (!(marked && step < 0)) out->insert(out->end(), frame, frame + frameBytes);
        if (marked && step > 0) out->insert(out->end(), frame, frame + frameBytes);
    }
}

TimedAudioSource::TimedAudioSource(const sp<android::MediaSource>& pcm, int32_t sampleRate,
                                   int32_t channels, const sp<RecordingOrigin>& origin)
    : mPcm(pcm),
      mOrigin(origin),
      mFrameBytes(2 * (channels > 0 ? channels : 1)),
      mTimeline(sampleRate) {}

status_t TimedAudioSource::start(MetaData* params) { return mPcm->start(params); }

status_t TimedAudioSource::stop() { return mPcm->stop(); }

sp<MetaData> TimedAudioSource::getFormat() { return mPcm->getFormat(); }

void TimedAudioSource::resumed(int64_t stampShiftUs) {
    Mutex::Autolock l(mEventLock);
    mResumed = true;
    mResumeShiftUs += stampShiftUs;
}

// Reads the push source's next block into mInput.
status_t TimedAudioSource::readInput() {
    if (mInputEnd != android::OK) return mInputEnd;
    MediaBuffer* in = nullptr;
    status_t err = mPcm->read(&in);
    if (err != android::OK) {
        mInputEnd = err;
        return err;
    }
    Block b;
    // A block without a time follows on from the one before.
    if (!in->meta_data()->findInt64(android::kKeyTime, &b.stampUs) || b.stampUs <= 0) {
        b.stampUs = mInput.empty() ? mTimeline.nextTimeUs() : mInput.back().stampUs;
    }
    const uint8_t* data = (const uint8_t*)in->data() + in->range_offset();
    b.pcm.assign(data, data + in->range_length());
    in->release();
    mInput.push_back(std::move(b));
    return android::OK;
}

// The first block of mInput came too late for jitter: reads on to the next
// push. Pushes at the pace of their sound follow a gap; pushes that come
// faster catch up after a stall.
bool TimedAudioSource::gapFollows() {
    size_t last = 0;  // the late push's last block
    int64_t frames = (int64_t)(mInput[0].pcm.size() / mFrameBytes);
    while (true) {
        if (last + 1 >= mInput.size()) {
            if (readInput() != android::OK) return true;  // the end: nothing to tell
            continue;
        }
        const int64_t stepUs = mInput[last + 1].stampUs - mInput[last].stampUs;
        if (stepUs < AudioTimeline::kBurstUs) {
            frames += (int64_t)(mInput[++last].pcm.size() / mFrameBytes);
            continue;
        }
        const int64_t paceUs = frames * 1000000LL / mTimeline.sampleRate();
        return mInput[last + 1].stampUs - mInput[0].stampUs >= paceUs / 2;
    }
}

// Takes the game's next block and places it on the timeline.
status_t TimedAudioSource::fetchBlock() {
    if (mInput.empty()) {
        status_t err = readInput();
        if (err != android::OK) return err;
    }
    {
        Mutex::Autolock l(mEventLock);
        if (mResumed) mTimeline.resume(mResumeShiftUs);
        mResumed = false;
        mResumeShiftUs = 0;
    }
    if (mOrigin != nullptr) mTimeline.setOrigin(mOrigin->timeUs());
    const int64_t stampUs = mInput.front().stampUs;
    const bool afterGap = mTimeline.isLate(stampUs) ? gapFollows() : true;
    const std::vector<uint8_t>& pcm = mInput.front().pcm;
    const int32_t frames = (int32_t)(pcm.size() / mFrameBytes);
    const AudioTimeline::Placement p = mTimeline.place(stampUs, frames, afterGap);
    adjustPcm(pcm.data(), frames, mFrameBytes, p.adjustFrames, &mHeld);
    mInput.pop_front();
    if (p.silenceFrames > 0) {
        ALOGI("[audio] %lld ms of silence before the block at %lld us",
              (long long)(p.silenceFrames * 1000 / mTimeline.sampleRate()), (long long)stampUs);
    }
    mHeldOffset = 0;
    mSilenceLeft = p.silenceFrames;
    mPlacedUs = p.timeUs;
    mPlacedFrames = 0;
    return android::OK;
}

MediaBuffer* TimedAudioSource::emit(const uint8_t* data, size_t bytes) {
    MediaBuffer* out = new MediaBuffer(bytes);
    if (data != nullptr) {
        memcpy(out->data(), data, bytes);
    } else {
        memset(out->data(), 0, bytes);
    }
    out->set_range(0, bytes);
    const int64_t timeUs = mPlacedUs + mPlacedFrames * 1000000LL / mTimeline.sampleRate();
    out->meta_data()->setInt64(android::kKeyTime, timeUs);
    mPlacedFrames += (int64_t)(bytes / mFrameBytes);
    return out;
}

status_t TimedAudioSource::read(MediaBuffer** buffer, const ReadOptions* /*options*/) {
    *buffer = nullptr;
    const int64_t maxFrames = kMaxBufferBytes / mFrameBytes;
    while (mSilenceLeft == 0 && mHeldOffset >= mHeld.size()) {
        status_t err = fetchBlock();
        if (err != android::OK) return err;
    }
    if (mSilenceLeft > 0) {
        const int64_t n = mSilenceLeft < maxFrames ? mSilenceLeft : maxFrames;
        mSilenceLeft -= n;
        *buffer = emit(nullptr, (size_t)(n * mFrameBytes));
        return android::OK;
    }
    size_t bytes = mHeld.size() - mHeldOffset;
    const size_t most = (size_t)(maxFrames * mFrameBytes);
    if (bytes > most) bytes = most;
    *buffer = emit(mHeld.data() + mHeldOffset, bytes);
    mHeldOffset += bytes;
    return android::OK;
}

}  // namespace qor
