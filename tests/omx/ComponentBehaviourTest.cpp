// OpenMAX IL behaviour of the components through the service: states,
// buffer ownership, parameters, flush, port disable/enable, end of stream,
// injected faults and message delivery.
#include <gtest/gtest.h>

#include <media/openmax/OMX_AndroidExt.h>
#include <media/stagefright/MediaErrors.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using namespace android;
using Mode = OmxTestClient::BufferMode;

const char kGoogleAvc[] = "OMX.google.h264.encoder";
const uint32_t kW = 176, kH = 144;

class ComponentTest : public testing::Test {
protected:
    void startEncoder(const char* name = kGoogleAvc) {
        ASSERT_EQ(OK, c.allocateNode(name));
        ASSERT_EQ(OK, c.configureVideo(kW, kH, kW, kH, 19, 30, 500000, 29));
        ASSERT_TRUE(c.start());
    }
    std::vector<uint8_t> frame(int i) {
        return layout(makeFrame(kW, kH, i), 19, kW, kH, c.portDef(0).nBufferSize);
    }
    size_t dataOutputs() {
        size_t n = 0;
        for (const Output& o : c.mOutputs) n += !o.mData.empty() && !(o.mFlags & OMX_BUFFERFLAG_CODECCONFIG);
        return n;
    }
    OmxTestClient c;
};

TEST_F(ComponentTest, RefusesTransitionsOutOfOrder) {
    ASSERT_EQ(OK, c.allocateNode(kGoogleAvc));
    EXPECT_EQ(INVALID_OPERATION, c.sendCommand(OMX_CommandStateSet, OMX_StateExecuting));
    EXPECT_EQ(INVALID_OPERATION, c.sendCommand(OMX_CommandStateSet, OMX_StateLoaded));
    EXPECT_EQ(INVALID_OPERATION, c.sendCommand(OMX_CommandFlush, 0));
    // Buffers only while Idle is under way.
    EXPECT_EQ(INVALID_OPERATION, c.allocateBuffers(0, Mode::kUse));
    c.mBuffers[0].clear();
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandStateSet, OMX_StateIdle));
    EXPECT_EQ(INVALID_OPERATION, c.sendCommand(OMX_CommandStateSet, OMX_StateExecuting));
    OMX_STATETYPE state;
    ASSERT_EQ(OK, c.omx()->getState(c.node(), &state));
    EXPECT_EQ(OMX_StateLoaded, state);
}

TEST_F(ComponentTest, ReachesIdleOnlyWhenEveryPortIsPopulated) {
    ASSERT_EQ(OK, c.allocateNode(kGoogleAvc));
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandStateSet, OMX_StateIdle));
    ASSERT_EQ(OK, c.allocateBuffers(0, Mode::kUse));
    EXPECT_FALSE(c.waitForEvent(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle, 150));
    ASSERT_EQ(OK, c.allocateBuffers(1, Mode::kUse));
    EXPECT_TRUE(c.waitForState(OMX_StateIdle));
    // No more buffers once Idle is reached.
    std::vector<OmxTestClient::Buffer> kept = c.mBuffers[1];
    EXPECT_EQ(INVALID_OPERATION, c.allocateBuffers(1, Mode::kUse));
    c.mBuffers[1] = kept;
    // Idle -> Loaded completes when the last buffer is gone.
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandStateSet, OMX_StateLoaded));
    ASSERT_EQ(OK, c.freeBuffers(0));
    EXPECT_FALSE(c.waitForEvent(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded, 150));
    ASSERT_EQ(OK, c.freeBuffers(1));
    EXPECT_TRUE(c.waitForState(OMX_StateLoaded));
}

