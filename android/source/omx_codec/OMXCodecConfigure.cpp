// Programming the component for AVC or AAC encoding, and the output format.
// A component that refuses a setting, or answers with one the driver cannot
// use, fails the configuration (see refused()); the lookup then tries the
// next candidate.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

#include <string.h>
#include <strings.h>

#include <media/stagefright/ESDS.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "common/ColorFormat.h"
#include "omx_codec/OMXParams.h"

namespace qor {

using android::MetaData;
using android::OK;

namespace {

// Input buffer bytes for one frame of `colorFormat`.
size_t getFrameSize(OMX_COLOR_FORMATTYPE colorFormat, int32_t width, int32_t height) {
    const size_t base = (size_t)width * height;
    switch ((uint32_t)colorFormat) {
        case kColorFormatYCbYCr:
        case kColorFormatCbYCrY:
        case kColorFormat16bitRGB565:
            return base * 2;
        case kColorFormat24bitRGB888:
            return base * 3;
        case kColorFormat32bitARGB8888:
            return base * 4;
        case kColorFormatYUV420Planar:
        case kColorFormatVendorPlanar:  // chosen by the set-up like any 4:2:0 format
        case kColorFormatYUV420SemiPlanar:
        case kColorFormatTiYUV420PackedSemiPlanar:
        case kColorFormatAndroidOpaque:
        case kColorFormatQcomYVU420SemiPlanar:
        case kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka:
        case kColorFormatQcomYUV420PackedSemiPlanar32m:
        case kColorFormatSecNV12Tiled:
            return (base * 3) / 2;
        default:
            CHECK(!"Should not be here. Unsupported color format.");
            return 0;
    }
}

// What the kit records with: I and P frames only, one reference frame,
// CAVLC, a sync frame every `iFramesInterval` seconds (never for a negative
// interval, every frame for zero).
void setRecordingDefaults(OMX_VIDEO_PARAM_AVCTYPE* h264type, int32_t iFramesInterval,
                          int32_t frameRate) {
    h264type->nSliceHeaderSpacing = 0;
    h264type->bUseHadamard = OMX_TRUE;
    h264type->nRefFrames = 1;
    h264type->nBFrames = 0;
    if (iFramesInterval < 0) {
        h264type->nPFrames = 0xFFFFFFFF;
    } else if (iFramesInterval == 0) {
        h264type->nPFrames = 0;
        h264type->nAllowedPictureTypes = OMX_VIDEO_PictureTypeI;
    } else {
        h264type->nPFrames = iFramesInterval * frameRate - 1;
    }
    h264type->nRefIdx10ActiveMinus1 = 0;
    h264type->nRefIdx11ActiveMinus1 = 0;
    h264type->bEntropyCodingCABAC = OMX_FALSE;
    h264type->bWeightedPPrediction = OMX_FALSE;
    h264type->bconstIpred = OMX_FALSE;
    h264type->bDirect8x8Inference = OMX_FALSE;
    h264type->bDirectSpatialTemporal = OMX_FALSE;
    h264type->nCabacInitIdc = 0;
    h264type->bEnableUEP = OMX_FALSE;
    h264type->bEnableFMO = OMX_FALSE;
    h264type->bEnableASO = OMX_FALSE;
    h264type->bEnableRS = OMX_FALSE;
    h264type->bFrameMBsOnly = OMX_TRUE;
    h264type->bMBAFF = OMX_FALSE;
    h264type->eLoopFilterMode = OMX_VIDEO_AVCLoopFilterEnable;
}

}  // namespace

void OMXCodec::addCodecSpecificData(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    mCodecSpecificData.emplace_back(bytes, bytes + size);
}

void OMXCodec::clearCodecSpecificData() {
    mCodecSpecificData.clear();
    mCodecSpecificDataIndex = 0;
}

status_t OMXCodec::configureCodec(const sp<MetaData>& meta) {
    android::Mutex::Autolock autoLock(mLock);
    if (!(mFlags & kIgnoreCodecSpecificData)) collectCodecSpecificData(meta);

    int32_t bitRate = 0;
    if (mIsEncoder) CHECK(meta->findInt32(android::kKeyBitRate, &bitRate));
    status_t err = configureAudio(meta, bitRate);
    if (err != OK) return err;

    if (!strncasecmp(mMIME.c_str(), "video/", 6)) {
        if (!mIsEncoder) LOG_ALWAYS_FATAL("Don't support decodec for now!");
        err = setVideoInputFormat(mMIME.c_str(), meta);
        if (err != OK) return err;
    }

    int32_t maxInputSize;
    if (meta->findInt32(android::kKeyMaxInputSize, &maxInputSize)) {
        err = setMinBufferSize(kPortIndexInput, (OMX_U32)maxInputSize);
        if (err != OK) return err;
    }

    initOutputFormat(meta);

    if ((mFlags & kClientNeedsFramebuffer) && !strncmp(mComponentName.c_str(), "OMX.SEC.", 8)) {
        return enableThumbnailMode();
    }
    return OK;
}

// Configuration blocks the stream carries in its format go to the
// component ahead of the first frame.
void OMXCodec::collectCodecSpecificData(const sp<MetaData>& meta) {
    uint32_t type;
    const void* data;
    size_t size;
    if (meta->findData(android::kKeyESDS, &type, &data, &size)) {
        android::ESDS esds((const char*)data, size);
        CHECK_EQ(esds.InitCheck(), (status_t)OK);
        const void* codecSpecificData;
        size_t codecSpecificDataSize;
        esds.getCodecSpecificInfo(&codecSpecificData, &codecSpecificDataSize);
        addCodecSpecificData(codecSpecificData, codecSpecificDataSize);
    } else if (meta->findData(android::kKeyVorbisInfo, &type, &data, &size)) {
        addCodecSpecificData(data, size);
        CHECK(meta->findData(android::kKeyVorbisBooks, &type, &data, &size));
        addCodecSpecificData(data, size);
    }
}

status_t OMXCodec::configureAudio(const sp<MetaData>& meta, int32_t bitRate) {
    if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AAC, mMIME.c_str())) {
        int32_t numChannels, sampleRate, aacProfile;
        CHECK(meta->findInt32(android::kKeyChannelCount, &numChannels));
        CHECK(meta->findInt32(android::kKeySampleRate, &sampleRate));
        if (!meta->findInt32(android::kKeyAACProfile, &aacProfile))
            aacProfile = OMX_AUDIO_AACObjectNull;
        int32_t isADTS;
        if (!meta->findInt32(android::kKeyIsADTS, &isADTS)) isADTS = false;
        status_t err = setAACFormat(numChannels, sampleRate, bitRate, aacProfile, isADTS);
        if (err != OK) {
            ALOGE("[%s] setAACFormat() failed (err = %d)", mComponentName.c_str(), err);
            return err;
        }
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_RAW, mMIME.c_str())) {
        CHECK(!mIsEncoder);
        int32_t numChannels, sampleRate;
        CHECK(meta->findInt32(android::kKeyChannelCount, &numChannels));
        CHECK(meta->findInt32(android::kKeySampleRate, &sampleRate));
        return setRawAudioFormat(kPortIndexInput, sampleRate, numChannels);
    }
    return OK;
}

