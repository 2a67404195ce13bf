#define LOG_TAG "PlatformEncoder"
#include "codec/PlatformEncoder.h"

#include <string.h>
#include <strings.h>

#include <OMX_Audio.h>
#include <OMX_Component.h>
#include <OMX_Video.h>

#include <host/device_profile.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

namespace android {

namespace {

const nsecs_t kStateTimeoutNs = 5000000000LL;

class EncoderObserver : public BnOMXObserver {
public:
    explicit EncoderObserver(const sp<PlatformEncoder>& target) : mTarget(target) {}
#if PLATFORM_LEVEL >= 23
    void onMessages(const std::list<omx_message>& messages) override {
        sp<PlatformEncoder> target = mTarget.promote();
        if (target == nullptr) return;
        for (const omx_message& msg : messages) target->onMessage(msg);
    }
#else
    void onMessage(const omx_message& msg) override {
        sp<PlatformEncoder> target = mTarget.promote();
        if (target != nullptr) target->onMessage(msg);
    }
#endif

private:
    wp<PlatformEncoder> mTarget;
};

}  // namespace

sp<PlatformEncoder> PlatformEncoder::Create(const sp<IOMX>& omx, const char* componentName,
                                            const sp<MetaData>& meta,
                                            const sp<MediaSource>& source) {
    const char* mime = nullptr;
    if (omx == nullptr || componentName == nullptr || meta == nullptr || source == nullptr ||
        !meta->findCString(kKeyMIMEType, &mime)) {
        return nullptr;
    }
    bool isVideo = strncasecmp(mime, "video/", 6) == 0;
    sp<PlatformEncoder> encoder = new PlatformEncoder(omx, componentName, meta, source, isVideo);
    sp<IOMXObserver> observer = new EncoderObserver(encoder);
    IOMX::node_id node;
    if (omx->allocateNode(componentName, observer, &node) != OK) {
        ALOGW("[%s] node allocation failed", componentName);
        return nullptr;
    }
    {
        Mutex::Autolock lock(encoder->mLock);
        encoder->mNode = node;
        encoder->mHasNode = true;
    }
    status_t err = encoder->configure();
    if (err != OK) {
        ALOGW("[%s] configuration failed (%d)", componentName, err);
        return nullptr;
    }
    ALOGI("[%s] encoder ready", componentName);
    return encoder;
}

PlatformEncoder::PlatformEncoder(const sp<IOMX>& omx, const char* componentName,
                                 const sp<MetaData>& meta, const sp<MediaSource>& source,
                                 bool isVideo)
    : mOMX(omx),
      mNode(),
      mHasNode(false),
      mName(componentName),
      mMeta(meta),
      mSource(source),
      mIsVideo(isVideo),
      mAllocInput(false),
      mAllocOutput(false),
      mState(OMX_StateLoaded),
      mError(false),
      mStarted(false),
      mStopping(false),
      mInputEOS(false),
      mOutputEOS(false),
      mReading(false) {
    for (const host::CodecEntry& c : host::currentDeviceProfile()->codecs) {
        if (c.name == mName) {
            mAllocInput = c.hasQuirk("requires-allocate-on-input-ports");
            mAllocOutput = c.hasQuirk("requires-allocate-on-output-ports");
        }
    }
}

PlatformEncoder::~PlatformEncoder() {
    // No waiting here: this may run on the service's callback thread.
    if (mHasNode) mOMX->freeNode(mNode);
    for (MediaBuffer* mb : mOutput) mb->release();
}

status_t PlatformEncoder::configure() {
    Mutex::Autolock lock(mLock);
    OMX_PARAM_COMPONENTROLETYPE role;
    initParams(&role);
    strncpy((char*)role.cRole, mIsVideo ? "video_encoder.avc" : "audio_encoder.aac",
            OMX_MAX_STRINGNAME_SIZE - 1);
    if (mOMX->setParameter(mNode, OMX_IndexParamStandardComponentRole, &role, sizeof(role)) !=
        OK) {
        ALOGW("[%s] role '%s' refused", mName.c_str(), role.cRole);
    }
    return mIsVideo ? configureVideo() : configureAudio();
}

status_t PlatformEncoder::configureVideo() {
    const char* mime;
    int32_t width, height, frameRate = 30, bitRate = 0, stride, sliceHeight, iFrameInterval = 1;
    mMeta->findCString(kKeyMIMEType, &mime);
    if (strcasecmp(mime, MEDIA_MIMETYPE_VIDEO_AVC) != 0 || !mMeta->findInt32(kKeyWidth, &width) ||
        !mMeta->findInt32(kKeyHeight, &height) || width <= 0 || height <= 0) {
        return BAD_VALUE;
    }
    mMeta->findInt32(kKeyFrameRate, &frameRate);
    mMeta->findInt32(kKeyBitRate, &bitRate);
    mMeta->findInt32(kKeyIFramesInterval, &iFrameInterval);
    if (!mMeta->findInt32(kKeyStride, &stride) || stride == 0) stride = width;
    if (!mMeta->findInt32(kKeySliceHeight, &sliceHeight) || sliceHeight == 0) sliceHeight = height;

    // Colour format: the one asked for, which the component must list.
    OMX_VIDEO_PARAM_PORTFORMATTYPE format;
    int32_t wanted;
    bool haveWanted = mMeta->findInt32(kKeyColorFormat, &wanted);
    bool found = false;
    for (OMX_U32 i = 0; !found; ++i) {
        initParams(&format);
        format.nPortIndex = 0;
        format.nIndex = i;
        if (mOMX->getParameter(mNode, OMX_IndexParamVideoPortFormat, &format, sizeof(format)) !=
            OK) {
            break;
        }
        found = !haveWanted || (OMX_U32)format.eColorFormat == (OMX_U32)wanted;
    }
    if (!found) {
        ALOGE("[%s] colour format %d not supported", mName.c_str(), wanted);
        return ERROR_UNSUPPORTED;
    }
    status_t err =
        mOMX->setParameter(mNode, OMX_IndexParamVideoPortFormat, &format, sizeof(format));
    if (err != OK) return err;

    OMX_PARAM_PORTDEFINITIONTYPE def;
    initParams(&def);
    def.nPortIndex = 0;
    if ((err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def))) != OK)
        return err;
    def.format.video.nFrameWidth = width;
    def.format.video.nFrameHeight = height;
    def.format.video.nStride = stride;
    def.format.video.nSliceHeight = sliceHeight;
    def.format.video.xFramerate = (frameRate > 0 ? frameRate : 30) << 16;
    def.format.video.eColorFormat = format.eColorFormat;
    def.format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
    def.nBufferSize = 0;  // the component sizes it for the layout
    if ((err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def))) != OK)
        return err;

    initParams(&def);
    def.nPortIndex = 1;
    if ((err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def))) != OK)
        return err;
    def.format.video.nFrameWidth = width;
    def.format.video.nFrameHeight = height;
    def.format.video.nBitrate = bitRate > 0 ? bitRate : 0;
    def.format.video.eCompressionFormat = OMX_VIDEO_CodingAVC;
    if ((err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def))) != OK)
        return err;

    OMX_VIDEO_PARAM_AVCTYPE avc;
    initParams(&avc);
    avc.nPortIndex = 1;
    if ((err = mOMX->getParameter(mNode, OMX_IndexParamVideoAvc, &avc, sizeof(avc))) != OK)
        return err;
    avc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    avc.nBFrames = 0;
    avc.bEntropyCodingCABAC = OMX_FALSE;
    avc.nAllowedPictureTypes = OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP;
    if (iFrameInterval < 0) {
        avc.nPFrames = 0xFFFFFFFF;
    } else if (iFrameInterval == 0 || frameRate <= 1) {
        avc.nPFrames = 0;
        avc.nAllowedPictureTypes = OMX_VIDEO_PictureTypeI;
    } else {
        avc.nPFrames = iFrameInterval * frameRate - 1;
    }
    if ((err = mOMX->setParameter(mNode, OMX_IndexParamVideoAvc, &avc, sizeof(avc))) != OK)
        return err;

    if (bitRate > 0) {
        OMX_VIDEO_PARAM_BITRATETYPE br;
        initParams(&br);
        br.nPortIndex = 1;
        if ((err = mOMX->getParameter(mNode, OMX_IndexParamVideoBitrate, &br, sizeof(br))) != OK)
            return err;
        br.eControlRate = OMX_Video_ControlRateVariable;
        br.nTargetBitrate = bitRate;
        if ((err = mOMX->setParameter(mNode, OMX_IndexParamVideoBitrate, &br, sizeof(br))) != OK)
            return err;
    }

    mFormat = new MetaData;
    mFormat->setCString(kKeyMIMEType, MEDIA_MIMETYPE_VIDEO_AVC);
    mFormat->setInt32(kKeyWidth, width);
    mFormat->setInt32(kKeyHeight, height);
    mFormat->setInt32(kKeyFrameRate, frameRate);
    mFormat->setInt32(kKeyBitRate, bitRate);
    mFormat->setCString(kKeyDecoderComponent, mName.c_str());
    return OK;
}

