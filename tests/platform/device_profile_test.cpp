// Device profiles: properties and codec entries from a file, the built-in
// default, and the CHECK failure text.
#include <host/device_profile.h>
#include <media/stagefright/foundation/ADebug.h>
#include <sys/system_properties.h>

#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

class DeviceProfileTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("DEVICE_PROFILE"); }

    std::string writeProfile(const std::string& text) {
        std::string path = ::testing::TempDir() + "profile_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::ofstream(path) << text;
        return path;
    }

    static std::string prop(const char* name) {
        char value[PROP_VALUE_MAX];
        __system_property_get(name, value);
        return value;
    }
};

TEST_F(DeviceProfileTest, DefaultDeviceIsLevel23WithSoftwareEncoders) {
    unsetenv("DEVICE_PROFILE");
    EXPECT_EQ("23", prop("ro.build.version.sdk"));
    EXPECT_EQ("", prop("ro.no.such.property"));
    auto profile = host::currentDeviceProfile();
    ASSERT_EQ(2u, profile->codecs.size());
    EXPECT_EQ("OMX.google.h264.encoder", profile->codecs[0].name);
    EXPECT_EQ(std::vector<uint32_t>{19}, profile->codecs[0].colorFormats);
    EXPECT_EQ("audio/mp4a-latm", profile->codecs[1].type);
}

TEST_F(DeviceProfileTest, CodecsComeInIndexOrderWithTheirLists) {
    setenv("DEVICE_PROFILE",
           writeProfile("# a Qualcomm board\n"
                        "ro.board.platform = msm8960\n"
                        "codec.1.name=OMX.google.h264.encoder\n"
                        "codec.1.type=video/avc\n"
                        "codec.0.name=OMX.qcom.video.encoder.avc\n"
                        "codec.0.type=video/avc\n"
                        "codec.0.colorformats=0x7FA30C04, 21\n"
                        "codec.0.profilelevels=1:0x200,8:0x100\n"
                        "codec.0.quirks=requires-allocate-on-input-ports\n"
                        "codec.0.fault.errorafter=7\n")
                   .c_str(),
           1);
    EXPECT_EQ("msm8960", prop("ro.board.platform"));
    auto profile = host::currentDeviceProfile();
    ASSERT_EQ(2u, profile->codecs.size());
    const host::CodecEntry& qcom = profile->codecs[0];
    EXPECT_EQ("OMX.qcom.video.encoder.avc", qcom.name);
    EXPECT_EQ((std::vector<uint32_t>{0x7FA30C04, 21}), qcom.colorFormats);
    ASSERT_EQ(2u, qcom.profileLevels.size());
    EXPECT_EQ(8u, qcom.profileLevels[1].first);
    EXPECT_TRUE(qcom.hasQuirk("requires-allocate-on-input-ports"));
    EXPECT_EQ(7, qcom.intKey("fault.errorafter", -1));
    EXPECT_EQ(-1, profile->codecs[1].intKey("fault.errorafter", -1));
}

TEST(CheckDeathTest, FailureTextNamesPathLineConditionAndValues) {
    int four = 4;
    EXPECT_DEATH(CHECK_EQ(four, 5),
                 "tests/platform/device_profile_test:[0-9]+ CHECK_EQ\\( four,5\\) \\(4 vs. 5\\) "
                 "failed\\.");
    EXPECT_DEATH(CHECK(four == 3),
                 "tests/platform/device_profile_test:[0-9]+ CHECK\\(four == 3\\) failed\\.");
}

}  // namespace
