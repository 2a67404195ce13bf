// A recorder library whose writer and encoders are test doubles: the real
// recorder, push sources and C interface, with encoders that hold each
// buffer for SPY_HOLD_US microseconds and check it stays unchanged. At stop
// the writer logs what each encoder saw (tag "spy").
#define LOG_TAG "spy"
#include <stdlib.h>

#include <media/stagefright/MediaDefs.h>
#include <utils/Log.h>

#include "FakeMedia.h"
#include "android_source/EncoderWatch.h"
#include "android_source/RecorderFactories.h"

namespace {

using android::sp;

class SpyWriter : public qortest::FakeWriter {
public:
    android::status_t stop() override {
        android::status_t err = FakeWriter::stop();
        for (const sp<android::MediaSource>& source : sources()) {
            // The recorder hands the writer each encoder behind its watch.
            auto* watch = static_cast<qor::EncoderWatch*>(source.get());
            auto* encoder = static_cast<qortest::CheckingEncoder*>(watch->encoder().get());
            const char* mime = "";
            encoder->getFormat()->findCString(android::kKeyMIMEType, &mime);
            int unstable = 0;
            for (const qortest::ReadRecord& r : encoder->records()) {
                ALOGI("spy %s read size %zu first %u time %lld", mime, r.size, r.firstByte,
                      (long long)r.timeUs);
                if (!r.stable) ++unstable;
            }
            ALOGI("spy %s reads %zu unstable %d", mime, encoder->records().size(), unstable);
        }
        const char* result = getenv("SPY_STOP_RESULT");
        return result ? atoi(result) : err;
    }
};

sp<android::MediaSource> makeEncoder(const sp<android::IOMX>&, const sp<android::MetaData>& meta,
                                     bool, const sp<android::MediaSource>& source, const char*,
                                     uint32_t, const sp<ANativeWindow>&) {
    const char* hold = getenv("SPY_HOLD_US");
    return new qortest::CheckingEncoder(source, meta, hold ? atoi(hold) : 2000);
}

}  // namespace

namespace qor {

RecorderFactories defaultRecorderFactories() {
    RecorderFactories factories;
    factories.createWriter = [](const char*) -> sp<android::MediaWriter> { return new SpyWriter; };
    factories.ownEncoderFactory = &makeEncoder;
    factories.platformEncoderFactory = &makeEncoder;
    return factories;
}

}  // namespace qor
