// libqorhost_egl: an EGL library for the host that forwards to Mesa's libEGL
// and adds what Mesa lacks for the capture path: images of target
// EGL_NATIVE_BUFFER_ANDROID made from an android::GraphicBuffer.
//
// Such an image is an EGL_GL_TEXTURE_2D_KHR image of a texture that the layer
// creates in the current context ("the backing"). A texture attached to the
// image with glEGLImageTargetTexture2DOES becomes a sibling that shares the
// backing's storage, so whatever the game draws there is the buffer's
// picture. The buffer's CPU memory meets that picture at lock/unlock (see
// host/graphic_buffer_backing.h): llvmpipe offers no memory the GPU and the
// CPU can both map (no dma-buf export, no DRM device), unlike a phone.
//
// Every EGL function that the layer does not define is found in libEGL.so.1,
// which is a dependency of this library, so looking a name up in this
// library's handle yields Mesa's function.
#define LOG_TAG "qorhost_egl"

#include <dlfcn.h>
#include <string.h>

#include <map>
#include <mutex>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <GLES/glext.h>
#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <host/device_profile.h>
#include <host/graphic_buffer_backing.h>
#include <ui/GraphicBuffer.h>
#include <ui/PixelFormat.h>
#include <utils/Log.h>

#define LAYER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

#ifndef EGL_NATIVE_BUFFER_ANDROID
#define EGL_NATIVE_BUFFER_ANDROID 0x3140
#endif
// Names of GLES 3 state; the layer is compiled against the GLES 2 headers.
const GLenum kPixelPackBufferBinding = 0x88ED;
const GLenum kPixelUnpackBufferBinding = 0x88EF;
const GLenum kPixelPackBuffer = 0x88EB;
const GLenum kPixelUnpackBuffer = 0x88EC;
const GLenum kPackRowLength = 0x0D02, kPackSkipRows = 0x0D03, kPackSkipPixels = 0x0D04;
const GLenum kUnpackRowLength = 0x0CF2, kUnpackSkipRows = 0x0CF3, kUnpackSkipPixels = 0x0CF4;
const GLenum kUnpackImageHeight = 0x806E, kUnpackSkipImages = 0x806D;

// Mesa's entry points, taken from its library directly so that no symbol of
// the process (the capture library exports EGL names too) can stand between.
struct Mesa {
    void* lib = nullptr;
    PFNEGLGETPROCADDRESSPROC getProcAddress = nullptr;
    PFNEGLGETERRORPROC getError = nullptr;
    PFNEGLGETCURRENTCONTEXTPROC getCurrentContext = nullptr;
    PFNEGLQUERYCONTEXTPROC queryContext = nullptr;
    PFNEGLCREATEIMAGEKHRPROC createImage = nullptr;
    PFNEGLDESTROYIMAGEKHRPROC destroyImage = nullptr;
    PFNGLGENFRAMEBUFFERSOESPROC genFramebuffersOES = nullptr;
    PFNGLBINDFRAMEBUFFEROESPROC bindFramebufferOES = nullptr;
    PFNGLDELETEFRAMEBUFFERSOESPROC deleteFramebuffersOES = nullptr;
    PFNGLFRAMEBUFFERTEXTURE2DOESPROC framebufferTexture2DOES = nullptr;
    bool ok = false;
};

