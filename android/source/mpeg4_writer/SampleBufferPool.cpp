#include "mpeg4_writer/SampleBufferPool.h"

namespace qor {

namespace {
// Idle buffers beyond this are freed: the pool only smooths the flow
// between a track and the writer thread.
const size_t kMaxIdleBytes = 8 * 1024 * 1024;
const size_t kSmallGranule = 256;
const size_t kLargeGranule = 4096;
}  // namespace

SampleBufferPool::~SampleBufferPool() { close(); }

void SampleBufferPool::destroy(android::MediaBuffer* buffer) {
    buffer->setObserver(nullptr);
    buffer->release();
}

android::MediaBuffer* SampleBufferPool::acquire(size_t size) {
    android::MediaBuffer* buffer = nullptr;
    {
        android::Mutex::Autolock l(mLock);
        // Newest first: the most recently returned buffer is warm in cache.
        for (size_t i = mIdle.size(); i-- > 0;) {
            if (mIdle[i]->size() >= size) {
                buffer = mIdle[i];
                mIdle.erase(mIdle.begin() + i);
                mIdleBytes -= buffer->size();
                break;
            }
        }
    }
    if (buffer == nullptr) {
        // Rounded up so that buffers fit the next samples of similar size.
        size_t granule = size < kLargeGranule ? kSmallGranule : kLargeGranule;
        size_t capacity = (size + granule) / granule * granule;
        buffer = new android::MediaBuffer(capacity);
        buffer->setObserver(this);
    }
    buffer->add_ref();
    buffer->set_range(0, size);
    return buffer;
}

void SampleBufferPool::close() {
    std::vector<android::MediaBuffer*> idle;
    {
        android::Mutex::Autolock l(mLock);
        mClosed = true;
        idle.swap(mIdle);
        mIdleBytes = 0;
    }
    for (android::MediaBuffer* buffer : idle) destroy(buffer);
}

void SampleBufferPool::signalBufferReturned(android::MediaBuffer* buffer) {
    {
        android::Mutex::Autolock l(mLock);
        if (!mClosed && mIdleBytes + buffer->size() <= kMaxIdleBytes) {
            mIdle.push_back(buffer);
            mIdleBytes += buffer->size();
            return;
        }
    }
    destroy(buffer);
}

}  // namespace qor
