#define LOG_TAG "AvcEncoderComponent"
#include "omx/AvcEncoderComponent.h"

#include <string.h>

#include <algorithm>

#include <wels/codec_api.h>

#include <media/openmax/OMX_AndroidExt.h>
#include <utils/Log.h>

namespace android {

namespace {

const OMX_U32 kMaxDimension = 4096;
const OMX_U32 kDefaultWidth = 176;
const OMX_U32 kDefaultHeight = 144;
const OMX_U32 kDefaultBitrate = 512000;

OMX_U32 outputBufferSize(OMX_U32 width, OMX_U32 height) {
    // Room for an intra frame well above any rate the encoder is set to.
    return width * height * 3 / 2 + 16384;
}

// Appends the NAL units of an Annex B stream to `out`, each with a 4-byte
// start code, leaving out the types of `skipMask` (bit n: type n).
size_t appendNals(const uint8_t* data, size_t size, uint32_t skipMask, uint8_t* out,
                  size_t room, bool* overflow) {
    size_t written = 0;
    size_t i = 0;
    // Find each start code (00 00 01, possibly preceded by another 00).
    auto nextStart = [&](size_t from, size_t* payload) -> size_t {
        for (size_t k = from; k + 3 <= size; ++k) {
            if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) {
                *payload = k + 3;
                return (k > from && data[k - 1] == 0) ? k - 1 : k;
            }
        }
        *payload = size;
        return size;
    };
    size_t payload;
    i = nextStart(0, &payload);
    while (i < size) {
        size_t nextPayload;
        size_t end = nextStart(payload, &nextPayload);
        if (end > payload) {
            uint8_t type = data[payload] & 0x1f;
            if (!(skipMask & (1u << type))) {
                size_t len = end - payload;
                if (written + 4 + len > room) {
                    *overflow = true;
                    return written;
                }
                static const uint8_t kStartCode[4] = {0, 0, 0, 1};
                memcpy(out + written, kStartCode, 4);
                memcpy(out + written + 4, data + payload, len);
                written += 4 + len;
            }
        }
        i = end;
        payload = nextPayload;
    }
    return written;
}

const uint32_t kParameterSets = (1u << 7) | (1u << 8);

}  // namespace

AvcEncoderComponent::AvcEncoderComponent(const host::CodecEntry& entry, Listener* listener)
    : OmxComponent(entry, listener),
      mThumbnailMode(OMX_FALSE),
      mEncoder(nullptr),
      mConfigSent(false),
      mForceIdr(false),
      mBitrateChanged(false),
      mWidth(0),
      mHeight(0),
      mStride(0),
      mSliceHeight(0),
      mColorFormat(0) {
    for (const auto& pl : entry.profileLevels) mProfileLevels.push_back(pl);
    if (entry.keys.find("profilelevels") == entry.keys.end()) {
        mProfileLevels.push_back({OMX_VIDEO_AVCProfileBaseline, OMX_VIDEO_AVCLevel42});
    }

    OMX_PARAM_PORTDEFINITIONTYPE& in = mPorts[kInputPort].mDef;
    in.eDomain = OMX_PortDomainVideo;
    in.format.video.cMIMEType = const_cast<char*>("video/raw");
    in.format.video.nFrameWidth = kDefaultWidth;
    in.format.video.nFrameHeight = kDefaultHeight;
    in.format.video.nStride = kDefaultWidth;
    in.format.video.nSliceHeight = kDefaultHeight;
    in.format.video.xFramerate = 30 << 16;
    in.format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
    in.format.video.eColorFormat = OMX_COLOR_FormatYUV420Planar;
    for (uint32_t color : entry.colorFormats) {
        if (isReadable(color)) {
            in.format.video.eColorFormat = (OMX_COLOR_FORMATTYPE)color;
            break;
        }
    }

    OMX_PARAM_PORTDEFINITIONTYPE& out = mPorts[kOutputPort].mDef;
    out.eDomain = OMX_PortDomainVideo;
    out.format.video.cMIMEType = const_cast<char*>("video/avc");
    out.format.video.nFrameWidth = kDefaultWidth;
    out.format.video.nFrameHeight = kDefaultHeight;
    out.format.video.nStride = kDefaultWidth;
    out.format.video.nSliceHeight = kDefaultHeight;
    out.format.video.nBitrate = kDefaultBitrate;
    out.format.video.eCompressionFormat = OMX_VIDEO_CodingAVC;
    out.format.video.eColorFormat = OMX_COLOR_FormatUnused;
    out.nBufferSize = 0;
    updateBufferSizes();

    initHeader(&mAvc, sizeof(mAvc));
    mAvc.nPortIndex = kOutputPort;
    mAvc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    mAvc.eLevel = OMX_VIDEO_AVCLevel1;
    for (const auto& pl : mProfileLevels) {
        if (pl.first == OMX_VIDEO_AVCProfileBaseline && pl.second > (OMX_U32)mAvc.eLevel) {
            mAvc.eLevel = (OMX_VIDEO_AVCLEVELTYPE)pl.second;
        }
    }
    mAvc.nPFrames = 29;
    mAvc.nRefFrames = 1;
    mAvc.nAllowedPictureTypes = OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP;
    mAvc.bFrameMBsOnly = OMX_TRUE;
    mAvc.eLoopFilterMode = OMX_VIDEO_AVCLoopFilterEnable;

    initHeader(&mBitrate, sizeof(mBitrate));
    mBitrate.nPortIndex = kOutputPort;
    mBitrate.eControlRate = OMX_Video_ControlRateVariable;
    mBitrate.nTargetBitrate = kDefaultBitrate;
}