TEST_F(ComponentTest, TracksBufferOwnership) {
    startEncoder();
    // With no output buffer the frame stays with the component.
    OmxTestClient::Buffer& in = c.mBuffers[0][0];
    std::vector<uint8_t> f = frame(0);
    memcpy(in.mData, f.data(), f.size());
    ASSERT_EQ(OK, c.empty(in, f.size(), OMX_BUFFERFLAG_ENDOFFRAME, 0));
    EXPECT_EQ(INVALID_OPERATION, c.empty(in, f.size(), OMX_BUFFERFLAG_ENDOFFRAME, 0));
    in.mOurs = false;
    EXPECT_NE(OK, c.omx()->freeBuffer(c.node(), 0, in.mId));
    // Lengths beyond the buffer are refused.
    OmxTestClient::Buffer& in2 = c.mBuffers[0][1];
    EXPECT_EQ(BAD_VALUE, c.empty(in2, in2.mSize + 1, 0, 0));
    // The configuration and the frame take two outputs; the others wait
    // for input, and a buffer the component holds cannot be given twice.
    ASSERT_EQ(OK, c.fillAll());
    ASSERT_TRUE(c.waitUntil([&] { return c.mOutputs.size() == 2 && in.mOurs; }));
    OmxTestClient::Buffer* held = nullptr;
    for (OmxTestClient::Buffer& b : c.mBuffers[1]) {
        if (!b.mOurs) held = &b;
    }
    ASSERT_TRUE(held != nullptr);
    EXPECT_EQ(INVALID_OPERATION, c.fill(*held));
    held->mOurs = false;
    ASSERT_TRUE(c.stop());
}

TEST_F(ComponentTest, LocksPortSettingsWhileRunning) {
    startEncoder();
    OMX_PARAM_PORTDEFINITIONTYPE def = c.portDef(0);
    def.format.video.nFrameWidth = 320;
    EXPECT_EQ(INVALID_OPERATION, c.setParam(OMX_IndexParamPortDefinition, &def));
    EXPECT_EQ(INVALID_OPERATION, c.sendCommand(OMX_CommandStateSet, OMX_StateLoaded));
    ASSERT_TRUE(c.stop());
    def = c.portDef(0);
    def.format.video.nFrameWidth = 320;
    def.format.video.nStride = 300;  // narrower than the frame
    EXPECT_EQ(BAD_VALUE, c.setParam(OMX_IndexParamPortDefinition, &def));
    def.format.video.nStride = -320;  // taken by its magnitude
    EXPECT_EQ(OK, c.setParam(OMX_IndexParamPortDefinition, &def));
    EXPECT_EQ(320, c.portDef(0).format.video.nStride);
    EXPECT_EQ(320u, c.portDef(1).format.video.nFrameWidth);
    EXPECT_GE(c.portDef(0).nBufferSize, 320u * kH * 3 / 2);
}

TEST_F(ComponentTest, FlushReturnsEveryBufferThenCompletes) {
    startEncoder();
    ASSERT_EQ(OK, c.fillAll());
    // Config goes out in the first buffer; the others stay with the component.
    ASSERT_TRUE(c.waitUntil([&] { return c.mOutputs.size() == 1; }));
    c.mRefill = false;
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandFlush, 1));
    ASSERT_TRUE(c.waitForEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1));
    EXPECT_TRUE(c.allOurs(1));
    // Encoding goes on after the flush, from an IDR frame.
    c.mRefill = true;
    c.mOutputs.clear();
    std::vector<std::vector<uint8_t>> frames{frame(0), frame(1), frame(2)};
    ASSERT_TRUE(c.encode(frames, 33333));
    ASSERT_EQ(3u, dataOutputs());
    EXPECT_TRUE(c.mOutputs[0].mFlags & OMX_BUFFERFLAG_SYNCFRAME);
    ASSERT_TRUE(c.stop());
}

TEST_F(ComponentTest, DisablesAndReenablesTheOutputPort) {
    startEncoder();
    ASSERT_EQ(OK, c.fillAll());
    ASSERT_TRUE(c.waitUntil([&] { return c.mOutputs.size() == 1; }));
    c.mRefill = false;
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandPortDisable, 1));
    ASSERT_TRUE(c.waitUntil([&] { return c.allOurs(1); }));
    // Not disabled until its buffers are freed.
    EXPECT_FALSE(c.waitForEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1, 150));
    EXPECT_NE(OK, c.fill(c.mBuffers[1][0]));
    ASSERT_EQ(OK, c.freeBuffers(1));
    ASSERT_TRUE(c.waitForEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, 1));
    EXPECT_FALSE(c.portDef(1).bEnabled);
    // A disabled port takes new settings.
    OMX_PARAM_PORTDEFINITIONTYPE def = c.portDef(1);
    def.nBufferCountActual = 2;
    ASSERT_EQ(OK, c.setParam(OMX_IndexParamPortDefinition, &def));
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandPortEnable, 1));
    ASSERT_EQ(OK, c.allocateBuffers(1, Mode::kAllocate));
    ASSERT_TRUE(c.waitForEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1));
    EXPECT_EQ(2u, c.mBuffers[1].size());
    c.mRefill = true;
    c.mOutputs.clear();
    std::vector<std::vector<uint8_t>> frames{frame(0), frame(1)};
    ASSERT_TRUE(c.encode(frames, 33333));
    EXPECT_EQ(2u, dataOutputs());
    ASSERT_TRUE(c.stop());
}

