// The push source: blocking hand-over between one producer and one reader,
// and end of stream releasing both sides.
#include "android_source/EncodeSource.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <host/log_record.h>
#include <media/stagefright/MetaData.h>

#include <gtest/gtest.h>

#include "common/MediaBufferRef.h"

namespace {

using android::MediaBuffer;
using android::MetaData;
using android::sp;
using qor::EncodeSource;

class EncodeSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::logClear();
        mSource = new EncodeSource("video", new MetaData);
    }

    // True when `f` has not completed within a short while.
    template <typename T>
    static bool stillBlocked(std::future<T>& f) {
        // Shorter than a push's wait for the slot (40 ms).
        return f.wait_for(std::chrono::milliseconds(10)) == std::future_status::timeout;
    }

    sp<EncodeSource> mSource;
    uint8_t mFrames[3][16] = {};
};

TEST_F(EncodeSourceTest, ReadBlocksUntilThePushAndCarriesItsTime) {
    mSource->start();
    auto reader = std::async(std::launch::async, [&] {
        MediaBuffer* buffer = nullptr;
        EXPECT_EQ(android::OK, mSource->read(&buffer));
        return buffer;
    });
    EXPECT_TRUE(stillBlocked(reader));
    EXPECT_EQ(0, mSource->pushBuffer(mFrames[0], 99, 16, 1234));
    qor::MediaBufferRef buffer(reader.get());
    ASSERT_TRUE(buffer);
    EXPECT_EQ(mFrames[0], buffer->data());  // no copy
    EXPECT_EQ(16u, buffer->range_length());
    int64_t timeUs = 0;
    EXPECT_TRUE(buffer->meta_data()->findInt64(android::kKeyTime, &timeUs));
    EXPECT_EQ(1234, timeUs);
}

TEST_F(EncodeSourceTest, SecondPushWaitsUntilTheFirstIsRead) {
    mSource->start();
    EXPECT_EQ(0, mSource->pushBuffer(mFrames[0], 0, 16, 1));
    auto second = std::async(std::launch::async,
                             [&] { return mSource->pushBuffer(mFrames[1], 0, 16, 2); });
    qor::MediaBufferRef buffer;
    ASSERT_EQ(android::OK, mSource->read(buffer.receive()));
    ASSERT_EQ(0, second.get());  // the slot is free once read, before release
    EXPECT_EQ(mFrames[0], buffer->data());
    // receive() gives the first buffer back before the second read.
    ASSERT_EQ(android::OK, mSource->read(buffer.receive()));
    EXPECT_EQ(mFrames[1], buffer->data());
}

TEST_F(EncodeSourceTest, PushOutsideTheStartedSpanIsRefused) {
    EXPECT_EQ(android::INVALID_OPERATION, mSource->pushBuffer(mFrames[0], 0, 16, 1));
    EXPECT_EQ(1, host::logCount("[video] pushBuffer called before start.", "qor_codec"));
    mSource->start();
    mSource->start();
    EXPECT_EQ(1, host::logCount("[video] EncodeSource start"));
    mSource->stop();
    EXPECT_EQ(1, host::logCount("[video] EncodeSource stop"));
    // The encoder stopped reading (it ended or failed): every push is
    // refused at once, with one line for the whole run.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(-1, mSource->pushBuffer(mFrames[0], 0, 16, 1));
    EXPECT_EQ(1, host::logCount("[video] the encoder stopped reading (it ended): this stream's "
                                "pushes are refused from now on."));
}

