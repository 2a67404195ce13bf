// Encodes a moving picture through each AVC component in each colour
// format and layout, and decodes the stream with ffmpeg.
#include <math.h>
#include <stdio.h>

#include <gtest/gtest.h>

#include <media/openmax/OMX_AndroidExt.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using android::OK;
using Mode = OmxTestClient::BufferMode;

struct VideoCase {
    const char* mComponent;
    uint32_t mColor;
    uint32_t mWidth, mHeight;
    uint32_t mStrideAlign, mSliceAlign;
    Mode mIn, mOut;
    int mFrames;
};

uint32_t align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

std::string caseName(const testing::TestParamInfo<VideoCase>& info) {
    const VideoCase& c = info.param;
    std::string name = c.mComponent;
    for (char& ch : name) {
        if (!isalnum((unsigned char)ch)) ch = '_';
    }
    char buf[96];
    snprintf(buf, sizeof(buf), "_%x_%ux%u_s%u_%d%d", c.mColor, c.mWidth, c.mHeight,
             c.mStrideAlign, (int)c.mIn, (int)c.mOut);
    return name + buf;
}

// Decodes an Annex B stream to tightly packed I420 frames.
std::vector<uint8_t> decode(const std::vector<uint8_t>& annexB) {
    std::string in = writeTemp(".h264", annexB);
    std::string out = in + ".yuv";
    std::string cmd = "ffmpeg -nostdin -v error -y -f h264 -i " + in +
                      " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + out;
    std::vector<uint8_t> yuv;
    if (run(cmd)) yuv = readFile(out);
    remove(in.c_str());
    remove(out.c_str());
    return yuv;
}

Yuv crop(const Yuv& f, uint32_t w, uint32_t h) {
    if (w == f.mWidth && h == f.mHeight) return f;
    Yuv out;
    out.mWidth = w;
    out.mHeight = h;
    uint32_t cw = (f.mWidth + 1) / 2;
    for (uint32_t y = 0; y < h; ++y) {
        out.mY.insert(out.mY.end(), &f.mY[(size_t)y * f.mWidth], &f.mY[(size_t)y * f.mWidth + w]);
    }
    for (uint32_t y = 0; y < h / 2; ++y) {
        out.mU.insert(out.mU.end(), &f.mU[(size_t)y * cw], &f.mU[(size_t)y * cw + w / 2]);
        out.mV.insert(out.mV.end(), &f.mV[(size_t)y * cw], &f.mV[(size_t)y * cw + w / 2]);
    }
    return out;
}

class VideoEncodeTest : public testing::TestWithParam<VideoCase> {};

