// MetaData typing and MediaBuffer's release/observer contract.
#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MetaData.h>

#include <gtest/gtest.h>

using namespace android;

namespace {

TEST(MetaDataTest, FindsOnlyTheTypeThatWasSet) {
    sp<MetaData> meta = new MetaData;
    meta->setInt32(kKeyWidth, 1280);
    meta->setInt64(kKeyTime, 1234567890123LL);
    meta->setCString(kKeyMIMEType, "video/avc");
    meta->setRect(kKeyCropRect, 1, 2, 3, 4);
    int32_t i32;
    int64_t i64;
    const char* s;
    EXPECT_TRUE(meta->findInt32(kKeyWidth, &i32));
    EXPECT_EQ(1280, i32);
    EXPECT_FALSE(meta->findInt64(kKeyWidth, &i64));
    EXPECT_TRUE(meta->findInt64(kKeyTime, &i64));
    EXPECT_EQ(1234567890123LL, i64);
    EXPECT_TRUE(meta->findCString(kKeyMIMEType, &s));
    EXPECT_STREQ("video/avc", s);
    int32_t l, t, r, b;
    EXPECT_TRUE(meta->findRect(kKeyCropRect, &l, &t, &r, &b));
    EXPECT_EQ(4, b);
    EXPECT_FALSE(meta->findInt32(kKeyHeight, &i32));

    sp<MetaData> copy = new MetaData(*meta);
    meta->clear();
    EXPECT_TRUE(copy->findInt32(kKeyWidth, &i32));
    EXPECT_FALSE(meta->findInt32(kKeyWidth, &i32));
}

struct Observer : public MediaBufferObserver {
    void signalBufferReturned(MediaBuffer* buffer) override {
        ++returned;
        buffer->setObserver(nullptr);
        buffer->release();
    }
    int returned = 0;
};

TEST(MediaBufferTest, ObserverHearsOfTheLastReleaseOnly) {
    uint8_t bytes[16];
    Observer observer;
    MediaBuffer* buffer = new MediaBuffer(bytes, sizeof(bytes));
    EXPECT_EQ(bytes, buffer->data());
    buffer->add_ref();
    buffer->add_ref();
    buffer->setObserver(&observer);
    buffer->release();
    EXPECT_EQ(0, observer.returned);
    buffer->release();  // the observer destroys it
    EXPECT_EQ(1, observer.returned);
}

TEST(MediaBufferTest, RangeAndOwnStorage) {
    MediaBuffer* buffer = new MediaBuffer(100);
    buffer->set_range(10, 20);
    EXPECT_EQ(10u, buffer->range_offset());
    EXPECT_EQ(20u, buffer->range_length());
    buffer->meta_data()->setInt32(kKeyIsSyncFrame, 1);
    buffer->reset();
    EXPECT_EQ(100u, buffer->range_length());
    EXPECT_FALSE(buffer->meta_data()->hasData(kKeyIsSyncFrame));
    buffer->release();
}

}  // namespace
