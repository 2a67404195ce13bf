/*
 * Test doubles for the recorder's writer and encoders.
 *
 * CheckingEncoder: a MediaSource over a push source that reads like an
 * encoder, optionally holding each buffer for a while (a slow encoder), and
 * checks that the bytes it was given stay unchanged while it holds them.
 *
 * FakeWriter: a MediaWriter that reads every added source on a thread of its
 * own until end of stream, the way the MP4 writer's tracks do.
 */
#ifndef QOR_TESTS_FAKE_MEDIA_H_
#define QOR_TESTS_FAKE_MEDIA_H_

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MediaWriter.h>
#include <media/stagefright/MetaData.h>

namespace qortest {

using android::sp;
using android::status_t;

struct ReadRecord {
    int64_t timeUs;
    size_t size;
    uint8_t firstByte;
    bool stable;  // the bytes did not change while the buffer was held
};

class CheckingEncoder : public android::MediaSource {
public:
    CheckingEncoder(const sp<android::MediaSource>& source, const sp<android::MetaData>& format,
                    int holdMicros);

    status_t start(android::MetaData* params = nullptr) override;
    status_t stop() override;
    sp<android::MetaData> getFormat() override { return mFormat; }
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override;

    std::vector<ReadRecord> records();
    int startCount() const { return mStarts; }
    int stopCount() const { return mStops; }

    // When set, start() fails with this status.
    status_t mStartResult = android::OK;

private:
    sp<android::MediaSource> mSource;
    sp<android::MetaData> mFormat;
    int mHoldMicros;
    std::mutex mLock;
    std::vector<ReadRecord> mRecords;
    std::atomic<int> mStarts{0}, mStops{0};
};

class FakeWriter : public android::MediaWriter {
public:
    FakeWriter() {}

    status_t addSource(const sp<android::MediaSource>& source) override;
    bool reachedEOS() override;
    status_t start(android::MetaData* params = nullptr) override;
    status_t stop() override;
    status_t pause() override;

    std::vector<sp<android::MediaSource>> sources() { return mSources; }
    int startCalls() const { return mStartCalls; }
    bool lastStartHadParams() const { return mLastStartHadParams; }
    int32_t lastRealTime() const { return mLastRealTime; }

    status_t mStartResult = android::OK;
    status_t mStopResult = android::OK;
    status_t mPauseResult = android::OK;
    // When set, reachedEOS() says every track ended (their encoders failed).
    std::atomic<bool> mTracksEnded{false};

protected:
    ~FakeWriter() override;

private:
    void pull(size_t index);

    std::vector<sp<android::MediaSource>> mSources;
    std::vector<std::thread> mThreads;
    std::atomic<int> mRunning{0};
    std::atomic<bool> mStarted{false};
    int mStartCalls = 0;
    bool mLastStartHadParams = false;
    int32_t mLastRealTime = -1;
};

}  // namespace qortest

#endif  // QOR_TESTS_FAKE_MEDIA_H_
