// A messy game on GLES 2 or 3 (by QOR_GLES_VERSION): it sets unusual values
// for the state the capture calls could touch, and each call must leave that
// state as it found it, leave no GL error, and copy and capture whole frames
// in spite of it.
#include <gtest/gtest.h>

#include <functional>

#include "capture_test_support.h"
#include "gl3stub.h"
#include "gl_state_snapshot.h"
#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"

using namespace qor::test;

namespace {

const int kW = 95, kH = 64;  // an odd width: rows of 190 bytes
const uint16_t kGameColor = 0xF81F;  // magenta in 565

const char kGameVertex[] =
    "attribute vec2 a_pos;\n"
    "void main() { gl_Position = vec4(a_pos, 0.0, 1.0); }\n";
const char kGameFragment[] =
    "precision mediump float;\n"
    "void main() { gl_FragColor = vec4(1.0, 0.0, 1.0, 1.0); }\n";

// Four vertices of {pad, x, y}: the position is at offset 4, stride 12.
const GLfloat kGameVertices[] = {9, -1, -1, 9, 1, -1, 9, 1, 1, 9, -1, 1};
const GLushort kGameIndices[] = {0, 1, 2, 2, 3, 0};

GLuint compile(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

class MessyGame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sEs3 = QOR_GLES_VERSION[0] == '3';
        sGl = new HeadlessGl();
        ASSERT_TRUE(sGl->create(sEs3 ? 3 : 2));
        if (sEs3) {
            ASSERT_EQ(GL_TRUE, gl3stubInit());
        }
    }
    static void TearDownTestSuite() {
        delete sGl;
        sGl = nullptr;
    }
    void SetUp() override {
        host::logClear();
        mScreen = makeScreenFbo(version(), kW, kH);
        createGameObjects();
    }
    void TearDown() override {
        calm();
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFbo(nullptr, nullptr);
        bindFramebuffer(version(), 0);
        deleteScreenFbo(version(), mScreen);
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    static int version() { return sEs3 ? 3 : 2; }

    void createGameObjects() {
        mProgram = glCreateProgram();
        glAttachShader(mProgram, compile(GL_VERTEX_SHADER, kGameVertex));
        glAttachShader(mProgram, compile(GL_FRAGMENT_SHADER, kGameFragment));
        glBindAttribLocation(mProgram, 0, "a_pos");  // the copy's location too
        glLinkProgram(mProgram);
        glGenBuffers(4, mBuffers);
        glBindBuffer(GL_ARRAY_BUFFER, mBuffers[0]);
        glBufferData(GL_ARRAY_BUFFER, sizeof(kGameVertices), kGameVertices, GL_STATIC_DRAW);
        glGenTextures(2, mTextures);
        for (GLuint t : mTextures) {
            glBindTexture(GL_TEXTURE_2D, t);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        }
        glGenRenderbuffers(1, &mRenderbuffer);
        if (sEs3) {
            glBindBuffer(GL_PIXEL_PACK_BUFFER, mBuffers[2]);
            glBufferData(GL_PIXEL_PACK_BUFFER, 64, nullptr, GL_STREAM_READ);
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, mBuffers[3]);
            glBufferData(GL_PIXEL_UNPACK_BUFFER, 16, nullptr, GL_STREAM_DRAW);
            glGenSamplers(1, &mSampler);
            // Incomplete for a texture without mipmaps: black if it leaked in.
            glSamplerParameteri(mSampler, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_NEAREST);
            messVertexArrayZero();
            glGenVertexArrays(1, &mVertexArray);
            glBindVertexArray(mVertexArray);
        }
        // In the game's vertex array (the default one on GLES 2).
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mBuffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(kGameIndices), kGameIndices, GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, mBuffers[0]);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 12, (void*)4);
        glVertexAttribPointer(1, 1, GL_FLOAT, GL_TRUE, 12, nullptr);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        if (sEs3) glVertexAttribDivisor(1, 1);
        glBindBuffer(GL_ARRAY_BUFFER, mBuffers[3]);  // not the attributes' buffer
        glUseProgram(mProgram);
    }
    // Vertex array 0 with an integer attribute 0 on client memory and a divisor.
    void messVertexArrayZero() {
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        static const GLint kInts[16] = {0};
        glVertexAttribIPointer(0, 2, GL_INT, 16, kInts);
        glVertexAttribDivisor(0, 2);
        glEnableVertexAttribArray(0);
    }
    // Unusual values for everything the copy and the reads could depend on.
    void mess() {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, mTextures[0]);
        glActiveTexture(GL_TEXTURE3);
        glBindTexture(GL_TEXTURE_2D, mTextures[1]);
        glBindRenderbuffer(GL_RENDERBUFFER, mRenderbuffer);
        glViewport(3, 5, 17, 11);
        glEnable(GL_SCISSOR_TEST);
        glScissor(1, 2, 3, 4);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ZERO, GL_ONE);
        glBlendColor(0.5f, 0.25f, 0.125f, 1.0f);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_NEVER);
        glDepthMask(GL_FALSE);
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_NEVER, 3, 7);
        glStencilMask(5);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT_AND_BACK);
        glFrontFace(GL_CW);
        glDisable(GL_DITHER);
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(2, 3);
        glEnable(GL_SAMPLE_ALPHA_TO_COVERAGE);
        glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_TRUE);
        glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        if (!sEs3) return;
        glBindSampler(0, mSampler);
        glBindSampler(3, mSampler);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, mBuffers[2]);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, mBuffers[3]);
        glPixelStorei(GL_PACK_ROW_LENGTH, 7);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 1);
        glPixelStorei(GL_PACK_SKIP_ROWS, 2);
        glEnable(GL_RASTERIZER_DISCARD);
        glEnable(GL_PRIMITIVE_RESTART_FIXED_INDEX);
    }
    // Defaults for what the test's own drawing and reading depend on; the
    // game's program, arrays and bindings stay.
    void calm() {
        glViewport(0, 0, kW, kH);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_STENCIL_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_POLYGON_OFFSET_FILL);
        glDisable(GL_SAMPLE_ALPHA_TO_COVERAGE);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        if (!sEs3) return;
        glDisable(GL_RASTERIZER_DISCARD);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    }
    // Our framebuffer with the picture, made in a calm state.
    jint pictureFbo() {
        calm();
        bindFramebuffer(version(), mScreen);
        jint fbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
        EXPECT_GT(fbo, 0);
        // The capturer's image replaces the texture's storage: made first.
        nativeInitCapturer(nullptr, nullptr, kW, kH, nativeGetTextureByFbo(nullptr, nullptr, fbo),
                           false);
        nativeBineFbo(nullptr, nullptr, fbo);
        drawPicture(kW, kH);
        bindFramebuffer(version(), mScreen);
        return fbo;
    }

    struct Call {
        const char* name;
        std::function<void()> run;
        bool bindsFramebuffer;
    };
    std::vector<Call> everyCall() {
        std::vector<Call> calls = {
            {"prepareFbo", [this] { mFbo = nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1); },
             false},
            {"bineFbo", [this] { nativeBineFbo(nullptr, nullptr, mFbo); }, true},
            {"unbineFbo", [this] { nativeUnbineFbo(nullptr, nullptr, mFbo, mScreen); }, true},
            {"drawTexture",
             [this] { nativeDrawTexture(nullptr, nullptr, mFbo, (jint)mTextures[0]); }, false},
            {"getTextureByFbo", [this] { nativeGetTextureByFbo(nullptr, nullptr, mFbo); }, false},
            {"captureFrameByfbo", [this] { capture(); }, false},
            {"reBindGraphicBuffer",
             [this] {
                 nativeReBindGraphicBuffer(nullptr, nullptr);
                 capture();
             },
             false},
        };
        if (sEs3) {
            calls.push_back({"readPixels",
                             [this] { nativeReadPixels(nullptr, nullptr, kW, kH, mFbo); }, false});
            calls.push_back({"captureFrameByfbo (pixel pack)", [this] { capture(); }, false});
        }
        calls.push_back({"deleteFbo", [this] { nativeDeleteFbo(nullptr, nullptr, mFbo); }, false});
        calls.push_back({"prepareFbo and deleteAllFbo",
                         [] {
                             nativePrepareFbo(nullptr, nullptr, kW, kH, 1, 1);
                             nativeDeleteAllFbo(nullptr, nullptr);
                         },
                         false});
        return calls;
    }
    void capture() {
        Frame frame(kW * kH * 2);
        captureFrameByfboInto(mFbo, false, frame.target());
    }

    static HeadlessGl* sGl;
    static bool sEs3;
    GLuint mScreen = 0, mProgram = 0, mVertexArray = 0, mSampler = 0, mRenderbuffer = 0;
    GLuint mBuffers[4] = {0}, mTextures[2] = {0};
    jint mFbo = 0;
};
HeadlessGl* MessyGame::sGl = nullptr;
bool MessyGame::sEs3 = false;