// Samsung components hand a client that needs the frame readable output.
status_t OMXCodec::enableThumbnailMode() {
    OMX_INDEXTYPE index;
    status_t err = mOMX->getExtensionIndex(mNode, "OMX.SEC.index.ThumbnailMode", &index);
    if (err != OK) return err;
    OMX_BOOL enable = OMX_TRUE;
    err = mOMX->setConfig(mNode, index, &enable, sizeof(enable));
    if (err != OK) {
        ALOGE("[%s] setConfig('OMX.SEC.index.ThumbnailMode') returned error 0x%08x",
              mComponentName.c_str(), err);
        return err;
    }
    mQuirks &= ~kOutputBuffersAreUnreadable;
    return OK;
}

status_t OMXCodec::setVideoPortFormatType(OMX_U32 portIndex, OMX_VIDEO_CODINGTYPE compressionFormat,
                                          OMX_COLOR_FORMATTYPE colorFormat) {
    OMX_VIDEO_PARAM_PORTFORMATTYPE format;
    InitOMXParams(&format);
    format.nPortIndex = portIndex;
    format.nIndex = 0;
    bool found = false;
    OMX_U32 index = 0;
    for (;;) {
        format.nIndex = index;
        status_t err =
            mOMX->getParameter(mNode, OMX_IndexParamVideoPortFormat, &format, sizeof(format));
        if (err != OK) return err;
        if (format.eCompressionFormat == compressionFormat && format.eColorFormat == colorFormat) {
            found = true;
            break;
        }
        ++index;
        if (index >= 1000) break;
    }
    if (!found) {
        ALOGE("[%s] color format %d or compression format %d is not supported",
              mComponentName.c_str(), colorFormat, compressionFormat);
        return android::UNKNOWN_ERROR;
    }
    return mOMX->setParameter(mNode, OMX_IndexParamVideoPortFormat, &format, sizeof(format));
}

