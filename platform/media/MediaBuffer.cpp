#include <media/stagefright/MediaBuffer.h>

#include <media/stagefright/MetaData.h>
#include <media/stagefright/foundation/ADebug.h>

namespace android {

MediaBuffer::MediaBuffer(void* data, size_t size)
    : mObserver(nullptr), mRefCount(0), mData(data), mSize(size), mRangeOffset(0),
      mRangeLength(size), mOwnsData(false), mMetaData(new MetaData) {}

MediaBuffer::MediaBuffer(size_t size)
    : mObserver(nullptr), mRefCount(0), mData(new uint8_t[size]), mSize(size), mRangeOffset(0),
      mRangeLength(size), mOwnsData(true), mMetaData(new MetaData) {}

MediaBuffer::~MediaBuffer() {
    CHECK(mObserver == nullptr);
    if (mOwnsData) delete[] (uint8_t*)mData;
}

void MediaBuffer::release() {
    if (mObserver == nullptr) {
        CHECK_EQ(mRefCount.load(), 0);
        delete this;
        return;
    }
    int prevCount = mRefCount.fetch_sub(1);
    CHECK_GT(prevCount, 0);
    if (prevCount == 1) mObserver->signalBufferReturned(this);
}

void MediaBuffer::add_ref() { mRefCount.fetch_add(1); }

void MediaBuffer::set_range(size_t offset, size_t length) {
    CHECK_LE(offset + length, mSize);
    mRangeOffset = offset;
    mRangeLength = length;
}

sp<MetaData> MediaBuffer::meta_data() { return mMetaData; }

void MediaBuffer::reset() {
    mMetaData->clear();
    set_range(0, mSize);
}

void MediaBuffer::setObserver(MediaBufferObserver* observer) {
    CHECK(observer == nullptr || mObserver == nullptr);
    mObserver = observer;
}

}  // namespace android
