// The host AVC encoder shaped as vendors' encoders are (profile keys
// slices, aud, inline-headers, latency; platform/devices/vendor_streams.prop
// has them all): what each output buffer holds, and when it comes.
#include <stdlib.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using android::OK;

class VendorProfile {
public:
    VendorProfile() {
        const char* old = getenv("DEVICE_PROFILE");
        mOld = old ? old : "";
        setenv("DEVICE_PROFILE",
               (std::string(QOR_SOURCE_DIR) + "/platform/devices/vendor_streams.prop").c_str(), 1);
    }
    ~VendorProfile() { setenv("DEVICE_PROFILE", mOld.c_str(), 1); }

private:
    std::string mOld;
};

// NAL unit types of an Annex B buffer, in order.
std::vector<int> nalTypes(const std::vector<uint8_t>& d) {
    std::vector<int> types;
    for (size_t i = 0; i + 3 < d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            types.push_back(d[i + 3] & 0x1F);
            i += 2;
        }
    }
    return types;
}

size_t frameOutputs(const OmxTestClient& c) {
    size_t n = 0;
    for (const Output& o : c.mOutputs) n += (o.mFlags & OMX_BUFFERFLAG_CODECCONFIG) ? 0 : 1;
    return n;
}

TEST(VendorBehaviour, SlicesDelimitersInlineHeadersAndLatency) {
    VendorProfile profile;
    const uint32_t w = 176, h = 144;
    const int kFrames = 10, kLatency = 3;
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode("OMX.vendor.video.encoder.avc"));
    ASSERT_EQ(OK, c.configureVideo(w, h, w, h, 21, 30, 500000, 4));
    const size_t size = c.portDef(0).nBufferSize;
    ASSERT_TRUE(c.start());
    ASSERT_EQ(OK, c.fillAll());
    for (int i = 0; i <= kFrames; ++i) {
        OmxTestClient::Buffer* b = nullptr;
        ASSERT_TRUE(c.waitUntil([&] { return (b = c.freeInput()) != nullptr; }));
        if (i == kFrames) {
            ASSERT_EQ(OK, c.empty(*b, 0, OMX_BUFFERFLAG_EOS, kFrames * 33333));
            break;
        }
        std::vector<uint8_t> frame = layout(makeFrame(w, h, i), 21, w, h, size);
        memcpy(b->mData, frame.data(), frame.size());
        ASSERT_EQ(OK, c.empty(*b, frame.size(), OMX_BUFFERFLAG_ENDOFFRAME, i * 33333));
        // Every input is taken and given back at once; its output comes
        // only after kLatency more inputs.
        ASSERT_TRUE(c.waitUntil([&] { return c.allOurs(0); }));
        if (i >= kLatency) {
            ASSERT_TRUE(c.waitUntil([&] { return frameOutputs(c) == (size_t)(i - kLatency + 1); }));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            c.waitUntil([] { return false; }, 50);
            EXPECT_EQ(0u, frameOutputs(c)) << "after input " << i;
        }
    }
    ASSERT_TRUE(c.waitUntil([&] { return c.mSawEOS; }));
    ASSERT_TRUE(c.stop());

    // The configuration buffer, flagged, then one buffer per frame in order,
    // the last carrying EOS.
    ASSERT_EQ((size_t)kFrames + 1, c.mOutputs.size());
    EXPECT_EQ((std::vector<int>{7, 8}), nalTypes(c.mOutputs[0].mData));
    EXPECT_TRUE(c.mOutputs[0].mFlags & OMX_BUFFERFLAG_CODECCONFIG);
    std::vector<uint8_t> stream = c.mOutputs[0].mData;
    for (int i = 0; i < kFrames; ++i) {
        const Output& o = c.mOutputs[i + 1];
        EXPECT_EQ(i * 33333, o.mTimeUs);
        EXPECT_FALSE(o.mFlags & OMX_BUFFERFLAG_CODECCONFIG);
        EXPECT_EQ(i == kFrames - 1, (o.mFlags & OMX_BUFFERFLAG_EOS) != 0) << "frame " << i;
        const bool sync = (o.mFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0;
        EXPECT_EQ(i % 5 == 0, sync) << "frame " << i;
        std::vector<int> want = {9, 6};
        if (sync) want.insert(want.end(), {7, 8});
        want.insert(want.end(), 4, sync ? 5 : 1);
        EXPECT_EQ(want, nalTypes(o.mData)) << "frame " << i;
        stream.insert(stream.end(), o.mData.begin(), o.mData.end());
    }
    std::string in = writeTemp(".h264", stream);
    EXPECT_TRUE(run("ffmpeg -nostdin -v warning -xerror -f h264 -i " + in + " -f null - 2>" + in +
                    ".log"));
    EXPECT_TRUE(readFile(in + ".log").empty());
    remove(in.c_str());
    remove((in + ".log").c_str());
}

}  // namespace
}  // namespace qor_test
