#define LOG_TAG "qor_codec"
#include "android_source/EncodeSource.h"

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "common/MediaBufferRef.h"
#include "common/MonotonicClock.h"

namespace qor {

using android::MediaBuffer;
using android::MetaData;
using android::Mutex;

EncodeSource::EncodeSource(const char* name, const sp<MetaData>& format)
    : mStarted(false),
      mFormat(format),
      mName(name),
      mEOS(false),
      mReaderGone(nullptr),
      mStalled(false),
      mRefusalLogged(false),
      mDropLogged(false),
      mDroppedForSlot(0),
      mPendingSinceNs(0) {}

EncodeSource::~EncodeSource() {
    Mutex::Autolock autoLock(mLock);
    mFormat.clear();
    ALOGI("[%s] ~EncodeSource", mName);
    mName = nullptr;
}

status_t EncodeSource::start(MetaData* /*params*/) {
    Mutex::Autolock autoLock(mLock);
    if (!mStarted) {
        mStarted = true;
        mReaderGone = nullptr;
        mStalled = false;
        mRefusalLogged = false;
        ALOGI("[%s] EncodeSource start", mName);
    }
    return android::OK;
}

// The encoder stops its source when it ends, normally or on a failure:
// from then on nothing reads, so a producer waiting for the slot is let go.
status_t EncodeSource::stop() {
    Mutex::Autolock autoLock(mLock);
    if (mStarted) {
        mStarted = false;
        if (mReaderGone == nullptr) mReaderGone = "it ended";
        ALOGI("[%s] EncodeSource stop", mName);
    }
    // A reader still waiting for a frame gets none; a waiting push gives up.
    mDataCond.broadcast();
    mSlotCond.broadcast();
    return android::OK;
}

sp<MetaData> EncodeSource::getFormat() {
    Mutex::Autolock autoLock(mLock);
    return mFormat;
}

status_t EncodeSource::pushBuffer(void* data, int32_t extra, int32_t size, int64_t timeUs) {
    Mutex::Autolock autoLock(mLock);
    // No reader will take the slot again after end of stream.
    if (mEOS) return -1;
    if (mReaderGone != nullptr) return refuse();
    if (!mStarted) {
        ALOGE("[%s] pushBuffer called before start.", mName);
        return android::INVALID_OPERATION;
    }
    // A producer is the game's capture or audio thread: it waits for the
    // slot a short while only. An encoder that leaves a buffer untaken for
    // kStallNs has stalled: the stream ends there.
    const int64_t deadline = monotonicNs() + kMaxSlotWaitNs;
    while (mPending.busy && !mEOS && mReaderGone == nullptr) {
        const int64_t now = monotonicNs();
        if (now - mPendingSinceNs > kStallNs) {
            mReaderGone = "it took nothing for a second: stalled";
            mStalled = true;
            break;
        }
        if (now >= deadline) {
            if (!mDropLogged) {
                ALOGW("[%s] pushBuffer gave up: the encoder has not read for %d ms.", mName,
                      (int)(kMaxSlotWaitNs / 1000000));
                mDropLogged = true;
            }
            ++mDroppedForSlot;
            return -1;
        }
        const int64_t stallAt = mPendingSinceNs + kStallNs + 1000000;
        mSlotCond.waitRelative(mLock, (stallAt < deadline ? stallAt : deadline) - now);
    }
    if (mEOS) return -1;
    if (mReaderGone != nullptr) return refuse();
    mPending.data = data;
    mPending.extra = extra;
    mPending.size = size;
    mPending.timeUs = timeUs;
    mPending.busy = 1;
    mPendingSinceNs = monotonicNs();
    mDropLogged = false;
    mDataCond.signal();
    return android::OK;
}

status_t EncodeSource::read(MediaBuffer** buffer, const ReadOptions* /*options*/) {
    *buffer = nullptr;
    Mutex::Autolock autoLock(mLock);
    // A buffer accepted before the end of the stream is still delivered: the
    // game was told it would be recorded.
    if (!mStarted || (mEOS && !mPending.busy)) {
        ALOGI("[%s:%d] EncodeSource read no more data.", mName, 215);
        return android::ERROR_END_OF_STREAM;
    }
    while (!mPending.busy) {
        mDataCond.wait(mLock);
        if (!mStarted || (mEOS && !mPending.busy)) {
            ALOGI("[%s:%d] EncodeSource read no more data.", mName, 224);
            return android::ERROR_END_OF_STREAM;
        }
    }
    BufferSlot taken = mPending;
    mPending = mOut;
    mOut = taken;
    mPending.busy = 0;
    mOut.busy = 1;
    mSlotCond.broadcast();

    MediaBuffer* out = new MediaBuffer(mOut.data, mOut.size);
    out->meta_data()->setInt64(android::kKeyTime, mOut.timeUs);
    out->add_ref();
    out->setObserver(this);
    *buffer = out;
    return android::OK;
}

void EncodeSource::signalBufferReturned(MediaBuffer* buffer) {
    Mutex::Autolock autoLock(mLock);
    CHECK(buffer != nullptr);
    // Without its observer, giving the buffer back destroys it (the pixels
    // are the producer's and stay).
    buffer->setObserver(nullptr);
    MediaBufferRef returned(buffer);
    returned.reset();
    mOut.busy = 0;
}

// One line for the whole run of refused pushes: a game pushes every frame.
status_t EncodeSource::refuse() {
    if (!mRefusalLogged) {
        mRefusalLogged = true;
        ALOGE(
            "[%s] the encoder stopped reading (%s): this stream's pushes are refused from "
            "now on.",
            mName, mReaderGone);
    }
    return -1;
}

void EncodeSource::readerEnded() {
    Mutex::Autolock autoLock(mLock);
    if (mReaderGone == nullptr) mReaderGone = "it failed";
    mDataCond.signal();
    mSlotCond.broadcast();
}

bool EncodeSource::stalled() {
    Mutex::Autolock autoLock(mLock);
    // A buffer left untaken for that long marks a stall even if no push
    // came to notice it.
    if (mStarted && mPending.busy && monotonicNs() - mPendingSinceNs > kStallNs) mStalled = true;
    return mStalled;
}

void EncodeSource::signalEOS() {
    Mutex::Autolock autoLock(mLock);
    if (!mEOS && mDroppedForSlot > 0) {
        ALOGW("[%s] %u buffers were dropped: the encoder had not taken the one before.", mName,
              mDroppedForSlot);
    }
    mEOS = true;
    mDataCond.signal();
    mSlotCond.broadcast();
}

}  // namespace qor