TEST_P(VideoEncodeTest, DecodesToTheInputWithItsTimeStamps) {
    const VideoCase& p = GetParam();
    const uint32_t w = p.mWidth, h = p.mHeight;
    const uint32_t stride = align(w, p.mStrideAlign), slice = align(h, p.mSliceAlign);
    const int64_t kFrameUs = 33333, kFirstUs = 1000;
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode(p.mComponent));
    int bitrate = std::max<int>(w * h * 8, 300000);
    ASSERT_EQ(OK, c.configureVideo(w, h, stride, slice, p.mColor, 30, bitrate, 9));
    OMX_PARAM_PORTDEFINITIONTYPE in = c.portDef(0);
    EXPECT_EQ(stride, (uint32_t)in.format.video.nStride);
    EXPECT_EQ(slice, in.format.video.nSliceHeight);
    EXPECT_GE(in.nBufferSize, (size_t)stride * slice + (size_t)stride * ((h + 1) / 2));
    ASSERT_TRUE(c.start(p.mIn, p.mOut));

    std::vector<Yuv> ref;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < p.mFrames; ++i) {
        ref.push_back(makeFrame(w, h, i));
        frames.push_back(layout(ref.back(), p.mColor, stride, slice, in.nBufferSize));
    }
    ASSERT_TRUE(c.encode(frames, kFrameUs, kFirstUs));
    ASSERT_TRUE(c.stop());

    // Configuration first, one access unit per frame, then the empty EOS.
    ASSERT_EQ((size_t)p.mFrames + 2, c.mOutputs.size());
    const Output& config = c.mOutputs[0];
    EXPECT_EQ((uint32_t)(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), config.mFlags);
    ASSERT_GT(config.mData.size(), 8u);
    EXPECT_EQ(0, memcmp(config.mData.data(), "\x00\x00\x00\x01\x67", 5));
    std::vector<uint8_t> stream = config.mData;
    for (int i = 0; i < p.mFrames; ++i) {
        const Output& o = c.mOutputs[i + 1];
        EXPECT_EQ(kFirstUs + i * kFrameUs, o.mTimeUs) << "frame " << i;
        EXPECT_TRUE(o.mFlags & OMX_BUFFERFLAG_ENDOFFRAME);
        EXPECT_EQ(i % 10 == 0, (o.mFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0) << "frame " << i;
        EXPECT_EQ(0, memcmp(o.mData.data(), "\x00\x00\x00\x01", 4));
        stream.insert(stream.end(), o.mData.begin(), o.mData.end());
    }
    EXPECT_EQ((uint32_t)OMX_BUFFERFLAG_EOS, c.mOutputs.back().mFlags);
    EXPECT_TRUE(c.mOutputs.back().mData.empty());

    // 4:2:0 H.264 crops in steps of two pixels: an odd width or height is
    // coded one pixel smaller.
    const uint32_t dw = w & ~1u, dh = h & ~1u;
    std::vector<uint8_t> yuv = decode(stream);
    size_t frameSize = (size_t)dw * dh * 3 / 2;
    ASSERT_EQ(frameSize * p.mFrames, yuv.size());
    double worst = 99;
    for (int i = 0; i < p.mFrames; ++i) {
        worst = std::min(worst, psnr(crop(ref[i], dw, dh), &yuv[i * frameSize]));
    }
    EXPECT_GE(worst, 30.0);
}

const VideoCase kCases[] = {
    {"OMX.google.h264.encoder", 19, 320, 240, 1, 1, Mode::kUse, Mode::kUse, 30},
    {"OMX.google.h264.encoder", 19, 176, 144, 1, 1, Mode::kUse, Mode::kUse, 30},
    {"OMX.google.h264.encoder", 19, 854, 480, 1, 1, Mode::kUse, Mode::kUse, 20},
    {"OMX.google.h264.encoder", 19, 100, 60, 1, 1, Mode::kUse, Mode::kUse, 30},
    {"OMX.google.h264.encoder", 19, 99, 59, 1, 1, Mode::kUse, Mode::kUse, 10},
    {"OMX.google.h264.encoder", 19, 200, 120, 16, 16, Mode::kBackup, Mode::kBackup, 30},
    {"OMX.google.h264.encoder", 19, 1280, 720, 1, 1, Mode::kUse, Mode::kUse, 12},
    {"OMX.qcom.video.encoder.avc", 0x7FA30C04, 320, 240, 128, 32, Mode::kUse, Mode::kUse, 30},
    {"OMX.qcom.video.encoder.avc", 21, 176, 144, 1, 1, Mode::kUse, Mode::kAllocate, 30},
    {"OMX.qcom.video.encoder.avc", 21, 854, 480, 16, 16, Mode::kUse, Mode::kUse, 20},
    {"OMX.qcom.video.encoder.avc", 0x7FA30C00, 320, 240, 16, 1, Mode::kUse, Mode::kUse, 30},
    {"OMX.Exynos.avc.enc", 0x7FC00002, 176, 144, 16, 32, Mode::kAllocate, Mode::kUse, 30},
    {"OMX.Exynos.avc.enc", 21, 320, 240, 1, 1, Mode::kBackup, Mode::kBackup, 30},
    {"OMX.Vendor.Planar.avc", 0x7FA00000, 320, 240, 1, 1, Mode::kUse, Mode::kUse, 30},
    {"OMX.TI.DUCATI1.VIDEO.H264E", 0x7F000100, 176, 144, 1, 1, Mode::kUse, Mode::kAllocate, 30},
};

INSTANTIATE_TEST_SUITE_P(Components, VideoEncodeTest, testing::ValuesIn(kCases), caseName);