AvcEncoderComponent::~AvcEncoderComponent() {
    stopWorker();
    if (mEncoder != nullptr) {
        mEncoder->Uninitialize();
        WelsDestroySVCEncoder(mEncoder);
    }
}

bool AvcEncoderComponent::isPlanar(OMX_U32 colorFormat) {
    return colorFormat == OMX_COLOR_FormatYUV420Planar ||
           colorFormat == OMX_COLOR_FormatVendorPlanar7FA;
}

size_t AvcEncoderComponent::inputFrameExtent(OMX_U32 colorFormat, OMX_U32 width, OMX_U32 height,
                                             OMX_U32 stride, OMX_U32 sliceHeight) {
    size_t luma = (size_t)stride * sliceHeight;
    size_t chromaRows = (height + 1) / 2;
    if (isPlanar(colorFormat)) {
        size_t pitch = (stride + 1) / 2;
        return luma + pitch * ((sliceHeight + 1) / 2) + pitch * chromaRows;
    }
    (void)width;
    return luma + (size_t)stride * chromaRows;
}

int AvcEncoderComponent::levelIdc(OMX_U32 omxLevel) {
    switch (omxLevel) {
        case OMX_VIDEO_AVCLevel1: return LEVEL_1_0;
        case OMX_VIDEO_AVCLevel1b: return LEVEL_1_B;
        case OMX_VIDEO_AVCLevel11: return LEVEL_1_1;
        case OMX_VIDEO_AVCLevel12: return LEVEL_1_2;
        case OMX_VIDEO_AVCLevel13: return LEVEL_1_3;
        case OMX_VIDEO_AVCLevel2: return LEVEL_2_0;
        case OMX_VIDEO_AVCLevel21: return LEVEL_2_1;
        case OMX_VIDEO_AVCLevel22: return LEVEL_2_2;
        case OMX_VIDEO_AVCLevel3: return LEVEL_3_0;
        case OMX_VIDEO_AVCLevel31: return LEVEL_3_1;
        case OMX_VIDEO_AVCLevel32: return LEVEL_3_2;
        case OMX_VIDEO_AVCLevel4: return LEVEL_4_0;
        case OMX_VIDEO_AVCLevel41: return LEVEL_4_1;
        case OMX_VIDEO_AVCLevel42: return LEVEL_4_2;
        case OMX_VIDEO_AVCLevel5: return LEVEL_5_0;
        case OMX_VIDEO_AVCLevel51: return LEVEL_5_1;
        default: return 0;
    }
}

bool AvcEncoderComponent::isReadable(OMX_U32 color) {
    switch (color) {
        case OMX_COLOR_FormatYUV420Planar:
        case OMX_COLOR_FormatYUV420SemiPlanar:
        case OMX_TI_COLOR_FormatYUV420PackedSemiPlanar:
        case OMX_COLOR_FormatVendorPlanar7FA:
        case OMX_QCOM_COLOR_FormatYVU420SemiPlanar:
        case OMX_QCOM_COLOR_FormatYUV420PackedSemiPlanar64x32Tile2m8ka:
        case OMX_QCOM_COLOR_FormatYUV420PackedSemiPlanar32m:
        case OMX_SEC_COLOR_FormatNV12Tiled:
            return true;
        default:
            return false;
    }
}

bool AvcEncoderComponent::colorListed(OMX_U32 color) const {
    // A listed format without a YUV 4:2:0 layout this encoder reads (an
    // opaque or RGB one) is advertised but refused.
    if (!isReadable(color)) return false;
    if (mEntry.colorFormats.empty()) return color == OMX_COLOR_FormatYUV420Planar;
    for (uint32_t c : mEntry.colorFormats) {
        if (c == color) return true;
    }
    return false;
}

bool AvcEncoderComponent::profileLevelListed(OMX_U32 profile, OMX_U32 level) const {
    for (const auto& pl : mProfileLevels) {
        if (pl.first == profile && pl.second >= level) return true;
    }
    return false;
}

