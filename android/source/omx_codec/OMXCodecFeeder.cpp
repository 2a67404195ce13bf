// The feeder: the one thread that reads the upstream source. A source such
// as the game's push source blocks until its next frame; reading it on the
// service's callback thread, or with mLock held, would hold back every
// output the component already finished. The feeder reads without mLock and
// checks, once it has the buffer, that the stream it read for still runs.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

namespace qor {

using android::Mutex;
using android::OK;

void OMXCodec::startFeeder() {
    CHECK(!mFeeder.joinable());
    mFeederExit = false;
    mFeeder = std::thread([this] { feedLoop(); });
}

void OMXCodec::stopFeeder() {
    {
        Mutex::Autolock autoLock(mLock);
        mFeederExit = true;
        mInputReady.signal();
    }
    if (mFeeder.joinable()) mFeeder.join();
}

void OMXCodec::feedLoop() {
    Mutex::Autolock autoLock(mLock);
    while (!mFeederExit) {
        if (mayFeed()) {
            feedOne();
        } else {
            mInputReady.wait(mLock);
        }
    }
}

// Feeding goes on while the stream runs and the driver is not paused (a
// pending configuration block still goes).
bool OMXCodec::mayFeed() {
    if (!streamRuns()) return false;
    return mCodecSpecificDataIndex < mCodecSpecificData.size() || !mPaused;
}

// The component runs, the input port is up, the first read() has started
// the pumps, the end is not yet sent and an input buffer is ours.
bool OMXCodec::streamRuns() {
    if (mState != EXECUTING && mState != RECONFIGURING) return false;
    if (mInitialBufferSubmit || mSignalledEOS) return false;
    if (mPortStatus[kPortIndexInput] != ENABLED) return false;
    return inputBufferFree();
}

bool OMXCodec::inputBufferFree() {
    size_t ours = countBuffersWeOwn(mPortBuffers[kPortIndexInput]);
    if (ours == 0) return false;
    // One buffer at a time: only when the component holds none.
    if (mFlags & kOnlySubmitOneInputBufferAtOneTime)
        return ours == mPortBuffers[kPortIndexInput].size();
    return true;
}

void OMXCodec::feedOne() {
    if (mCodecSpecificDataIndex < mCodecSpecificData.size()) {
        submitCodecSpecificData(findEmptyInputBuffer());
        return;
    }
    ReadOptions options = takePendingSeek();
    const uint32_t generation = mFeedGeneration;
    MediaBufferRef srcBuffer;
    mLock.unlock();
    status_t err = mSource->read(srcBuffer.receive(), &options);
    mLock.lock();
    // Stopped, flushed or failed meanwhile: what was read is not wanted.
    if (mFeederExit || generation != mFeedGeneration || !streamRuns()) return;
    submitSourceResult(err, std::move(srcBuffer));
}

// A buffer read goes to the component; the source's end (or error) is the
// end of the stream.
void OMXCodec::submitSourceResult(status_t err, MediaBufferRef srcBuffer) {
    if (err != OK) {
        submitEndOfStream(nullptr, err);
        return;
    }
    BufferInfo* info = (mFlags & kUseSecureInputBuffers)
                           ? findInputBufferByDataPointer(srcBuffer->data())
                           : findEmptyInputBuffer();
    if (srcBuffer->range_length() > info->mSize) {
        ALOGE(
            "[%s] Codec's input buffers are too small to accomodate buffer read from source "
            "(info->mSize = %d, srcLength = %d)",
            mComponentName.c_str(), (int)info->mSize, (int)srcBuffer->range_length());
        setState(ERROR);
        return;
    }
    submitSourceBuffer(info, std::move(srcBuffer));
}

}  // namespace qor
