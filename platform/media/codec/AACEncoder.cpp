#define LOG_TAG "AACEncoder"
#include <media/stagefright/AACEncoder.h>

#include <host/omx_service.h>
#include <utils/Log.h>

#include "codec/PlatformEncoder.h"

namespace android {

namespace {
const char kComponent[] = "OMX.google.aac.encoder";
}

AACEncoder::AACEncoder(const sp<MediaSource>& source, const sp<MetaData>& meta)
    : mSource(source), mMeta(meta) {}

AACEncoder::~AACEncoder() {}

sp<MediaSource> AACEncoder::encoder() {
    Mutex::Autolock lock(mLock);
    if (mEncoder == nullptr) {
        mEncoder = PlatformEncoder::Create(host::omxService(), kComponent, mMeta, mSource);
        if (mEncoder == nullptr) ALOGE("%s is not available", kComponent);
    }
    return mEncoder;
}

status_t AACEncoder::start(MetaData* params) {
    sp<MediaSource> e = encoder();
    return e != nullptr ? e->start(params) : NO_INIT;
}

status_t AACEncoder::stop() {
    sp<MediaSource> e = encoder();
    return e != nullptr ? e->stop() : NO_INIT;
}

sp<MetaData> AACEncoder::getFormat() {
    sp<MediaSource> e = encoder();
    return e != nullptr ? e->getFormat() : mMeta;
}

status_t AACEncoder::read(MediaBuffer** buffer, const ReadOptions* options) {
    *buffer = nullptr;
    sp<MediaSource> e = encoder();
    return e != nullptr ? e->read(buffer, options) : NO_INIT;
}

}  // namespace android
