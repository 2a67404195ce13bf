// Choice and creation of the video and audio encoders of a recording.
#define LOG_TAG "qor_codec"
#include "android_source/AndroidCodec.h"
#include "android_source/EncoderWatch.h"

#include <string.h>
#include <strings.h>

#include <cutils/properties.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/OMXCodec.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "android_source/ColorFormats.h"
#include "common/ColorFormat.h"
#include "icodec/ColorLayout.h"

namespace qor {

using android::MetaData;
using android::Mutex;
using android::OMXClient;

namespace {

struct FixedComponent {
    const char* model;
    const char* component;
    int32_t colorFormat;
};

// Models whose AVC encoder is known; no search is made for them.
const FixedComponent kFixedComponents[] = {
    {"X70", "OMX.google.h264.encoder", kColorFormatYUV420Planar},
    {"H60-L01", "OMX.IMG.TOPAZ.VIDEO.Encoder", kColorFormatYUV420SemiPlanar},
    {"GT-I9220", "OMX.SEC.avc.enc", kColorFormatYUV420Planar},
    {"GT-I9100", "OMX.SEC.avc.enc", kColorFormatYUV420Planar},
    {"IdeaTabA5000-E", "OMX.google.h264.encoder", kColorFormatYUV420Planar},
};

// Encoders that a search never chooses.
const char* const kExcludedComponents[] = {
    "OMX.SEC.avc.enc",
    "OMX.Exynos.avc.enc",
    "OMX.Intel.hw_ve.h264",
    "OMX.ittiam.video.encoder.avc",
    "OMX.MARVELL.VIDEO.HW.CODA7542ENCODER",
};

bool startsWithNoCase(const char* s, const char* prefix) {
    return strncasecmp(s, prefix, strlen(prefix)) == 0;
}

// `name`, compared over its own length, matches the beginning of an entry.
bool isExcluded(const char* name) {
    const size_t n = strlen(name);
    for (const char* entry : kExcludedComponents) {
        if (strncmp(name, entry, n) == 0) return true;
    }
    return false;
}

}  // namespace

void AndroidCodec::readPlatformFlags() {
    char hwPlat[PROPERTY_VALUE_MAX];
    __system_property_get("ro.hw_plat", hwPlat);
    ALOGI("hardware platform is [%s].", hwPlat);
    if (strncasecmp(hwPlat, "8x25", 4) == 0) mSkipQcomAvc = true;

    char board[PROPERTY_VALUE_MAX];
    __system_property_get("ro.board.platform", board);
    ALOGI("board platform is [%s].", board);
    if (strncasecmp(board, "msm", 3) == 0 || strncasecmp(board, "apq", 3) == 0) mIsQcom = true;
    if (!mSkipQcomAvc && strncasecmp(board, "msm7627a", 8) == 0) mSkipQcomAvc = true;
}

bool AndroidCodec::searchAVCComponent() {
    OMXClient client;
    if (client.connect() != android::OK) {
        ALOGE("[%s] the media service cannot be reached: no AVC encoder.", mModel.string());
        return false;
    }
    std::vector<android::CodecCapabilities> caps;
    const android::status_t err =
        android::QueryCodecs(client.interface(), android::MEDIA_MIMETYPE_VIDEO_AVC, false, &caps);
    client.disconnect();
    if (err != android::OK) {
        ALOGE("[%s] the AVC encoders cannot be listed: %d", mModel.string(), err);
        return false;
    }

    // The first acceptable component wins, with its best-ranked format.
    for (const android::CodecCapabilities& cap : caps) {
        const char* name = cap.mComponentName.string();
        if (name[0] != '\0') {
            if (isExcluded(name)) continue;
            if (mSkipQcomAvc &&
                strncasecmp(name, "OMX.qcom.video.encoder.avc", strlen(name)) == 0) {
                continue;
            }
        }
        for (uint32_t preferred : kPreferredColorFormats) {
            for (OMX_U32 format : cap.mColorFormats) {
                if (format != preferred) continue;
                mColorFormat = (int32_t)format;
                if (name[0] != '\0') mEncoderName.setTo(name);
                return true;
            }
        }
    }
    return false;
}

sp<MetaData> AndroidCodec::geAVCMetaData(int width, int height, int bitRate, int frameRate,
                                         int iFrameInterval) {
    bool chosen = false;
    for (const FixedComponent& fixed : kFixedComponents) {
        if (startsWithNoCase(mModel.string(), fixed.model)) {
            mEncoderName.setTo(fixed.component);
            mColorFormat = fixed.colorFormat;
            chosen = true;
            break;
        }
    }

    if (!chosen && !searchAVCComponent()) return nullptr;

    // The front end lays semi-planar frames out with the format's aligned
    // stride and slice height (its chroma plane starts at stride x slice
    // height); the encoder must read them the same way at any size. Planar
    // frames are tightly packed, which stride = width describes.
    int stride = width, sliceHeight = height;
    if (isSemiPlanarColorFormat(mColorFormat)) {
        colorFormatLayout(width, height, mColorFormat, &stride, &sliceHeight);
    }

    sp<MetaData> meta = new MetaData;
    meta->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_AVC);
    meta->setInt32(android::kKeyColorFormat, mColorFormat);
    meta->setInt32(android::kKeyWidth, width);
    meta->setInt32(android::kKeyHeight, height);
    meta->setInt32(android::kKeyFrameRate, frameRate);
    meta->setInt32(android::kKeyBitRate, bitRate);
    meta->setInt32(android::kKeyStride, stride);
    meta->setInt32(android::kKeySliceHeight, sliceHeight);
    meta->setInt32(android::kKeyIFramesInterval, iFrameInterval);
    return meta;
}