Mesa& mesa() {
    static Mesa m;
    static std::once_flag once;
    std::call_once(once, [] {
        m.lib = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
        if (m.lib == nullptr) {
            ALOGE("cannot open libEGL.so.1: %s", dlerror());
            return;
        }
        m.getProcAddress = (PFNEGLGETPROCADDRESSPROC)dlsym(m.lib, "eglGetProcAddress");
        m.getError = (PFNEGLGETERRORPROC)dlsym(m.lib, "eglGetError");
        m.getCurrentContext = (PFNEGLGETCURRENTCONTEXTPROC)dlsym(m.lib, "eglGetCurrentContext");
        m.queryContext = (PFNEGLQUERYCONTEXTPROC)dlsym(m.lib, "eglQueryContext");
        if (!m.getProcAddress || !m.getError || !m.getCurrentContext || !m.queryContext) return;
        m.createImage = (PFNEGLCREATEIMAGEKHRPROC)m.getProcAddress("eglCreateImageKHR");
        m.destroyImage = (PFNEGLDESTROYIMAGEKHRPROC)m.getProcAddress("eglDestroyImageKHR");
        m.genFramebuffersOES = (PFNGLGENFRAMEBUFFERSOESPROC)m.getProcAddress("glGenFramebuffersOES");
        m.bindFramebufferOES = (PFNGLBINDFRAMEBUFFEROESPROC)m.getProcAddress("glBindFramebufferOES");
        m.deleteFramebuffersOES =
            (PFNGLDELETEFRAMEBUFFERSOESPROC)m.getProcAddress("glDeleteFramebuffersOES");
        m.framebufferTexture2DOES =
            (PFNGLFRAMEBUFFERTEXTURE2DOESPROC)m.getProcAddress("glFramebufferTexture2DOES");
        m.ok = m.createImage && m.destroyImage;
    });
    return m;
}

// Error of the last failed layer call on this thread; eglGetError reports it
// before Mesa's own.
thread_local EGLint tLayerError = EGL_SUCCESS;

// Profile "gpu.async=1": what the GPU renders reaches the CPU's view of a
// GraphicBuffer only at a sync point the layer observes.
bool gpuAsync() { return host::currentDeviceProfile()->get("gpu.async", "0") == "1"; }

struct PixelLayout {
    GLenum format;
    GLenum type;
    GLint align;
};

bool layoutFor(int format, PixelLayout* out) {
    switch (format) {
        case android::PIXEL_FORMAT_RGB_565:
            *out = {GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2};
            return true;
        case android::PIXEL_FORMAT_RGBA_8888:
        case android::PIXEL_FORMAT_RGBX_8888:
            *out = {GL_RGBA, GL_UNSIGNED_BYTE, 4};
            return true;
        default:
            return false;
    }
}

// The texture behind one native-buffer image, living in the context that was
// current when the image was made.
class TextureBacking : public host::GraphicBufferBacking {
public:
    TextureBacking(ANativeWindowBuffer* buffer, EGLContext context, EGLint clientVersion,
                   GLuint texture, const PixelLayout& layout)
        : mBuffer(buffer), mContext(context), mClientVersion(clientVersion),
          mTexture(texture), mFbo(0), mLayout(layout), mWidth(buffer->width),
          mHeight(buffer->height), mBpp((int)android::bytesPerPixel(buffer->format)) {}

    int onLock(uint32_t usage, void* pixels, int stride) override {
        // A write-only lock sees whatever the memory held, as on a phone: only
        // a read lock brings the texture's pixels to the CPU.
        if ((usage & android::GraphicBuffer::USAGE_SW_READ_MASK) == 0) return 0;
        // With an asynchronous GPU the memory holds the picture of the last
        // sync point (a waited fence or a swap), not the one now rendered.
        if (gpuAsync()) return 0;
        return readInto(pixels, stride);
    }

    // At a sync point: the texture's pixels reach the buffer's memory.
    void publish() {
        if (mBuffer == nullptr || mesa().getCurrentContext() != mContext) return;
        readInto(const_cast<void*>(host::graphicBufferBits(mBuffer)), mBuffer->stride);
    }

