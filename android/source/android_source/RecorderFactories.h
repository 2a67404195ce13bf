/*
 * What the recorder creates for a recording: the MP4 writer on a path and
 * the encoders (the system's own OpenMAX IL client and the platform's
 * factory share one signature). The library wires in the real ones; tests
 * pass doubles.
 */
#ifndef QOR_RECORDER_FACTORIES_H_
#define QOR_RECORDER_FACTORIES_H_

#include <functional>

#include <media/IOMX.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MediaWriter.h>
#include <media/stagefright/MetaData.h>
#include <system/window.h>

namespace qor {

typedef android::sp<android::MediaSource> (*EncoderFactory)(
    const android::sp<android::IOMX>& omx, const android::sp<android::MetaData>& meta,
    bool createEncoder, const android::sp<android::MediaSource>& source,
    const char* matchComponentName, uint32_t flags, const android::sp<ANativeWindow>& nativeWindow);

struct RecorderFactories {
    // The writer for a new recording; null when the file cannot be made.
    std::function<android::sp<android::MediaWriter>(const char* path)> createWriter;
    // The system's own OpenMAX IL client (used for video on Qualcomm boards).
    EncoderFactory ownEncoderFactory = nullptr;
    // The platform's encoder client (audio everywhere, video elsewhere).
    EncoderFactory platformEncoderFactory = nullptr;
};

// The real writer and encoders; defined by the encoder library itself.
RecorderFactories defaultRecorderFactories();

}  // namespace qor

#endif  // QOR_RECORDER_FACTORIES_H_