// A frame laid out other than the port says is read as the port says, and
// the picture comes out wrong.
struct MismatchCase {
    uint32_t mPortColor, mFrameColor;
};

class LayoutMismatchTest : public testing::TestWithParam<MismatchCase> {};

TEST_P(LayoutMismatchTest, ComesOutVisiblyWrong) {
    const uint32_t w = 176, h = 144;
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode("OMX.SEC.avc.enc"));
    ASSERT_EQ(OK, c.configureVideo(w, h, w, h, GetParam().mPortColor, 30, 1000000, 29));
    size_t size = c.portDef(0).nBufferSize;
    ASSERT_TRUE(c.start());
    std::vector<Yuv> ref;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 5; ++i) {
        ref.push_back(makeFrame(w, h, i));
        frames.push_back(layout(ref.back(), GetParam().mFrameColor, w, h, size));
    }
    ASSERT_TRUE(c.encode(frames, 33333));
    ASSERT_TRUE(c.stop());
    std::vector<uint8_t> stream;
    for (const Output& o : c.mOutputs) stream.insert(stream.end(), o.mData.begin(), o.mData.end());
    std::vector<uint8_t> yuv = decode(stream);
    size_t frameSize = w * h * 3 / 2;
    ASSERT_EQ(frameSize * 5, yuv.size());
    for (int i = 0; i < 5; ++i) EXPECT_LT(psnr(ref[i], &yuv[i * frameSize]), 25.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutMismatchTest,
                         testing::Values(MismatchCase{19, 21}, MismatchCase{21, 19}),
                         [](const testing::TestParamInfo<MismatchCase>& info) {
                             return "port" + std::to_string(info.param.mPortColor) + "_frame" +
                                    std::to_string(info.param.mFrameColor);
                         });

}  // namespace
}  // namespace qor_test