status_t OMXCodec::isColorFormatSupported(OMX_COLOR_FORMATTYPE colorFormat, int portIndex) {
    OMX_VIDEO_PARAM_PORTFORMATTYPE portFormat;
    InitOMXParams(&portFormat);
    portFormat.nPortIndex = portIndex;
    OMX_U32 index = 0;
    portFormat.nIndex = index;
    for (;;) {
        if (mOMX->getParameter(mNode, OMX_IndexParamVideoPortFormat, &portFormat,
                               sizeof(portFormat)) != OK) {
            break;
        }
        // The component answers for the index it was asked about; one that
        // does not has no usable list.
        if (portFormat.nIndex != index) {
            ALOGE("[%s] asked for colour format %u, answered for %u", mComponentName.c_str(),
                  (unsigned)index, (unsigned)portFormat.nIndex);
            break;
        }
        if (portFormat.eColorFormat == colorFormat) return OK;
        portFormat.nIndex = ++index;
        if (index >= 1000) {
            ALOGE("[%s] More than %u color formats are supported???", mComponentName.c_str(),
                  (unsigned)index);
            break;
        }
    }
    ALOGE("[%s] color format %d is not supported", mComponentName.c_str(), colorFormat);
    return android::UNKNOWN_ERROR;
}

status_t OMXCodec::findTargetColorFormat(const sp<MetaData>& meta,
                                         OMX_COLOR_FORMATTYPE* colorFormat) {
    CHECK(mIsEncoder);
    *colorFormat = (OMX_COLOR_FORMATTYPE)kColorFormatYUV420SemiPlanar;
    int32_t targetColorFormat;
    if (meta->findInt32(android::kKeyColorFormat, &targetColorFormat)) {
        *colorFormat = (OMX_COLOR_FORMATTYPE)targetColorFormat;
    }
    return isColorFormatSupported(*colorFormat, kPortIndexInput);
}

