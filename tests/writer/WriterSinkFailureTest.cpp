// Write failures injected through the writer's byte sink: whichever write
// fails, from ftyp to the last byte of the moov, the recording fails.
#include <gtest/gtest.h>

#include <memory>

#include <media/stagefright/MediaErrors.h>

#include "RecordHelper.h"
#include "mpeg4_writer/ByteSink.h"

namespace wtest {
namespace {

// Memory underneath; write call number `failingWrite` (from 1) and every
// one after it fail.
class FailingSink : public qor::IByteSink {
public:
    FailingSink(size_t failingWrite, size_t* writes)
        : mFailingWrite(failingWrite), mWrites(writes) {}
    void write(const void* data, size_t size) override {
        if (++*mWrites >= mFailingWrite) mStatus = android::ERROR_IO;
        if (mStatus == android::OK) mMemory.write(data, size);
        else mMemory.seek(mMemory.position() + (int64_t)size);
    }
    void seek(int64_t offset) override { mMemory.seek(offset); }
    int64_t position() const override { return mMemory.position(); }
    android::status_t status() const override { return mStatus.load(); }

private:
    qor::MemoryByteSink mMemory;
    size_t mFailingWrite;
    size_t* mWrites;
    std::atomic<android::status_t> mStatus{android::OK};
};

// One video track: its samples are written by its own thread, so the
// writes come in the same order every time.
status_t recordThrough(size_t failingWrite, size_t* writes) {
    *writes = 0;
    sp<qor::MPEG4Writer> writer =
        new qor::MPEG4Writer(std::make_unique<FailingSink>(failingWrite, writes));
    EXPECT_EQ(0, writer->initCheck());
    sp<ReplaySource> video = new ReplaySource(videoFormat(), videoUnits(20));
    EXPECT_EQ(0, writer->addSource(video));
    EXPECT_EQ(0, writer->start(nullptr));
    EXPECT_TRUE(waitForEOS(writer.get()));
    return writer->stop();
}

TEST(WriterSinkFailure, EveryFailingWriteFailsTheRecording) {
    size_t writes = 0;
    ASSERT_EQ(0, recordThrough(SIZE_MAX, &writes));
    const size_t total = writes;
    ASSERT_GT(total, 20u);
    // The first (ftyp), a sample in the middle, the first of the moov's
    // placement and the very last one.
    for (size_t failing : {(size_t)1, total / 2, total - 2, total}) {
        EXPECT_EQ(android::ERROR_IO, recordThrough(failing, &writes)) << "write " << failing;
    }
}

}  // namespace
}  // namespace wtest
