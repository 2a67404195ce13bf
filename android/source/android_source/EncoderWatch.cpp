#define LOG_TAG "qor_codec"
#include "android_source/EncoderWatch.h"

#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

namespace qor {

EncoderWatch::EncoderWatch(const sp<android::MediaSource>& encoder,
                           const sp<EncodeSource>& pushSource)
    : mEncoder(encoder), mPushSource(pushSource) {}

status_t EncoderWatch::start(android::MetaData* params) { return mEncoder->start(params); }

status_t EncoderWatch::stop() { return mEncoder->stop(); }

sp<android::MetaData> EncoderWatch::getFormat() { return mEncoder->getFormat(); }

status_t EncoderWatch::pause() { return mEncoder->pause(); }

status_t EncoderWatch::read(android::MediaBuffer** buffer, const ReadOptions* options) {
    status_t err = mEncoder->read(buffer, options);
    if (err != android::OK && err != android::INFO_FORMAT_CHANGED) {
        // At the end of a recording the source has already ended; otherwise
        // nothing will read it again.
        if (err != android::ERROR_END_OF_STREAM) ALOGE("encoder read failed: %d", err);
        mPushSource->readerEnded();
    }
    return err;
}

}  // namespace qor
