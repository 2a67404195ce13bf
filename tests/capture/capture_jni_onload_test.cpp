// The load hook's version negotiation and failure lines, against a VM whose
// GetEnv grants only the versions a case names (the real JVM grants 1.4, so
// only these cases need a VM of our own).
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jni.h>

#include "capture_test_support.h"

extern "C" jint JNI_OnLoad(JavaVM* vm, void* reserved);

namespace {

struct VmCase {
    const char* name;
    bool grant14, grant16;
    bool classFound;
    jint registerResult;
    jint expected;
    const char* debugLine;  // expected DEBUG line, or null
    const char* errorLine;  // expected ERROR line, or null
};

const VmCase* gCase;
std::vector<jint> gAskedVersions;
std::vector<std::string> gRegistered;
int gLocalRefsDeleted;
JNINativeInterface_ gEnvFunctions;
JNIEnv_ gEnv;
JNIInvokeInterface_ gVmFunctions;
JavaVM_ gVm;
jclass const kClass = reinterpret_cast<jclass>(0x1234);

jint JNICALL getEnv(JavaVM*, void** env, jint version) {
    gAskedVersions.push_back(version);
    bool granted = (version == JNI_VERSION_1_4 && gCase->grant14) ||
                   (version == JNI_VERSION_1_6 && gCase->grant16);
    *env = granted ? &gEnv : nullptr;
    return granted ? JNI_OK : JNI_EVERSION;
}

jclass JNICALL findClass(JNIEnv*, const char* name) {
    gRegistered.push_back(std::string("class ") + name);
    return gCase->classFound ? kClass : nullptr;
}

jint JNICALL registerNatives(JNIEnv*, jclass clazz, const JNINativeMethod* methods, jint count) {
    EXPECT_EQ(kClass, clazz);
    for (jint i = 0; i < count; ++i) {
        EXPECT_NE(nullptr, methods[i].fnPtr) << methods[i].name;
        gRegistered.push_back(std::string(methods[i].name) + methods[i].signature);
    }
    return gCase->registerResult;
}

void JNICALL deleteLocalRef(JNIEnv*, jobject ref) {
    EXPECT_EQ(kClass, ref);
    ++gLocalRefsDeleted;
}

class JniOnLoad : public ::testing::TestWithParam<VmCase> {
protected:
    void SetUp() override {
        gCase = &GetParam();
        gAskedVersions.clear();
        gRegistered.clear();
        gLocalRefsDeleted = 0;
        memset(&gEnvFunctions, 0, sizeof(gEnvFunctions));
        gEnvFunctions.FindClass = findClass;
        gEnvFunctions.RegisterNatives = registerNatives;
        gEnvFunctions.DeleteLocalRef = deleteLocalRef;
        gEnv.functions = &gEnvFunctions;
        memset(&gVmFunctions, 0, sizeof(gVmFunctions));
        gVmFunctions.GetEnv = getEnv;
        gVm.functions = &gVmFunctions;
        host::logClear();
    }
};

TEST_P(JniOnLoad, NegotiatesAVersionAndRegistersTheTable) {
    const VmCase& c = GetParam();
    EXPECT_EQ(c.expected, JNI_OnLoad(&gVm, nullptr));
    // 1.6 is asked for only when 1.4 is refused.
    std::vector<jint> asked = {JNI_VERSION_1_4};
    if (!c.grant14) asked.push_back(JNI_VERSION_1_6);
    EXPECT_EQ(asked, gAskedVersions);
    bool gotEnv = c.grant14 || c.grant16;
    if (gotEnv) {
        ASSERT_FALSE(gRegistered.empty());
        EXPECT_EQ("class cn/lumokast/recorder/LumoKastNative", gRegistered[0]);
    }
    if (gotEnv && c.classFound) {
        ASSERT_EQ(25u, gRegistered.size());
        EXPECT_EQ("initCapturer(IIIZ)V", gRegistered[1]);
        EXPECT_EQ("captureFrameByfboOES(IZLjava/nio/Buffer;)V", gRegistered[23]);
        EXPECT_EQ("drawTexture(II)V", gRegistered[24]);
        EXPECT_EQ(1, gLocalRefsDeleted);  // released on success and on refusal
    }
    auto lines = host::logSnapshot();
    std::vector<std::string> want;
    if (c.debugLine) want.push_back(std::string("D ") + c.debugLine);
    if (c.errorLine) want.push_back(std::string("E ") + c.errorLine);
    std::vector<std::string> got;
    for (const auto& l : lines) {
        got.push_back(std::string(l.prio == ANDROID_LOG_DEBUG ? "D " : "E ") + l.msg);
        EXPECT_EQ(0u, l.tag.find("<LumoKAST_native> jni/lumokast/jniLumokast.cpp: ")) << l.tag;
    }
    EXPECT_EQ(want, got);
}

INSTANTIATE_TEST_SUITE_P(
    Vms, JniOnLoad,
    ::testing::Values(
        VmCase{"Grants14", true, true, true, 0, JNI_VERSION_1_4,
               "Succeed to register cn/lumokast/recorder/LumoKastNative.", nullptr},
        VmCase{"Grants16Only", false, true, true, 0, JNI_VERSION_1_6,
               "Succeed to register cn/lumokast/recorder/LumoKastNative.", nullptr},
        VmCase{"GrantsNone", false, false, true, 0, -1, nullptr, "ERROR: GetEnv failed\n"},
        VmCase{"ClassMissing", true, true, false, 0, -1, "cn/lumokast/recorder/LumoKastNative not found!",
               "ERROR: jniRegisterNativeMethods native registration failed"},
        VmCase{"RegistrationRefused", true, true, true, -1, -1,
               "RegisterNatives failed: cn/lumokast/recorder/LumoKastNative",
               "ERROR: jniRegisterNativeMethods native registration failed"}),
    [](const ::testing::TestParamInfo<VmCase>& info) { return std::string(info.param.name); });

}  // namespace
