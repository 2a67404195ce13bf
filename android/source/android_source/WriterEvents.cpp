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

void WriterEvents::reset() {
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
