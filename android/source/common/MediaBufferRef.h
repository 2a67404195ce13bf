/*
 * One reference to a media buffer, given back (MediaBuffer::release) when
 * the holder goes or is reset. The buffer's own observer decides what giving
 * back means (back to a pool, to the encoder, to the game's push slot).
 */
#ifndef QOR_COMMON_MEDIA_BUFFER_REF_H_
#define QOR_COMMON_MEDIA_BUFFER_REF_H_

#include <media/stagefright/MediaBuffer.h>

namespace qor {

class MediaBufferRef {
public:
    MediaBufferRef() = default;
    // Adopts a reference the caller holds.
    explicit MediaBufferRef(android::MediaBuffer* buffer) : mBuffer(buffer) {}
    ~MediaBufferRef() { reset(); }

    MediaBufferRef(MediaBufferRef&& other) noexcept : mBuffer(other.detach()) {}
    MediaBufferRef& operator=(MediaBufferRef&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    MediaBufferRef(const MediaBufferRef&) = delete;
    MediaBufferRef& operator=(const MediaBufferRef&) = delete;

    android::MediaBuffer* get() const { return mBuffer; }
    android::MediaBuffer* operator->() const { return mBuffer; }
    explicit operator bool() const { return mBuffer != nullptr; }

    // Gives the reference back now and holds `buffer` instead.
    void reset(android::MediaBuffer* buffer = nullptr) {
        if (mBuffer != nullptr) mBuffer->release();
        mBuffer = buffer;
    }
    // Hands the reference on to the caller, who gives it back.
    android::MediaBuffer* detach() {
        android::MediaBuffer* buffer = mBuffer;
        mBuffer = nullptr;
        return buffer;
    }
    // For MediaSource::read(): gives back what is held and lets read() fill
    // in the next buffer.
    android::MediaBuffer** receive() {
        reset();
        return &mBuffer;
    }

private:
    android::MediaBuffer* mBuffer = nullptr;
};

}  // namespace qor

#endif  // QOR_COMMON_MEDIA_BUFFER_REF_H_