    int readInto(void* pixels, int stride) {
        if (mesa().getCurrentContext() != mContext) {
            ALOGE("lock: the context of the buffer's image is not current on this thread");
            return android::INVALID_OPERATION;
        }
        GLint savedFbo = 0, savedAlign = 0;
        GLint savedPack[4] = {0, 0, 0, 0};
        bool es1 = mClientVersion < 2, es3 = mClientVersion >= 3;
        glGetIntegerv(es1 ? GL_FRAMEBUFFER_BINDING_OES : GL_FRAMEBUFFER_BINDING, &savedFbo);
        glGetIntegerv(GL_PACK_ALIGNMENT, &savedAlign);
        if (es3) {
            glGetIntegerv(kPixelPackBufferBinding, &savedPack[0]);
            glGetIntegerv(kPackRowLength, &savedPack[1]);
            glGetIntegerv(kPackSkipRows, &savedPack[2]);
            glGetIntegerv(kPackSkipPixels, &savedPack[3]);
            glBindBuffer(kPixelPackBuffer, 0);
            glPixelStorei(kPackRowLength, stride == mWidth ? 0 : stride);
            glPixelStorei(kPackSkipRows, 0);
            glPixelStorei(kPackSkipPixels, 0);
        }
        if (!bindReadFramebuffer(es1)) {
            restoreFramebuffer(es1, savedFbo);
            return android::INVALID_OPERATION;
        }
        glPixelStorei(GL_PACK_ALIGNMENT, mLayout.align);
        if (stride == mWidth || es3) {
            glReadPixels(0, 0, mWidth, mHeight, mLayout.format, mLayout.type, pixels);
        } else {
            // GLES 1/2 have no row length: a padded stride is read row by row.
            uint8_t* rows = static_cast<uint8_t*>(pixels);
            for (int y = 0; y < mHeight; ++y) {
                glReadPixels(0, y, mWidth, 1, mLayout.format, mLayout.type,
                             rows + (size_t)y * stride * mBpp);
            }
        }
        glPixelStorei(GL_PACK_ALIGNMENT, savedAlign);
        if (es3) {
            glBindBuffer(kPixelPackBuffer, savedPack[0]);
            glPixelStorei(kPackRowLength, savedPack[1]);
            glPixelStorei(kPackSkipRows, savedPack[2]);
            glPixelStorei(kPackSkipPixels, savedPack[3]);
        }
        restoreFramebuffer(es1, savedFbo);
        return 0;
    }

    int onUnlockWritten(const void* pixels, int stride) override {
        if (mesa().getCurrentContext() != mContext) {
            ALOGE("unlock: the context of the buffer's image is not current on this thread");
            return android::INVALID_OPERATION;
        }
        upload(pixels, stride, false);
        return 0;
    }

    void onBufferGone() override { mBuffer = nullptr; }

    // Fills the texture from the buffer's memory (at creation, and after a
    // CPU write). `define` makes level 0 first.
    void upload(const void* pixels, int stride, bool define) {
        bool es3 = mClientVersion >= 3;
        GLint savedTexture = 0, savedAlign = 0;
        GLint savedUnpack[6] = {0, 0, 0, 0, 0, 0};
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &savedTexture);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &savedAlign);
        if (es3) {
            const GLenum names[6] = {kPixelUnpackBufferBinding, kUnpackRowLength, kUnpackSkipRows,
                                     kUnpackSkipPixels, kUnpackImageHeight, kUnpackSkipImages};
            for (int i = 0; i < 6; ++i) glGetIntegerv(names[i], &savedUnpack[i]);
            glBindBuffer(kPixelUnpackBuffer, 0);
            glPixelStorei(kUnpackRowLength, stride == mWidth ? 0 : stride);
            glPixelStorei(kUnpackSkipRows, 0);
            glPixelStorei(kUnpackSkipPixels, 0);
        }
        const void* data = (stride == mWidth || es3) ? pixels : nullptr;
        glPixelStorei(GL_UNPACK_ALIGNMENT, mLayout.align);
        glBindTexture(GL_TEXTURE_2D, mTexture);
        if (define) {
            glTexImage2D(GL_TEXTURE_2D, 0, mLayout.format, mWidth, mHeight, 0, mLayout.format,
                         mLayout.type, data);
            // Without mipmaps the texture is complete, as EGL requires.
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        } else if (data) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, mWidth, mHeight, mLayout.format, mLayout.type,
                            data);
        }
        if (data == nullptr && pixels != nullptr) {
            // GLES 1/2 have no row length: a padded stride is sent row by row.
            const uint8_t* rows = static_cast<const uint8_t*>(pixels);
            for (int y = 0; y < mHeight; ++y) {
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, y, mWidth, 1, mLayout.format, mLayout.type,
                                rows + (size_t)y * stride * mBpp);
            }
        }
        glBindTexture(GL_TEXTURE_2D, savedTexture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, savedAlign);
        if (es3) {
            glBindBuffer(kPixelUnpackBuffer, savedUnpack[0]);
            glPixelStorei(kUnpackRowLength, savedUnpack[1]);
            glPixelStorei(kUnpackSkipRows, savedUnpack[2]);
            glPixelStorei(kUnpackSkipPixels, savedUnpack[3]);
        }
    }

    // Deletes the GL objects when their context is current (names of another
    // context must not be touched); detaches from the buffer.
    void release() {
        if (mBuffer) host::detachBacking(mBuffer, this);
        mBuffer = nullptr;
        if (mesa().getCurrentContext() != mContext) return;
        bool es1 = mClientVersion < 2;
        if (mFbo) {
            if (es1) {
                if (mesa().deleteFramebuffersOES) mesa().deleteFramebuffersOES(1, &mFbo);
            } else {
                glDeleteFramebuffers(1, &mFbo);
            }
        }
        glDeleteTextures(1, &mTexture);
    }

    ANativeWindowBuffer* buffer() const { return mBuffer; }

