// A process that never starts its binder thread pool hears nothing from the
// service, as on a device: the driver must not come to Executing. Starting
// the pool lets the held messages through, in order. Its own executable: the
// pool cannot be stopped once started.
#include <chrono>
#include <future>

#include <host/log_record.h>

#include "DriverTestSupport.h"

namespace {

using namespace qor_driver_test;

class PoolNotStartedTest : public DriverTest {
protected:
    void SetUp() override {
        host::logClear();
        ASSERT_EQ(android::OK, mClient.connect());
    }
};

TEST_F(PoolNotStartedTest, DriverComesToExecutingOnlyOnceThePoolStarts) {
    ASSERT_FALSE(android::ProcessState::self()->threadPoolStarted());
    useCodecs(avc(0, "OMX.vendor.avc.enc"));
    const int w = 176, h = 144, frames = 5;
    sp<android::MediaSource> codec =
        create(videoFormat(w, h), new RawSource(w * h * 3 / 2, frames, 33333));
    ASSERT_NE(nullptr, codec.get());
    OMXCodec* driver = static_cast<OMXCodec*>(codec.get());

    std::promise<status_t> started;
    std::future<status_t> result = started.get_future();
    std::thread starter([&] { started.set_value(codec->start()); });
    EXPECT_EQ(std::future_status::timeout, result.wait_for(std::chrono::milliseconds(500)))
        << "the component's messages arrived without a thread pool";
    EXPECT_EQ(OMXCodec::LOADED_TO_IDLE, driver->state());

    android::ProcessState::self()->startThreadPool();
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(5)));
    starter.join();
    ASSERT_EQ(android::OK, result.get());
    EXPECT_EQ(OMXCodec::EXECUTING, driver->state());

    int outputs = 0;
    MediaBuffer* buffer = nullptr;
    status_t err;
    while ((err = codec->read(&buffer)) == android::OK) {
        if (buffer->range_length() > 0) ++outputs;
        buffer->release();
    }
    EXPECT_EQ(android::ERROR_END_OF_STREAM, err);
    EXPECT_EQ(frames + 1, outputs);  // configuration + one unit per frame
    EXPECT_EQ(android::OK, codec->stop());
}

}  // namespace