status_t PlatformEncoder::configureAudio() {
    const char* mime;
    int32_t sampleRate, channels, bitRate = 0, maxInput = 0;
    mMeta->findCString(kKeyMIMEType, &mime);
    if (strcasecmp(mime, MEDIA_MIMETYPE_AUDIO_AAC) != 0 ||
        !mMeta->findInt32(kKeySampleRate, &sampleRate) ||
        !mMeta->findInt32(kKeyChannelCount, &channels)) {
        return BAD_VALUE;
    }
    mMeta->findInt32(kKeyBitRate, &bitRate);
    mMeta->findInt32(kKeyMaxInputSize, &maxInput);

    status_t err;
    OMX_PARAM_PORTDEFINITIONTYPE def;
    initParams(&def);
    def.nPortIndex = 0;
    if ((err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def))) != OK)
        return err;
    if (maxInput > 0 && def.nBufferSize < (OMX_U32)maxInput) {
        def.nBufferSize = maxInput;
        if ((err = mOMX->setParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def))) !=
            OK)
            return err;
    }

    OMX_AUDIO_PARAM_PCMMODETYPE pcm;
    initParams(&pcm);
    pcm.nPortIndex = 0;
    if ((err = mOMX->getParameter(mNode, OMX_IndexParamAudioPcm, &pcm, sizeof(pcm))) != OK)
        return err;
    pcm.nChannels = channels;
    pcm.nSamplingRate = sampleRate;
    pcm.nBitPerSample = 16;
    pcm.eNumData = OMX_NumericalDataSigned;
    pcm.bInterleaved = OMX_TRUE;
    pcm.ePCMMode = OMX_AUDIO_PCMModeLinear;
    if ((err = mOMX->setParameter(mNode, OMX_IndexParamAudioPcm, &pcm, sizeof(pcm))) != OK)
        return err;

    OMX_AUDIO_PARAM_AACPROFILETYPE aac;
    initParams(&aac);
    aac.nPortIndex = 1;
    if ((err = mOMX->getParameter(mNode, OMX_IndexParamAudioAac, &aac, sizeof(aac))) != OK)
        return err;
    aac.nChannels = channels;
    aac.nSampleRate = sampleRate;
    aac.nBitRate = bitRate > 0 ? bitRate : 0;
    aac.eAACProfile = OMX_AUDIO_AACObjectLC;
    aac.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4FF;
    aac.eChannelMode = channels == 1 ? OMX_AUDIO_ChannelModeMono : OMX_AUDIO_ChannelModeStereo;
    if ((err = mOMX->setParameter(mNode, OMX_IndexParamAudioAac, &aac, sizeof(aac))) != OK)
        return err;

    mFormat = new MetaData;
    mFormat->setCString(kKeyMIMEType, MEDIA_MIMETYPE_AUDIO_AAC);
    mFormat->setInt32(kKeySampleRate, sampleRate);
    mFormat->setInt32(kKeyChannelCount, channels);
    mFormat->setInt32(kKeyBitRate, bitRate);
    mFormat->setCString(kKeyDecoderComponent, mName.c_str());
    return OK;
}

