// GraphicBuffer capturer: the capture FBO's texture shares its pixels with a
// GraphicBuffer through an EGLImage, so a frame is read with a lock and one
// copy. EGL is reached through shims over the library named by "LIBEGL".
#include "lumokast_egl.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <ui/PixelFormat.h>

#include "lumokast_glstate.h"
#include "lumokast_log.h"

using android::GraphicBuffer;
using android::sp;

#ifndef EGL_NATIVE_BUFFER_ANDROID
#define EGL_NATIVE_BUFFER_ANDROID 0x3140
#endif

namespace {
// The game renders into the buffer (through its texture's FBO) and the CPU
// reads it: render and texture bits plus read-often; writeLock adds
// write-often for a CPU write path.
const uint32_t kCreateUsageRead = 0x303;  // HW_RENDER | HW_TEXTURE | SW_READ_OFTEN
const uint32_t kCreateUsageWrite = kCreateUsageRead | 0x30;  // ... | SW_WRITE_OFTEN
const uint32_t kLockUsageRead = 0x03;                        // SW_READ_OFTEN
const EGLint kImageAttribs[] = {EGL_IMAGE_PRESERVED_KHR, EGL_TRUE, EGL_NONE, EGL_NONE};
}  // namespace

sp<GraphicBuffer> g_graphicBuffer;
EGLImageKHR g_eglImage = EGL_NO_IMAGE_KHR;
int g_capturerReady = 0;
uint8_t g_rebindRequested = 0;
// Where the ready capturer's image is attached, to see when that is gone.
static EGLContext g_capturerContext = EGL_NO_CONTEXT;
static GLuint g_capturerTexture = 0;
static const char* g_capturerTextureGone = nullptr;  // why, once known
uint8_t g_swapToggle = 0;

// Opened on first use and never closed: the shims are called up to the
// process's end.
static void* eglLibrary() {
    static void* library = nullptr;
    if (library == nullptr) {
        const char* path = getenv("LIBEGL");
        library = dlopen(path ? path : "libEGL.so", RTLD_LAZY);
    }
    return library;
}

// The platform function of that name, looked up at every call.
template <typename F>
static F eglFunction(const char* name) {
    void* library = eglLibrary();
    return library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
}

void* lumokastGetProcAddress(const char* name) {
    auto getProcAddress = eglFunction<PFNEGLGETPROCADDRESSPROC>("eglGetProcAddress");
    return getProcAddress ? reinterpret_cast<void*>(getProcAddress(name)) : nullptr;
}

extern "C" {

EGLint eglGetError(void) {
    auto f = eglFunction<PFNEGLGETERRORPROC>("eglGetError");
    return f ? f() : 0;
}

EGLDisplay eglGetDisplay(EGLNativeDisplayType) {
    auto f = eglFunction<PFNEGLGETDISPLAYPROC>("eglGetDisplay");
    return f ? f(EGL_DEFAULT_DISPLAY) : EGL_NO_DISPLAY;
}

EGLDisplay eglGetCurrentDisplay(void) {
    auto f = eglFunction<PFNEGLGETCURRENTDISPLAYPROC>("eglGetCurrentDisplay");
    return f ? f() : EGL_NO_DISPLAY;
}

EGLSurface eglGetCurrentSurface(EGLint readdraw) {
    auto f = eglFunction<PFNEGLGETCURRENTSURFACEPROC>("eglGetCurrentSurface");
    return f ? f(readdraw) : EGL_NO_SURFACE;
}

EGLBoolean eglSwapBuffers(EGLDisplay dpy, EGLSurface surface) {
    auto f = eglFunction<PFNEGLSWAPBUFFERSPROC>("eglSwapBuffers");
    return f ? f(dpy, surface) : EGL_FALSE;
}

EGLBoolean eglDestroyImageKHR(EGLDisplay dpy, EGLImageKHR image) {
    auto f = eglFunction<PFNEGLDESTROYIMAGEKHRPROC>("eglDestroyImageKHR");
    return f ? f(dpy, image) : EGL_FALSE;
}

EGLBoolean nativeSwapBuffers(void) {
    g_swapToggle ^= 1;
    EGLint which = g_swapToggle ? EGL_DRAW : EGL_READ;
    return eglSwapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(which));
}

}  // extern "C"

EGLContext lumokastCurrentContext() {
    auto f = eglFunction<PFNEGLGETCURRENTCONTEXTPROC>("eglGetCurrentContext");
    return f ? f() : EGL_NO_CONTEXT;
}

void capturerTextureGone(GLuint texture, const char* why) {
    if (g_capturerReady && texture == g_capturerTexture) g_capturerTextureGone = why;
}

// True when the space-separated `list` holds `name` as a whole token.
static bool hasToken(const char* list, const char* name) {
    const size_t n = strlen(name);
    for (const char* p = list; (p = strstr(p, name)) != nullptr; p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    }
    return false;
}

struct FenceSync {
    PFNEGLCREATESYNCKHRPROC create;
    PFNEGLCLIENTWAITSYNCKHRPROC wait;
    PFNEGLDESTROYSYNCKHRPROC destroy;
};

