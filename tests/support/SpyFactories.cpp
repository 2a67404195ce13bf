// A recorder library whose writer and encoders are test doubles: the real
// recorder, push sources and C interface, with encoders that hold each
// buffer for SPY_HOLD_US microseconds and check it stays unchanged. At stop
// the writer logs what each encoder saw (tag "spy"). With SPY_DISK_BEHIND_AT=N
// the disk falls behind (the writer reports a backlog, as the MP4 writer
// does) once the video encoder has taken its Nth frame.
#define LOG_TAG "spy"
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include <media/IMediaRecorderClient.h>
#include <media/stagefright/MediaDefs.h>
#include <utils/Log.h>

#include "FakeMedia.h"
#include "android_source/EncoderWatch.h"
#include "android_source/RecorderFactories.h"
#include "mpeg4_writer/MPEG4Writer.h"

namespace {

using android::sp;

class SpyWriter : public qortest::FakeWriter {
public:
    void fallBehind() {
        ALOGI("spy: the disk falls behind");
        notify(android::MEDIA_RECORDER_EVENT_INFO, qor::MPEG4Writer::kInfoWriterBacklog, 1);
    }

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

std::mutex gWriterLock;
android::wp<SpyWriter> gWriter;  // of the current recording

sp<android::MediaWriter> makeWriter(const char*) {
    sp<SpyWriter> writer = new SpyWriter;
    std::lock_guard<std::mutex> guard(gWriterLock);
    gWriter = writer;
    return writer;
}

// Stands between an encoder and its push source: the disk falls behind once
// the encoder has taken frame number `at`.
class DiskBehindAt : public android::MediaSource {
public:
    DiskBehindAt(const sp<android::MediaSource>& source, int at) : mSource(source), mAt(at) {}
    android::status_t start(android::MetaData* params) override { return mSource->start(params); }
    android::status_t stop() override { return mSource->stop(); }
    sp<android::MetaData> getFormat() override { return mSource->getFormat(); }
    android::status_t read(android::MediaBuffer** out, const ReadOptions* options) override {
        android::status_t err = mSource->read(out, options);
        if (err == android::OK && ++mReads == mAt) {
            std::lock_guard<std::mutex> guard(gWriterLock);
            sp<SpyWriter> writer = gWriter.promote();
            if (writer != nullptr) writer->fallBehind();
        }
        return err;
    }

private:
    const sp<android::MediaSource> mSource;
    const int mAt;
    int mReads = 0;  // the encoder reads on one thread
};

sp<android::MediaSource> makeEncoder(const sp<android::IOMX>&, const sp<android::MetaData>& meta,
                                     bool, const sp<android::MediaSource>& source, const char*,
                                     uint32_t, const sp<ANativeWindow>&) {
    const char* hold = getenv("SPY_HOLD_US");
    const char* behindAt = getenv("SPY_DISK_BEHIND_AT");
    const char* mime = "";
    meta->findCString(android::kKeyMIMEType, &mime);
    sp<android::MediaSource> input = source;
    if (behindAt != nullptr && strncmp(mime, "video/", 6) == 0) {
        input = new DiskBehindAt(source, atoi(behindAt));
    }
    return new qortest::CheckingEncoder(input, meta, hold ? atoi(hold) : 2000);
}

}  // namespace

namespace qor {

RecorderFactories defaultRecorderFactories() {
    RecorderFactories factories;
    factories.createWriter = &makeWriter;
    factories.ownEncoderFactory = &makeEncoder;
    factories.platformEncoderFactory = &makeEncoder;
    return factories;
}

}  // namespace qor