TEST_F(ComponentTest, EndOfStreamOnAFrameMarksItsOutput) {
    startEncoder();
    ASSERT_EQ(OK, c.fillAll());
    for (int i = 0; i < 2; ++i) {
        OmxTestClient::Buffer* b = nullptr;
        ASSERT_TRUE(c.waitUntil([&] { return (b = c.freeInput()) != nullptr; }));
        std::vector<uint8_t> f = frame(i);
        memcpy(b->mData, f.data(), f.size());
        ASSERT_EQ(OK, c.empty(*b, f.size(), i == 1 ? OMX_BUFFERFLAG_EOS : 0, i * 1000));
    }
    ASSERT_TRUE(c.waitUntil([&] { return c.mSawEOS; }));
    EXPECT_EQ(2u, dataOutputs());
    EXPECT_EQ(1000, c.mOutputs.back().mTimeUs);
    EXPECT_FALSE(c.mOutputs.back().mData.empty());
    ASSERT_TRUE(c.stop());
}

TEST_F(ComponentTest, InjectedErrorAfterFrames) {
    startEncoder("OMX.Faulty.erroring.avc");
    ASSERT_EQ(OK, c.fillAll());
    auto failed = [&] {
        for (const Event& e : c.mEvents) {
            if (e.mEvent == OMX_EventError) return true;
        }
        return false;
    };
    for (int i = 0; i < 8; ++i) {
        OmxTestClient::Buffer* b = nullptr;
        if (!c.waitUntil([&] { return (b = c.freeInput()) != nullptr || failed(); }, 2000) ||
            failed()) {
            break;
        }
        std::vector<uint8_t> f = frame(i);
        memcpy(b->mData, f.data(), f.size());
        ASSERT_EQ(OK, c.empty(*b, f.size(), 0, i * 33333));
    }
    ASSERT_TRUE(c.waitForEvent(OMX_EventError, (uint32_t)OMX_ErrorHardware, 0));
    EXPECT_EQ(5u, dataOutputs());
    // Still brought back to Loaded, every buffer returned on the way.
    ASSERT_TRUE(c.stop());
}

TEST_F(ComponentTest, InjectedFillBufferRefusal) {
    startEncoder("OMX.Faulty.nofill.avc");
    EXPECT_EQ(OK, c.fill(c.mBuffers[1][0]));
    EXPECT_EQ(OK, c.fill(c.mBuffers[1][1]));
    EXPECT_EQ(UNKNOWN_ERROR, c.fill(c.mBuffers[1][2]));
    EXPECT_TRUE(c.mBuffers[1][2].mOurs);
    ASSERT_TRUE(c.stop());
}

TEST_F(ComponentTest, RefusesNodesItCannotMake) {
    EXPECT_NE(OK, c.allocateNode("OMX.Faulty.noalloc.avc"));
    EXPECT_EQ(NAME_NOT_FOUND, c.allocateNode("OMX.nobody.avc"));
    EXPECT_EQ(NAME_NOT_FOUND, c.allocateNode("OMX.google.h264.decoder"));
}

TEST_F(ComponentTest, EnumeratesTheListedColourFormats) {
    ASSERT_EQ(OK, c.allocateNode("OMX.qcom.video.encoder.avc"));
    const uint32_t listed[] = {0x7FA30C04, 21, 0x7FA30C00, 0x7FA30C03};
    OMX_VIDEO_PARAM_PORTFORMATTYPE f;
    for (uint32_t i = 0; i < 4; ++i) {
        OmxTestClient::init(&f);
        f.nIndex = i;
        ASSERT_EQ(OK, c.getParam(OMX_IndexParamVideoPortFormat, &f));
        EXPECT_EQ(listed[i], (uint32_t)f.eColorFormat);
    }
    f.nIndex = 4;
    EXPECT_NE(OK, c.getParam(OMX_IndexParamVideoPortFormat, &f));
    f.nIndex = 0;
    f.eColorFormat = OMX_COLOR_FormatYUV420Planar;
    EXPECT_EQ(ERROR_UNSUPPORTED, c.setParam(OMX_IndexParamVideoPortFormat, &f));
    f.eColorFormat = (OMX_COLOR_FORMATTYPE)21;
    EXPECT_EQ(OK, c.setParam(OMX_IndexParamVideoPortFormat, &f));
    EXPECT_EQ(21u, (uint32_t)c.portDef(0).format.video.eColorFormat);

    // A listed format the encoder has no layout for (opaque buffers) is refused.
    OmxTestClient sec;
    ASSERT_EQ(OK, sec.allocateNode("OMX.SEC.avc.enc"));
    OmxTestClient::init(&f);
    f.nIndex = 2;
    ASSERT_EQ(OK, sec.getParam(OMX_IndexParamVideoPortFormat, &f));
    EXPECT_EQ(0x7F000789u, (uint32_t)f.eColorFormat);
    EXPECT_EQ(ERROR_UNSUPPORTED, sec.setParam(OMX_IndexParamVideoPortFormat, &f));
}