status_t OMXCodec::setVideoInputFormat(const char* mime, const sp<MetaData>& meta) {
    int32_t width, height, frameRate, bitRate, stride, sliceHeight;
    bool success = meta->findInt32(android::kKeyWidth, &width);
    success = success && meta->findInt32(android::kKeyHeight, &height);
    success = success && meta->findInt32(android::kKeyFrameRate, &frameRate);
    success = success && meta->findInt32(android::kKeyBitRate, &bitRate);
    success = success && meta->findInt32(android::kKeyStride, &stride);
    success = success && meta->findInt32(android::kKeySliceHeight, &sliceHeight);
    CHECK(success);
    CHECK(stride != 0);

    if (strcasecmp(mime, android::MEDIA_MIMETYPE_VIDEO_AVC)) {
        ALOGE("Not a supported video mime type: %s", mime);
        CHECK(!"Should not be here. Not a supported video mime type.");
    }
    const OMX_VIDEO_CODINGTYPE compressionFormat = OMX_VIDEO_CodingAVC;

    // A device whose component does not take what was chosen for it fails
    // here in an orderly way; the next candidate is tried.
    OMX_COLOR_FORMATTYPE colorFormat;
    status_t err = findTargetColorFormat(meta, &colorFormat);
    if (err != OK) return err;
    err = setVideoPortFormatType(kPortIndexInput, OMX_VIDEO_CodingUnused, colorFormat);
    if (err != OK) return err;
    err = setVideoInputPortDefinition(colorFormat, width, height, stride, sliceHeight, frameRate);
    if (err != OK) return err;

    err = setVideoPortFormatType(kPortIndexOutput, compressionFormat,
                                 (OMX_COLOR_FORMATTYPE)kColorFormatUnused);
    if (err != OK) return err;
    err = setVideoOutputPortDefinition(compressionFormat, width, height, bitRate);
    if (err != OK) return err;

    return setupAVCEncoderParameters(meta);
}

// Raw frames of `colorFormat` in, one frame a buffer.
status_t OMXCodec::setVideoInputPortDefinition(OMX_COLOR_FORMATTYPE colorFormat, int32_t width,
                                               int32_t height, int32_t stride, int32_t sliceHeight,
                                               int32_t frameRate) {
    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = kPortIndexInput;
    OMX_VIDEO_PORTDEFINITIONTYPE* video_def = &def.format.video;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK || def.eDomain != OMX_PortDomainVideo) {
        return refused("the input port definition", err);
    }
    def.nBufferSize = getFrameSize(colorFormat, stride > 0 ? stride : -stride, sliceHeight);
    ALOGI("setVideoInputFormat colorFormat %u stride %d sliceHeight %d buffersize %u",
          (unsigned)colorFormat, stride, sliceHeight, (unsigned)def.nBufferSize);
    video_def->eCompressionFormat = OMX_VIDEO_CodingUnused;
    video_def->nFrameWidth = width;
    video_def->nFrameHeight = height;
    video_def->nStride = stride;
    video_def->nSliceHeight = sliceHeight;
    video_def->xFramerate = (OMX_U32)frameRate << 16;  // 16.16 fixed point
    video_def->eColorFormat = colorFormat;
    err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    return err == OK ? OK : refused("the input port definition", err);
}

// Encoded units of `compressionFormat` out, at `bitRate`.
status_t OMXCodec::setVideoOutputPortDefinition(OMX_VIDEO_CODINGTYPE compressionFormat,
                                                int32_t width, int32_t height, int32_t bitRate) {
    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = kPortIndexOutput;
    OMX_VIDEO_PORTDEFINITIONTYPE* video_def = &def.format.video;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK || def.eDomain != OMX_PortDomainVideo) {
        return refused("the output port definition", err);
    }
    video_def->nFrameWidth = width;
    video_def->nFrameHeight = height;
    video_def->xFramerate = 0;
    video_def->nBitrate = bitRate;
    video_def->eCompressionFormat = compressionFormat;
    video_def->eColorFormat = (OMX_COLOR_FORMATTYPE)kColorFormatUnused;
    err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    return err == OK ? OK : refused("the output port definition", err);
}