namespace qor_test {
namespace {

struct RunResult {
    std::vector<Output> mOutputs;
    size_t mFrameBytes = 0;
};

// Encodes `n` frames of 320x240 with the given rate settings and level.
RunResult encodeWith(int fps, int bitrate, uint32_t pFrames, uint32_t level, int n) {
    const uint32_t w = 320, h = 240;
    RunResult r;
    OmxTestClient c;
    if (c.allocateNode("OMX.google.h264.encoder") != OK ||
        c.configureVideo(w, h, w, h, 19, fps, bitrate, pFrames) != OK) {
        return r;
    }
    OMX_VIDEO_PARAM_AVCTYPE avc;
    OmxTestClient::init(&avc);
    avc.nPortIndex = 1;
    c.getParam(OMX_IndexParamVideoAvc, &avc);
    avc.eLevel = (OMX_VIDEO_AVCLEVELTYPE)level;
    if (c.setParam(OMX_IndexParamVideoAvc, &avc) != OK || !c.start()) return r;
    std::vector<std::vector<uint8_t>> frames;
    size_t size = c.portDef(0).nBufferSize;
    for (int i = 0; i < n; ++i) frames.push_back(layout(makeFrame(w, h, i), 19, w, h, size));
    if (!c.encode(frames, 1000000 / fps) || !c.stop()) return r;
    r.mOutputs = c.mOutputs;
    for (const Output& o : r.mOutputs) {
        if (!(o.mFlags & OMX_BUFFERFLAG_CODECCONFIG)) r.mFrameBytes += o.mData.size();
    }
    return r;
}

TEST(VideoSettingsTest, HonoursRateGopProfileAndLevel) {
    RunResult low = encodeWith(30, 150000, 0xFFFFFFFF, OMX_VIDEO_AVCLevel31, 60);
    RunResult high = encodeWith(30, 1500000, 29, OMX_VIDEO_AVCLevel3, 60);
    RunResult slow = encodeWith(15, 150000, 29, OMX_VIDEO_AVCLevel31, 60);
    ASSERT_FALSE(low.mOutputs.empty());
    ASSERT_FALSE(high.mOutputs.empty());
    ASSERT_FALSE(slow.mOutputs.empty());
    // Ten times the bit rate gives a much larger stream; the same bit rate
    // at half the frame rate spends about twice the bytes per frame.
    EXPECT_GT(high.mFrameBytes, 4 * low.mFrameBytes);
    EXPECT_GT(slow.mFrameBytes, low.mFrameBytes * 3 / 2);
    EXPECT_LT(slow.mFrameBytes, low.mFrameBytes * 3);
    // Baseline profile and the configured level in the SPS.
    const std::vector<uint8_t>& sps = low.mOutputs[0].mData;
    ASSERT_GT(sps.size(), 7u);
    EXPECT_EQ(66, sps[5]);
    EXPECT_EQ(31, sps[7]);
    EXPECT_EQ(30, high.mOutputs[0].mData[7]);
    // No periodic IDR with all-ones P spacing; one per second otherwise.
    int lowSyncs = 0, highSyncs = 0;
    for (const Output& o : low.mOutputs) lowSyncs += (o.mFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0;
    for (const Output& o : high.mOutputs) highSyncs += (o.mFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0;
    EXPECT_EQ(1, lowSyncs);
    EXPECT_EQ(2, highSyncs);
}

}  // namespace
}  // namespace qor_test

// The component reads only an input's filled range: a frame shorter than its
// layout (the chroma plane's end) is refused, and the bytes a client left
// unwritten are the poison every input buffer is handed out with.
namespace qor_test {
namespace {

struct StrictCase {
    const char* mComponent;
    uint32_t mColor;
    uint32_t mStrideAlign, mSliceAlign;
    Mode mIn, mOut;  // the buffer modes the component's quirks call for
};

// 176x120: the height is no multiple of 16, so an aligned slice height puts
// the chroma plane past the tight frame size.
const uint32_t kStrictW = 176, kStrictH = 120;
const StrictCase kStrictCases[] = {
    {"OMX.qcom.video.encoder.avc", 21, 16, 16, Mode::kUse, Mode::kUse},
    {"OMX.TI.DUCATI1.VIDEO.H264E", 0x7F000100, 16, 16, Mode::kUse, Mode::kAllocate},
    {"OMX.qcom.video.encoder.avc", 0x7FA30C04, 128, 32, Mode::kUse, Mode::kUse},
    {"OMX.qcom.video.encoder.avc", 0x7FA30C03, 128, 32, Mode::kUse, Mode::kUse},
    {"OMX.Exynos.avc.enc", 0x7FC00002, 16, 32, Mode::kAllocate, Mode::kUse},
    {"OMX.Exynos.avc.enc", 21, 16, 16, Mode::kBackup, Mode::kBackup},
};

class InputStrictnessTest : public testing::TestWithParam<StrictCase> {
protected:
    // Encodes three frames, each `claimed` bytes long of which only the
    // first `copied` are written; the decoded I420 frames, empty on refusal.
    std::vector<uint8_t> encodeShort(size_t copied, size_t claimed, std::vector<Yuv>* ref) {
        const StrictCase& p = GetParam();
        const uint32_t stride = align(kStrictW, p.mStrideAlign);
        const uint32_t slice = align(kStrictH, p.mSliceAlign);
        EXPECT_EQ(OK, mClient.allocateNode(p.mComponent));
        EXPECT_EQ(OK, mClient.configureVideo(kStrictW, kStrictH, stride, slice, p.mColor, 30,
                                             1000000, 29));
        mExtent = (size_t)stride * slice + (size_t)stride * ((kStrictH + 1) / 2);
        const size_t size = mClient.portDef(0).nBufferSize;
        if (claimed == 0) claimed = mExtent;
        if (copied == 0) copied = claimed;
        EXPECT_TRUE(mClient.start(p.mIn, p.mOut));
        EXPECT_EQ(OK, mClient.fillAll());
        OmxTestClient::Buffer* b = nullptr;
        auto freeOrFailed = [&] { return (b = mClient.freeInput()) != nullptr || failed(); };
        for (int i = 0; i < 3; ++i) {
            ref->push_back(makeFrame(kStrictW, kStrictH, i));
            std::vector<uint8_t> frame = layout(ref->back(), p.mColor, stride, slice, size);
            if (!mClient.waitUntil(freeOrFailed, 5000) || failed()) return {};
            memcpy(b->mData, frame.data(), copied);
            EXPECT_EQ(OK, mClient.empty(*b, claimed, OMX_BUFFERFLAG_ENDOFFRAME, i * 33333));
        }
        if (!mClient.waitUntil(freeOrFailed, 5000) || failed()) return {};
        mClient.empty(*b, 0, OMX_BUFFERFLAG_EOS, 100000);
        if (!mClient.waitUntil([&] { return mClient.mSawEOS || failed(); }, 5000) || failed()) {
            return {};
        }
        std::vector<uint8_t> stream;
        for (const Output& o : mClient.mOutputs) {
            stream.insert(stream.end(), o.mData.begin(), o.mData.end());
        }
        return decode(stream);
    }

