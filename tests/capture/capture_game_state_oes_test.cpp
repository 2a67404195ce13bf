// A messy game on GLES 1.1: the OES capture calls leave its fixed-function
// state, matrices and client arrays as they found them, leave no GL error,
// and copy and capture whole frames in spite of that state.
#include <gtest/gtest.h>

#include <functional>

#include <GLES/gl.h>
#include <GLES/glext.h>

#include "capture_test_support.h"
#include "gl_state_snapshot.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_glesoes.h"

using namespace qor::test;

namespace {

const int kSize = 64;  // square: the copy mirrors about the diagonal
const uint16_t kGameColor = 0xF81F;

const GLfloat kGameVertices[] = {-1, -1, 1, -1, 1, 1, -1, 1};
const GLushort kGameIndices[] = {0, 1, 2, 2, 3, 0};
const GLubyte kGameColors[] = {255, 0, 255, 255, 255, 0, 255, 255,
                               255, 0, 255, 255, 255, 0, 255, 255};
const GLfloat kGameCoords[] = {0, 0, 1, 0, 1, 1, 0, 1};

class MessyGameOes : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(1));
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
    }
    void SetUp() override {
        host::logClear();
        mScreen = makeScreenFbo(1, kSize, kSize);
        createGameObjects();
    }
    void TearDown() override {
        calm();
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFboOES(nullptr, nullptr);
        bindFramebuffer(1, 0);
        deleteScreenFbo(1, mScreen);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    void createGameObjects() {
        glGenBuffers(3, mBuffers);
        glBindBuffer(GL_ARRAY_BUFFER, mBuffers[0]);
        glBufferData(GL_ARRAY_BUFFER, sizeof(kGameVertices), kGameVertices, GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mBuffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(kGameIndices), kGameIndices, GL_STATIC_DRAW);
        glVertexPointer(2, GL_FLOAT, 8, nullptr);  // into the game's buffer
        glEnableClientState(GL_VERTEX_ARRAY);
        glBindBuffer(GL_ARRAY_BUFFER, 0);  // client memory for the others
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, kGameColors);
        glEnableClientState(GL_COLOR_ARRAY);
        for (GLenum unit = 0; unit < 2; ++unit) {
            glClientActiveTexture(GL_TEXTURE0 + unit);
            glTexCoordPointer(2, GL_FLOAT, 0, kGameCoords);
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        }
        glBindBuffer(GL_ARRAY_BUFFER, mBuffers[2]);  // not the vertices' buffer
        glGenTextures(2, mTextures);
        for (GLuint t : mTextures) {
            glBindTexture(GL_TEXTURE_2D, t);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        }
    }
    void mess() {
        for (GLenum unit = 0; unit < 2; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D, mTextures[unit]);
            glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, unit ? GL_MODULATE : GL_ADD);
            glMatrixMode(GL_TEXTURE);
            glLoadIdentity();
            glScalef(2.0f + unit, 3.0f, 1.0f);
        }
        glEnable(GL_TEXTURE_2D);  // unit 1: black texels would darken the copy
        glClientActiveTexture(GL_TEXTURE1);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrthof(-3, 5, -2, 7, -1, 9);
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glTranslatef(0.5f, 0.25f, 0.0f);
        glViewport(3, 5, 17, 11);
        glEnable(GL_SCISSOR_TEST);
        glScissor(1, 2, 3, 4);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ZERO, GL_ONE);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_NEVER);
        glDepthMask(GL_FALSE);
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_NEVER, 1, 1);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT_AND_BACK);
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_NEVER, 0.5f);
        glEnable(GL_FOG);
        const GLfloat fog[] = {0.0f, 1.0f, 0.0f, 1.0f};
        glFogfv(GL_FOG_COLOR, fog);
        glEnable(GL_COLOR_LOGIC_OP);
        glLogicOp(GL_CLEAR);
        glEnable(GL_LIGHTING);
        glDisable(GL_DITHER);
        glShadeModel(GL_FLAT);
        glColor4f(0.25f, 0.5f, 0.75f, 0.0f);
        glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_TRUE);
        glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
    }
    // Defaults for the test's own drawing and reading; arrays stay.
    void calm() {
        glViewport(0, 0, kSize, kSize);
        const GLenum caps[] = {GL_SCISSOR_TEST, GL_BLEND,    GL_DEPTH_TEST,     GL_STENCIL_TEST,
                               GL_CULL_FACE,    GL_ALPHA_TEST, GL_FOG,          GL_COLOR_LOGIC_OP,
                               GL_LIGHTING};
        for (GLenum cap : caps) glDisable(cap);
        for (GLenum unit = 0; unit < 2; ++unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            glDisable(GL_TEXTURE_2D);
            glMatrixMode(GL_TEXTURE);
            glLoadIdentity();
        }
        glActiveTexture(GL_TEXTURE0);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
    }
    jint pictureFbo() {
        calm();
        bindFramebuffer(1, mScreen);
        jint fbo = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
        EXPECT_GT(fbo, 0);
        nativeInitCapturer(nullptr, nullptr, kSize, kSize,
                           nativeGetTextureByFboOES(nullptr, nullptr, fbo), false);
        nativeBineFboOES(nullptr, nullptr, fbo);
        drawPicture(kSize, kSize);
        bindFramebuffer(1, mScreen);
        return fbo;
    }

    struct Call {
        const char* name;
        std::function<void()> run;
        bool bindsFramebuffer;
    };
    std::vector<Call> everyCall() {
        auto capture = [this] {
            Frame frame(kSize * kSize * 2);
            captureFrameByfboOESInto(mFbo, false, frame.target());
        };
        return {
            {"prepareFbo",
             [this] { mFbo = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1); }, false},
            {"bineFbo", [this] { nativeBineFboOES(nullptr, nullptr, mFbo); }, true},
            {"unbineFbo", [this] { nativeUnbineFboOES(nullptr, nullptr, mFbo, mScreen); }, true},
            {"getTextureByFbo", [this] { nativeGetTextureByFboOES(nullptr, nullptr, mFbo); },
             false},
            {"captureFrameByfbo", capture, false},
            {"reBindGraphicBuffer",
             [capture] {
                 nativeReBindGraphicBuffer(nullptr, nullptr);
                 capture();
             },
             false},
            {"deleteFbo", [this] { nativeDeleteFboOES(nullptr, nullptr, mFbo); }, false},
            {"prepareFbo and deleteAllFbo",
             [] {
                 nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
                 nativeDeleteAllFboOES(nullptr, nullptr);
             },
             false},
        };
    }

    static HeadlessGl* sGl;
    GLuint mScreen = 0, mBuffers[3] = {0}, mTextures[2] = {0};
    jint mFbo = 0;
};
HeadlessGl* MessyGameOes::sGl = nullptr;