private:
    bool bindReadFramebuffer(bool es1) {
        if (es1) {
            Mesa& m = mesa();
            if (!m.genFramebuffersOES || !m.bindFramebufferOES || !m.framebufferTexture2DOES) {
                return false;
            }
            if (mFbo == 0) {
                m.genFramebuffersOES(1, &mFbo);
                m.bindFramebufferOES(GL_FRAMEBUFFER_OES, mFbo);
                m.framebufferTexture2DOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES,
                                          GL_TEXTURE_2D, mTexture, 0);
            } else {
                m.bindFramebufferOES(GL_FRAMEBUFFER_OES, mFbo);
            }
            return true;
        }
        if (mFbo == 0) {
            glGenFramebuffers(1, &mFbo);
            glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, mTexture,
                                   0);
        } else {
            glBindFramebuffer(GL_FRAMEBUFFER, mFbo);
        }
        return true;
    }

    void restoreFramebuffer(bool es1, GLint fbo) {
        if (es1) {
            if (mesa().bindFramebufferOES) mesa().bindFramebufferOES(GL_FRAMEBUFFER_OES, fbo);
        } else {
            glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        }
    }

    ANativeWindowBuffer* mBuffer;
    EGLContext mContext;
    EGLint mClientVersion;
    GLuint mTexture;
    GLuint mFbo;
    PixelLayout mLayout;
    int mWidth;
    int mHeight;
    int mBpp;
};

std::mutex gImagesLock;
std::map<EGLImageKHR, TextureBacking*> gImages;

EGLImageKHR createNativeBufferImage(EGLDisplay dpy, EGLContext ctx, EGLClientBuffer buffer,
                                    const EGLint* attribs) {
    Mesa& m = mesa();
    auto* nb = reinterpret_cast<ANativeWindowBuffer*>(buffer);
    if (ctx != EGL_NO_CONTEXT) {
        tLayerError = EGL_BAD_CONTEXT;
        return EGL_NO_IMAGE_KHR;
    }
    PixelLayout layout;
    if (!host::isGraphicBuffer(nb) || !layoutFor(nb->format, &layout)) {
        tLayerError = EGL_BAD_PARAMETER;
        return EGL_NO_IMAGE_KHR;
    }
    EGLContext current = m.getCurrentContext();
    if (current == EGL_NO_CONTEXT) {
        tLayerError = EGL_BAD_MATCH;
        return EGL_NO_IMAGE_KHR;
    }
    EGLint clientVersion = 2;
    m.queryContext(dpy, current, EGL_CONTEXT_CLIENT_VERSION, &clientVersion);

    GLuint texture = 0;
    glGenTextures(1, &texture);
    auto* backing = new TextureBacking(nb, current, clientVersion, texture, layout);
    backing->upload(host::graphicBufferBits(nb), nb->stride, true);

    EGLImageKHR image = m.createImage(dpy, current, EGL_GL_TEXTURE_2D_KHR,
                                      (EGLClientBuffer)(uintptr_t)texture, attribs);
    if (image == EGL_NO_IMAGE_KHR) {
        backing->release();
        delete backing;
        return EGL_NO_IMAGE_KHR;  // Mesa's error stays for eglGetError
    }
    if (!host::attachBacking(nb, backing)) {
        // One image per buffer: a second one could not share the first's pixels.
        m.destroyImage(dpy, image);
        backing->release();
        delete backing;
        tLayerError = EGL_BAD_ACCESS;
        return EGL_NO_IMAGE_KHR;
    }
    std::lock_guard<std::mutex> guard(gImagesLock);
    gImages[image] = backing;
    return image;
}

