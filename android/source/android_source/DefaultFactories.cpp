// The real writer and encoders behind the recorder of this library.
#include "android_source/RecorderFactories.h"

#include <media/stagefright/OMXCodec.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "omx_codec/OMXCodec.h"

namespace qor {

RecorderFactories defaultRecorderFactories() {
    RecorderFactories factories;
    factories.createWriter = [](const char* path) -> android::sp<android::MediaWriter> {
        return new MPEG4Writer(path);
    };
    factories.ownEncoderFactory = &qor::OMXCodec::Create;
    factories.platformEncoderFactory = &android::OMXCodec::Create;
    return factories;
}

}  // namespace qor
