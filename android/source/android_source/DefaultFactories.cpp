// The real writer and encoders behind the recorder of this library.
#include "android_source/RecorderFactories.h"

#include <media/stagefright/OMXCodec.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "omx_codec/OMXCodec.h"

namespace qor {

namespace {
const uint32_t kInterleaveUs = 400000;
}  // namespace

RecorderFactories defaultRecorderFactories() {
    RecorderFactories factories;
    factories.createWriter = [](const char* path) -> android::sp<android::MediaWriter> {
        sp<MPEG4Writer> writer = new MPEG4Writer(path);
        // Chunks short enough that a killed recording loses at most about
        // a second (a chunk, plus what the encoders hold).
        writer->setInterleaveDuration(kInterleaveUs);
        return writer;
    };
    factories.ownEncoderFactory = &qor::OMXCodec::Create;
    factories.platformEncoderFactory = &android::OMXCodec::Create;
    return factories;
}

}  // namespace qor
