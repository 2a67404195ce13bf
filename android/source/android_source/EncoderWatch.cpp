#define LOG_TAG "qor_codec"
#include "android_source/EncoderWatch.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

namespace qor {

using android::MediaBuffer;

// One read at a time: the writer's thread asks, the reading thread calls
// the encoder and answers. Shared, so that a read still under way when the
// watch goes finds it.
struct EncoderWatch::Reader {
    std::mutex lock;
    std::condition_variable changed;
    bool started = false;  // the reading thread
    bool asked = false;
    bool answered = false;
    bool abandoned = false;
    bool closing = false;  // the watch is gone: the thread ends
    MediaBuffer* buffer = nullptr;
    status_t result = android::OK;

    // The reading thread: serves reads until the watch closes or abandons.
    void serve(const sp<android::MediaSource>& encoder) {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            changed.wait(hold, [this] { return asked || closing || abandoned; });
            if (closing || abandoned) return;
            hold.unlock();
            MediaBuffer* got = nullptr;
            const status_t err = encoder->read(&got);
            hold.lock();
            asked = false;
            if (abandoned || closing) {
                if (got != nullptr) got->release();  // nobody waits for it any more
                return;
            }
            buffer = got;
            result = err;
            answered = true;
            changed.notify_all();
        }
    }
};

EncoderWatch::EncoderWatch(const sp<android::MediaSource>& encoder,
                           const sp<EncodeSource>& pushSource)
    : mEncoder(encoder), mPushSource(pushSource), mReader(std::make_shared<Reader>()) {}

EncoderWatch::~EncoderWatch() {
    std::lock_guard<std::mutex> hold(mReader->lock);
    mReader->closing = true;
    mReader->changed.notify_all();
}

status_t EncoderWatch::start(android::MetaData* params) { return mEncoder->start(params); }

status_t EncoderWatch::stop() {
    if (!abandoned()) return mEncoder->stop();
    sp<android::MediaSource> encoder = mEncoder;
    try {
        std::thread([encoder] { encoder->stop(); }).detach();
    } catch (const std::system_error&) {
        ALOGE("no thread to stop an abandoned encoder on: it is left running");
    }
    return android::OK;
}

sp<android::MetaData> EncoderWatch::getFormat() { return mEncoder->getFormat(); }

status_t EncoderWatch::pause() { return mEncoder->pause(); }

void EncoderWatch::abandon() {
    std::lock_guard<std::mutex> hold(mReader->lock);
    if (mReader->abandoned) return;
    mReader->abandoned = true;
    mReader->changed.notify_all();
    mPushSource->readerEnded();
}

bool EncoderWatch::abandoned() const {
    std::lock_guard<std::mutex> hold(mReader->lock);
    return mReader->abandoned;
}

bool EncoderWatch::readPending() const {
    std::lock_guard<std::mutex> hold(mReader->lock);
    return mReader->asked;
}

status_t EncoderWatch::readThroughThread(MediaBuffer** buffer) {
    std::unique_lock<std::mutex> hold(mReader->lock);
    if (!mReader->started) {
        std::shared_ptr<Reader> reader = mReader;
        sp<android::MediaSource> encoder = mEncoder;
        try {
            std::thread([reader, encoder] { reader->serve(encoder); }).detach();
        } catch (const std::system_error&) {
            hold.unlock();
            return mEncoder->read(buffer);  // no thread: read here, as before
        }
        mReader->started = true;
    }
    mReader->asked = true;
    mReader->answered = false;
    mReader->changed.notify_all();
    mReader->changed.wait(hold, [this] { return mReader->answered || mReader->abandoned; });
    if (!mReader->answered) return android::TIMED_OUT;
    mReader->answered = false;
    *buffer = mReader->buffer;
    mReader->buffer = nullptr;
    return mReader->result;
}

status_t EncoderWatch::read(MediaBuffer** buffer, const ReadOptions* options) {
    *buffer = nullptr;
    if (abandoned()) return android::TIMED_OUT;
    // Options live only for this call: such a read is not handed to the thread.
    status_t err = options != nullptr ? mEncoder->read(buffer, options) : readThroughThread(buffer);
    if (err != android::OK && err != android::INFO_FORMAT_CHANGED) {
        // At the end of a recording the source has already ended; otherwise
        // nothing will read it again.
        if (err != android::ERROR_END_OF_STREAM && err != android::TIMED_OUT) {
            ALOGE("encoder read failed: %d", err);
        }
        mPushSource->readerEnded();
    }
    return err;
}

}  // namespace qor