// A sync point: every image of the current context shows its pixels.
void publishCurrentContext() {
    std::lock_guard<std::mutex> guard(gImagesLock);
    for (auto& entry : gImages) entry.second->publish();
}

}  // namespace

LAYER_EXPORT EGLint eglClientWaitSyncKHR(EGLDisplay dpy, EGLSyncKHR sync, EGLint flags,
                                         EGLTimeKHR timeout) {
    auto wait = (PFNEGLCLIENTWAITSYNCKHRPROC)mesa().getProcAddress("eglClientWaitSyncKHR");
    if (wait == nullptr) return EGL_FALSE;
    EGLint result = wait(dpy, sync, flags, timeout);
    if (result == EGL_CONDITION_SATISFIED_KHR) publishCurrentContext();
    return result;
}

LAYER_EXPORT EGLBoolean eglSwapBuffers(EGLDisplay dpy, EGLSurface surface) {
    auto swap = (PFNEGLSWAPBUFFERSPROC)dlsym(mesa().lib, "eglSwapBuffers");
    EGLBoolean ok = swap ? swap(dpy, surface) : EGL_FALSE;
    publishCurrentContext();
    return ok;
}

LAYER_EXPORT EGLint eglGetError(void) {
    EGLint mesaError = mesa().getError ? mesa().getError() : EGL_NOT_INITIALIZED;
    if (tLayerError != EGL_SUCCESS) {
        EGLint e = tLayerError;
        tLayerError = EGL_SUCCESS;
        return e;
    }
    return mesaError;
}

LAYER_EXPORT EGLImageKHR eglCreateImageKHR(EGLDisplay dpy, EGLContext ctx, EGLenum target,
                                           EGLClientBuffer buffer, const EGLint* attribs) {
    tLayerError = EGL_SUCCESS;
    Mesa& m = mesa();
    if (!m.ok) {
        tLayerError = EGL_NOT_INITIALIZED;
        return EGL_NO_IMAGE_KHR;
    }
    if (target == EGL_NATIVE_BUFFER_ANDROID) return createNativeBufferImage(dpy, ctx, buffer, attribs);
    return m.createImage(dpy, ctx, target, buffer, attribs);
}

LAYER_EXPORT EGLBoolean eglDestroyImageKHR(EGLDisplay dpy, EGLImageKHR image) {
    tLayerError = EGL_SUCCESS;
    Mesa& m = mesa();
    if (!m.ok) {
        tLayerError = EGL_NOT_INITIALIZED;
        return EGL_FALSE;
    }
    TextureBacking* backing = nullptr;
    {
        std::lock_guard<std::mutex> guard(gImagesLock);
        auto it = gImages.find(image);
        if (it != gImages.end()) {
            backing = it->second;
            gImages.erase(it);
        }
    }
    EGLBoolean ok = m.destroyImage(dpy, image);
    if (backing) {
        backing->release();
        delete backing;
    }
    return ok;
}

LAYER_EXPORT __eglMustCastToProperFunctionPointerType eglGetProcAddress(const char* name) {
    if (name && strcmp(name, "eglCreateImageKHR") == 0)
        return (__eglMustCastToProperFunctionPointerType)&eglCreateImageKHR;
    if (name && strcmp(name, "eglDestroyImageKHR") == 0)
        return (__eglMustCastToProperFunctionPointerType)&eglDestroyImageKHR;
    if (name && strcmp(name, "eglGetError") == 0)
        return (__eglMustCastToProperFunctionPointerType)&eglGetError;
    if (name && strcmp(name, "eglClientWaitSyncKHR") == 0)
        return (__eglMustCastToProperFunctionPointerType)&eglClientWaitSyncKHR;
    Mesa& m = mesa();
    return m.getProcAddress ? m.getProcAddress(name) : nullptr;
}