status_t PlatformEncoder::allocatePort(OMX_U32 port) {
    OMX_PARAM_PORTDEFINITIONTYPE def;
    initParams(&def);
    def.nPortIndex = port;
    status_t err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return err;
    size_t size = def.nBufferSize;
#if PLATFORM_LEVEL >= 21
    mDealer[port] = new MemoryDealer(size * def.nBufferCountActual, "PlatformEncoder", 0);
#else
    mDealer[port] = new MemoryDealer(size * def.nBufferCountActual, "PlatformEncoder");
#endif
    bool alloc = port == 0 ? mAllocInput : mAllocOutput;
    for (OMX_U32 i = 0; i < def.nBufferCountActual; ++i) {
        Buffer b;
        b.mSize = size;
        b.mOurs = true;
        if (alloc) {
            void* data = nullptr;
            err = mOMX->allocateBuffer(mNode, port, size, &b.mId, &data);
            b.mData = static_cast<uint8_t*>(data);
        } else {
            b.mMem = mDealer[port]->allocate(size);
            if (b.mMem == nullptr) return NO_MEMORY;
            b.mData = static_cast<uint8_t*>(b.mMem->pointer());
#if PLATFORM_LEVEL >= 23
            err = mOMX->useBuffer(mNode, port, b.mMem, &b.mId, size);
#else
            err = mOMX->useBuffer(mNode, port, b.mMem, &b.mId);
#endif
        }
        if (err != OK) {
            ALOGE("[%s] buffer %u of port %u refused (%d)", mName.c_str(), (unsigned)i,
                  (unsigned)port, err);
            return err;
        }
        mBuffers[port].push_back(b);
    }
    return OK;
}