TEST_F(ComponentTest, ProfileLevelsComeFromTheProfile) {
    struct {
        const char* mName;
        std::vector<std::pair<uint32_t, uint32_t>> mLevels;
    } cases[] = {
        {"OMX.Vendor.Planar.avc", {{1, 0x40}, {1, 0x800}}},
        {"OMX.SEC.avc.enc", {{1, 0x2000}}},  // no key: Baseline up to 4.2
        {"OMX.Faulty.mainonly.avc", {{2, 0x2000}}},
    };
    for (const auto& k : cases) {
        OmxTestClient client;
        ASSERT_EQ(OK, client.allocateNode(k.mName));
        OMX_VIDEO_PARAM_PROFILELEVELTYPE pl;
        OmxTestClient::init(&pl);
        pl.nPortIndex = 1;
        for (size_t i = 0; i <= k.mLevels.size(); ++i) {
            pl.nProfileIndex = i;
            status_t err = client.getParam(OMX_IndexParamVideoProfileLevelQuerySupported, &pl);
            if (i == k.mLevels.size()) {
                EXPECT_NE(OK, err) << k.mName;
            } else {
                ASSERT_EQ(OK, err) << k.mName;
                EXPECT_EQ(k.mLevels[i].first, pl.eProfile);
                EXPECT_EQ(k.mLevels[i].second, pl.eLevel);
            }
        }
    }
    // A level above the listed one, or an unlisted profile, is refused.
    ASSERT_EQ(OK, c.allocateNode("OMX.Vendor.Planar.avc"));
    OMX_VIDEO_PARAM_AVCTYPE avc;
    OmxTestClient::init(&avc);
    avc.nPortIndex = 1;
    ASSERT_EQ(OK, c.getParam(OMX_IndexParamVideoAvc, &avc));
    EXPECT_EQ(OMX_VIDEO_AVCLevel4, avc.eLevel);
    avc.eLevel = OMX_VIDEO_AVCLevel41;
    EXPECT_EQ(ERROR_UNSUPPORTED, c.setParam(OMX_IndexParamVideoAvc, &avc));
    avc.eLevel = OMX_VIDEO_AVCLevel3;
    EXPECT_EQ(OK, c.setParam(OMX_IndexParamVideoAvc, &avc));
    OmxTestClient main;
    ASSERT_EQ(OK, main.allocateNode("OMX.Faulty.mainonly.avc"));
    ASSERT_EQ(OK, main.getParam(OMX_IndexParamVideoAvc, &avc));
    avc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    EXPECT_EQ(ERROR_UNSUPPORTED, main.setParam(OMX_IndexParamVideoAvc, &avc));
}

