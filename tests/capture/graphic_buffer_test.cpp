// The host GraphicBuffer and the EGL layer that lets an
// EGL_NATIVE_BUFFER_ANDROID image share its pixels with a texture.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <ui/GraphicBuffer.h>

#include "headless_gl.h"

using android::GraphicBuffer;
using android::sp;
using namespace qor::test;

namespace {

struct BadBuffer {
    int w, h;
    android::PixelFormat format;
};

class GraphicBufferRefusal : public ::testing::TestWithParam<BadBuffer> {};

TEST_P(GraphicBufferRefusal, FailsItsInitCheckAndHasNoNativeBuffer) {
    const BadBuffer& b = GetParam();
    sp<GraphicBuffer> buffer = new GraphicBuffer(b.w, b.h, b.format, 0x103);
    EXPECT_EQ(android::BAD_VALUE, buffer->initCheck());
    EXPECT_EQ(nullptr, buffer->getNativeBuffer());
    void* bits = nullptr;
    EXPECT_NE(android::NO_ERROR, buffer->lock(0x3, &bits));
}

INSTANTIATE_TEST_SUITE_P(Sizes, GraphicBufferRefusal,
                         ::testing::Values(BadBuffer{0, 16, 4}, BadBuffer{16, 0, 4}, BadBuffer{16, 16, 0},
                                           BadBuffer{16, 16, 99}, BadBuffer{20000, 16, 4}));

TEST(GraphicBuffer, DescribesItselfAndLocksOnceAtATime) {
    sp<GraphicBuffer> buffer = new GraphicBuffer(33, 7, android::PIXEL_FORMAT_RGB_565, 0x130);
    ASSERT_EQ(android::NO_ERROR, buffer->initCheck());
    ANativeWindowBuffer* nb = buffer->getNativeBuffer();
    ASSERT_NE(nullptr, nb);
    EXPECT_EQ((int)ANDROID_NATIVE_BUFFER_MAGIC, nb->common.magic);
    EXPECT_EQ(33, nb->width);
    EXPECT_EQ(7, nb->height);
    EXPECT_EQ(33, nb->stride);
    EXPECT_EQ(4, nb->format);
    EXPECT_EQ(0x130, nb->usage);
    EXPECT_NE(nullptr, nb->handle);

    EXPECT_EQ(android::INVALID_OPERATION, buffer->unlock());
    void* bits = nullptr;
    ASSERT_EQ(android::NO_ERROR, buffer->lock(0x30, &bits));
    memset(bits, 0x7B, 33 * 7 * 2);
    void* again = nullptr;
    EXPECT_EQ(android::INVALID_OPERATION, buffer->lock(0x3, &again));
    EXPECT_EQ(android::NO_ERROR, buffer->unlock());
    ASSERT_EQ(android::NO_ERROR, buffer->lock(0x3, &bits));
    EXPECT_EQ(0x7B, static_cast<uint8_t*>(bits)[33 * 7 * 2 - 1]);
    EXPECT_EQ(android::NO_ERROR, buffer->unlock());
}

// --- with the EGL layer on a Mesa GLES 2 context --------------------------

class NativeBufferImage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mGl.create(2));
        mLayer = dlopen(QOR_HOST_EGL, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, mLayer) << dlerror();
        mCreate = (PFNEGLCREATEIMAGEKHRPROC)dlsym(mLayer, "eglCreateImageKHR");
        mDestroy = (PFNEGLDESTROYIMAGEKHRPROC)dlsym(mLayer, "eglDestroyImageKHR");
        mError = (PFNEGLGETERRORPROC)dlsym(mLayer, "eglGetError");
        mAttach = (PFNGLEGLIMAGETARGETTEXTURE2DOESPROC)HeadlessGl::procAddress("glEGLImageTargetTexture2DOES");
        ASSERT_TRUE(mCreate && mDestroy && mError && mAttach);
        mBuffer = new GraphicBuffer(kW, kH, android::PIXEL_FORMAT_RGB_565, 0x133);
        ASSERT_EQ(android::NO_ERROR, mBuffer->initCheck());
    }
    void TearDown() override {
        mBuffer.clear();
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
    EGLImageKHR image() {
        const EGLint attribs[] = {EGL_IMAGE_PRESERVED_KHR, EGL_TRUE, EGL_NONE};
        return mCreate(mGl.display(), EGL_NO_CONTEXT, 0x3140,
                       (EGLClientBuffer)mBuffer->getNativeBuffer(), attribs);
    }
    // A texture sharing the image, attached to a framebuffer left bound.
    GLuint attachedFramebuffer(EGLImageKHR img) {
        GLuint texture = 0, fbo = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        mAttach(GL_TEXTURE_2D, (GLeglImageOES)img);
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        EXPECT_EQ((GLenum)GL_FRAMEBUFFER_COMPLETE, glCheckFramebufferStatus(GL_FRAMEBUFFER));
        return fbo;
    }

    static const int kW = 24, kH = 10;
    HeadlessGl mGl;
    void* mLayer = nullptr;
    PFNEGLCREATEIMAGEKHRPROC mCreate = nullptr;
    PFNEGLDESTROYIMAGEKHRPROC mDestroy = nullptr;
    PFNEGLGETERRORPROC mError = nullptr;
    PFNGLEGLIMAGETARGETTEXTURE2DOESPROC mAttach = nullptr;
    sp<GraphicBuffer> mBuffer;
};