// Vendor components size their input buffers by their own rules (plane
// alignment, page rounding), which can exceed what the planes need.
static size_t vendorInputBufferSize(OMX_U32 colorFormat, size_t w, size_t h) {
    auto align = [](size_t x, size_t n) { return (x + n - 1) & ~(n - 1); };
    switch (colorFormat) {
        case 0x7FA30C04:  // Qualcomm 32m: 128-byte rows, 32-row luma, 4 KiB pages
            return (align(w, 128) * (align(h, 32) + align((h + 1) / 2, 16)) + 8191) & ~(size_t)4095;
        case 0x7FA30C03:  // Qualcomm 64x32 tiles, planes on 8 KiB
            return align(align(h, 32) * align(w, 128), 8192) +
                   align(align(w, 128) * align(h / 2, 32), 8192);
        case 0x7FA30C00: {  // Qualcomm YVU, one page of slack
            size_t product = h * align(w, 16);
            return (product + product / 2 + 4096) & ~(size_t)4095;
        }
        case 0x7FC00002:  // Samsung NV12 tiled, 32-row planes
            return (align(h, 32) + align(h / 2, 32)) * align(w, 16);
        default:
            return 0;
    }
}

void AvcEncoderComponent::updateBufferSizes() {
    OMX_PARAM_PORTDEFINITIONTYPE& in = mPorts[kInputPort].mDef;
    const OMX_VIDEO_PORTDEFINITIONTYPE& v = in.format.video;
    size_t extent = inputFrameExtent(v.eColorFormat, v.nFrameWidth, v.nFrameHeight, v.nStride,
                                     v.nSliceHeight);
    size_t vendor = vendorInputBufferSize(v.eColorFormat, v.nFrameWidth, v.nFrameHeight);
    if (extent < vendor) extent = vendor;
    if (in.nBufferSize < extent) in.nBufferSize = extent;
    OMX_PARAM_PORTDEFINITIONTYPE& out = mPorts[kOutputPort].mDef;
    OMX_U32 minOut = outputBufferSize(v.nFrameWidth, v.nFrameHeight);
    if (out.nBufferSize < minOut) out.nBufferSize = minOut;
}