// The fence functions where the display offers EGL_KHR_fence_sync (looked up
// once; null members otherwise).
static const FenceSync& fenceSync(EGLDisplay display) {
    static FenceSync fence = [display] {
        FenceSync f = {nullptr, nullptr, nullptr};
        auto query = eglFunction<PFNEGLQUERYSTRINGPROC>("eglQueryString");
        const char* extensions = query ? query(display, EGL_EXTENSIONS) : nullptr;
        if (extensions && hasToken(extensions, "EGL_KHR_fence_sync")) {
            f.create = (PFNEGLCREATESYNCKHRPROC)lumokastGetProcAddress("eglCreateSyncKHR");
            f.wait = (PFNEGLCLIENTWAITSYNCKHRPROC)lumokastGetProcAddress("eglClientWaitSyncKHR");
            f.destroy = (PFNEGLDESTROYSYNCKHRPROC)lumokastGetProcAddress("eglDestroySyncKHR");
        }
        LKLOGD("GPU sync before the lock: %s",
               f.create && f.wait && f.destroy ? "EGL fence" : "glFinish");
        return f;
    }();
    return fence;
}

// The CPU must see the frame the GPU was asked to render, not a partial or
// previous one: a waited EGL fence, or glFinish where there is none.
static void syncGpuBeforeLock() {
    EGLDisplay display = eglGetCurrentDisplay();
    const FenceSync& f = fenceSync(display);
    if (f.create && f.wait && f.destroy) {
        EGLSyncKHR sync = f.create(display, EGL_SYNC_FENCE_KHR, nullptr);
        if (sync != EGL_NO_SYNC_KHR) {
            f.wait(display, sync, EGL_SYNC_FLUSH_COMMANDS_BIT_KHR, EGL_FOREVER_KHR);
            f.destroy(display, sync);
            return;
        }
    }
    glFinish();
}

// Copies w x h RGB565 pixels out of rows `stride` pixels apart (gralloc pads
// rows) into tightly packed rows.
static void copyRows(void* dst, const void* src, int width, int height, int stride) {
    const size_t row = (size_t)width * 2;
    if (stride == width) {
        memcpy(dst, src, row * height);
        return;
    }
    const uint8_t* in = static_cast<const uint8_t*>(src);
    uint8_t* out = static_cast<uint8_t*>(dst);
    for (int y = 0; y < height; ++y) memcpy(out + row * y, in + (size_t)stride * 2 * y, row);
}

// Why the ready capturer cannot capture any more, or null.
static const char* capturerStaleReason() {
    if (g_capturerTextureGone) return g_capturerTextureGone;
    if (lumokastCurrentContext() != g_capturerContext) return "its context is gone";
    if (!glIsTexture(g_capturerTexture)) return "its texture is gone";
    return nullptr;
}

// Drops a stale capturer so that the next capture makes it anew; logged once
// (the next capture makes a fresh one or fails with its own log line).
static void dropStaleCapturer() {
    const char* reason = capturerStaleReason();
    if (reason == nullptr) return;
    LKLOGD("capturer stale (%s): made anew", reason);
    nativeStopCapturer(nullptr, nullptr);
}

static PFNGLEGLIMAGETARGETTEXTURE2DOESPROC imageTargetTexture2D() {
    static PFNGLEGLIMAGETARGETTEXTURE2DOESPROC fn = nullptr;
    if (fn == nullptr) {
        fn = reinterpret_cast<PFNGLEGLIMAGETARGETTEXTURE2DOESPROC>(
            lumokastGetProcAddress("glEGLImageTargetTexture2DOES"));
    }
    return fn;
}

