/*
 * Buffers for the track's sample copies, reused once the writer has written
 * them. A copy is made of every sample and may be freed on another thread;
 * fresh allocations for each of them cost page faults and allocator churn
 * that dominate muxing at high bit rates.
 */
#ifndef QOR_SAMPLE_BUFFER_POOL_H_
#define QOR_SAMPLE_BUFFER_POOL_H_

#include <stddef.h>

#include <vector>

#include <android-base/thread_annotations.h>
#include <media/stagefright/MediaBuffer.h>
#include <utils/Mutex.h>

namespace qor {

class SampleBufferPool : public android::MediaBufferObserver {
public:
    SampleBufferPool() : mIdleBytes(0), mClosed(false) {}
    // Every buffer handed out must have been released before.
    ~SampleBufferPool() override;

    // A buffer of at least `size` bytes, range (0, size), one reference.
    android::MediaBuffer* acquire(size_t size) EXCLUDES(mLock);

    // No more acquisitions: idle buffers are freed now, returned ones as
    // they come back.
    void close() EXCLUDES(mLock);

    // Called by MediaBuffer::release() when the last reference goes.
    void signalBufferReturned(android::MediaBuffer* buffer) override;

private:
    static void destroy(android::MediaBuffer* buffer);

    // Taken last: a buffer may come back while the writer holds its lock.
    android::Mutex mLock;
    // Idle buffers keep the one reference the pool holds on them.
    std::vector<android::MediaBuffer*> mIdle GUARDED_BY(mLock);
    size_t mIdleBytes GUARDED_BY(mLock);
    bool mClosed GUARDED_BY(mLock);
};

}  // namespace qor

#endif  // QOR_SAMPLE_BUFFER_POOL_H_