// A set-up replaces the stream's encoder and source together: one that
// fails leaves neither, so no encoder is left reading a source that no push
// reaches any more.
void AndroidCodec::clearVideo_l() {
    mVideoEncoder.clear();
    mVideoMeta.clear();
    setSource(true, nullptr);
}

void AndroidCodec::clearAudio_l() {
    mAudioEncoder.clear();
    mTimedAudio.clear();
    mAudioMeta.clear();
    setSource(false, nullptr);
}

int AndroidCodec::setVideoMeta(int width, int height, int bitRate, int frameRate,
                               int iFrameInterval) {
    Mutex::Autolock autoLock(mLock);
    if (mState != INITIALIZED && mState != STOPPED) {
        ALOGE("[%s] setVideoMeta must be called before start() state '%s'.", mModel.string(),
              stateName(mState));
        return -1;
    }
    if (width < 1 || height < 1 || bitRate < 0 || frameRate < 0 || iFrameInterval < 0) {
        ALOGE(
            "[%s] setVideoMeta input invalid param width %d height %d bitrate %d framerate %d "
            "iInterval %d",
            mModel.string(), width, height, bitRate, frameRate, iFrameInterval);
        return -1;
    }
    clearVideo_l();
    sp<MetaData> videoMeta = geAVCMetaData(width, height, bitRate, frameRate, iFrameInterval);
    if (videoMeta == nullptr) {
        ALOGE("get avc metadata fail.");
        return -1;
    }

    CHECK(isPushSourceColorFormat(mColorFormat));
    sp<MetaData> sourceFormat = new MetaData;
    sourceFormat->setInt32(android::kKeyWidth, width);
    sourceFormat->setInt32(android::kKeyHeight, height);
    sourceFormat->setInt32(android::kKeyColorFormat, mColorFormat);
    sourceFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_RAW);
    ALOGI("[%s] EncodeSource [%d color].", "video", mColorFormat);
    sp<EncodeSource> source = new EncodeSource("video", sourceFormat);

    ALOGI("[%s] using OMX node %s - color %u %s", mModel.string(), mEncoderName.string(),
          (unsigned)mColorFormat, colorFormatName((uint32_t)mColorFormat));
    sp<android::MediaSource> encoder = createVideoEncoder_l(videoMeta, source);
    if (encoder == nullptr) {
        // Pushes of this stream are refused; the other stream records.
        ALOGE("[%s] create video OMX fail!", mModel.string());
        return -1;
    }
    mVideoMeta = videoMeta;
    mVideoEncoder = new EncoderWatch(encoder, source);
    setSource(true, source);
    return 0;
}

// The chosen component first, then any the factory finds.
sp<android::MediaSource> AndroidCodec::createVideoEncoder_l(const sp<MetaData>& videoMeta,
                                                            const sp<EncodeSource>& source) {
    mVideoClient.connect();
    EncoderFactory factory =
        mIsQcom ? mFactories.ownEncoderFactory : mFactories.platformEncoderFactory;
    if (factory == nullptr) return nullptr;
    sp<android::MediaSource> encoder = factory(mVideoClient.interface(), videoMeta, true, source,
                                               mEncoderName.string(), 0, nullptr);
    if (encoder != nullptr) return encoder;
    return factory(mVideoClient.interface(), videoMeta, true, source, nullptr, 1, nullptr);
}

int AndroidCodec::setAudioMeta(int sampleRate, int channels, int bitRate) {
    Mutex::Autolock autoLock(mLock);
    if (mState != INITIALIZED && mState != STOPPED) {
        ALOGE("[%s] setAudioMeta must be called before start state '%s'.", mModel.string(),
              stateName(mState));
        return -1;
    }
    if (sampleRate < 0 || channels < 0 || bitRate < 0) {
        ALOGE("[%s] setAudioMeta input invalid param samplerate %d channels %d bitrate %d",
              mModel.string(), sampleRate, channels, bitRate);
        return -1;
    }
    clearAudio_l();
    sp<MetaData> audioMeta = new MetaData;
    audioMeta->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_AUDIO_AAC);
    audioMeta->setInt32(android::kKeySampleRate, sampleRate);
    audioMeta->setInt32(android::kKeyChannelCount, channels);
    audioMeta->setInt32(android::kKeyMaxInputSize, 8192);
    audioMeta->setInt32(android::kKeyBitRate, bitRate);

    sp<MetaData> sourceFormat = new MetaData;
    sourceFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_AUDIO_RAW);
    sourceFormat->setInt32(android::kKeyChannelCount, channels);
    sourceFormat->setInt32(android::kKeySampleRate, sampleRate);
    sourceFormat->setInt32(android::kKeyMaxInputSize, 8192);
    ALOGI("[%s] EncodeSource.", "audio");
    sp<EncodeSource> source = new EncodeSource("audio", sourceFormat);
    sp<TimedAudioSource> timed = new TimedAudioSource(source, sampleRate, channels, mOrigin);

    mAudioClient.connect();
    sp<android::MediaSource> encoder;
    if (mFactories.platformEncoderFactory != nullptr) {
        encoder = mFactories.platformEncoderFactory(mAudioClient.interface(), audioMeta, true,
                                                    timed, nullptr, 0, nullptr);
    }
    if (encoder == nullptr) {
        ALOGE("[%s] create audio OMX fail!", mModel.string());
        return -1;
    }
    mAudioMeta = audioMeta;
    mTimedAudio = timed;
    mAudioEncoder = new EncoderWatch(encoder, source);
    setSource(false, source);
    // The encoder's priming comes first in its output; the file skips it.
    sp<MetaData> encoded = mAudioEncoder->getFormat();
    if (encoded != nullptr) encoded->setInt32(android::kKeyEncoderDelay, kAacEncoderDelayFrames);
    return 0;
}

}  // namespace qor