status_t OMXCodec::getVideoProfileLevel(const sp<MetaData>& meta,
                                        const OMX_VIDEO_PARAM_PROFILELEVELTYPE& defaultProfileLevel,
                                        OMX_VIDEO_PARAM_PROFILELEVELTYPE& profileLevel) {
    int32_t profile;
    if (!meta->findInt32(android::kKeyVideoProfile, &profile)) {
        profile = defaultProfileLevel.eProfile;
    }
    int32_t level;
    if (!meta->findInt32(android::kKeyVideoLevel, &level)) level = defaultProfileLevel.eLevel;

    OMX_VIDEO_PARAM_PROFILELEVELTYPE param;
    InitOMXParams(&param);
    param.nPortIndex = kPortIndexOutput;
    for (param.nProfileIndex = 0;; ++param.nProfileIndex) {
        status_t err = mOMX->getParameter(mNode, OMX_IndexParamVideoProfileLevelQuerySupported,
                                          &param, sizeof(param));
        if (err != OK) break;
        const int32_t supportedProfile = param.eProfile;
        const int32_t supportedLevel = param.eLevel;
        if (profile == supportedProfile && level <= supportedLevel) {
            profileLevel.eProfile = profile;
            profileLevel.eLevel = level;
            return OK;
        }
    }
    ALOGE("[%s] Target profile (%d) and level (%d) is not supported", mComponentName.c_str(),
          profile, level);
    return android::BAD_VALUE;
}

status_t OMXCodec::setupAVCEncoderParameters(const sp<MetaData>& meta) {
    int32_t iFramesInterval, frameRate, bitRate;
    bool success = meta->findInt32(android::kKeyBitRate, &bitRate);
    success = success && meta->findInt32(android::kKeyFrameRate, &frameRate);
    success = success && meta->findInt32(android::kKeyIFramesInterval, &iFramesInterval);
    CHECK(success);

    // A sync frame every interval x rate frames needs at least a spacing of
    // two P frames; anything shorter is outside what the encoders support.
    if (iFramesInterval > 0 && (int64_t)iFramesInterval * frameRate < 3) {
        ALOGE("[%s] I-frame interval %d s at %d fps is too short for AVC recording",
              mComponentName.c_str(), iFramesInterval, frameRate);
        return android::BAD_VALUE;
    }

    OMX_VIDEO_PARAM_AVCTYPE h264type;
    InitOMXParams(&h264type);
    h264type.nPortIndex = kPortIndexOutput;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamVideoAvc, &h264type, sizeof(h264type));
    if (err != OK) return refused("the AVC parameters", err);

    h264type.nAllowedPictureTypes = OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP;

    OMX_VIDEO_PARAM_PROFILELEVELTYPE defaultProfileLevel, profileLevel;
    defaultProfileLevel.eProfile = h264type.eProfile;
    defaultProfileLevel.eLevel = h264type.eLevel;
    err = getVideoProfileLevel(meta, defaultProfileLevel, profileLevel);
    if (err != OK) return err;
    h264type.eProfile = static_cast<OMX_VIDEO_AVCPROFILETYPE>(profileLevel.eProfile);
    h264type.eLevel = static_cast<OMX_VIDEO_AVCLEVELTYPE>(profileLevel.eLevel);

    if (h264type.eProfile != OMX_VIDEO_AVCProfileBaseline) {
        ALOGW("Use baseline profile instead of %d for AVC recording", h264type.eProfile);
        h264type.eProfile = OMX_VIDEO_AVCProfileBaseline;
    }

    setRecordingDefaults(&h264type, iFramesInterval, frameRate);

    err = mOMX->setParameter(mNode, OMX_IndexParamVideoAvc, &h264type, sizeof(h264type));
    if (err != OK) return refused("the AVC parameters", err);
    return setupBitRate(bitRate);
}

status_t OMXCodec::setupBitRate(int32_t bitRate) {
    OMX_VIDEO_PARAM_BITRATETYPE bitrateType;
    InitOMXParams(&bitrateType);
    bitrateType.nPortIndex = kPortIndexOutput;
    status_t err =
        mOMX->getParameter(mNode, OMX_IndexParamVideoBitrate, &bitrateType, sizeof(bitrateType));
    if (err != OK) return refused("the bit rate", err);
    bitrateType.eControlRate = OMX_Video_ControlRateVariable;
    bitrateType.nTargetBitrate = bitRate;
    err = mOMX->setParameter(mNode, OMX_IndexParamVideoBitrate, &bitrateType, sizeof(bitrateType));
    return err == OK ? OK : refused("the bit rate", err);
}

