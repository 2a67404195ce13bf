// The system's own cost per 720p frame, from pushVideo to the muxed sample,
// with a component that skips the encoding (next to a memcpy of the frame);
// and the CPU time of a whole recording with the real encoders next to the
// bare encoders' own time for the same frames and sound.
// Run: build/bin/pipeline_bench
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>

#include "BenchHost.h"
#include <libyuv/convert.h>
#include <wels/codec_api.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "icodec/IcodecInterface.h"

namespace {

const int kWidth = 1280, kHeight = 720, kRate = 44100, kChannels = 2;
const char kOut[] = "/tmp/qor_pipeline_bench.mp4";

std::vector<uint16_t> frame(int n) {
    std::vector<uint16_t> f((size_t)kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            f[(size_t)y * kWidth + x] = (uint16_t)((((x + n * 8) >> 3) & 31) << 11 | ((y >> 2) & 63) << 5 | (n & 31));
    return f;
}

std::vector<int16_t> pcmFor(int n) {  // 1/30 s of a tone
    std::vector<int16_t> pcm((size_t)kRate / 30 * kChannels);
    for (size_t i = 0; i < pcm.size(); i += kChannels) {
        double t = (n * (kRate / 30) + (double)(i / kChannels)) / kRate;
        pcm[i] = pcm[i + 1] = (int16_t)(6000 * sin(2 * M_PI * 440 * t));
    }
    return pcm;
}

void useProfile(const char* name) {
    if (name == nullptr) {
        unsetenv("DEVICE_PROFILE");
    } else {
        std::string path = std::string(QOR_SOURCE_DIR) + "/bench/pipeline/" + name;
        setenv("DEVICE_PROFILE", path.c_str(), 1);
    }
}

bool startRecording(bool audio) {
    setenv("LUMOKAST_LOG_QUIET", "1", 1);
    qor::init(nullptr);
    qor::setVideoParameter(kWidth, kHeight, 30, 4000000, 1, 0);
    if (audio) qor::setAudioParameter(kRate, kChannels, 96000);
    return qor::start(kOut) == 0;
}

void BM_Memcpy720pFrame(benchmark::State& state) {
    std::vector<uint16_t> src = frame(1), dst(src.size());
    for (auto _ : state) {
        memcpy(dst.data(), src.data(), src.size() * 2);
        benchmark::ClobberMemory();
    }
}

// Every stage but the encoder: convert, hand over, copy into the
// component's buffer, mux. Pushes are not paced, so the rate is the
// pipeline's own; CPU time counts every thread of the process.
void BM_PushToMuxedSamplePassThrough(benchmark::State& state) {
    useProfile("passthrough.prop");
    if (!startRecording(false)) {
        state.SkipWithError("start failed");
        return;
    }
    std::vector<uint16_t> f = frame(3);
    for (auto _ : state) {
        qor::pushVideoBuffer((const uint8_t*)f.data(), f.size() * 2, (int)f.size() * 2, 0);
    }
    qor::stop();  // after the timed loop
}

const int kRecordingFrames = 60;

// A whole recording with the real encoders (unpaced).
void BM_WholeRecordingRealEncoders(benchmark::State& state) {
    useProfile(nullptr);
    std::vector<std::vector<uint16_t>> frames;
    std::vector<std::vector<int16_t>> sound;
    for (int n = 0; n <= kRecordingFrames; ++n) {
        frames.push_back(frame(n));
        sound.push_back(pcmFor(n));
    }
    for (auto _ : state) {
        if (!startRecording(true)) {
            state.SkipWithError("start failed");
            return;
        }
        for (int n = 0; n <= kRecordingFrames; ++n) {
            qor::pushVideoBuffer((const uint8_t*)frames[n].data(), frames[n].size() * 2,
                                 (int)frames[n].size() * 2, 0);
            qor::pushAudioBuffer((const uint8_t*)sound[n].data(), 0, (int)sound[n].size() * 2);
        }
        qor::stop();
    }
    state.counters["frames"] = kRecordingFrames;
}

// The bare encoders on the same frames and sound: openh264 on I420 and
// libavcodec's AAC on the PCM.
void BM_BareEncodersSameWork(benchmark::State& state) {
    std::vector<std::vector<uint8_t>> yuv;
    std::vector<std::vector<int16_t>> sound;
    const int cw = kWidth / 2, ch = kHeight / 2;
    for (int n = 1; n <= kRecordingFrames; ++n) {
        std::vector<uint16_t> f = frame(n);
        std::vector<uint8_t> i420((size_t)kWidth * kHeight * 3 / 2);
        uint8_t* u = i420.data() + kWidth * kHeight;
        uint8_t* v = u + cw * ch;
        libyuv::RGB565ToI420((const uint8_t*)f.data(), kWidth * 2, i420.data(), kWidth, u, cw, v, cw,
                             kWidth, kHeight);
        yuv.push_back(std::move(i420));
    }
    for (int n = 0; n <= kRecordingFrames; ++n) sound.push_back(pcmFor(n));

    for (auto _ : state) {
        ISVCEncoder* encoder = nullptr;
        WelsCreateSVCEncoder(&encoder);
        SEncParamExt p;
        encoder->GetDefaultParams(&p);
        p.iUsageType = CAMERA_VIDEO_REAL_TIME;
        p.iPicWidth = kWidth;
        p.iPicHeight = kHeight;
        p.iTargetBitrate = 4000000;
        p.fMaxFrameRate = 30;
        p.uiIntraPeriod = 30;
        p.iSpatialLayerNum = 1;
        p.sSpatialLayers[0].iVideoWidth = kWidth;
        p.sSpatialLayers[0].iVideoHeight = kHeight;
        p.sSpatialLayers[0].fFrameRate = 30;
        p.sSpatialLayers[0].iSpatialBitrate = 4000000;
        encoder->InitializeExt(&p);
        for (auto& frame : yuv) {
            SSourcePicture pic;
            memset(&pic, 0, sizeof(pic));
            pic.iColorFormat = videoFormatI420;
            pic.iPicWidth = kWidth;
            pic.iPicHeight = kHeight;
            pic.iStride[0] = kWidth;
            pic.iStride[1] = pic.iStride[2] = cw;
            pic.pData[0] = frame.data();
            pic.pData[1] = frame.data() + kWidth * kHeight;
            pic.pData[2] = pic.pData[1] + cw * ch;
            SFrameBSInfo info;
            memset(&info, 0, sizeof(info));
            encoder->EncodeFrame(&pic, &info);
        }
        encoder->Uninitialize();
        WelsDestroySVCEncoder(encoder);

        const AVCodec* codec = avcodec_find_encoder_by_name("aac");
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
        ctx->sample_rate = kRate;
        av_channel_layout_default(&ctx->ch_layout, kChannels);
        ctx->bit_rate = 96000;
        avcodec_open2(ctx, codec, nullptr);
        AVFrame* af = av_frame_alloc();
        af->format = AV_SAMPLE_FMT_FLTP;
        af->nb_samples = 1024;
        af->sample_rate = kRate;
        av_channel_layout_copy(&af->ch_layout, &ctx->ch_layout);
        av_frame_get_buffer(af, 0);
        AVPacket* pkt = av_packet_alloc();
        std::vector<int16_t> all;
        for (auto& s : sound) all.insert(all.end(), s.begin(), s.end());
        for (size_t start = 0; start + 1024 * kChannels <= all.size(); start += 1024 * kChannels) {
            av_frame_make_writable(af);
            for (int c = 0; c < kChannels; ++c) {
                float* d = (float*)af->data[c];
                for (int i = 0; i < 1024; ++i) d[i] = all[start + i * kChannels + c] / 32768.0f;
            }
            avcodec_send_frame(ctx, af);
            while (avcodec_receive_packet(ctx, pkt) == 0) av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        av_frame_free(&af);
        avcodec_free_context(&ctx);
    }
    state.counters["frames"] = kRecordingFrames;
}

}  // namespace

BENCHMARK(BM_Memcpy720pFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PushToMuxedSamplePassThrough)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_WholeRecordingRealEncoders)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_BareEncodersSameWork)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime()->UseRealTime();

QOR_BENCHMARK_MAIN()
