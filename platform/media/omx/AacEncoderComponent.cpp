#define LOG_TAG "AacEncoderComponent"
#include "omx/AacEncoderComponent.h"

#include <string.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <utils/Log.h>

namespace android {

namespace {

const int kFrameSamples = 1024;
const OMX_U32 kMaxChannels = 8;
const OMX_U32 kInputBufferSize = 8192;
const OMX_U32 kOutputBufferSize = 8192;
const size_t kMaxPendingFrames = 16;  // above 768 bytes per channel, the AAC maximum

OMX_U32 defaultBitrate(OMX_U32 channels) { return 64000 * (channels > 1 ? 2 : 1); }

}  // namespace

bool AacEncoderComponent::isSupportedRate(OMX_U32 rate) {
    static const OMX_U32 kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
    for (OMX_U32 r : kRates) {
        if (r == rate) return true;
    }
    return false;
}

AacEncoderComponent::AacEncoderComponent(const host::CodecEntry& entry, Listener* listener)
    : OmxComponent(entry, listener),
      mCtx(nullptr),
      mFrame(nullptr),
      mPacket(nullptr),
      mConfigSent(false),
      mFifoStart(0),
      mSamplesIn(0),
      mSamplesSent(0),
      mPacketCount(0),
      mEosPending(false),
      mEosTimeUs(0),
      mRestartPending(false) {
    OMX_PARAM_PORTDEFINITIONTYPE& in = mPorts[kInputPort].mDef;
    in.eDomain = OMX_PortDomainAudio;
    in.format.audio.cMIMEType = const_cast<char*>("audio/raw");
    in.format.audio.eEncoding = OMX_AUDIO_CodingPCM;
    in.nBufferSize = kInputBufferSize;
    OMX_PARAM_PORTDEFINITIONTYPE& out = mPorts[kOutputPort].mDef;
    out.eDomain = OMX_PortDomainAudio;
    out.format.audio.cMIMEType = const_cast<char*>("audio/mp4a-latm");
    out.format.audio.eEncoding = OMX_AUDIO_CodingAAC;
    out.nBufferSize = kOutputBufferSize;

    initHeader(&mPcm, sizeof(mPcm));
    mPcm.nPortIndex = kInputPort;
    mPcm.nChannels = 2;
    mPcm.eNumData = OMX_NumericalDataSigned;
    mPcm.eEndian = OMX_EndianLittle;
    mPcm.bInterleaved = OMX_TRUE;
    mPcm.nBitPerSample = 16;
    mPcm.nSamplingRate = 44100;
    mPcm.ePCMMode = OMX_AUDIO_PCMModeLinear;
    mPcm.eChannelMapping[0] = OMX_AUDIO_ChannelLF;
    mPcm.eChannelMapping[1] = OMX_AUDIO_ChannelRF;

    initHeader(&mAac, sizeof(mAac));
    mAac.nPortIndex = kOutputPort;
    mAac.nChannels = 2;
    mAac.nSampleRate = 44100;
    mAac.nBitRate = defaultBitrate(2);
    mAac.eAACProfile = OMX_AUDIO_AACObjectLC;
    mAac.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4FF;
    mAac.eChannelMode = OMX_AUDIO_ChannelModeStereo;
}

AacEncoderComponent::~AacEncoderComponent() {
    stopWorker();
    closeEncoder();
}

OMX_ERRORTYPE AacEncoderComponent::setPortDefinition(OMX_U32 port,
                                                     const OMX_PARAM_PORTDEFINITIONTYPE& def) {
    if (def.eDomain != OMX_PortDomainAudio) return OMX_ErrorBadParameter;
    OMX_PARAM_PORTDEFINITIONTYPE& p = mPorts[port].mDef;
    OMX_AUDIO_CODINGTYPE wanted = port == kInputPort ? OMX_AUDIO_CodingPCM : OMX_AUDIO_CodingAAC;
    if (def.format.audio.eEncoding != wanted) return OMX_ErrorUnsupportedSetting;
    p.nBufferCountActual = def.nBufferCountActual;
    OMX_U32 minSize = port == kInputPort ? 2 * kMaxChannels : kOutputBufferSize;
    p.nBufferSize = def.nBufferSize < minSize ? minSize : def.nBufferSize;
    p.format.audio.bFlagErrorConcealment = def.format.audio.bFlagErrorConcealment;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE AacEncoderComponent::internalGetParameter(OMX_INDEXTYPE index, void* params,
                                                        size_t size) {
    switch ((int)index) {
        case OMX_IndexParamAudioPortFormat: {
            if (!checkStruct<OMX_AUDIO_PARAM_PORTFORMATTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* f = static_cast<OMX_AUDIO_PARAM_PORTFORMATTYPE*>(params);
            if (f->nPortIndex >= kNumPorts) return OMX_ErrorBadPortIndex;
            if (f->nIndex > 0) return OMX_ErrorNoMore;
            f->eEncoding = f->nPortIndex == kInputPort ? OMX_AUDIO_CodingPCM : OMX_AUDIO_CodingAAC;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamAudioPcm: {
            if (!checkStruct<OMX_AUDIO_PARAM_PCMMODETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* pcm = static_cast<OMX_AUDIO_PARAM_PCMMODETYPE*>(params);
            if (pcm->nPortIndex != kInputPort) return OMX_ErrorBadPortIndex;
            *pcm = mPcm;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamAudioAac: {
            if (!checkStruct<OMX_AUDIO_PARAM_AACPROFILETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* aac = static_cast<OMX_AUDIO_PARAM_AACPROFILETYPE*>(params);
            if (aac->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            *aac = mAac;
            return OMX_ErrorNone;
        }
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

OMX_ERRORTYPE AacEncoderComponent::internalSetParameter(OMX_INDEXTYPE index, const void* params,
                                                        size_t size) {
    switch ((int)index) {
        case OMX_IndexParamAudioPortFormat: {
            if (!checkStruct<OMX_AUDIO_PARAM_PORTFORMATTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* f = static_cast<const OMX_AUDIO_PARAM_PORTFORMATTYPE*>(params);
            if (f->nPortIndex >= kNumPorts) return OMX_ErrorBadPortIndex;
            if (!portWritable(f->nPortIndex)) return OMX_ErrorIncorrectStateOperation;
            OMX_AUDIO_CODINGTYPE wanted =
                f->nPortIndex == kInputPort ? OMX_AUDIO_CodingPCM : OMX_AUDIO_CodingAAC;
            return f->eEncoding == wanted ? OMX_ErrorNone : OMX_ErrorUnsupportedSetting;
        }
        case OMX_IndexParamAudioPcm: {
            if (!checkStruct<OMX_AUDIO_PARAM_PCMMODETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* pcm = static_cast<const OMX_AUDIO_PARAM_PCMMODETYPE*>(params);
            if (pcm->nPortIndex != kInputPort) return OMX_ErrorBadPortIndex;
            if (!portWritable(kInputPort)) return OMX_ErrorIncorrectStateOperation;
            if (pcm->nChannels < 1 || pcm->nChannels > kMaxChannels ||
                !isSupportedRate(pcm->nSamplingRate)) {
                ALOGE("[%s] PCM of %u channels at %u Hz not supported", mEntry.name.c_str(),
                      (unsigned)pcm->nChannels, (unsigned)pcm->nSamplingRate);
                return OMX_ErrorBadParameter;
            }
            if (pcm->nBitPerSample != 16 || pcm->eNumData != OMX_NumericalDataSigned ||
                !pcm->bInterleaved || pcm->ePCMMode != OMX_AUDIO_PCMModeLinear ||
                pcm->eEndian != OMX_EndianLittle) {
                return OMX_ErrorUnsupportedSetting;
            }
            mPcm = *pcm;
            mAac.nChannels = pcm->nChannels;
            mAac.nSampleRate = pcm->nSamplingRate;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamAudioAac: {
            if (!checkStruct<OMX_AUDIO_PARAM_AACPROFILETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* aac = static_cast<const OMX_AUDIO_PARAM_AACPROFILETYPE*>(params);
            if (aac->nPortIndex != kOutputPort) return OMX_ErrorBadPortIndex;
            if (!portWritable(kOutputPort)) return OMX_ErrorIncorrectStateOperation;
            if (aac->nChannels < 1 || aac->nChannels > kMaxChannels ||
                !isSupportedRate(aac->nSampleRate)) {
                return OMX_ErrorBadParameter;
            }
            // Object type 0 means the default, AAC-LC; raw frames only.
            if ((aac->eAACProfile != OMX_AUDIO_AACObjectLC &&
                 aac->eAACProfile != OMX_AUDIO_AACObjectNull) ||
                (aac->eAACStreamFormat != OMX_AUDIO_AACStreamFormatMP4FF &&
                 aac->eAACStreamFormat != OMX_AUDIO_AACStreamFormatRAW)) {
                ALOGE("[%s] AAC object %d stream format %d not supported", mEntry.name.c_str(),
                      aac->eAACProfile, aac->eAACStreamFormat);
                return OMX_ErrorUnsupportedSetting;
            }
            mAac = *aac;
            mAac.eAACProfile = OMX_AUDIO_AACObjectLC;
            mPcm.nChannels = aac->nChannels;
            mPcm.nSamplingRate = aac->nSampleRate;
            return OMX_ErrorNone;
        }
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

bool AacEncoderComponent::openEncoder() {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_ERROR);  // the encoder's statistics are not errors
        return true;
    }();
    (void)quiet;
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (codec == nullptr) return false;
    mCtx = avcodec_alloc_context3(codec);
    if (mCtx == nullptr) return false;
    int channels = (int)mPcm.nChannels;
    mCtx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    mCtx->sample_rate = (int)mPcm.nSamplingRate;
    av_channel_layout_default(&mCtx->ch_layout, channels);
    mCtx->bit_rate = mAac.nBitRate > 0 ? mAac.nBitRate : defaultBitrate(channels);
    mCtx->profile = FF_PROFILE_AAC_LOW;
    mCtx->time_base = AVRational{1, mCtx->sample_rate};
    mCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(mCtx, codec, nullptr) < 0) {
        closeEncoder();
        return false;
    }
    // The encoder's priming (initial_padding, one frame) stays at the front
    // of the output, as a device's encoder leaves it: the file says how
    // much to skip.
    mFrame = av_frame_alloc();
    mPacket = av_packet_alloc();
    if (mFrame == nullptr || mPacket == nullptr) {
        closeEncoder();
        return false;
    }
    mFrame->format = AV_SAMPLE_FMT_FLTP;
    mFrame->nb_samples = kFrameSamples;
    mFrame->sample_rate = mCtx->sample_rate;
    av_channel_layout_copy(&mFrame->ch_layout, &mCtx->ch_layout);
    if (av_frame_get_buffer(mFrame, 0) < 0) {
        closeEncoder();
        return false;
    }
    mConfig.assign(mCtx->extradata, mCtx->extradata + mCtx->extradata_size);
    // The encoder appends an explicit "no SBR" extension; an AAC-LC stream at
    // a standard rate is described by the two-byte AudioSpecificConfig alone.
    if (mConfig.size() > 2 && (mConfig[0] >> 3) == 2 &&
        (((mConfig[0] & 7) << 1) | (mConfig[1] >> 7)) < 15) {
        mConfig.resize(2);
    }
    return true;
}

void AacEncoderComponent::closeEncoder() {
    if (mFrame != nullptr) av_frame_free(&mFrame);
    if (mPacket != nullptr) av_packet_free(&mPacket);
    if (mCtx != nullptr) avcodec_free_context(&mCtx);
}

void AacEncoderComponent::resetStream() {
    mFifo.assign(mPcm.nChannels, std::vector<float>());
    mFifoStart = 0;
    mCarry.clear();
    mSamplesIn = mSamplesSent = mPacketCount = 0;
    mAnchors.clear();
    mPending.clear();
    mEosPending = false;
}

OMX_ERRORTYPE AacEncoderComponent::onStart(Lock&) {
    if (!openEncoder()) {
        ALOGE("[%s] cannot open the AAC encoder (%u Hz, %u channels, %u bit/s)",
              mEntry.name.c_str(), (unsigned)mPcm.nSamplingRate, (unsigned)mPcm.nChannels,
              (unsigned)mAac.nBitRate);
        return OMX_ErrorInsufficientResources;
    }
    mConfigSent = false;
    mRestartPending = false;
    resetStream();
    return OMX_ErrorNone;
}

void AacEncoderComponent::onStop(Lock&) {
    closeEncoder();
    resetStream();
    mConfigSent = false;
}

void AacEncoderComponent::onPortFlushed(OMX_U32 port, Lock&) {
    // Dropped input leaves the encoder's state behind: the worker starts a
    // new stream before it goes on (the configuration is not sent again).
    // Encoded frames not yet delivered survive an output flush.
    if (port == kInputPort) mRestartPending = true;
}

void AacEncoderComponent::appendPcm(const OMX_BUFFERHEADERTYPE* in) {
    size_t channels = mPcm.nChannels;
    size_t frameBytes = 2 * channels;
    const uint8_t* data = in->pBuffer + in->nOffset;
    size_t len = in->nFilledLen;
    if (len == 0) return;
    // Output is timed from the input buffers' own time stamps, as a
    // device's encoder does: frame k carries the time of input sample
    // k*1024 (so the priming shifts the sound by its length).
    mAnchors.push_back({mSamplesIn, in->nTimeStamp});
    std::vector<uint8_t> joined;
    if (!mCarry.empty()) {
        joined = mCarry;
        joined.insert(joined.end(), data, data + len);
        data = joined.data();
        len = joined.size();
    }
    size_t samples = len / frameBytes;
    for (size_t c = 0; c < channels; ++c) {
        std::vector<float>& fifo = mFifo[c];
        size_t base = fifo.size();
        fifo.resize(base + samples);
        const uint8_t* s = data + 2 * c;
        for (size_t i = 0; i < samples; ++i, s += frameBytes) {
            int16_t v = (int16_t)(s[0] | (s[1] << 8));
            fifo[base + i] = v / 32768.0f;
        }
    }
    mCarry.assign(data + samples * frameBytes, data + len);
    mSamplesIn += samples;
}

OMX_TICKS AacEncoderComponent::timeAt(int64_t samplePos) const {
    if (mAnchors.empty()) return 0;
    size_t i = 0;
    while (i + 1 < mAnchors.size() && mAnchors[i + 1].first <= samplePos) ++i;
    const auto& a = mAnchors[i];
    return a.second + (samplePos - a.first) * 1000000LL / (int64_t)mPcm.nSamplingRate;
}

bool AacEncoderComponent::receivePackets() {
    while (true) {
        int rc = avcodec_receive_packet(mCtx, mPacket);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return false;
        Packet p;
        p.mData.assign(mPacket->data, mPacket->data + mPacket->size);
        p.mTimeUs = timeAt(mPacketCount * kFrameSamples);
        ++mPacketCount;
        // Anchors before the next packet's position are no longer needed.
        while (mAnchors.size() > 1 && mAnchors[1].first <= mPacketCount * kFrameSamples) {
            mAnchors.pop_front();
        }
        mPending.push_back(std::move(p));
        av_packet_unref(mPacket);
    }
}

bool AacEncoderComponent::encodeQueued(bool endOfStream) {
    size_t channels = mPcm.nChannels;
    while (true) {
        size_t available = mFifo.empty() ? 0 : mFifo[0].size() - mFifoStart;
        size_t n = available >= (size_t)kFrameSamples ? kFrameSamples
                                                      : (endOfStream ? available : 0);
        if (n == 0) break;
        if (av_frame_make_writable(mFrame) < 0) return false;
        mFrame->nb_samples = (int)n;
        for (size_t c = 0; c < channels; ++c) {
            memcpy(mFrame->data[c], mFifo[c].data() + mFifoStart, n * sizeof(float));
        }
        mFifoStart += n;
        mFrame->pts = mSamplesSent;
        mSamplesSent += n;
        if (avcodec_send_frame(mCtx, mFrame) < 0) return false;
        if (!receivePackets()) return false;
    }
    // Drop what was consumed so the FIFO does not grow.
    if (mFifoStart > 0) {
        for (std::vector<float>& f : mFifo) f.erase(f.begin(), f.begin() + mFifoStart);
        mFifoStart = 0;
    }
    if (endOfStream) {
        if (avcodec_send_frame(mCtx, nullptr) < 0) return false;
        if (!receivePackets()) return false;
    }
    return true;
}

void AacEncoderComponent::onQueueFilled(Lock& lock) {
    if (mRestartPending && mCtx != nullptr) {
        mRestartPending = false;
        closeEncoder();
        resetStream();
        if (!openEncoder()) signalError(OMX_ErrorInsufficientResources);
    }
    while (mState == OMX_StateExecuting && !mFailed && mCtx != nullptr) {
        OMX_BUFFERHEADERTYPE* out = peekBuffer(kOutputPort);
        if (out != nullptr && (!mConfigSent || !mPending.empty() || mEosPending)) {
            takeBuffer(kOutputPort);
            out->nOffset = 0;
            if (!mConfigSent) {
                memcpy(out->pBuffer, mConfig.data(), mConfig.size());
                out->nFilledLen = mConfig.size();
                out->nTimeStamp = 0;
                out->nFlags = OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME;
                mConfigSent = true;
            } else if (!mPending.empty()) {
                Packet& p = mPending.front();
                if (p.mData.size() > out->nAllocLen) {
                    out->nFilledLen = 0;
                    out->nFlags = 0;
                    returnBuffer(kOutputPort, out);
                    signalError(OMX_ErrorOverflow);
                    return;
                }
                memcpy(out->pBuffer, p.mData.data(), p.mData.size());
                out->nFilledLen = p.mData.size();
                out->nTimeStamp = p.mTimeUs;
                out->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
                mPending.pop_front();
            } else {
                out->nFilledLen = 0;
                out->nTimeStamp = mEosTimeUs;
                out->nFlags = OMX_BUFFERFLAG_EOS;
                // Further input starts a new stream on a fresh encoder.
                closeEncoder();
                resetStream();
                if (!openEncoder()) signalError(OMX_ErrorInsufficientResources);
            }
            returnBuffer(kOutputPort, out);
            continue;
        }
        // Encode ahead while the output buffers are away, a few frames at most.
        if (mEosPending || mPending.size() >= kMaxPendingFrames) return;
        OMX_BUFFERHEADERTYPE* in = peekBuffer(kInputPort);
        if (in == nullptr) return;
        takeBuffer(kInputPort);
        bool eos = (in->nFlags & OMX_BUFFERFLAG_EOS) != 0;
        appendPcm(in);
        // The output ends after the priming and the whole input.
        OMX_TICKS endTime = timeAt(mSamplesIn + mCtx->initial_padding);
        returnBuffer(kInputPort, in);
        // Each AAC frame about to be encoded counts against the fault.
        size_t available = mFifo[0].size() - mFifoStart;
        size_t frames = available / kFrameSamples + ((eos && available % kFrameSamples) ? 1 : 0);
        bool admitted = true;
        for (size_t i = 0; i < frames && admitted; ++i) admitted = admitFrame();
        if (!admitted) return;
        lock.unlock();
        bool ok = encodeQueued(eos);
        lock.lock();
        if (!ok) {
            ALOGE("[%s] encoding failed", mEntry.name.c_str());
            signalError(OMX_ErrorUndefined);
            return;
        }
        if (eos) {
            mEosPending = true;
            mEosTimeUs = endTime;
        }
    }
}

}  // namespace android
