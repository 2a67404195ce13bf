// Encoding time per 720p frame and per 1024-sample AAC frame through the
// components of the OpenMAX IL service, and the bare encoder libraries doing
// the same work with the same settings. Each iteration is about one second
// of media fed as fast as buffers come back, ending when its last frame is
// out; "per_frame" is the wall-clock time per frame, and the CPU column counts
// every thread of the process (the component's worker and callback threads).
#include <math.h>
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "BenchHost.h"
#include <wels/codec_api.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "OmxTestClient.h"

namespace {

using namespace qor_test;

const uint32_t kW = 1280, kH = 720;
const int kBitrate = 4000000, kFps = 30, kFrames = 30;

// Wall-clock seconds per frame over the whole run (shown as time per frame).
benchmark::Counter perFrame(const benchmark::State& state, size_t framesPerIteration) {
    return benchmark::Counter((double)state.iterations() * framesPerIteration,
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const std::vector<Yuv>& frames() {
    static std::vector<Yuv>* f = [] {
        auto* v = new std::vector<Yuv>;
        for (int i = 0; i < kFrames; ++i) v->push_back(makeFrame(kW, kH, i));
        return v;
    }();
    return *f;
}

void BM_Avc720pThroughComponent(benchmark::State& state) {
    OmxTestClient c;
    if (c.allocateNode("OMX.google.h264.encoder") != android::OK ||
        c.configureVideo(kW, kH, kW, kH, 19, kFps, kBitrate, kFps - 1) != android::OK ||
        !c.start()) {
        state.SkipWithError("component set-up failed");
        return;
    }
    size_t size = c.portDef(0).nBufferSize;
    std::vector<std::vector<uint8_t>> inputs;
    for (const Yuv& f : frames()) inputs.push_back(layout(f, 19, kW, kH, size));
    c.fillAll();
    int64_t i = 0;
    for (auto _ : state) {
        // One second of video, fed as fast as the input buffers come back;
        // the batch ends when its last access unit is out.
        for (int k = 0; k < kFrames; ++k, ++i) {
            OmxTestClient::Buffer* b = nullptr;
            c.waitUntil([&] { return (b = c.freeInput()) != nullptr; });
            const std::vector<uint8_t>& in = inputs[k];
            memcpy(b->mData, in.data(), in.size());
            c.empty(*b, in.size(), OMX_BUFFERFLAG_ENDOFFRAME, i * 33333);
        }
        // The configuration buffer comes first, then one access unit per frame.
        c.waitUntil([&] { return (int64_t)c.mOutputs.size() >= i + 1; });
    }
    size_t bytes = 0;
    for (const Output& o : c.mOutputs) bytes += o.mData.size();
    state.counters["per_frame"] = perFrame(state, kFrames);
    state.counters["bytes/frame"] = i > 0 ? (double)bytes / i : 0;
    c.stop();
}
BENCHMARK(BM_Avc720pThroughComponent)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime()->MeasureProcessCPUTime();

void BM_Avc720pBareOpenh264(benchmark::State& state) {
    ISVCEncoder* enc = nullptr;
    WelsCreateSVCEncoder(&enc);
    int trace = WELS_LOG_ERROR;
    enc->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace);
    SEncParamExt p;
    enc->GetDefaultParams(&p);
    p.iUsageType = CAMERA_VIDEO_REAL_TIME;
    p.iPicWidth = kW;
    p.iPicHeight = kH;
    p.iTargetBitrate = kBitrate;
    p.iRCMode = RC_BITRATE_MODE;
    p.fMaxFrameRate = kFps;
    p.iTemporalLayerNum = 1;
    p.iSpatialLayerNum = 1;
    p.sSpatialLayers[0].iVideoWidth = kW;
    p.sSpatialLayers[0].iVideoHeight = kH;
    p.sSpatialLayers[0].fFrameRate = kFps;
    p.sSpatialLayers[0].iSpatialBitrate = kBitrate;
    p.sSpatialLayers[0].iMaxSpatialBitrate = UNSPECIFIED_BIT_RATE;
    p.sSpatialLayers[0].uiProfileIdc = PRO_BASELINE;
    p.sSpatialLayers[0].uiLevelIdc = LEVEL_4_2;
    p.sSpatialLayers[0].sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
    p.uiIntraPeriod = kFps;
    p.iNumRefFrame = 1;
    p.eSpsPpsIdStrategy = CONSTANT_ID;
    p.bPrefixNalAddingCtrl = false;
    p.bEnableSSEI = false;
    p.bEnableFrameSkip = false;
    p.iMultipleThreadIdc = 1;
    p.bEnableDenoise = false;
    p.bEnableBackgroundDetection = false;
    p.bEnableSceneChangeDetect = false;
    enc->InitializeExt(&p);
    int videoFormat = videoFormatI420;
    enc->SetOption(ENCODER_OPTION_DATAFORMAT, &videoFormat);
    int64_t i = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        for (int k = 0; k < kFrames; ++k, ++i) {
            const Yuv& f = frames()[k];
            SSourcePicture pic;
            memset(&pic, 0, sizeof(pic));
            pic.iColorFormat = videoFormatI420;
            pic.iPicWidth = kW;
            pic.iPicHeight = kH;
            pic.iStride[0] = kW;
            pic.iStride[1] = pic.iStride[2] = kW / 2;
            pic.pData[0] = const_cast<uint8_t*>(f.mY.data());
            pic.pData[1] = const_cast<uint8_t*>(f.mU.data());
            pic.pData[2] = const_cast<uint8_t*>(f.mV.data());
            pic.uiTimeStamp = i * 33;
            SFrameBSInfo info;
            memset(&info, 0, sizeof(info));
            enc->EncodeFrame(&pic, &info);
            bytes += info.iFrameSizeInBytes;
        }
    }
    state.counters["per_frame"] = perFrame(state, kFrames);
    state.counters["bytes/frame"] = i > 0 ? (double)bytes / i : 0;
    enc->Uninitialize();
    WelsDestroySVCEncoder(enc);
}
BENCHMARK(BM_Avc720pBareOpenh264)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime()->MeasureProcessCPUTime();

const int kRate = 44100, kChannels = 2, kAacBitrate = 128000;

std::vector<int16_t> pcmFrame(int64_t index) {
    std::vector<int16_t> s(1024 * kChannels);
    for (int i = 0; i < 1024; ++i) {
        int16_t v = (int16_t)(10000 * sin(2 * M_PI * 997 * (index * 1024 + i) / kRate));
        for (int c = 0; c < kChannels; ++c) s[i * kChannels + c] = v;
    }
    return s;
}

const int64_t kAacEncoderDelayFrames = 2;

int64_t dataOutputs(const OmxTestClient& c) {
    int64_t n = 0;
    for (const Output& o : c.mOutputs) n += !(o.mFlags & OMX_BUFFERFLAG_CODECCONFIG);
    return n;
}

void BM_Aac1024ThroughComponent(benchmark::State& state) {
    OmxTestClient c;
    if (c.allocateNode("OMX.google.aac.encoder") != android::OK ||
        c.configureAudio(kRate, kChannels, kAacBitrate) != android::OK || !c.start()) {
        state.SkipWithError("component set-up failed");
        return;
    }
    std::vector<std::vector<int16_t>> blocks;
    for (int i = 0; i < 43; ++i) blocks.push_back(pcmFrame(i));
    c.fillAll();
    int64_t i = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < blocks.size(); ++k, ++i) {
            OmxTestClient::Buffer* b = nullptr;
            c.waitUntil([&] { return (b = c.freeInput()) != nullptr; });
            const std::vector<int16_t>& in = blocks[k];
            memcpy(b->mData, in.data(), in.size() * 2);
            c.empty(*b, in.size() * 2, OMX_BUFFERFLAG_ENDOFFRAME, i * 1024 * 1000000LL / kRate);
        }
        // libavcodec's AAC encoder holds two frames: frame i-3 is out once
        // input i-1 is in. A wait that runs out is an error, not a figure.
        if (!c.waitUntil([&] { return dataOutputs(c) >= i - kAacEncoderDelayFrames; })) {
            state.SkipWithError("the component stopped producing output");
            break;
        }
    }
    state.counters["per_frame"] = perFrame(state, blocks.size());
    c.stop();
}
BENCHMARK(BM_Aac1024ThroughComponent)->Unit(benchmark::kMillisecond)->Iterations(40)->UseRealTime()->MeasureProcessCPUTime();