TEST_F(MessyGameOes, EveryCallLeavesTheGameStateAsItFoundIt) {
    bindFramebuffer(1, mScreen);
    mess();
    const GlSnapshot before = snapshotGles1();
    for (const Call& call : everyCall()) {
        call.run();
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError()) << call.name;
        std::string diff =
            snapshotDiff(before, snapshotGles1(),
                         call.bindsFramebuffer ? std::set<std::string>{"GL_FRAMEBUFFER_BINDING_OES"}
                                               : std::set<std::string>{});
        EXPECT_EQ("", diff) << call.name;
        if (call.bindsFramebuffer) bindFramebuffer(1, mScreen);
    }
}

TEST_F(MessyGameOes, CopyAndCapturedFrameAreWholeInSpiteOfTheGameState) {
    jint fbo = pictureFbo();
    mess();
    nativeUnbineFboOES(nullptr, nullptr, fbo, mScreen);
    Frame frame(kSize * kSize * 2);
    captureFrameByfboOESInto(fbo, false, frame.target());
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    calm();
    bindFramebuffer(1, mScreen);
    std::vector<uint16_t> screen = readFramebuffer565(kSize, kSize);
    std::string first;
    EXPECT_EQ(0, countMismatches(screen.data(), kSize, kSize, true, &first)) << "screen " << first;
    EXPECT_EQ(0, countMismatches(frame.pixels(), kSize, kSize, false, &first)) << "frame " << first;
}

TEST_F(MessyGameOes, TheGameDrawsWithItsOwnArraysAfterEveryCall) {
    bindFramebuffer(1, mScreen);
    mess();
    for (const Call& call : everyCall()) {
        call.run();
        bindFramebuffer(1, mScreen);
    }
    calm();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // Vertices from the game's buffer, colours from its client array.
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    std::vector<uint16_t> screen = readFramebuffer565(kSize, kSize);
    int wrong = 0;
    for (uint16_t pixel : screen) wrong += channelStep(pixel, kGameColor) > 1;
    EXPECT_EQ(0, wrong) << "first pixel " << std::hex << screen[0];
}

// After the context is destroyed and made again, the game's objects take the
// kit's old names: deleteAllFboOES leaves them alone.
TEST(LostContextOes, DeleteAllLeavesTheNewContextsNamesAlone) {
    HeadlessGl gl;
    ASSERT_TRUE(gl.create(1));
    makeScreenFbo(1, kSize, kSize);
    jint fbo = nativePrepareFboOES(nullptr, nullptr, kSize, kSize, 1, 1);
    ASSERT_GT(fbo, 0);
    gl.destroy();
    ASSERT_TRUE(gl.create(1));
    host::logClear();
    makeScreenFbo(1, kSize, kSize);  // the game's framebuffer and renderbuffer
    GLuint textures[4];
    glGenTextures(4, textures);
    for (GLuint t : textures) glBindTexture(GL_TEXTURE_2D, t);
    nativeDeleteAllFboOES(nullptr, nullptr);
    EXPECT_EQ(1, logLinesContaining("is not ours any more"));
    for (GLuint t : textures) EXPECT_TRUE(glIsTexture(t)) << t;
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
}

}  // namespace