// A component refusing a setting fails the configuration (the lookup tries
// the next candidate), never the process.
status_t OMXCodec::refused(const char* what, status_t err) {
    ALOGE("[%s] the component refused %s (err = %d)", mComponentName.c_str(), what, err);
    return err != OK ? err : android::UNKNOWN_ERROR;
}

status_t OMXCodec::getOMXChannelMapping(size_t numChannels, OMX_AUDIO_CHANNELTYPE map[]) {
    const OMX_AUDIO_CHANNELTYPE L = OMX_AUDIO_ChannelLF, R = OMX_AUDIO_ChannelRF,
                                C = OMX_AUDIO_ChannelCF, LFE = OMX_AUDIO_ChannelLFE,
                                LR = OMX_AUDIO_ChannelLR, RR = OMX_AUDIO_ChannelRR,
                                CS = OMX_AUDIO_ChannelCS, LS = OMX_AUDIO_ChannelLS,
                                RS = OMX_AUDIO_ChannelRS;
    // Row n - 1 holds the layout of n channels.
    static const OMX_AUDIO_CHANNELTYPE kLayouts[8][8] = {
        {C},
        {L, R},
        {L, R, C},
        {L, R, LR, RR},
        {L, R, C, LR, RR},
        {L, R, C, LFE, LR, RR},
        {L, R, C, LFE, LR, RR, CS},
        {L, R, C, LFE, LR, RR, LS, RS},
    };
    if (numChannels < 1 || numChannels > 8) return android::BAD_VALUE;
    for (size_t i = 0; i < numChannels; ++i) map[i] = kLayouts[numChannels - 1][i];
    return OK;
}

status_t OMXCodec::setRawAudioFormat(OMX_U32 portIndex, int32_t sampleRate, int32_t numChannels) {
    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = portIndex;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return refused("the PCM port definition", err);
    def.format.audio.eEncoding = OMX_AUDIO_CodingPCM;
    err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return refused("the PCM port definition", err);

    OMX_AUDIO_PARAM_PCMMODETYPE pcmParams;
    InitOMXParams(&pcmParams);
    pcmParams.nPortIndex = portIndex;
    err = mOMX->getParameter(mNode, OMX_IndexParamAudioPcm, &pcmParams, sizeof(pcmParams));
    if (err != OK) return refused("the PCM parameters", err);
    pcmParams.nChannels = numChannels;
    pcmParams.eNumData = OMX_NumericalDataSigned;
    pcmParams.bInterleaved = OMX_TRUE;
    pcmParams.nBitPerSample = 16;
    pcmParams.nSamplingRate = sampleRate;
    pcmParams.ePCMMode = OMX_AUDIO_PCMModeLinear;
    err = getOMXChannelMapping(numChannels, pcmParams.eChannelMapping);
    if (err != OK) return refused("the channel count", err);
    err = mOMX->setParameter(mNode, OMX_IndexParamAudioPcm, &pcmParams, sizeof(pcmParams));
    return err == OK ? OK : refused("the PCM parameters", err);
}

status_t OMXCodec::setAACFormat(int32_t numChannels, int32_t sampleRate, int32_t bitRate,
                                int32_t aacProfile, bool isADTS) {
    if (numChannels > 2) ALOGW("Number of channels: (%d) \n", numChannels);
    if (!mIsEncoder) return setAACDecoderFormat(numChannels, sampleRate, isADTS);
    if (isADTS) return -EINVAL;
    return setAACEncoderFormat(numChannels, sampleRate, bitRate, aacProfile);
}

