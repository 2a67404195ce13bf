/*
 * The platform's own encoder client (its factory OMXCodec::Create) and the
 * codec capability query.
 */
#ifndef OMX_CODEC_H_
#define OMX_CODEC_H_

#include <stdint.h>

#include <vector>

#include <media/IOMX.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <system/window.h>
#include <utils/String8.h>

namespace android {

struct OMXCodec {
    enum CreationFlags {
        kPreferSoftwareCodecs = 1,
        kIgnoreCodecSpecificData = 2,
        kClientNeedsFramebuffer = 4,
        kSoftwareCodecsOnly = 8,
        kHardwareCodecsOnly = 16,
        kStoreMetaDataInVideoBuffers = 32,
        kOnlySubmitOneInputBufferAtOneTime = 64,
        kEnableGrallocUsageProtected = 128,
        kUseSecureInputBuffers = 256,
    };

    // An encoder (or decoder) over `source` producing the format `meta`
    // describes, or null.
    static sp<MediaSource> Create(const sp<IOMX>& omx, const sp<MetaData>& meta,
                                  bool createEncoder, const sp<MediaSource>& source,
                                  const char* matchComponentName = nullptr, uint32_t flags = 0,
                                  const sp<ANativeWindow>& nativeWindow = nullptr);
};

struct CodecProfileLevel {
    OMX_U32 mProfile;
    OMX_U32 mLevel;
};

struct CodecCapabilities {
    enum { kFlagSupportsAdaptivePlayback = 1 << 0 };
    String8 mComponentName;
    std::vector<CodecProfileLevel> mProfileLevels;
    std::vector<OMX_U32> mColorFormats;
    uint32_t mFlags = 0;
};

// Lists the device's encoders (or decoders) of `mimeType`, in list order.
status_t QueryCodecs(const sp<IOMX>& omx, const char* mimeType, bool queryDecoders,
                     std::vector<CodecCapabilities>* results);

}  // namespace android

#endif  // OMX_CODEC_H_
