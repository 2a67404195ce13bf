// The system's own OpenMAX IL encoder client. (Skeleton: the driver replaces it.)
#ifndef QOR_OMX_CODEC_H_
#define QOR_OMX_CODEC_H_

#include <media/IOMX.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <system/window.h>

namespace qor {

struct OMXCodec {
    static android::sp<android::MediaSource> Create(
            const android::sp<android::IOMX>& omx, const android::sp<android::MetaData>& meta,
            bool createEncoder, const android::sp<android::MediaSource>& source,
            const char* matchComponentName = nullptr, uint32_t flags = 0,
            const android::sp<ANativeWindow>& nativeWindow = nullptr);
};

}  // namespace qor

#endif  // QOR_OMX_CODEC_H_
