// The driver's data flow against the host service's components: output
// never waits for the game's next frame, stop is safe while the feeder
// waits for one, a lying fill ends the stream as a component error, and a
// frame in several buffers keeps every frame's decoding time.
#include <chrono>
#include <future>

#include <host/log_record.h>

#include "DriverTestSupport.h"

namespace {

using namespace qor_driver_test;
using std::chrono::seconds;

// The game: `ready` frames at once, then one more each time it is opened
// (or none, until stop). Counts the frames it handed out and got back.
class GameSource : public android::MediaSource, public android::MediaBufferObserver {
public:
    GameSource(size_t bytes, int ready) : mBytes(bytes), mAllowed(ready) {}
    status_t start(MetaData*) override { return android::OK; }
    status_t stop() override {
        std::lock_guard<std::mutex> guard(mMutex);
        mStopped = true;
        mCond.notify_all();
        return android::OK;
    }
    sp<MetaData> getFormat() override { return new MetaData; }
    status_t read(MediaBuffer** out, const ReadOptions*) override {
        std::unique_lock<std::mutex> lock(mMutex);
        mCond.wait(lock, [this] { return mStopped || mRead < mAllowed; });
        if (mStopped) return android::ERROR_END_OF_STREAM;
        MediaBuffer* b = new MediaBuffer(mBytes);
        memset(b->data(), (mRead * 37) & 0xFF, mBytes);
        b->meta_data()->setInt64(android::kKeyTime, 1000 + mRead * 33333);
        b->setObserver(this);
        b->add_ref();
        ++mRead;
        *out = b;
        return android::OK;
    }
    void signalBufferReturned(MediaBuffer* buffer) override {
        buffer->setObserver(nullptr);
        buffer->release();
        std::lock_guard<std::mutex> guard(mMutex);
        ++mReturned;
    }
    void open(int frames) {
        std::lock_guard<std::mutex> guard(mMutex);
        mAllowed += frames;
        mCond.notify_all();
    }
    int outstanding() {
        std::lock_guard<std::mutex> guard(mMutex);
        return mRead - mReturned;
    }

private:
    const size_t mBytes;
    std::mutex mMutex;
    std::condition_variable mCond;
    int mAllowed, mRead = 0, mReturned = 0;
    bool mStopped = false;
};

// Reads `count` outputs with data; false on an error first.
bool readOutputs(const sp<android::MediaSource>& codec, int count) {
    for (int n = 0; n < count;) {
        MediaBuffer* buffer = nullptr;
        if (codec->read(&buffer) != android::OK) return false;
        if (buffer->range_length() > 0) ++n;
        buffer->release();
    }
    return true;
}

TEST_F(DriverTest, OutputNeverWaitsForTheGameAndStopEndsTheWait) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<GameSource> game = new GameSource(w * h * 3 / 2, 3);
    sp<android::MediaSource> codec = create(videoFormat(w, h), game);
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());

    // The game pushed three frames and pauses: all three come out while the
    // driver waits for the fourth.
    std::future<bool> outputs = std::async(std::launch::async, [&] { return readOutputs(codec, 4); });
    const bool delivered = outputs.wait_for(seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(delivered) << "queued output waited for the game's next frame";
    if (!delivered) game->open(1);  // let the blocked reader finish
    EXPECT_TRUE(outputs.get());

    // Stop while the feeder waits for the game.
    std::future<status_t> stopped = std::async(std::launch::async, [&] { return codec->stop(); });
    const bool stopEnded = stopped.wait_for(seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(stopEnded) << "stop waited for the game's next frame";
    if (!stopEnded) game->stop();
    EXPECT_EQ(android::OK, stopped.get());
    EXPECT_EQ(OMXCodec::LOADED, static_cast<OMXCodec*>(codec.get())->state());
    EXPECT_EQ(0, game->outstanding()) << "every frame read goes back to the game";
}

// Stop at every point of the stream while the game delivers frames: no
// frame kept, the component back in Loaded (a race the thread sanitizer
// build checks).
TEST_F(DriverTest, StopRacesTheFeederSafely) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    for (int round = 0; round < 8; ++round) {
        sp<GameSource> game = new GameSource(w * h * 3 / 2, round % 3);
        sp<android::MediaSource> codec = create(videoFormat(w, h), game);
        ASSERT_NE(nullptr, codec.get());
        ASSERT_EQ(android::OK, codec->start());
        std::thread pusher([&] {
            for (int i = 0; i < 4; ++i) {
                game->open(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        EXPECT_TRUE(readOutputs(codec, 1 + round % 3));  // the configuration and frames
        pusher.join();
        EXPECT_EQ(android::OK, codec->stop());
        EXPECT_EQ(OMXCodec::LOADED, static_cast<OMXCodec*>(codec.get())->state());
        EXPECT_EQ(0, game->outstanding()) << "round " << round;
    }
}

// A fill-buffer-done whose range does not fit its buffer: nothing of that
// buffer reaches the client, the stream ends as a component error.
TEST_F(DriverTest, LyingFillEndsTheStreamAsAComponentError) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    proxy->overstateFill(3);  // configuration, frame, then the lie
    sp<android::MediaSource> codec =
        OMXCodec::Create(proxy, videoFormat(w, h), true, new RawSource(w * h * 3 / 2, 10, 33333));
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    int delivered = 0;
    MediaBuffer* buffer = nullptr;
    status_t err;
    while ((err = codec->read(&buffer)) == android::OK) {
        EXPECT_LE(buffer->range_offset() + buffer->range_length(), buffer->size());
        ++delivered;
        buffer->release();
    }
    EXPECT_EQ(android::UNKNOWN_ERROR, err);
    // The error may overtake the two good ones; nothing from the lie on.
    EXPECT_LE(delivered, 2);
    EXPECT_EQ(1, host::logCount("claims 1073741824 bytes", "OMXCodec"));
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(OMXCodec::ERROR, static_cast<OMXCodec*>(codec.get())->state());
    proxy.clear();
}

struct Output {
    int64_t timeUs, decodingTimeUs;
    bool startsWithStartCode;
};

// Frames in two buffers each, from an encoder that also trails its inputs
// by two frames: every piece carries its frame's time and decoding time, in
// order, and later frames keep theirs.
TEST_F(DriverTest, FrameInSeveralBuffersSharesItsDecodingTime) {
    useCodecs(avc(0, "OMX.vendor.avc", "slices=2") + "codec.0.latency=2\n");
    const int w = 176, h = 144, frames = 10;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    proxy->splitFrames();
    sp<android::MediaSource> codec = OMXCodec::Create(proxy, videoFormat(w, h), true,
                                                      new RawSource(w * h * 3 / 2, frames, 33333));
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    std::vector<Output> outputs;
    MediaBuffer* buffer = nullptr;
    status_t err;
    while ((err = codec->read(&buffer)) == android::OK) {
        int32_t isConfig = 0;
        buffer->meta_data()->findInt32(android::kKeyIsCodecConfig, &isConfig);
        if (!isConfig && buffer->range_length() > 0) {
            Output o;
            EXPECT_TRUE(buffer->meta_data()->findInt64(android::kKeyTime, &o.timeUs));
            EXPECT_TRUE(buffer->meta_data()->findInt64(android::kKeyDecodingTime, &o.decodingTimeUs));
            const uint8_t* p = (const uint8_t*)buffer->data() + buffer->range_offset();
            o.startsWithStartCode = buffer->range_length() > 4 && memcmp(p, "\x00\x00\x00\x01", 4) == 0;
            outputs.push_back(o);
        }
        buffer->release();
    }
    EXPECT_EQ(android::ERROR_END_OF_STREAM, err);
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_GE(proxy->splits(), 1);  // the first frame always: the spare is kept from the start
    EXPECT_EQ((size_t)(frames + proxy->splits()), outputs.size());
    int frame = -1;
    int64_t lastTimeUs = -1;
    for (const Output& o : outputs) {
        if (o.timeUs != lastTimeUs) ++frame;
        lastTimeUs = o.timeUs;
        EXPECT_EQ(1000 + frame * 33333, o.timeUs) << "frames in order";
        EXPECT_EQ(o.timeUs, o.decodingTimeUs) << "frame " << frame;
        EXPECT_TRUE(o.startsWithStartCode);
    }
    EXPECT_EQ(frames - 1, frame);
    proxy.clear();
}

}  // namespace
