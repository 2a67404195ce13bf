// The platform's encoder factory. (Placeholder until the components arrive:
// it creates nothing.)
#include <media/stagefright/OMXCodec.h>

namespace android {

sp<MediaSource> OMXCodec::Create(const sp<IOMX>&, const sp<MetaData>&, bool,
                                 const sp<MediaSource>&, const char*, uint32_t,
                                 const sp<ANativeWindow>&) {
    return nullptr;
}

}  // namespace android
