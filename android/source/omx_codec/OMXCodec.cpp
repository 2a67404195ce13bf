#include "omx_codec/OMXCodec.h"

namespace qor {

android::sp<android::MediaSource> OMXCodec::Create(const android::sp<android::IOMX>&,
                                                   const android::sp<android::MetaData>&, bool,
                                                   const android::sp<android::MediaSource>&,
                                                   const char*, uint32_t,
                                                   const android::sp<ANativeWindow>&) {
    return nullptr;
}

}  // namespace qor