// PCM in, AAC in MPEG-4 framing out.
status_t OMXCodec::setAACEncoderFormat(int32_t numChannels, int32_t sampleRate, int32_t bitRate,
                                       int32_t aacProfile) {
    status_t err = setRawAudioFormat(kPortIndexInput, sampleRate, numChannels);
    if (err == OK) err = selectAACOutputEncoding();
    if (err != OK) return err;

    OMX_AUDIO_PARAM_AACPROFILETYPE profile;
    InitOMXParams(&profile);
    profile.nPortIndex = kPortIndexOutput;
    err = mOMX->getParameter(mNode, OMX_IndexParamAudioAac, &profile, sizeof(profile));
    if (err != OK) return refused("the AAC parameters", err);
    profile.nChannels = numChannels;
    profile.eChannelMode =
        (numChannels == 1) ? OMX_AUDIO_ChannelModeMono : OMX_AUDIO_ChannelModeStereo;
    profile.nSampleRate = sampleRate;
    profile.nBitRate = bitRate;
    profile.nAudioBandWidth = 0;
    profile.nFrameLength = 0;
    profile.nAACtools = OMX_AUDIO_AACToolAll;
    profile.nAACERtools = OMX_AUDIO_AACERNone;
    profile.eAACProfile = (OMX_AUDIO_AACPROFILETYPE)aacProfile;
    profile.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4FF;
    err = mOMX->setParameter(mNode, OMX_IndexParamAudioAac, &profile, sizeof(profile));
    if (err != OK) {
        ALOGE("[%s] setParameter('OMX_IndexParamAudioAac') failed (err = %d)",
              mComponentName.c_str(), err);
        return err;
    }
    return OK;
}

// The output port's first format with AAC encoding, and AAC on its
// definition.
status_t OMXCodec::selectAACOutputEncoding() {
    OMX_AUDIO_PARAM_PORTFORMATTYPE format;
    InitOMXParams(&format);
    format.nPortIndex = kPortIndexOutput;
    format.nIndex = 0;
    for (;;) {
        // The list ends with an error: a component without AAC output.
        status_t err =
            mOMX->getParameter(mNode, OMX_IndexParamAudioPortFormat, &format, sizeof(format));
        if (err != OK) return refused("an AAC output format", err);
        if (format.eEncoding == OMX_AUDIO_CodingAAC) break;
        format.nIndex++;
    }
    status_t err =
        mOMX->setParameter(mNode, OMX_IndexParamAudioPortFormat, &format, sizeof(format));
    if (err != OK) return refused("the AAC output format", err);

    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = kPortIndexOutput;
    err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return refused("the AAC port definition", err);
    def.format.audio.bFlagErrorConcealment = OMX_TRUE;
    def.format.audio.eEncoding = OMX_AUDIO_CodingAAC;
    err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    return err == OK ? OK : refused("the AAC port definition", err);
}

status_t OMXCodec::setAACDecoderFormat(int32_t numChannels, int32_t sampleRate, bool isADTS) {
    OMX_AUDIO_PARAM_AACPROFILETYPE profile;
    InitOMXParams(&profile);
    profile.nPortIndex = kPortIndexInput;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamAudioAac, &profile, sizeof(profile));
    if (err != OK) return refused("the AAC parameters", err);
    profile.nChannels = numChannels;
    profile.nSampleRate = sampleRate;
    profile.eAACStreamFormat =
        isADTS ? OMX_AUDIO_AACStreamFormatMP4ADTS : OMX_AUDIO_AACStreamFormatMP4FF;
    err = mOMX->setParameter(mNode, OMX_IndexParamAudioAac, &profile, sizeof(profile));
    if (err != OK) {
        ALOGE("[%s] setParameter('OMX_IndexParamAudioAac') failed (err = %d)",
              mComponentName.c_str(), err);
        return err;
    }
    return OK;
}

status_t OMXCodec::setMinBufferSize(OMX_U32 portIndex, OMX_U32 size) {
    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = portIndex;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return refused("the buffer size", err);
    if (def.nBufferSize < size) {
        def.nBufferSize = size;
        err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
        if (err != OK) return refused("the buffer size", err);
    }
    err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK || def.nBufferSize < size) return refused("the buffer size", err);
    return OK;
}