TEST_F(NativeBufferImage, DrawingIntoTheTextureIsWhatAReadLockSees) {
    EGLImageKHR img = image();
    ASSERT_NE(EGL_NO_IMAGE_KHR, img);
    attachedFramebuffer(img);
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    void* bits = nullptr;
    ASSERT_EQ(android::NO_ERROR, mBuffer->lock(0x3, &bits));
    for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(0x07E0, static_cast<uint16_t*>(bits)[i]) << i;
    mBuffer->unlock();
    EXPECT_EQ(EGL_TRUE, mDestroy(mGl.display(), img));
}

TEST_F(NativeBufferImage, WhatAWriteLockLeavesIsWhatTheTextureShows) {
    EGLImageKHR img = image();
    attachedFramebuffer(img);
    void* bits = nullptr;
    ASSERT_EQ(android::NO_ERROR, mBuffer->lock(0x30, &bits));
    uint16_t* pixels = static_cast<uint16_t*>(bits);
    for (int i = 0; i < kW * kH; ++i) pixels[i] = i < kW ? 0x001F : 0xF800;  // bottom row blue
    ASSERT_EQ(android::NO_ERROR, mBuffer->unlock());
    std::vector<uint16_t> seen = readFramebuffer565(kW, kH);
    EXPECT_EQ(0x001F, seen[0]);
    EXPECT_EQ(0x001F, seen[kW - 1]);
    EXPECT_EQ(0xF800, seen[kW]);
    EXPECT_EQ(0xF800, seen[kW * kH - 1]);
    mDestroy(mGl.display(), img);
}

TEST_F(NativeBufferImage, TheBuffersContentIsTheImagesFirstPicture) {
    void* bits = nullptr;
    ASSERT_EQ(android::NO_ERROR, mBuffer->lock(0x30, &bits));
    for (int i = 0; i < kW * kH; ++i) static_cast<uint16_t*>(bits)[i] = 0xFFE0;
    mBuffer->unlock();
    EGLImageKHR img = image();
    attachedFramebuffer(img);
    for (uint16_t p : readFramebuffer565(kW, kH)) ASSERT_EQ(0xFFE0, p);
    mDestroy(mGl.display(), img);
}

TEST_F(NativeBufferImage, RefusesWhatAPhoneRefuses) {
    const EGLint attribs[] = {EGL_NONE};
    EGLContext someContext = reinterpret_cast<EGLContext>(0x1);
    EXPECT_EQ(EGL_NO_IMAGE_KHR, mCreate(mGl.display(), someContext, 0x3140,
                                        (EGLClientBuffer)mBuffer->getNativeBuffer(), attribs));
    EXPECT_EQ(EGL_BAD_CONTEXT, mError());
    ANativeWindowBuffer stranger = *mBuffer->getNativeBuffer();
    stranger.handle = nullptr;
    EXPECT_EQ(EGL_NO_IMAGE_KHR, mCreate(mGl.display(), EGL_NO_CONTEXT, 0x3140, (EGLClientBuffer)&stranger, attribs));
    EXPECT_EQ(EGL_BAD_PARAMETER, mError());
    // One image per buffer: a second could not share the first one's pixels.
    EGLImageKHR first = image();
    ASSERT_NE(EGL_NO_IMAGE_KHR, first);
    EXPECT_EQ(EGL_SUCCESS, mError());
    EXPECT_EQ(EGL_NO_IMAGE_KHR, image());
    EXPECT_EQ(EGL_BAD_ACCESS, mError());
    mDestroy(mGl.display(), first);
    EGLImageKHR again = image();
    EXPECT_NE(EGL_NO_IMAGE_KHR, again);
    mDestroy(mGl.display(), again);
}

