/*
 * AAC-LC encoder component (libavcodec's native AAC encoder).
 *
 * Input: 16-bit signed little-endian interleaved PCM of the input port's
 * channel count and rate, in buffers of any length (partial frames carry
 * over). Output: the AudioSpecificConfig as one codec-configuration buffer
 * (CODECCONFIG|ENDOFFRAME), then one raw AAC frame (1024 samples per
 * channel) per output buffer with ENDOFFRAME and its time stamp: frame k
 * carries the input time of sample k*1024, taken from the time stamp of the
 * input buffer holding that sample. The first frame holds the encoder's
 * priming (1024 samples), so the sound decodes one frame after its time
 * stamps, as from a device's encoder. An EOS input drains the encoder and
 * ends with an empty EOS output buffer.
 */
#ifndef PLATFORM_AAC_ENCODER_COMPONENT_H_
#define PLATFORM_AAC_ENCODER_COMPONENT_H_

#include <OMX_Audio.h>

#include <deque>
#include <utility>
#include <vector>

#include "omx/OmxComponent.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace android {

class AacEncoderComponent : public OmxComponent {
public:
    AacEncoderComponent(const host::CodecEntry& entry, Listener* listener);
    ~AacEncoderComponent() override;

    static bool isSupportedRate(OMX_U32 rate);

protected:
    OMX_ERRORTYPE internalGetParameter(OMX_INDEXTYPE index, void* params, size_t size) override;
    OMX_ERRORTYPE internalSetParameter(OMX_INDEXTYPE index, const void* params,
                                       size_t size) override;
    OMX_ERRORTYPE setPortDefinition(OMX_U32 port,
                                    const OMX_PARAM_PORTDEFINITIONTYPE& def) override;
    const char* role() const override { return "audio_encoder.aac"; }

    void onQueueFilled(Lock& lock) override;
    OMX_ERRORTYPE onStart(Lock& lock) override;
    void onStop(Lock& lock) override;
    void onPortFlushed(OMX_U32 port, Lock& lock) override;

private:
    struct Packet {
        std::vector<uint8_t> mData;
        OMX_TICKS mTimeUs;
    };

    bool openEncoder();
    void closeEncoder();
    void resetStream();
    void appendPcm(const OMX_BUFFERHEADERTYPE* in);
    // Encodes whole frames from the FIFO (and, at EOS, the rest and the
    // encoder's tail). Runs without mLock. False on an encoder error.
    bool encodeQueued(bool endOfStream);
    bool receivePackets();
    OMX_TICKS timeAt(int64_t samplePos) const;

    OMX_AUDIO_PARAM_PCMMODETYPE mPcm;
    OMX_AUDIO_PARAM_AACPROFILETYPE mAac;

    AVCodecContext* mCtx;
    AVFrame* mFrame;
    AVPacket* mPacket;
    std::vector<uint8_t> mConfig;
    bool mConfigSent;
    std::vector<std::vector<float>> mFifo;  // per channel
    size_t mFifoStart;                      // samples already consumed
    std::vector<uint8_t> mCarry;            // a partial sample frame
    int64_t mSamplesIn;
    int64_t mSamplesSent;
    int64_t mPacketCount;
    std::deque<std::pair<int64_t, OMX_TICKS>> mAnchors;  // sample position, time
    std::deque<Packet> mPending;
    bool mEosPending;
    OMX_TICKS mEosTimeUs;
    bool mRestartPending;  // an input flush asks for a new stream
};

}  // namespace android

#endif  // PLATFORM_AAC_ENCODER_COMPONENT_H_