void PlatformEncoder::freeBuffers() {
    for (OMX_U32 port = 0; port < 2; ++port) {
        for (Buffer& b : mBuffers[port]) mOMX->freeBuffer(mNode, port, b.mId);
        mBuffers[port].clear();
    }
}

status_t PlatformEncoder::waitForState(OMX_STATETYPE state) {
    while (mState != state) {
        if (mError) return UNKNOWN_ERROR;
        if (mCond.waitRelative(mLock, kStateTimeoutNs) == -ETIMEDOUT) {
            ALOGE("[%s] timed out waiting for state %d", mName.c_str(), state);
            return TIMED_OUT;
        }
    }
    return OK;
}

void PlatformEncoder::shutdownComponent() {
    mError = false;  // an earlier error must not cut the way back to Loaded short
    if (mState == OMX_StateExecuting || mState == OMX_StatePause) {
        if (mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle) == OK) {
            waitForState(OMX_StateIdle);
        }
    }
    if (mState == OMX_StateIdle || !mBuffers[0].empty() || !mBuffers[1].empty()) {
        bool toLoaded = mState == OMX_StateIdle &&
                        mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateLoaded) == OK;
        freeBuffers();
        if (toLoaded) waitForState(OMX_StateLoaded);
    }
}

status_t PlatformEncoder::fillBuffer(Buffer& b) {
    b.mOurs = false;
#if PLATFORM_LEVEL >= 23
    status_t err = mOMX->fillBuffer(mNode, b.mId, -1);
#else
    status_t err = mOMX->fillBuffer(mNode, b.mId);
#endif
    if (err != OK) {
        ALOGE("[%s] fillBuffer failed (%d)", mName.c_str(), err);
        b.mOurs = true;
        mError = true;
        mCond.broadcast();
    }
    return err;
}

status_t PlatformEncoder::start(MetaData* params) {
    Mutex::Autolock lock(mLock);
    if (mStarted) return OK;
    mError = mInputEOS = mOutputEOS = mStopping = false;
    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
    if (err == OK) err = allocatePort(0);
    if (err == OK) err = allocatePort(1);
    if (err == OK) err = waitForState(OMX_StateIdle);
    if (err == OK) err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateExecuting);
    if (err == OK) err = waitForState(OMX_StateExecuting);
    if (err == OK) {
        mLock.unlock();
        err = mSource->start(params);
        mLock.lock();
        if (err != OK) ALOGE("[%s] source failed to start: %d", mName.c_str(), err);
    }
    if (err != OK) {
        shutdownComponent();
        return err;
    }
    mStarted = true;
    for (Buffer& b : mBuffers[1]) {
        if (fillBuffer(b) != OK) break;
    }
    return OK;
}

status_t PlatformEncoder::stop() {
    {
        Mutex::Autolock lock(mLock);
        if (!mStarted) return OK;
        mStopping = true;
        shutdownComponent();
        for (MediaBuffer* mb : mOutput) mb->release();
        mOutput.clear();
        mStarted = false;
        mStopping = false;
        mCond.broadcast();
    }
    return mSource->stop();
}

sp<MetaData> PlatformEncoder::getFormat() {
    Mutex::Autolock lock(mLock);
    return mFormat;
}