void nativeInitCapturer(JNIEnv*, jobject, jint width, jint height, jint texture,
                        jboolean writeLock) {
    if (g_capturerReady) return;
    qor::ScopedActiveTextureBinding keepBinding;  // the texture is bound to attach the image
    bool write = (writeLock & 0xFF) != 0;
    LKLOGD("width(%d) height(%d)", width, height);

    if (g_graphicBuffer == nullptr) {
        LKLOGD("writeLock: %s", write ? "true" : "false");
        errno = 0;
        g_graphicBuffer =
            new (std::nothrow) GraphicBuffer(width, height, android::PIXEL_FORMAT_RGB_565,
                                             write ? kCreateUsageWrite : kCreateUsageRead);
        if (g_graphicBuffer == nullptr) {
            LKLOGD("create GraphicBuffer failed: %s(%d)", strerror(errno), errno);
            return;
        }
    }
    android::status_t status = g_graphicBuffer->initCheck();
    if (status != android::NO_ERROR) {
        LKLOGD("Error: %s", strerror(-status));
        return;
    }
    LKLOGD("create GraphicBuffer successful");
    errno = 0;
    ANativeWindowBuffer* nativeBuffer = g_graphicBuffer->getNativeBuffer();
    if (nativeBuffer == nullptr) {
        LKLOGD("getNativeBuffer failed: %s(%d)", strerror(errno), errno);
        return;
    }
    LKLOGD("getNativeBuffer successful");

    if (g_eglImage == EGL_NO_IMAGE_KHR) {
        EGLDisplay display = eglGetCurrentDisplay();
        auto createImage = eglFunction<PFNEGLCREATEIMAGEKHRPROC>("eglCreateImageKHR");
        errno = 0;
        EGLImageKHR image = EGL_NO_IMAGE_KHR;
        if (createImage) {
            image = createImage(display, EGL_NO_CONTEXT, EGL_NATIVE_BUFFER_ANDROID,
                                (EGLClientBuffer)nativeBuffer, kImageAttribs);
        }
        if (image == EGL_NO_IMAGE_KHR) {
            int err = errno;
            LKLOGD("eglCreateImageKHR failed: %s(%d) glGetError(%d)", strerror(err), err,
                   eglGetError());
            return;
        }
        g_eglImage = image;
    }
    LKLOGD("eglCreateImageKHR successful image %p", g_eglImage);

    glBindTexture(GL_TEXTURE_2D, texture);
    LKLOGD("glBindTexture successful image err(%d)", glGetError());

    PFNGLEGLIMAGETARGETTEXTURE2DOESPROC attach = imageTargetTexture2D();
    if (attach == nullptr) {
        LKLOGD("glEGLImageTargetTexture2DOES not found");
        return;
    }
    attach(GL_TEXTURE_2D, (GLeglImageOES)g_eglImage);
    EGLint eglError = eglGetError();
    // A refused attachment shows as a GL error; EGL reports nothing for it.
    GLenum glError = glGetError();
    if (eglError == EGL_SUCCESS && glError == GL_NO_ERROR) {
        g_capturerReady = 1;
        g_capturerContext = lumokastCurrentContext();
        g_capturerTexture = (GLuint)texture;
        g_capturerTextureGone = nullptr;
        return;
    }
    if (eglError != EGL_SUCCESS) {
        LKLOGD("glEGLImageTargetTexture2DOES successful image err(%d)", eglError);
    } else {
        LKLOGD("glEGLImageTargetTexture2DOES failed glGetError(%d)", glError);
    }
}

void captureFrameInto(jint width, jint height, jint texture, jboolean writeLock,
                      const DirectBuffer& dst) {
    if (g_capturerReady) dropStaleCapturer();
    if (!g_capturerReady) {
        nativeInitCapturer(nullptr, nullptr, width, height, texture, writeLock);
    } else if (g_rebindRequested) {
        qor::ScopedActiveTextureBinding keepBinding;
        glBindTexture(GL_TEXTURE_2D, texture);
        PFNGLEGLIMAGETARGETTEXTURE2DOESPROC attach = imageTargetTexture2D();
        if (attach) attach(GL_TEXTURE_2D, (GLeglImageOES)g_eglImage);
        g_capturerTexture = (GLuint)texture;
    }
    if (!g_capturerReady) return;

    if (dst.address == nullptr) return;
    int64_t bytes = (int64_t)width * height * 2;
    // The copy is one block from the start of the buffer: it must fit both.
    int64_t available = (int64_t)g_graphicBuffer->getStride() * g_graphicBuffer->getHeight() * 2;
    // Rows are copied one stride apart: the frame must fit its rows too.
    if (width < 0 || height < 0 || bytes > available || width > (int)g_graphicBuffer->getStride() ||
        height > (int)g_graphicBuffer->getHeight()) {
        LKLOGD("frame %dx%d larger than the GraphicBuffer (%lld bytes)", width, height,
               (long long)available);
        return;
    }
    if (!directBufferFits(dst, bytes)) return;
    syncGpuBeforeLock();
    // A capture reads: a read lock whatever writeLock says.
    void* pixels = nullptr;
    if (g_graphicBuffer->lock(kLockUsageRead, &pixels) != android::NO_ERROR || pixels == nullptr) {
        LKLOGD("GraphicBuffer lock failed");
        return;
    }
    copyRows(dst.address, pixels, width, height, (int)g_graphicBuffer->getStride());
    g_graphicBuffer->unlock();
}

void nativeCaptureFrame(JNIEnv* env, jobject, jint width, jint height, jint texture,
                        jboolean writeLock, jobject buffer) {
    captureFrameInto(width, height, texture, writeLock, directBufferOf(env, buffer));
}

void nativeReBindGraphicBuffer(JNIEnv*, jobject) {
    if (g_capturerReady) g_rebindRequested = 1;
}

void nativeStopCapturer(JNIEnv*, jobject) {
    if (g_eglImage != EGL_NO_IMAGE_KHR) {
        eglDestroyImageKHR(eglGetCurrentDisplay(), g_eglImage);
        g_eglImage = EGL_NO_IMAGE_KHR;
    }
    g_graphicBuffer.clear();
    LKLOGD("eglDestroyImageKHR successful");
    g_capturerReady = 0;
    g_capturerTextureGone = nullptr;
}