TEST_F(NativeBufferImage, LockNeedsTheImagesContextCurrent) {
    EGLImageKHR img = image();
    HeadlessGl other;
    ASSERT_TRUE(other.create(2));
    void* bits = nullptr;
    EXPECT_EQ(android::INVALID_OPERATION, mBuffer->lock(0x3, &bits));
    other.destroy();
    ASSERT_TRUE(mGl.makeCurrent());
    EXPECT_EQ(android::NO_ERROR, mBuffer->lock(0x3, &bits));
    mBuffer->unlock();
    mDestroy(mGl.display(), img);
}

TEST_F(NativeBufferImage, TheBufferMayGoBeforeItsImage) {
    EGLImageKHR img = image();
    GLuint fbo = attachedFramebuffer(img);
    mBuffer.clear();
    // The texture keeps working; destroying the image afterwards is safe.
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(EGL_TRUE, mDestroy(mGl.display(), img));
    glDeleteFramebuffers(1, &fbo);
}

TEST_F(NativeBufferImage, OtherTargetsGoToMesa) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 4, 4, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    auto currentContext = (PFNEGLGETCURRENTCONTEXTPROC)dlsym(mLayer, "eglGetCurrentContext");
    ASSERT_NE(nullptr, currentContext);  // found through the layer's libEGL
    EGLImageKHR img = mCreate(mGl.display(), currentContext(), EGL_GL_TEXTURE_2D_KHR,
                              (EGLClientBuffer)(uintptr_t)texture, nullptr);
    EXPECT_NE(EGL_NO_IMAGE_KHR, img);
    EXPECT_EQ(EGL_TRUE, mDestroy(mGl.display(), img));
    glDeleteTextures(1, &texture);
}

}  // namespace

// As gralloc may: only a read lock, on a buffer made for CPU reads, brings
// the GPU's pixels to the CPU; otherwise the memory is as it was.
TEST_F(NativeBufferImage, OnlyAnAllowedReadLockSeesTheGpusPixels) {
    struct Case {
        uint32_t created, locked;
        bool seesGpu;
    } cases[] = {{0x133, 0x03, true}, {0x133, 0x30, false}, {0x130, 0x03, false},
                 {0x303, 0x03, true}};
    for (const Case& c : cases) {
        mBuffer = new GraphicBuffer(kW, kH, android::PIXEL_FORMAT_RGB_565, c.created);
        EGLImageKHR img = image();
        ASSERT_NE(EGL_NO_IMAGE_KHR, img);
        attachedFramebuffer(img);
        glClearColor(0, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        void* bits = nullptr;
        ASSERT_EQ(android::NO_ERROR, mBuffer->lock(c.locked, &bits));
        uint16_t first = static_cast<uint16_t*>(bits)[0];
        mBuffer->unlock();
        EXPECT_EQ(c.seesGpu, first == 0x07E0) << std::hex << c.created << " " << c.locked;
        mDestroy(mGl.display(), img);
        bindFramebuffer(2, 0);
    }
}

// "gralloc.stride.align" pads rows; without it the stride is the width.
TEST(GraphicBuffer, StrideFollowsTheProfilesAlignment) {
    char path[] = "/tmp/qor_stride_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] = "gralloc.stride.align=32\n";
    ASSERT_EQ((ssize_t)sizeof(text) - 1, write(fd, text, sizeof(text) - 1));
    close(fd);
    setenv("DEVICE_PROFILE", path, 1);
    const int widths[][2] = {{854, 864}, {1366, 1376}, {64, 64}, {1, 32}};
    for (const auto& w : widths) {
        sp<GraphicBuffer> buffer = new GraphicBuffer(w[0], 4, android::PIXEL_FORMAT_RGB_565, 0x303);
        EXPECT_EQ(w[1], buffer->getNativeBuffer()->stride) << w[0];
    }
    unsetenv("DEVICE_PROFILE");
    remove(path);
    sp<GraphicBuffer> plain = new GraphicBuffer(854, 4, android::PIXEL_FORMAT_RGB_565, 0x303);
    EXPECT_EQ(854, plain->getNativeBuffer()->stride);
}