TEST_F(ComponentTest, AnswersRolesConfigsAndExtensions) {
    ASSERT_EQ(OK, c.allocateNode("OMX.SEC.avc.enc"));
    OMX_PARAM_COMPONENTROLETYPE role;
    OmxTestClient::init(&role);
    strcpy((char*)role.cRole, "video_encoder.avc");
    EXPECT_EQ(OK, c.setParam(OMX_IndexParamStandardComponentRole, &role));
    strcpy((char*)role.cRole, "audio_encoder.aac");
    EXPECT_NE(OK, c.setParam(OMX_IndexParamStandardComponentRole, &role));

    OMX_INDEXTYPE index;
    ASSERT_EQ(OK, c.omx()->getExtensionIndex(c.node(), "OMX.SEC.index.ThumbnailMode", &index));
    OMX_BOOL on = OMX_TRUE;
    EXPECT_EQ(OK, c.omx()->setConfig(c.node(), index, &on, sizeof(on)));
    EXPECT_NE(OK, c.omx()->getExtensionIndex(c.node(), "OMX.nobody.index.Nothing", &index));

    OMX_CONFIG_SCALEFACTORTYPE scale;
    OmxTestClient::init(&scale);
    scale.nPortIndex = 1;
    ASSERT_EQ(OK, c.omx()->getConfig(c.node(), OMX_IndexConfigCommonScale, &scale, sizeof(scale)));
    EXPECT_EQ(0x10000, scale.xWidth);
    EXPECT_EQ(0x10000, scale.xHeight);

    // A structure of the wrong size is refused, and metadata mode is not offered.
    OMX_PARAM_PORTDEFINITIONTYPE def;
    OmxTestClient::init(&def);
    EXPECT_EQ(BAD_VALUE, c.omx()->getParameter(c.node(), OMX_IndexParamPortDefinition, &def,
                                               sizeof(def) - 4));
    EXPECT_NE(OK, c.omx()->storeMetaDataInBuffers(c.node(), 0, OMX_TRUE));

    OmxTestClient google;
    ASSERT_EQ(OK, google.allocateNode(kGoogleAvc));
    EXPECT_NE(OK, google.omx()->getExtensionIndex(google.node(), "OMX.SEC.index.ThumbnailMode",
                                                  &index));
}

TEST_F(ComponentTest, QuirkyPortsNeedTheirOwnBuffers) {
    ASSERT_EQ(OK, c.allocateNode("OMX.Exynos.avc.enc"));
    ASSERT_EQ(OK, c.sendCommand(OMX_CommandStateSet, OMX_StateIdle));
    EXPECT_EQ(ERROR_UNSUPPORTED, c.allocateBuffers(0, Mode::kUse));
    c.mBuffers[0].clear();
    ASSERT_EQ(OK, c.allocateBuffers(0, Mode::kAllocate));
    ASSERT_EQ(OK, c.allocateBuffers(1, Mode::kUse));
    EXPECT_TRUE(c.waitForState(OMX_StateIdle));
}

TEST_F(ComponentTest, MessagesArriveOnTheServiceThread) {
    startEncoder();
    std::vector<std::vector<uint8_t>> frames{frame(0), frame(1), frame(2)};
    ASSERT_TRUE(c.encode(frames, 33333));
    ASSERT_TRUE(c.stop());
    std::set<std::thread::id> threads = c.observer()->threads();
    EXPECT_FALSE(threads.empty());
    EXPECT_EQ(0u, threads.count(std::this_thread::get_id()));
}

TEST_F(ComponentTest, FreeingARunningNodeIsClean) {
    startEncoder();
    ASSERT_EQ(OK, c.fillAll());
    c.freeNode();
    EXPECT_NE(OK, c.sendCommand(OMX_CommandStateSet, OMX_StateIdle));
}

TEST(AacComponentTest, ValidatesItsParameters) {
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode("OMX.google.aac.encoder"));
    OMX_AUDIO_PARAM_PORTFORMATTYPE f;
    OmxTestClient::init(&f);
    f.nPortIndex = 1;
    ASSERT_EQ(OK, c.getParam(OMX_IndexParamAudioPortFormat, &f));
    EXPECT_EQ(OMX_AUDIO_CodingAAC, f.eEncoding);
    f.nIndex = 1;
    EXPECT_NE(OK, c.getParam(OMX_IndexParamAudioPortFormat, &f));
    EXPECT_NE(OK, c.configureAudio(0, 2, 64000));
    EXPECT_NE(OK, c.configureAudio(44100, 0, 64000));
    EXPECT_EQ(OK, c.configureAudio(48000, 1, 64000));
    OMX_AUDIO_PARAM_AACPROFILETYPE aac;
    OmxTestClient::init(&aac);
    aac.nPortIndex = 1;
    ASSERT_EQ(OK, c.getParam(OMX_IndexParamAudioAac, &aac));
    EXPECT_EQ(48000u, aac.nSampleRate);
    aac.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4ADTS;
    EXPECT_EQ(ERROR_UNSUPPORTED, c.setParam(OMX_IndexParamAudioAac, &aac));
}

}  // namespace
}  // namespace qor_test
