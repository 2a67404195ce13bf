/*
 * Push-buffer media source: the capture or audio thread offers one buffer at
 * a time, the encoder pulls it with read(). Data is never copied: the
 * producer's memory is handed out by reference, with room for one buffer
 * waiting (mPending) and one buffer out (mOut).
 */
#ifndef QOR_ENCODE_SOURCE_H_
#define QOR_ENCODE_SOURCE_H_

#include <stdint.h>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <utils/Condition.h>
#include <utils/Mutex.h>

namespace qor {

using android::sp;
using android::status_t;

class EncodeSource : public android::MediaSource, public android::MediaBufferObserver {
public:
    EncodeSource(const char* name, const sp<android::MetaData>& format);

    status_t start(android::MetaData* params = nullptr) override EXCLUDES(mLock);
    status_t stop() override EXCLUDES(mLock);
    sp<android::MetaData> getFormat() override EXCLUDES(mLock);
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override
        EXCLUDES(mLock);
    void signalBufferReturned(android::MediaBuffer* buffer) override EXCLUDES(mLock);

    // Offers one buffer; waits a short while (kMaxSlotWaitNs) when the
    // pending slot is full. Returns 0; -38 before the encoder started the
    // source; -1 when the buffer was not stored: after end of stream, when
    // the wait ran out (the frame is dropped), or once the encoder stopped
    // reading (it ended, failed or stalled): then at once, with one error
    // line for the whole run.
    status_t pushBuffer(void* data, int32_t extra, int32_t size, int64_t timeUs) EXCLUDES(mLock);

    // The encoder's reads failed: nothing will read this source any more.
    void readerEnded() EXCLUDES(mLock);
    // Whether the encoder left a buffer untaken for kStallNs.
    bool stalled() EXCLUDES(mLock);

    // End of stream: wakes the reader and any producer waiting for the slot.
    void signalEOS() EXCLUDES(mLock);

protected:
    ~EncodeSource() override;

private:
    // Longest wait for the slot: above a frame's encoding time on a device,
    // and with the conversion and a wake-up within 50 ms, so that a game's
    // frame is never held up noticeably.
    static const int64_t kMaxSlotWaitNs = 40000000LL;
    // A buffer untaken for this long: the encoder has stalled.
    static const int64_t kStallNs = 1000000000LL;

    struct BufferSlot {
        void* data = nullptr;
        int32_t size = 0;
        int32_t extra = 0;
        int64_t timeUs = 0;
        int32_t busy = 0;
    };

    // Taken after the recorder's locks (see AndroidCodec.h); the encoder's
    // reader thread takes only this one.
    android::Mutex mLock;
    android::Condition mDataCond;
    android::Condition mSlotCond;
    BufferSlot mOut GUARDED_BY(mLock);
    BufferSlot mPending GUARDED_BY(mLock);
    bool mStarted GUARDED_BY(mLock);
    sp<android::MetaData> mFormat GUARDED_BY(mLock);
    const char* mName;  // a literal of the caller's, for log lines
    bool mEOS GUARDED_BY(mLock);
    // Why no read will come any more (null while the encoder reads).
    const char* mReaderGone GUARDED_BY(mLock);
    bool mStalled GUARDED_BY(mLock);
    bool mRefusalLogged GUARDED_BY(mLock);
    bool mDropLogged GUARDED_BY(mLock);
    // Buffers dropped because the slot stayed full (logged at the end).
    uint32_t mDroppedForSlot GUARDED_BY(mLock);
    int64_t mPendingSinceNs GUARDED_BY(mLock);  // when the pending buffer came

    status_t refuse() REQUIRES(mLock);

    EncodeSource(const EncodeSource&) = delete;
    EncodeSource& operator=(const EncodeSource&) = delete;
};

}  // namespace qor

#endif  // QOR_ENCODE_SOURCE_H_