void BM_Aac1024BareLibavcodec(benchmark::State& state) {
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = kRate;
    av_channel_layout_default(&ctx->ch_layout, kChannels);
    ctx->bit_rate = kAacBitrate;
    ctx->profile = FF_PROFILE_AAC_LOW;
    ctx->time_base = AVRational{1, kRate};
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    avcodec_open2(ctx, codec, nullptr);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = 1024;
    frame->sample_rate = kRate;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    av_frame_get_buffer(frame, 0);
    AVPacket* pkt = av_packet_alloc();
    std::vector<std::vector<int16_t>> blocks;
    for (int i = 0; i < 43; ++i) blocks.push_back(pcmFrame(i));
    int64_t i = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < blocks.size(); ++k, ++i) {
            // The component's conversion: interleaved 16-bit to planar float.
            const std::vector<int16_t>& in = blocks[k];
            av_frame_make_writable(frame);
            for (int c = 0; c < kChannels; ++c) {
                float* d = (float*)frame->data[c];
                for (int s = 0; s < 1024; ++s) d[s] = in[s * kChannels + c] / 32768.0f;
            }
            frame->pts = i * 1024;
            avcodec_send_frame(ctx, frame);
            while (avcodec_receive_packet(ctx, pkt) == 0) av_packet_unref(pkt);
        }
    }
    state.counters["per_frame"] = perFrame(state, blocks.size());
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}
BENCHMARK(BM_Aac1024BareLibavcodec)->Unit(benchmark::kMillisecond)->Iterations(40)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

QOR_BENCHMARK_MAIN()
