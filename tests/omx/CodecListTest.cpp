// The codec list and QueryCodecs, answered from the device profiles.
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <media/stagefright/MediaCodecList.h>
#include <media/stagefright/OMXClient.h>
#include <media/stagefright/OMXCodec.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using namespace android;

// Switches the device profile for one test.
class ProfileScope {
public:
    explicit ProfileScope(const std::string& path) {
        const char* old = getenv("DEVICE_PROFILE");
        mOld = old ? old : "";
        setenv("DEVICE_PROFILE", path.c_str(), 1);
    }
    ~ProfileScope() { setenv("DEVICE_PROFILE", mOld.c_str(), 1); }

private:
    std::string mOld;
};

std::string deviceFile(const char* name) {
    return std::string(QOR_SOURCE_DIR) + "/platform/devices/" + name;
}

// AVC encoder names in list order, and the quirks of each.
std::vector<std::string> avcEncoders(std::vector<std::vector<std::string>>* quirks) {
    std::vector<std::string> names;
    static const char* kQuirks[] = {"requires-allocate-on-input-ports",
                                    "requires-allocate-on-output-ports"};
#if PLATFORM_LEVEL >= 21
    sp<IMediaCodecList> list = MediaCodecList::getInstance();
    if (list == nullptr) return names;
    for (ssize_t i = list->findCodecByType("video/avc", true, 0); i >= 0;
         i = list->findCodecByType("video/avc", true, i + 1)) {
        sp<MediaCodecInfo> info = list->getCodecInfo(i);
        names.push_back(info->getCodecName());
        std::vector<std::string> q;
        for (const char* k : kQuirks) {
            if (info->hasQuirk(k)) q.push_back(k);
        }
        quirks->push_back(q);
    }
#else
    const MediaCodecList* list = MediaCodecList::getInstance();
    if (list == nullptr) return names;
    for (ssize_t i = list->findCodecByType("video/avc", true, 0); i >= 0;
         i = list->findCodecByType("video/avc", true, i + 1)) {
        names.push_back(list->getCodecName(i));
        std::vector<std::string> q;
        for (const char* k : kQuirks) {
            if (list->codecHasQuirk(i, k)) q.push_back(k);
        }
        quirks->push_back(q);
    }
#endif
    return names;
}

TEST(CodecListTest, ListsEncodersInProfileOrderWithQuirks) {
    std::vector<std::vector<std::string>> quirks;
    std::vector<std::string> names = avcEncoders(&quirks);
    ASSERT_EQ(10u, names.size());  // the decoder is not among them
    EXPECT_EQ("OMX.google.h264.encoder", names[0]);
    EXPECT_EQ("OMX.qcom.video.encoder.avc", names[1]);
    EXPECT_EQ("OMX.Exynos.avc.enc", names[2]);
    EXPECT_EQ(std::vector<std::string>{"requires-allocate-on-input-ports"}, quirks[2]);
    EXPECT_EQ(std::vector<std::string>{"requires-allocate-on-output-ports"}, quirks[4]);
    EXPECT_TRUE(quirks[0].empty());
}

TEST(CodecListTest, FollowsTheDeviceProfile) {
    struct {
        const char* mFile;
        std::vector<std::string> mNames;
    } cases[] = {
        {"exynos.prop", {"OMX.Exynos.avc.enc", "OMX.google.h264.encoder"}},
        {"qcom_msm8960.prop", {"OMX.qcom.video.encoder.avc", "OMX.google.h264.encoder"}},
        {"h60_l01.prop", {"OMX.IMG.TOPAZ.VIDEO.Encoder", "OMX.google.h264.encoder"}},
        {"no_aac.prop", {"OMX.google.h264.encoder"}},
    };
    for (const auto& k : cases) {
        ProfileScope scope(deviceFile(k.mFile));
        std::vector<std::vector<std::string>> quirks;
        EXPECT_EQ(k.mNames, avcEncoders(&quirks)) << k.mFile;
    }
}

TEST(CodecListTest, QueryCodecsGivesColourFormatsAndLevels) {
    ProfileScope scope(deviceFile("qcom_msm8960.prop"));
    OMXClient client;
    ASSERT_EQ(OK, client.connect());
    std::vector<CodecCapabilities> caps;
    ASSERT_EQ(OK, QueryCodecs(client.interface(), "video/avc", false, &caps));
    ASSERT_EQ(2u, caps.size());
    EXPECT_STREQ("OMX.qcom.video.encoder.avc", caps[0].mComponentName.string());
    EXPECT_EQ((std::vector<OMX_U32>{0x7FA30C04, 21}), caps[0].mColorFormats);
    ASSERT_EQ(1u, caps[0].mProfileLevels.size());
    EXPECT_EQ(0x2000u, caps[0].mProfileLevels[0].mLevel);
    ASSERT_EQ(OK, QueryCodecs(client.interface(), "audio/mp4a-latm", false, &caps));
    EXPECT_EQ(1u, caps.size());
    client.disconnect();
}

TEST(CodecListTest, AnUnavailableListIsNull) {
    std::string path = writeTemp(".prop", std::vector<uint8_t>{});
    {
        FILE* f = fopen(path.c_str(), "w");
        fputs("codeclist.unavailable=1\ncodec.0.name=OMX.google.h264.encoder\n"
              "codec.0.type=video/avc\n", f);
        fclose(f);
    }
    ProfileScope scope(path);
    EXPECT_TRUE(MediaCodecList::getInstance() == nullptr);
    remove(path.c_str());
}

TEST(CodecListTest, ServiceLivesLocallyUnlessTheProfileSaysNot) {
    OMXClient client;
    ASSERT_EQ(OK, client.connect());
    EXPECT_TRUE(client.interface()->livesLocally(IOMX::node_id(), getpid()));
    std::string path = writeTemp(".prop", std::vector<uint8_t>{});
    {
        FILE* f = fopen(path.c_str(), "w");
        fputs("omx.liveslocally=0\n", f);
        fclose(f);
    }
    ProfileScope scope(path);
    EXPECT_FALSE(client.interface()->livesLocally(IOMX::node_id(), getpid()));
    remove(path.c_str());
}

TEST(CodecListTest, ServiceListsItsComponentsWithRoles) {
    OMXClient client;
    ASSERT_EQ(OK, client.connect());
    std::list<IOMX::ComponentInfo> nodes;
    ASSERT_EQ(OK, client.interface()->listNodes(&nodes));
    bool sawAac = false;
    for (const IOMX::ComponentInfo& info : nodes) {
        ASSERT_EQ(1u, info.mRoles.size());
        if (info.mName == String8("OMX.google.aac.encoder")) {
            sawAac = true;
            EXPECT_EQ(String8("audio_encoder.aac"), info.mRoles.front());
        }
    }
    EXPECT_TRUE(sawAac);
    EXPECT_EQ(11u, nodes.size());
}

}  // namespace
}  // namespace qor_test
