// GL objects of the capture library on GLES 2 or 3 (by QOR_GLES_VERSION):
// many prepare/copy/read/delete cycles leave the object counts where they
// started, and the pixel-pack buffer's size is fixed by the first read that
// has pixels.
#include <gtest/gtest.h>

#include "capture_test_support.h"
#include "gl3stub.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

struct ObjectCounts {
    int programs = 0, shaders = 0, buffers = 0, textures = 0, framebuffers = 0,
        renderbuffers = 0;
    bool operator==(const ObjectCounts& o) const {
        return programs == o.programs && shaders == o.shaders && buffers == o.buffers &&
               textures == o.textures && framebuffers == o.framebuffers &&
               renderbuffers == o.renderbuffers;
    }
};

std::ostream& operator<<(std::ostream& out, const ObjectCounts& c) {
    return out << "programs " << c.programs << " shaders " << c.shaders << " buffers "
               << c.buffers << " textures " << c.textures << " framebuffers " << c.framebuffers
               << " renderbuffers " << c.renderbuffers;
}

// Live names below a bound that a leak of a few objects per cycle would pass.
ObjectCounts countObjects() {
    ObjectCounts c;
    for (GLuint name = 1; name < 4096; ++name) {
        c.programs += glIsProgram(name);
        c.shaders += glIsShader(name);
        c.buffers += glIsBuffer(name);
        c.textures += glIsTexture(name);
        c.framebuffers += glIsFramebuffer(name);
        c.renderbuffers += glIsRenderbuffer(name);
    }
    return c;
}

class GlObjects : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sEs3 = QOR_GLES_VERSION[0] == '3';
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(sEs3 ? 3 : 2));
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
    }
    void SetUp() override {
        host::logClear();
        mScreen = makeScreenFbo(2, kW, kH);
    }
    void TearDown() override {
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(2, 0);
        deleteScreenFbo(2, mScreen);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    // One frame's life: an FBO, the copy (its program), a read and a capture.
    void cycle() {
        jint fbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
        ASSERT_GT(fbo, 0);
        nativeBineFbo(nullptr, nullptr, fbo);
        nativeUnbineFbo(nullptr, nullptr, fbo, mScreen);
        nativeReadPixels(nullptr, nullptr, kW, kH, fbo);
        Frame frame(kW * kH * 2);
        if (sEs3) captureFrameByfboInto(fbo, false, frame.target());
        nativeDeleteFbo(nullptr, nullptr, fbo);
    }
    static const int kW = 32, kH = 16;
    static HeadlessGl* sGl;
    static bool sEs3;
    GLuint mScreen = 0;
};
HeadlessGl* GlObjects::sGl = nullptr;
bool GlObjects::sEs3 = false;

TEST_F(GlObjects, AThousandCyclesLeaveTheCountsWhereTheyStarted) {
    const ObjectCounts before = countObjects();
    for (int i = 0; i < 1000; ++i) ASSERT_NO_FATAL_FAILURE(cycle()) << i;
    nativeDeleteAllFbo(nullptr, nullptr);  // ends the capture: the pixel-pack buffer too
    EXPECT_EQ(before, countObjects());
    EXPECT_EQ(0u, g_pbo);
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
}

TEST_F(GlObjects, RecordsTakeTheirProgramsWithThem) {
    jint a = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    jint b = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    nativeUnbineFbo(nullptr, nullptr, a, mScreen);
    nativeUnbineFbo(nullptr, nullptr, b, mScreen);
    GLuint programA = g_fboMap[a]->m_program, programB = g_fboMap[b]->m_program;
    ASSERT_TRUE(glIsProgram(programA) && glIsProgram(programB));
    nativeDeleteFbo(nullptr, nullptr, a);
    EXPECT_FALSE(glIsProgram(programA));
    EXPECT_TRUE(glIsProgram(programB));
    nativeDeleteAllFbo(nullptr, nullptr);
    EXPECT_FALSE(glIsProgram(programB));
    EXPECT_EQ(0, countObjects().shaders);  // they went with their programs
}

TEST_F(GlObjects, AnEmptyFirstReadLeavesTheSizeToTheNextRead) {
    if (!sEs3) GTEST_SKIP() << "the pixel-pack path is GLES 3";
    jint fbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
    nativeBineFbo(nullptr, nullptr, fbo);
    drawPicture(kW, kH);
    bindFramebuffer(2, mScreen);
    nativeReadPixels(nullptr, nullptr, 0, kH, fbo);
    EXPECT_EQ(1, g_isOpenglES3);
    EXPECT_EQ(0, g_pboSize);
    EXPECT_EQ(1, logLinesContaining("readPixels 0x16 refused: no pixels"));
    Frame early(kW * kH * 2);
    captureFrameByfboInto(fbo, false, early.target());
    EXPECT_TRUE(early.untouched());  // nothing read yet: nothing copied
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());

    nativeReadPixels(nullptr, nullptr, kW, kH, fbo);
    EXPECT_EQ(kW * kH * 2, g_pboSize);
    Frame frame(kW * kH * 2);
    captureFrameByfboInto(fbo, false, frame.target());
    std::string first;
    EXPECT_EQ(0, countMismatches(frame.pixels(), kW, kH, false, &first)) << first;
}

}  // namespace