    bool failed() const {
        for (const Event& e : mClient.mEvents) {
            if (e.mEvent == OMX_EventError) return true;
        }
        return false;
    }

    OmxTestClient mClient;
    size_t mExtent = 0;
};

// PSNR of the U and V rows `first`.. of a decoded frame against `ref`.
double chromaRowsPsnr(const Yuv& ref, const uint8_t* i420, uint32_t first) {
    const uint32_t cw = (ref.mWidth + 1) / 2, ch = (ref.mHeight + 1) / 2;
    const uint8_t* u = i420 + ref.mY.size();
    const uint8_t* v = u + ref.mU.size();
    double se = 0;
    for (uint32_t y = first; y < ch; ++y) {
        for (uint32_t x = 0; x < cw; ++x) {
            const size_t i = (size_t)y * cw + x;
            se += (double)(ref.mU[i] - u[i]) * (ref.mU[i] - u[i]);
            se += (double)(ref.mV[i] - v[i]) * (ref.mV[i] - v[i]);
        }
    }
    const double mse = se / (2.0 * cw * (ch - first));
    return mse == 0 ? 99.0 : 10 * log10(255.0 * 255.0 / mse);
}

TEST_P(InputStrictnessTest, WholeLayoutEncodesEveryChromaRow) {
    std::vector<Yuv> ref;
    std::vector<uint8_t> yuv = encodeShort(0, 0, &ref);
    const size_t frameSize = (size_t)kStrictW * kStrictH * 3 / 2;
    ASSERT_EQ(frameSize * 3, yuv.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(chromaRowsPsnr(ref[i], &yuv[i * frameSize], (kStrictH - 16) / 2), 35.0);
    }
}

TEST_P(InputStrictnessTest, TightFrameIsRefused) {
    std::vector<Yuv> ref;
    const size_t tight = (size_t)kStrictW * kStrictH * 3 / 2;
    encodeShort(tight, tight, &ref);
    ASSERT_GT(mExtent, tight);
    EXPECT_TRUE(mClient.waitForEvent(OMX_EventError, (uint32_t)OMX_ErrorStreamCorrupt, 0, 2000));
    for (const Output& o : mClient.mOutputs) {
        EXPECT_TRUE(o.mData.empty() || (o.mFlags & OMX_BUFFERFLAG_CODECCONFIG));
    }
}

// The old hand-over: the whole layout claimed, only the tight size written.
// The bottom 16 rows' chroma is the poison, not the previous frame.
TEST_P(InputStrictnessTest, TightCopyShowsThePoison) {
    std::vector<Yuv> ref;
    const size_t tight = (size_t)kStrictW * kStrictH * 3 / 2;
    std::vector<uint8_t> yuv = encodeShort(tight, 0, &ref);
    const size_t frameSize = tight;
    ASSERT_EQ(frameSize * 3, yuv.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_LT(chromaRowsPsnr(ref[i], &yuv[i * frameSize], (kStrictH - 16) / 2), 20.0);
    }
}

INSTANTIATE_TEST_SUITE_P(SemiPlanar, InputStrictnessTest, testing::ValuesIn(kStrictCases),
                         [](const testing::TestParamInfo<StrictCase>& info) {
                             char buf[32];
                             snprintf(buf, sizeof(buf), "fmt_%x_in%d", info.param.mColor,
                                      (int)info.param.mIn);
                             return std::string(buf);
                         });

}  // namespace
}  // namespace qor_test