OMX_ERRORTYPE AvcEncoderComponent::setPortDefinition(OMX_U32 port,
                                                     const OMX_PARAM_PORTDEFINITIONTYPE& def) {
    if (def.eDomain != OMX_PortDomainVideo) return OMX_ErrorBadParameter;
    OMX_PARAM_PORTDEFINITIONTYPE& in = mPorts[kInputPort].mDef;
    OMX_PARAM_PORTDEFINITIONTYPE& out = mPorts[kOutputPort].mDef;
    const OMX_VIDEO_PORTDEFINITIONTYPE& v = def.format.video;
    if (port == kInputPort) {
        if (v.nFrameWidth == 0 || v.nFrameHeight == 0 || v.nFrameWidth > kMaxDimension ||
            v.nFrameHeight > kMaxDimension) {
            return OMX_ErrorBadParameter;
        }
        // A negative stride is taken by its magnitude (rows top-down).
        OMX_S32 stride = v.nStride == 0 ? (OMX_S32)v.nFrameWidth
                                        : (v.nStride < 0 ? -v.nStride : v.nStride);
        OMX_U32 slice = v.nSliceHeight == 0 ? v.nFrameHeight : v.nSliceHeight;
        // Rows narrower or planes shorter than the frame cannot be read.
        if (stride < (OMX_S32)v.nFrameWidth || slice < v.nFrameHeight) {
            return OMX_ErrorBadParameter;
        }
        if (v.eCompressionFormat != OMX_VIDEO_CodingUnused) return OMX_ErrorUnsupportedSetting;
        if (!colorListed(v.eColorFormat)) return OMX_ErrorUnsupportedSetting;
        in.nBufferCountActual = def.nBufferCountActual;
        in.nBufferSize = def.nBufferSize;
        in.format.video.nFrameWidth = v.nFrameWidth;
        in.format.video.nFrameHeight = v.nFrameHeight;
        in.format.video.nStride = stride;
        in.format.video.nSliceHeight = slice;
        in.format.video.xFramerate = v.xFramerate;
        in.format.video.eColorFormat = v.eColorFormat;
        in.format.video.nBitrate = v.nBitrate;
        out.format.video.nFrameWidth = v.nFrameWidth;
        out.format.video.nFrameHeight = v.nFrameHeight;
        out.format.video.nStride = v.nFrameWidth;
        out.format.video.nSliceHeight = v.nFrameHeight;
    } else {
        if (v.eCompressionFormat != OMX_VIDEO_CodingAVC) return OMX_ErrorUnsupportedSetting;
        // The coded size follows the input port; a different one is refused.
        if ((v.nFrameWidth != 0 && v.nFrameWidth != in.format.video.nFrameWidth) ||
            (v.nFrameHeight != 0 && v.nFrameHeight != in.format.video.nFrameHeight)) {
            return OMX_ErrorBadParameter;
        }
        out.nBufferCountActual = def.nBufferCountActual;
        out.nBufferSize = def.nBufferSize;
        if (v.nBitrate > 0) {
            out.format.video.nBitrate = v.nBitrate;
            mBitrate.nTargetBitrate = v.nBitrate;
        }
    }
    updateBufferSizes();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE AvcEncoderComponent::internalGetParameter(OMX_INDEXTYPE index, void* params,
                                                        size_t size) {
    switch ((int)index) {
        case OMX_IndexParamVideoPortFormat: {
            if (!checkStruct<OMX_VIDEO_PARAM_PORTFORMATTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* f = static_cast<OMX_VIDEO_PARAM_PORTFORMATTYPE*>(params);
            if (f->nPortIndex == kInputPort) {
                std::vector<uint32_t> colors = mEntry.colorFormats;
                if (colors.empty()) colors.push_back(OMX_COLOR_FormatYUV420Planar);
                if (f->nIndex >= colors.size()) return OMX_ErrorNoMore;
                f->eCompressionFormat = OMX_VIDEO_CodingUnused;
                f->eColorFormat = (OMX_COLOR_FORMATTYPE)colors[f->nIndex];
                f->xFramerate = mPorts[kInputPort].mDef.format.video.xFramerate;
            } else if (f->nPortIndex == kOutputPort) {
                if (f->nIndex > 0) return OMX_ErrorNoMore;
                f->eCompressionFormat = OMX_VIDEO_CodingAVC;
                f->eColorFormat = OMX_COLOR_FormatUnused;
                f->xFramerate = 0;
            } else {
                return OMX_ErrorBadPortIndex;
            }
            return OMX_ErrorNone;
        }
        case OMX_IndexParamVideoAvc: {
            if (!checkStruct<OMX_VIDEO_PARAM_AVCTYPE>(params, size)) return OMX_ErrorBadParameter;
            auto* avc = static_cast<OMX_VIDEO_PARAM_AVCTYPE*>(params);
            if (avc->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            *avc = mAvc;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamVideoBitrate: {
            if (!checkStruct<OMX_VIDEO_PARAM_BITRATETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* br = static_cast<OMX_VIDEO_PARAM_BITRATETYPE*>(params);
            if (br->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            *br = mBitrate;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamVideoProfileLevelQuerySupported: {
            if (!checkStruct<OMX_VIDEO_PARAM_PROFILELEVELTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* pl = static_cast<OMX_VIDEO_PARAM_PROFILELEVELTYPE*>(params);
            if (pl->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            if (pl->nProfileIndex >= mProfileLevels.size()) return OMX_ErrorNoMore;
            pl->eProfile = mProfileLevels[pl->nProfileIndex].first;
            pl->eLevel = mProfileLevels[pl->nProfileIndex].second;
            return OMX_ErrorNone;
        }
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

OMX_ERRORTYPE AvcEncoderComponent::internalSetParameter(OMX_INDEXTYPE index, const void* params,
                                                        size_t size) {
    switch ((int)index) {
        case OMX_IndexParamVideoPortFormat: {
            if (!checkStruct<OMX_VIDEO_PARAM_PORTFORMATTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* f = static_cast<const OMX_VIDEO_PARAM_PORTFORMATTYPE*>(params);
            if (f->nPortIndex >= kNumPorts) return OMX_ErrorBadPortIndex;
            if (!portWritable(f->nPortIndex)) return OMX_ErrorIncorrectStateOperation;
            if (f->nPortIndex == kInputPort) {
                if (f->eCompressionFormat != OMX_VIDEO_CodingUnused ||
                    !colorListed(f->eColorFormat)) {
                    return OMX_ErrorUnsupportedSetting;
                }
                mPorts[kInputPort].mDef.format.video.eColorFormat = f->eColorFormat;
                updateBufferSizes();
            } else if (f->eCompressionFormat != OMX_VIDEO_CodingAVC) {
                return OMX_ErrorUnsupportedSetting;
            }
            return OMX_ErrorNone;
        }
        case OMX_IndexParamVideoAvc: {
            if (!checkStruct<OMX_VIDEO_PARAM_AVCTYPE>(params, size)) return OMX_ErrorBadParameter;
            const auto* avc = static_cast<const OMX_VIDEO_PARAM_AVCTYPE*>(params);
            if (avc->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            if (!portWritable(kOutputPort)) return OMX_ErrorIncorrectStateOperation;
            // The encoder core produces baseline streams only; the level must
            // be one the device lists for it.
            if (avc->eProfile != OMX_VIDEO_AVCProfileBaseline ||
                !profileLevelListed(avc->eProfile, avc->eLevel) || levelIdc(avc->eLevel) == 0) {
                ALOGE("[%s] profile %d level 0x%x not supported", mEntry.name.c_str(),
                      avc->eProfile, avc->eLevel);
                return OMX_ErrorUnsupportedSetting;
            }
            if (avc->nBFrames != 0 || avc->bEntropyCodingCABAC || avc->nRefFrames > 1 ||
                (avc->nAllowedPictureTypes & OMX_VIDEO_PictureTypeB)) {
                return OMX_ErrorUnsupportedSetting;
            }
            mAvc = *avc;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamVideoBitrate: {
            if (!checkStruct<OMX_VIDEO_PARAM_BITRATETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* br = static_cast<const OMX_VIDEO_PARAM_BITRATETYPE*>(params);
            if (br->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            if (!portWritable(kOutputPort)) return OMX_ErrorIncorrectStateOperation;
            mBitrate = *br;
            mPorts[kOutputPort].mDef.format.video.nBitrate = br->nTargetBitrate;
            return OMX_ErrorNone;
        }
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

OMX_ERRORTYPE AvcEncoderComponent::internalGetConfig(OMX_INDEXTYPE index, void* params,
                                                     size_t size) {
    switch ((int)index) {
        case OMX_IndexConfigCommonScale: {
            if (!checkStruct<OMX_CONFIG_SCALEFACTORTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* s = static_cast<OMX_CONFIG_SCALEFACTORTYPE*>(params);
            if (s->nPortIndex >= kNumPorts) return OMX_ErrorBadPortIndex;
            s->xWidth = 0x10000;
            s->xHeight = 0x10000;
            return OMX_ErrorNone;
        }
        case OMX_IndexConfigVideoBitrate: {
            if (!checkStruct<OMX_VIDEO_CONFIG_BITRATETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* br = static_cast<OMX_VIDEO_CONFIG_BITRATETYPE*>(params);
            if (br->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            br->nEncodeBitrate = mBitrate.nTargetBitrate;
            return OMX_ErrorNone;
        }
        case OMX_IndexVendorSecThumbnailMode:
            if (mEntry.name.compare(0, 8, "OMX.SEC.") != 0) return OMX_ErrorUnsupportedIndex;
            if (params == nullptr || size != sizeof(OMX_BOOL)) return OMX_ErrorBadParameter;
            *static_cast<OMX_BOOL*>(params) = mThumbnailMode;
            return OMX_ErrorNone;
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

OMX_ERRORTYPE AvcEncoderComponent::internalSetConfig(OMX_INDEXTYPE index, const void* params,
                                                     size_t size) {
    switch ((int)index) {
        case OMX_IndexConfigVideoBitrate: {
            if (!checkStruct<OMX_VIDEO_CONFIG_BITRATETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* br = static_cast<const OMX_VIDEO_CONFIG_BITRATETYPE*>(params);
            if (br->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            if (br->nEncodeBitrate == 0) return OMX_ErrorBadParameter;
            mBitrate.nTargetBitrate = br->nEncodeBitrate;
            mBitrateChanged = true;  // the worker applies it before the next frame
            mWorkPending = true;
            return OMX_ErrorNone;
        }
        case OMX_IndexConfigVideoIntraVOPRefresh: {
            if (!checkStruct<OMX_CONFIG_INTRAREFRESHVOPTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* r = static_cast<const OMX_CONFIG_INTRAREFRESHVOPTYPE*>(params);
            if (r->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            if (r->IntraRefreshVOP) mForceIdr = true;
            return OMX_ErrorNone;
        }
        case OMX_IndexVendorSecThumbnailMode:
            if (mEntry.name.compare(0, 8, "OMX.SEC.") != 0) return OMX_ErrorUnsupportedIndex;
            if (params == nullptr || size != sizeof(OMX_BOOL)) return OMX_ErrorBadParameter;
            mThumbnailMode = *static_cast<const OMX_BOOL*>(params);
            return OMX_ErrorNone;
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

OMX_ERRORTYPE AvcEncoderComponent::internalGetExtensionIndex(const char* name,
                                                             OMX_INDEXTYPE* index) {
    if (mEntry.name.compare(0, 8, "OMX.SEC.") == 0 &&
        strcmp(name, OMX_SEC_INDEX_THUMBNAIL_MODE) == 0) {
        *index = (OMX_INDEXTYPE)OMX_IndexVendorSecThumbnailMode;
        return OMX_ErrorNone;
    }
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE AvcEncoderComponent::onStart(Lock&) {
    const OMX_VIDEO_PORTDEFINITIONTYPE& v = mPorts[kInputPort].mDef.format.video;
    mWidth = v.nFrameWidth;
    mHeight = v.nFrameHeight;
    mStride = v.nStride;
    mSliceHeight = v.nSliceHeight;
    mColorFormat = v.eColorFormat;

    mVendor.slices = (int)mEntry.intKey("slices", 1);
    mVendor.aud = mEntry.intKey("aud", 0) != 0;
    mVendor.inlineHeaders = mEntry.intKey("inline-headers", 0) != 0;
    mVendor.latency = (size_t)std::max<long long>(0, mEntry.intKey("latency", 0));
    mHeldUnits.clear();
    mDraining = false;
    if (WelsCreateSVCEncoder(&mEncoder) != 0 || mEncoder == nullptr) {
        mEncoder = nullptr;
        return OMX_ErrorInsufficientResources;
    }
    int trace = WELS_LOG_ERROR;
    mEncoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace);

    SEncParamExt p;
    mEncoder->GetDefaultParams(&p);
    float fps = v.xFramerate > 0 ? v.xFramerate / 65536.0f : 30.0f;
    int bitrate = (int)mBitrate.nTargetBitrate;
    p.iUsageType = CAMERA_VIDEO_REAL_TIME;
    p.iPicWidth = (int)mWidth;
    p.iPicHeight = (int)mHeight;
    p.iTargetBitrate = bitrate > 0 ? bitrate : (int)kDefaultBitrate;
    p.iRCMode = (bitrate <= 0 || mBitrate.eControlRate == OMX_Video_ControlRateDisable)
                    ? RC_OFF_MODE
                    : RC_BITRATE_MODE;
    p.fMaxFrameRate = fps;
    p.iTemporalLayerNum = 1;
    p.iSpatialLayerNum = 1;
    SSpatialLayerConfig& layer = p.sSpatialLayers[0];
    layer.iVideoWidth = (int)mWidth;
    layer.iVideoHeight = (int)mHeight;
    layer.fFrameRate = fps;
    layer.iSpatialBitrate = p.iTargetBitrate;
    layer.iMaxSpatialBitrate = UNSPECIFIED_BIT_RATE;
    layer.uiProfileIdc = PRO_BASELINE;
    layer.uiLevelIdc = (ELevelIdc)levelIdc(mAvc.eLevel);
    // A vendor encoder's slices per frame ("slices" key).
    if (mVendor.slices > 1) {
        layer.sSliceArgument.uiSliceMode = SM_FIXEDSLCNUM_SLICE;
        layer.sSliceArgument.uiSliceNum = (unsigned)mVendor.slices;
    } else {
        layer.sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
    }
    // nPFrames P frames between two I frames; all ones: a single IDR.
    if (mAvc.nPFrames == 0xFFFFFFFF) {
        p.uiIntraPeriod = 0;
    } else if (mAvc.nPFrames == 0 || mAvc.nAllowedPictureTypes == OMX_VIDEO_PictureTypeI) {
        p.uiIntraPeriod = 1;
    } else {
        p.uiIntraPeriod = mAvc.nPFrames + 1;
    }
    p.iNumRefFrame = 1;
    p.eSpsPpsIdStrategy = CONSTANT_ID;
    p.bPrefixNalAddingCtrl = false;
    p.bEnableSSEI = false;
    p.iEntropyCodingModeFlag = 0;
    p.bEnableFrameSkip = false;
    p.iMultipleThreadIdc = 1;
    p.iLoopFilterDisableIdc = mAvc.eLoopFilterMode == OMX_VIDEO_AVCLoopFilterDisable ? 1 : 0;
    p.bEnableDenoise = false;
    p.bEnableBackgroundDetection = false;
    p.bEnableSceneChangeDetect = false;
    p.bEnableFrameCroppingFlag = true;
    if (mEncoder->InitializeExt(&p) != 0) {
        ALOGE("[%s] encoder refused %ux%u at %d bit/s", mEntry.name.c_str(),
              (unsigned)mWidth, (unsigned)mHeight,
              p.iTargetBitrate);
        WelsDestroySVCEncoder(mEncoder);
        mEncoder = nullptr;
        return OMX_ErrorUnsupportedSetting;
    }
    int videoFormat = videoFormatI420;
    mEncoder->SetOption(ENCODER_OPTION_DATAFORMAT, &videoFormat);
    mConfigSent = false;
    mForceIdr = false;
    mBitrateChanged = false;
    if (!isPlanar(mColorFormat)) mChroma.resize((size_t)((mWidth + 1) / 2) * ((mHeight + 1) / 2) * 2);
    return OMX_ErrorNone;
}

void AvcEncoderComponent::onStop(Lock&) {
    if (mEncoder != nullptr) {
        mEncoder->Uninitialize();
        WelsDestroySVCEncoder(mEncoder);
        mEncoder = nullptr;
    }
    mConfigSent = false;
    mHeldUnits.clear();
    mDraining = false;
}

void AvcEncoderComponent::onPortFlushed(OMX_U32 port, Lock&) {
    // After a flush the stream restarts at an IDR frame; held access units
    // are dropped with the buffers.
    if (port == kInputPort) mForceIdr = true;
    mHeldUnits.clear();
    mDraining = false;
}

// An access-unit delimiter (any picture type) and an unregistered-user-data
// SEI, as vendor encoders put in front of each frame's slices.
size_t AvcEncoderComponent::appendDelimiterAndSei(uint8_t* out, size_t room, bool* overflow) {
    static const uint8_t kUnits[] = {
        0x00, 0x00, 0x00, 0x01, 0x09, 0xF0,                    // AUD, primary_pic_type 7
        0x00, 0x00, 0x00, 0x01, 0x06, 0x05, 0x11,              // SEI: user data, 17 bytes
        0x51, 0x4F, 0x52, 0x2D, 0x48, 0x4F, 0x53, 0x54, 0x2D,  // uuid
        0x41, 0x56, 0x43, 0x2D, 0x45, 0x4E, 0x43, 0x2A, 0x80};
    if (room < sizeof(kUnits)) {
        *overflow = true;
        return 0;
    }
    memcpy(out, kUnits, sizeof(kUnits));
    return sizeof(kUnits);
}

void AvcEncoderComponent::emitCodecConfig(OMX_BUFFERHEADERTYPE* out) {
    SFrameBSInfo info;
    memset(&info, 0, sizeof(info));
    bool overflow = false;
    size_t len = 0;
    if (mEncoder->EncodeParameterSets(&info) == 0) {
        for (int l = 0; l < info.iLayerNum; ++l) {
            const SLayerBSInfo& layer = info.sLayerInfo[l];
            size_t size = 0;
            for (int n = 0; n < layer.iNalCount; ++n) size += layer.pNalLengthInByte[n];
            len += appendNals(layer.pBsBuf, size, 0, out->pBuffer + len, out->nAllocLen - len,
                              &overflow);
        }
    }
    out->nOffset = 0;
    out->nFilledLen = len;
    out->nTimeStamp = 0;
    out->nFlags = OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME;
}

bool AvcEncoderComponent::encodeFrame(const OMX_BUFFERHEADERTYPE* in, OMX_BUFFERHEADERTYPE* out,
                                      bool forceIdr, bool* overflow) {
    // Benchmarks measure the system around the encoder with a component that
    // takes the frame and answers with a token access unit at once.
    if (mEntry.intKey("passthrough", 0) != 0) {
        static const uint8_t kUnit[] = {0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x00, 0x21};
        if (out->nAllocLen < sizeof(kUnit)) {
            *overflow = true;
            return true;
        }
        memcpy(out->pBuffer, kUnit, sizeof(kUnit));
        out->nOffset = 0;
        out->nFilledLen = sizeof(kUnit);
        out->nTimeStamp = in->nTimeStamp;
        out->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | OMX_BUFFERFLAG_SYNCFRAME;
        (void)forceIdr;
        return true;
    }
    uint8_t* base = in->pBuffer + in->nOffset;
    SSourcePicture pic;
    memset(&pic, 0, sizeof(pic));
    pic.iColorFormat = videoFormatI420;
    pic.iPicWidth = (int)mWidth;
    pic.iPicHeight = (int)mHeight;
    pic.uiTimeStamp = in->nTimeStamp / 1000;
    pic.iStride[0] = (int)mStride;
    pic.pData[0] = base;
    if (isPlanar(mColorFormat)) {
        int pitch = (int)(mStride + 1) / 2;
        pic.iStride[1] = pic.iStride[2] = pitch;
        pic.pData[1] = base + (size_t)mStride * mSliceHeight;
        pic.pData[2] = pic.pData[1] + (size_t)pitch * ((mSliceHeight + 1) / 2);
    } else {
        size_t cw = (mWidth + 1) / 2, ch = (mHeight + 1) / 2;
        uint8_t* u = mChroma.data();
        uint8_t* v = u + cw * ch;
        const uint8_t* uv = base + (size_t)mStride * mSliceHeight;
        for (size_t r = 0; r < ch; ++r) {
            const uint8_t* row = uv + r * mStride;
            uint8_t* ur = u + r * cw;
            uint8_t* vr = v + r * cw;
            for (size_t i = 0; i < cw; ++i) {
                ur[i] = row[2 * i];
                vr[i] = row[2 * i + 1];
            }
        }
        pic.iStride[1] = pic.iStride[2] = (int)cw;
        pic.pData[1] = u;
        pic.pData[2] = v;
    }
    if (forceIdr) mEncoder->ForceIntraFrame(true);
    SFrameBSInfo info;
    memset(&info, 0, sizeof(info));
    if (mEncoder->EncodeFrame(&pic, &info) != cmResultSuccess) return false;
    size_t len = mVendor.aud ? appendDelimiterAndSei(out->pBuffer, out->nAllocLen, overflow) : 0;
    // Parameter sets went out in the configuration buffer; a vendor that
    // repeats them keeps them in front of each sync frame.
    const bool idr = info.eFrameType == videoFrameTypeIDR;
    const uint32_t skip = mVendor.inlineHeaders && idr ? 0 : kParameterSets;
    for (int l = 0; l < info.iLayerNum && !*overflow; ++l) {
        const SLayerBSInfo& layer = info.sLayerInfo[l];
        size_t size = 0;
        for (int n = 0; n < layer.iNalCount; ++n) size += layer.pNalLengthInByte[n];
        len += appendNals(layer.pBsBuf, size, skip, out->pBuffer + len, out->nAllocLen - len,
                          overflow);
    }
    out->nOffset = 0;
    out->nFilledLen = *overflow ? 0 : len;
    out->nTimeStamp = in->nTimeStamp;
    out->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
    if (info.eFrameType == videoFrameTypeIDR) out->nFlags |= OMX_BUFFERFLAG_SYNCFRAME;
    return true;
}

void AvcEncoderComponent::onQueueFilled(Lock& lock) {
    while (mState == OMX_StateExecuting && !mFailed && mEncoder != nullptr) {
        OMX_BUFFERHEADERTYPE* out = peekBuffer(kOutputPort);
        if (out == nullptr) return;
        if (!mConfigSent) {
            takeBuffer(kOutputPort);
            emitCodecConfig(out);
            mConfigSent = true;
            returnBuffer(kOutputPort, out);
            continue;
        }
        if (releaseHeldUnit(out)) continue;
        OMX_BUFFERHEADERTYPE* in = peekBuffer(kInputPort);
        if (in == nullptr) return;
        if (in->nFilledLen == 0) {
            takeBuffer(kInputPort);
            if ((in->nFlags & OMX_BUFFERFLAG_EOS) && !mHeldUnits.empty()) {
                // The held units go out first, the last one flagged EOS.
                mHeldUnits.back().flags |= OMX_BUFFERFLAG_EOS;
                mDraining = true;
                returnBuffer(kInputPort, in);
            } else if (in->nFlags & OMX_BUFFERFLAG_EOS) {
                takeBuffer(kOutputPort);
                out->nOffset = 0;
                out->nFilledLen = 0;
                out->nFlags = OMX_BUFFERFLAG_EOS;
                out->nTimeStamp = in->nTimeStamp;
                returnBuffer(kInputPort, in);
                returnBuffer(kOutputPort, out);
            } else {
                returnBuffer(kInputPort, in);
            }
            continue;
        }
        // Only the filled range is read: a frame shorter than its layout is
        // refused, as a device's component does.
        const size_t extent =
            inputFrameExtent(mColorFormat, mWidth, mHeight, mStride, mSliceHeight);
        if (in->nFilledLen < extent) {
            ALOGE("[%s] input of %u bytes is shorter than a %ux%u frame (%zu bytes)",
                  mEntry.name.c_str(), (unsigned)in->nFilledLen, (unsigned)mWidth,
                  (unsigned)mHeight, extent);
            signalError(OMX_ErrorStreamCorrupt);
            return;
        }
        if (!admitFrame()) return;
        takeBuffer(kInputPort);
        takeBuffer(kOutputPort);
        bool forceIdr = mForceIdr;
        mForceIdr = false;
        if (mBitrateChanged) {
            mBitrateChanged = false;
            SBitrateInfo info;
            info.iLayer = SPATIAL_LAYER_ALL;
            info.iBitrate = (int)mBitrate.nTargetBitrate;
            mEncoder->SetOption(ENCODER_OPTION_BITRATE, &info);
        }
        bool overflow = false;
        lock.unlock();
        bool ok = encodeFrame(in, out, forceIdr, &overflow);
        lock.lock();
        if (in->nFlags & OMX_BUFFERFLAG_EOS) out->nFlags |= OMX_BUFFERFLAG_EOS;
        returnBuffer(kInputPort, in);
        if (!ok || overflow) {
            ALOGE("[%s] %s", mEntry.name.c_str(),
                  overflow ? "access unit larger than the output buffer" : "encoding failed");
            out->nFilledLen = 0;
            out->nFlags = 0;
            returnBuffer(kOutputPort, out);
            signalError(overflow ? OMX_ErrorOverflow : OMX_ErrorUndefined);
            return;
        }
        holdOrReturn(out);
    }
}

// A vendor encoder with latency K keeps K access units before the first
// output; its output buffer goes back to the queue for the next one.
void AvcEncoderComponent::holdOrReturn(OMX_BUFFERHEADERTYPE* out) {
    if (mVendor.latency == 0) {
        returnBuffer(kOutputPort, out);
        return;
    }
    HeldUnit unit;
    unit.data.assign(out->pBuffer + out->nOffset, out->pBuffer + out->nOffset + out->nFilledLen);
    unit.flags = out->nFlags;
    unit.timeUs = out->nTimeStamp;
    if (unit.flags & OMX_BUFFERFLAG_EOS) mDraining = true;
    mHeldUnits.push_back(std::move(unit));
    mPorts[kOutputPort].mQueue.push_front(out);
}

// Puts the oldest held unit into `out` (the output queue's head) once more
// than the latency are held, or while draining at end of stream.
bool AvcEncoderComponent::releaseHeldUnit(OMX_BUFFERHEADERTYPE* out) {
    if (mHeldUnits.empty() || (mHeldUnits.size() <= mVendor.latency && !mDraining)) return false;
    HeldUnit& unit = mHeldUnits.front();
    if (unit.data.size() > out->nAllocLen) {
        signalError(OMX_ErrorOverflow);
        return false;
    }
    takeBuffer(kOutputPort);
    memcpy(out->pBuffer, unit.data.data(), unit.data.size());
    out->nOffset = 0;
    out->nFilledLen = unit.data.size();
    out->nFlags = unit.flags;
    out->nTimeStamp = unit.timeUs;
    mHeldUnits.pop_front();
    if (mHeldUnits.empty()) mDraining = false;
    returnBuffer(kOutputPort, out);
    return true;
}

}  // namespace android
