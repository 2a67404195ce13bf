// The structures' layout in the ABI of this build, and a component's answer
// to a structure laid out for the other one (a client built for another ABI
// would otherwise have its fields read at the wrong offsets).
#include <stddef.h>

#include <gtest/gtest.h>

#include <media/stagefright/MediaErrors.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using namespace android;

struct Layout {
    size_t portDefinition, avc, bufferHeader, timeStampOffset;
};
const Layout kX86{96, 108, 72, 52};        // the ABI the kit ships in
const Layout kX86_64Host{176, 168, 136, 104};  // OMX_U32 is unsigned long here
const Layout& thisAbi() { return sizeof(void*) == 4 ? kX86 : kX86_64Host; }
const Layout& otherAbi() { return sizeof(void*) == 4 ? kX86_64Host : kX86; }

TEST(StructLayout, MatchesTheAbiOfThisBuild) {
    EXPECT_EQ(thisAbi().portDefinition, sizeof(OMX_PARAM_PORTDEFINITIONTYPE));
    EXPECT_EQ(thisAbi().avc, sizeof(OMX_VIDEO_PARAM_AVCTYPE));
    EXPECT_EQ(thisAbi().bufferHeader, sizeof(OMX_BUFFERHEADERTYPE));
    EXPECT_EQ(thisAbi().timeStampOffset, offsetof(OMX_BUFFERHEADERTYPE, nTimeStamp));
}

TEST(StructLayout, ComponentRefusesSizesAndVersionsItDoesNotKnow) {
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode("OMX.google.h264.encoder"));

    OMX_PARAM_PORTDEFINITIONTYPE def;
    OmxTestClient::init(&def);
    ASSERT_EQ(OK, c.omx()->getParameter(c.node(), OMX_IndexParamPortDefinition, &def, sizeof(def)));
    def.nSize = (OMX_U32)otherAbi().portDefinition;
    EXPECT_EQ(BAD_VALUE, c.omx()->getParameter(c.node(), OMX_IndexParamPortDefinition, &def,
                                               sizeof(def)));
    EXPECT_EQ(BAD_VALUE, c.omx()->setParameter(c.node(), OMX_IndexParamPortDefinition, &def,
                                               sizeof(def)));

    OMX_VIDEO_PARAM_AVCTYPE avc;
    OmxTestClient::init(&avc);
    avc.nPortIndex = 1;
    ASSERT_EQ(OK, c.omx()->getParameter(c.node(), OMX_IndexParamVideoAvc, &avc, sizeof(avc)));
    avc.nVersion.s.nVersionMajor = 2;
    EXPECT_EQ(BAD_VALUE, c.omx()->setParameter(c.node(), OMX_IndexParamVideoAvc, &avc, sizeof(avc)));
    avc.nVersion.s.nVersionMajor = 1;
    avc.nSize = (OMX_U32)otherAbi().avc;
    EXPECT_EQ(BAD_VALUE, c.omx()->getParameter(c.node(), OMX_IndexParamVideoAvc, &avc, sizeof(avc)));
}

}  // namespace
}  // namespace qor_test
