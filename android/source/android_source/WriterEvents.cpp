#define LOG_TAG "qor_codec"
#include "android_source/WriterEvents.h"

#include <utils/Log.h>

#include "mpeg4_writer/MPEG4Writer.h"

namespace qor {

void WriterEvents::notify(int msg, int ext1, int ext2) {
    if (msg == android::MEDIA_RECORDER_EVENT_ERROR && ext1 == MPEG4Writer::kErrorWriterDisk) {
        mDiskFailed = true;
    } else if (msg == android::MEDIA_RECORDER_EVENT_INFO &&
               ext1 == MPEG4Writer::kInfoWriterBacklog) {
        mBacklogged = ext2 != 0;
    }
}

namespace {

// Passes on one recording's events while it is the current one.
class RecordingListener : public android::IMediaRecorderClient {
public:
    RecordingListener(const android::sp<WriterEvents>& events, uint32_t recording,
                      const std::atomic<uint32_t>* current)
        : mEvents(events), mRecording(recording), mCurrent(current) {}
    void notify(int msg, int ext1, int ext2) override {
        if (mCurrent->load() == mRecording) mEvents->notify(msg, ext1, ext2);
    }

private:
    const android::sp<WriterEvents> mEvents;  // keeps *mCurrent alive
    const uint32_t mRecording;
    const std::atomic<uint32_t>* const mCurrent;
};

}  // namespace

android::sp<android::IMediaRecorderClient> WriterEvents::listenerForRecording() {
    return new RecordingListener(this, mRecording.load(), &mRecording);
}

void WriterEvents::reset() {
    mRecording.fetch_add(1);
    mDiskFailed = false;
    mBacklogged = false;
    mDropped = 0;
}

bool WriterEvents::dropVideoFrame() {
    if (!mBacklogged.load()) return false;
    if (mDropped.fetch_add(1) == 0) {
        ALOGW("The disk is slower than the stream: video frames are dropped until it catches up");
    }
    return true;
}

}  // namespace qor
