/*
 * A buffer of the media framework: made over caller memory (not owned) or
 * with its own storage, with a valid range, metadata and a reference count.
 * release() drops one reference; at zero with an observer set, the
 * observer's signalBufferReturned() is called. Without an observer,
 * release() destroys the buffer.
 *
 * Level 18 counts references with plain member functions; levels 21 and 23
 * reach the same operations through the buffer's virtual interface.
 */
#ifndef MEDIA_BUFFER_H_
#define MEDIA_BUFFER_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include <utils/RefBase.h>

#ifndef PLATFORM_LEVEL
#error "PLATFORM_LEVEL comes from the platform target of the build's level"
#endif

#if PLATFORM_LEVEL >= 21
#define QOR_MEDIA_BUFFER_VIRTUAL virtual
#else
#define QOR_MEDIA_BUFFER_VIRTUAL
#endif

namespace android {

class GraphicBuffer;
class MediaBuffer;
class MetaData;

class MediaBufferObserver {
public:
    MediaBufferObserver() {}
    virtual ~MediaBufferObserver() {}
    virtual void signalBufferReturned(MediaBuffer* buffer) = 0;

private:
    MediaBufferObserver(const MediaBufferObserver&) = delete;
    MediaBufferObserver& operator=(const MediaBufferObserver&) = delete;
};

class MediaBuffer {
public:
    // Wraps caller memory; the buffer never frees it.
    MediaBuffer(void* data, size_t size);
    // Owns `size` bytes of its own.
    explicit MediaBuffer(size_t size);

    QOR_MEDIA_BUFFER_VIRTUAL void release();
    QOR_MEDIA_BUFFER_VIRTUAL void add_ref();

    void* data() const { return mData; }
    size_t size() const { return mSize; }
    size_t range_offset() const { return mRangeOffset; }
    size_t range_length() const { return mRangeLength; }
    void set_range(size_t offset, size_t length);

    // No graphic buffers travel through this system's encoders.
    GraphicBuffer* graphicBuffer() const { return nullptr; }

    sp<MetaData> meta_data();
    // Clears the metadata and resets the range to the whole buffer.
    void reset();
    void setObserver(MediaBufferObserver* group);
    int refcount() const { return mRefCount.load(); }

protected:
    QOR_MEDIA_BUFFER_VIRTUAL ~MediaBuffer();

private:
    MediaBufferObserver* mObserver;
    std::atomic<int> mRefCount;
    void* mData;
    size_t mSize, mRangeOffset, mRangeLength;
    bool mOwnsData;
    sp<MetaData> mMetaData;

    MediaBuffer(const MediaBuffer&) = delete;
    MediaBuffer& operator=(const MediaBuffer&) = delete;
};

}  // namespace android

#endif  // MEDIA_BUFFER_H_