// A failing encoder stops its source while the game waits for the slot:
// the push returns then, not after the slot wait's limit.
TEST_F(EncodeSourceTest, StopByTheEncoderReleasesAWaitingPush) {
    mSource->start();
    EXPECT_EQ(0, mSource->pushBuffer(mFrames[0], 0, 16, 1));
    auto second = std::async(std::launch::async,
                             [&] { return mSource->pushBuffer(mFrames[1], 0, 16, 2); });
    EXPECT_TRUE(stillBlocked(second));
    const auto t0 = std::chrono::steady_clock::now();
    mSource->stop();
    EXPECT_EQ(-1, second.get());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST_F(EncodeSourceTest, EndOfStreamWakesAWaitingReaderThenRefusesReads) {
    mSource->start();
    auto reader = std::async(std::launch::async, [&] {
        MediaBuffer* buffer = nullptr;
        return mSource->read(&buffer);
    });
    EXPECT_TRUE(stillBlocked(reader));
    mSource->signalEOS();
    EXPECT_EQ(android::ERROR_END_OF_STREAM, reader.get());
    EXPECT_EQ(1, host::logCount("[video:224] EncodeSource read no more data."));
    MediaBuffer* buffer = nullptr;
    EXPECT_EQ(android::ERROR_END_OF_STREAM, mSource->read(&buffer));
    EXPECT_EQ(1, host::logCount("[video:215] EncodeSource read no more data."));
}

// The encoder reads on a thread of its own; its stop must not leave that
// thread waiting for a frame that will never be pushed.
TEST_F(EncodeSourceTest, StopWakesAWaitingReader) {
    mSource->start();
    auto reader = std::async(std::launch::async, [&] {
        MediaBuffer* buffer = nullptr;
        return mSource->read(&buffer);
    });
    EXPECT_TRUE(stillBlocked(reader));
    mSource->stop();
    ASSERT_EQ(std::future_status::ready, reader.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ(android::ERROR_END_OF_STREAM, reader.get());
}

TEST_F(EncodeSourceTest, EndOfStreamDeliversThePendingBufferAndReleasesAWaitingProducer) {
    mSource->start();
    EXPECT_EQ(0, mSource->pushBuffer(mFrames[0], 0, 16, 1));
    auto producer = std::async(std::launch::async,
                               [&] { return mSource->pushBuffer(mFrames[1], 0, 16, 2); });
    EXPECT_TRUE(stillBlocked(producer));
    mSource->signalEOS();
    EXPECT_EQ(-1, producer.get());  // not accepted, so not owed to the file
    // The accepted buffer still reaches the encoder, then the stream ends.
    qor::MediaBufferRef buffer;
    ASSERT_EQ(android::OK, mSource->read(buffer.receive()));
    EXPECT_EQ(mFrames[0], buffer->data());
    EXPECT_EQ(android::ERROR_END_OF_STREAM, mSource->read(buffer.receive()));
    EXPECT_EQ(nullptr, buffer.get());
    EXPECT_EQ(-1, mSource->pushBuffer(mFrames[2], 0, 16, 3));
}

// An encoder that stops taking buffers: pushes drop their frame after a
// short wait (one warning for the run); once a buffer waited a second the
// stream has stalled and every push is refused at once.
TEST_F(EncodeSourceTest, PushGivesUpWhenTheEncoderStopsReadingThenTheStreamStalls) {
    mSource->start();
    EXPECT_EQ(0, mSource->pushBuffer(mFrames[0], 0, 16, 1));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, mSource->pushBuffer(mFrames[1], 0, 16, 2));
    EXPECT_EQ(-1, mSource->pushBuffer(mFrames[1], 0, 16, 3));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
    EXPECT_EQ(1, host::logCount("[video] pushBuffer gave up: the encoder has not read for 40 ms."));
    EXPECT_FALSE(mSource->stalled());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_TRUE(mSource->stalled());
    for (int i = 0; i < 3; ++i) {
        const auto t = std::chrono::steady_clock::now();
        EXPECT_EQ(-1, mSource->pushBuffer(mFrames[1], 0, 16, 4 + i));
        EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(100));
    }
    EXPECT_EQ(1, host::logCount("[video] the encoder stopped reading (it took nothing for a second: "
                                "stalled): this stream's pushes are refused from now on."));
}

TEST_F(EncodeSourceTest, ManyBuffersPassInOrderBetweenTwoThreads) {
    mSource->start();
    const int kCount = 500;
    std::thread producer([&] {
        for (int i = 1; i <= kCount; ++i) ASSERT_EQ(0, mSource->pushBuffer(mFrames[i % 3], i, 16, i));
    });
    for (int i = 1; i <= kCount; ++i) {
        qor::MediaBufferRef buffer;
        ASSERT_EQ(android::OK, mSource->read(buffer.receive()));
        int64_t timeUs = 0;
        buffer->meta_data()->findInt64(android::kKeyTime, &timeUs);
        EXPECT_EQ(i, timeUs);
    }
    producer.join();
    mSource->signalEOS();
}

}  // namespace