bool PlatformEncoder::feedOneInput() {
    Buffer* free = nullptr;
    for (Buffer& b : mBuffers[0]) {
        if (b.mOurs) {
            free = &b;
            break;
        }
    }
    if (free == nullptr || mInputEOS) return false;
    IOMX::buffer_id id = free->mId;
    free->mOurs = false;  // reserved while the source is read
    MediaBuffer* mb = nullptr;
    mReading = true;
    mLock.unlock();
    status_t err = mSource->read(&mb);
    mLock.lock();
    mReading = false;
    // The buffer list is stable while started; find the entry again anyway.
    Buffer* b = nullptr;
    for (Buffer& x : mBuffers[0]) {
        if (x.mId == id) b = &x;
    }
    if (b == nullptr || !mStarted || mStopping) {
        if (mb != nullptr) mb->release();
        if (b != nullptr) b->mOurs = true;
        return true;
    }
    size_t length = 0;
    OMX_U32 flags = OMX_BUFFERFLAG_ENDOFFRAME;
    int64_t timeUs = 0;
    if (err != OK || mb == nullptr) {
        mInputEOS = true;
        flags = OMX_BUFFERFLAG_EOS;
    } else {
        length = mb->range_length();
        if (length > b->mSize) {
            ALOGE("[%s] source buffer of %zu bytes exceeds the input buffers (%zu)",
                  mName.c_str(), length, b->mSize);
            mb->release();
            b->mOurs = true;
            mError = true;
            return true;
        }
        memcpy(b->mData, (const uint8_t*)mb->data() + mb->range_offset(), length);
        if (!mb->meta_data()->findInt64(kKeyTime, &timeUs)) {
            ALOGW("[%s] source buffer without a time stamp", mName.c_str());
        }
        mb->release();
    }
#if PLATFORM_LEVEL >= 23
    err = mOMX->emptyBuffer(mNode, id, 0, length, flags, timeUs, -1);
#else
    err = mOMX->emptyBuffer(mNode, id, 0, length, flags, timeUs);
#endif
    if (err != OK) {
        ALOGE("[%s] emptyBuffer failed (%d)", mName.c_str(), err);
        b->mOurs = true;
        mError = true;
    }
    return true;
}

status_t PlatformEncoder::read(MediaBuffer** buffer, const ReadOptions*) {
    *buffer = nullptr;
    Mutex::Autolock lock(mLock);
    while (true) {
        if (!mStarted || mStopping) return INVALID_OPERATION;
        if (!mOutput.empty()) {
            *buffer = mOutput.front();
            mOutput.pop_front();
            return OK;
        }
        if (mError) return UNKNOWN_ERROR;
        if (mOutputEOS) return ERROR_END_OF_STREAM;
        if (!mReading && feedOneInput()) continue;
        mCond.wait(mLock);
    }
}

void PlatformEncoder::onMessage(const omx_message& msg) {
    Mutex::Autolock lock(mLock);
    switch (msg.type) {
        case omx_message::EVENT:
            if (msg.u.event_data.event == OMX_EventCmdComplete &&
                msg.u.event_data.data1 == OMX_CommandStateSet) {
                mState = (OMX_STATETYPE)msg.u.event_data.data2;
            } else if (msg.u.event_data.event == OMX_EventError) {
                ALOGE("[%s] ERROR(0x%08x, %u)", mName.c_str(),
                      (unsigned)msg.u.event_data.data1, (unsigned)msg.u.event_data.data2);
                mError = true;
            }
            break;
        case omx_message::EMPTY_BUFFER_DONE:
            for (Buffer& b : mBuffers[0]) {
                if (b.mId == msg.u.buffer_data.buffer) b.mOurs = true;
            }
            break;
        case omx_message::FILL_BUFFER_DONE: {
            const auto& d = msg.u.extended_buffer_data;
            for (Buffer& b : mBuffers[1]) {
                if (b.mId != d.buffer) continue;
                b.mOurs = true;
                if ((size_t)d.range_offset + d.range_length > b.mSize) {
                    ALOGE("[%s] output range beyond the buffer", mName.c_str());
                    mError = true;
                    break;
                }
                if (d.range_length > 0 && !mStopping) {
                    MediaBuffer* mb = new MediaBuffer(d.range_length);
                    memcpy(mb->data(), b.mData + d.range_offset, d.range_length);
                    sp<MetaData> meta = mb->meta_data();
                    bool config = (d.flags & OMX_BUFFERFLAG_CODECCONFIG) != 0;
                    meta->setInt64(kKeyTime, d.timestamp);
                    if (d.flags & OMX_BUFFERFLAG_SYNCFRAME) meta->setInt32(kKeyIsSyncFrame, 1);
                    if (config) meta->setInt32(kKeyIsCodecConfig, 1);
                    // No B frames: frames are decoded in the order they are shown.
                    if (mIsVideo) meta->setInt64(kKeyDecodingTime, config ? 0 : d.timestamp);
                    mOutput.push_back(mb);
                }
                if (d.flags & OMX_BUFFERFLAG_EOS) mOutputEOS = true;
                if (mState == OMX_StateExecuting && mStarted && !mStopping && !mOutputEOS &&
                    !mError) {
                    fillBuffer(b);
                }
                break;
            }
            break;
        }
    }
    mCond.broadcast();
}

}  // namespace android
