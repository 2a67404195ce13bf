#define LOG_TAG "fake_media"
#include "FakeMedia.h"

#include <string.h>
#include <unistd.h>

#include <utils/Log.h>

#include "common/MediaBufferRef.h"

namespace qortest {

using android::MediaBuffer;
using android::MetaData;

CheckingEncoder::CheckingEncoder(const sp<android::MediaSource>& source,
                                 const sp<MetaData>& format, int holdMicros)
    : mSource(source), mFormat(format), mHoldMicros(holdMicros) {}

status_t CheckingEncoder::start(MetaData* params) {
    ++mStarts;
    if (mStartResult != android::OK) return mStartResult;
    return mSource->start(params);
}

status_t CheckingEncoder::stop() {
    ++mStops;
    return mSource->stop();
}

status_t CheckingEncoder::read(MediaBuffer** out, const ReadOptions*) {
    *out = nullptr;
    qor::MediaBufferRef in;
    status_t err = mSource->read(in.receive());
    if (err != android::OK) return err;

    const uint8_t* bytes = (const uint8_t*)in->data() + in->range_offset();
    const size_t size = in->range_length();
    std::vector<uint8_t> snapshot(bytes, bytes + size);
    if (mHoldMicros > 0) usleep(mHoldMicros);
    const bool stable = memcmp(snapshot.data(), bytes, size) == 0;
    int64_t timeUs = 0;
    in->meta_data()->findInt64(android::kKeyTime, &timeUs);
    in.reset();
    {
        std::lock_guard<std::mutex> guard(mLock);
        mRecords.push_back({timeUs, size, size ? snapshot[0] : (uint8_t)0, stable});
    }
    if (!stable) ALOGE("buffer at %lld changed while the encoder held it", (long long)timeUs);

    // One small "access unit" per input.
    MediaBuffer* unit = new MediaBuffer(4);
    memset(unit->data(), size ? snapshot[0] : 0, 4);
    unit->meta_data()->setInt64(android::kKeyTime, timeUs);
    unit->meta_data()->setInt64(android::kKeyDecodingTime, timeUs);
    *out = unit;
    return android::OK;
}

std::vector<ReadRecord> CheckingEncoder::records() {
    std::lock_guard<std::mutex> guard(mLock);
    return mRecords;
}

FakeWriter::~FakeWriter() { stop(); }

status_t FakeWriter::addSource(const sp<android::MediaSource>& source) {
    mSources.push_back(source);
    return android::OK;
}

bool FakeWriter::reachedEOS() { return mTracksEnded || mRunning.load() == 0; }

status_t FakeWriter::start(MetaData* params) {
    ++mStartCalls;
    mLastStartHadParams = params != nullptr;
    if (params != nullptr) params->findInt32(android::kKeyRealTimeRecording, &mLastRealTime);
    if (mStartResult != android::OK) return mStartResult;
    if (mStarted.exchange(true)) return android::OK;  // resume
    for (size_t i = 0; i < mSources.size(); ++i) {
        status_t err = mSources[i]->start();
        if (err != android::OK) return err;
    }
    mRunning = (int)mSources.size();
    for (size_t i = 0; i < mSources.size(); ++i) mThreads.emplace_back(&FakeWriter::pull, this, i);
    return android::OK;
}

void FakeWriter::pull(size_t index) {
    for (;;) {
        qor::MediaBufferRef buffer;
        if (mSources[index]->read(buffer.receive()) != android::OK) break;
    }
    --mRunning;
}

status_t FakeWriter::stop() {
    for (std::thread& t : mThreads) t.join();
    mThreads.clear();
    if (mStarted.exchange(false)) {
        for (auto& s : mSources) s->stop();
    }
    return mStopResult;
}

status_t FakeWriter::pause() { return mPauseResult; }

}  // namespace qortest