void OMXCodec::initOutputFormat(const sp<MetaData>& inputFormat) {
    mOutputFormat = new MetaData;
    mOutputFormat->setCString(android::kKeyDecoderComponent, mComponentName.c_str());
    if (mIsEncoder) {
        int32_t timeScale;
        if (inputFormat->findInt32(android::kKeyTimeScale, &timeScale)) {
            mOutputFormat->setInt32(android::kKeyTimeScale, timeScale);
        }
    }

    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = kPortIndexOutput;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) {
        // Without a MIME type the writer refuses the track: an orderly end.
        refused("the output port definition", err);
        return;
    }
    describeOutputPort(def, inputFormat);

    int32_t rotationDegrees;
    if (mSource->getFormat()->findInt32(android::kKeyRotation, &rotationDegrees)) {
        mOutputFormat->setInt32(android::kKeyRotation, rotationDegrees);
    }
}

// The output port's domain, coding and size in the output format.
void OMXCodec::describeOutputPort(const OMX_PARAM_PORTDEFINITIONTYPE& def,
                                  const sp<MetaData>& inputFormat) {
    switch (def.eDomain) {
        case OMX_PortDomainImage: {
            const OMX_IMAGE_PORTDEFINITIONTYPE* imageDef = &def.format.image;
            if (imageDef->eCompressionFormat != OMX_IMAGE_CodingUnused) {
                ALOGE("[%s] a compressed image output port", mComponentName.c_str());
                break;
            }
            mOutputFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_RAW);
            mOutputFormat->setInt32(android::kKeyColorFormat, imageDef->eColorFormat);
            mOutputFormat->setInt32(android::kKeyWidth, imageDef->nFrameWidth);
            mOutputFormat->setInt32(android::kKeyHeight, imageDef->nFrameHeight);
            break;
        }
        case OMX_PortDomainAudio: {
            const OMX_AUDIO_PORTDEFINITIONTYPE* audio_def = &def.format.audio;
            if (audio_def->eEncoding == OMX_AUDIO_CodingAAC) {
                mOutputFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_AUDIO_AAC);
                int32_t numChannels, sampleRate, bitRate;
                inputFormat->findInt32(android::kKeyChannelCount, &numChannels);
                inputFormat->findInt32(android::kKeySampleRate, &sampleRate);
                inputFormat->findInt32(android::kKeyBitRate, &bitRate);
                mOutputFormat->setInt32(android::kKeyChannelCount, numChannels);
                mOutputFormat->setInt32(android::kKeySampleRate, sampleRate);
                mOutputFormat->setInt32(android::kKeyBitRate, bitRate);
            } else {
                ALOGE("[%s] unknown audio encoding %d on the output port", mComponentName.c_str(),
                      (int)audio_def->eEncoding);
            }
            break;
        }
        case OMX_PortDomainVideo: {
            const OMX_VIDEO_PORTDEFINITIONTYPE* video_def = &def.format.video;
            if (video_def->eCompressionFormat == OMX_VIDEO_CodingUnused) {
                mOutputFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_RAW);
            } else if (video_def->eCompressionFormat == OMX_VIDEO_CodingAVC) {
                mOutputFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_AVC);
            } else {
                ALOGE("[%s] unknown compression format %d on the output port",
                      mComponentName.c_str(), (int)video_def->eCompressionFormat);
                break;
            }
            mOutputFormat->setInt32(android::kKeyWidth, video_def->nFrameWidth);
            mOutputFormat->setInt32(android::kKeyHeight, video_def->nFrameHeight);
            mOutputFormat->setInt32(android::kKeyColorFormat, video_def->eColorFormat);
            break;
        }
        default:
            ALOGE("[%s] an output port neither audio nor video", mComponentName.c_str());
            break;
    }
}

}  // namespace qor