TEST_F(MessyGame, EveryCallLeavesTheGameStateAsItFoundIt) {
    bindFramebuffer(version(), mScreen);
    mess();
    const GlSnapshot before = snapshotGles(sEs3);
    const std::set<std::string> framebuffers = {"GL_FRAMEBUFFER_BINDING",
                                                "GL_READ_FRAMEBUFFER_BINDING"};
    for (const Call& call : everyCall()) {
        call.run();
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError()) << call.name;
        std::string diff = snapshotDiff(before, snapshotGles(sEs3),
                                        call.bindsFramebuffer ? framebuffers
                                                              : std::set<std::string>{});
        EXPECT_EQ("", diff) << call.name;
        if (call.bindsFramebuffer) bindFramebuffer(version(), mScreen);
    }
    EXPECT_EQ(0, logLinesContaining("failed"));
}

TEST_F(MessyGame, CopyAndCapturedFramesAreWholeInSpiteOfTheGameState) {
    jint fbo = pictureFbo();
    mess();
    nativeUnbineFbo(nullptr, nullptr, fbo, mScreen);
    Frame graphicBuffer(kW * kH * 2), pixelPack(kW * kH * 2);
    // The GraphicBuffer path by itself (on GLES 3 the pixel-pack path takes
    // over after the first read).
    captureFrameInto(kW, kH, nativeGetTextureByFbo(nullptr, nullptr, fbo), false,
                     graphicBuffer.target());
    if (sEs3) {
        nativeReadPixels(nullptr, nullptr, kW, kH, fbo);
        captureFrameByfboInto(fbo, false, pixelPack.target());
    }
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    calm();
    bindFramebuffer(version(), mScreen);
    std::vector<uint16_t> screen = readFramebuffer565(kW, kH);
    std::string first;
    EXPECT_EQ(0, countMismatches(screen.data(), kW, kH, false, &first)) << "screen " << first;
    EXPECT_EQ(0, countMismatches(graphicBuffer.pixels(), kW, kH, false, &first))
        << "GraphicBuffer " << first;
    if (sEs3) {
        EXPECT_EQ(0, countMismatches(pixelPack.pixels(), kW, kH, false, &first))
            << "pixel pack " << first;
    }
}

TEST_F(MessyGame, TheGameDrawsWithItsOwnArraysAfterEveryCall) {
    bindFramebuffer(version(), mScreen);
    mess();
    for (const Call& call : everyCall()) {
        call.run();
        bindFramebuffer(version(), mScreen);
    }
    calm();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // Indices from the element buffer of the game's vertex array.
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    std::vector<uint16_t> screen = readFramebuffer565(kW, kH);
    int wrong = 0;
    for (uint16_t pixel : screen) wrong += channelStep(pixel, kGameColor) > 1;
    EXPECT_EQ(0, wrong) << "first pixel " << std::hex << screen[0];
}

}  // namespace
