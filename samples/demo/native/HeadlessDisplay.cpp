#include "HeadlessDisplay.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <GLES2/gl2.h>

namespace qor {
namespace demo {

namespace {

// EGL is taken from Mesa's library itself: the capture library exports EGL
// names of its own, and the game's context must be Mesa's.
void* eglFunction(const char* name) {
    static void* library = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
    return library ? dlsym(library, name) : nullptr;
}

template <typename F>
F egl(const char* name) {
    return reinterpret_cast<F>(eglFunction(name));
}

const GLenum kRgba8 = 0x8058;  // GL_RGBA8 (OES_rgb8_rgba8 on GLES 2)

}  // namespace

bool HeadlessDisplay::fail(const std::string& what) {
    char code[32];
    auto getError = egl<EGLint (*)()>("eglGetError");
    snprintf(code, sizeof(code), " (EGL error 0x%x)", getError ? getError() : 0);
    mError = what + code;
    close();
    return false;
}

bool HeadlessDisplay::open(int width, int height) {
    // No window system here: Mesa renders into memory.
    setenv("EGL_PLATFORM", "surfaceless", 0);
    if (eglFunction("eglGetDisplay") == nullptr) {
        mError = "cannot open libEGL.so.1";
        return false;
    }
    mDisplay = egl<PFNEGLGETDISPLAYPROC>("eglGetDisplay")(EGL_DEFAULT_DISPLAY);
    if (mDisplay == EGL_NO_DISPLAY ||
        !egl<PFNEGLINITIALIZEPROC>("eglInitialize")(mDisplay, nullptr, nullptr)) {
        return fail("no EGL display");
    }
    egl<PFNEGLBINDAPIPROC>("eglBindAPI")(EGL_OPENGL_ES_API);
    auto createContext = egl<PFNEGLCREATECONTEXTPROC>("eglCreateContext");
    for (EGLint version : {3, 2}) {
        const EGLint attribs[] = {EGL_CONTEXT_CLIENT_VERSION, version, EGL_NONE};
        // A context without a config or surfaces (EGL_KHR_no_config_context,
        // EGL_KHR_surfaceless_context): the screen is a framebuffer object.
        mContext = createContext(mDisplay, nullptr, EGL_NO_CONTEXT, attribs);
        if (mContext != EGL_NO_CONTEXT) break;
    }
    if (mContext == EGL_NO_CONTEXT) return fail("no OpenGL ES 2 or 3 context");
    if (!egl<PFNEGLMAKECURRENTPROC>("eglMakeCurrent")(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE,
                                                       mContext)) {
        return fail("cannot make the context current");
    }

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    if (width <= 0 || height <= 0 || width > maxSize || height > maxSize) {
        mError = "screen size out of range";
        close();
        return false;
    }
    GLuint fbo = 0, rbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glGenRenderbuffers(1, &rbo);
    glBindRenderbuffer(GL_RENDERBUFFER, rbo);
    glRenderbufferStorage(GL_RENDERBUFFER, kRgba8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rbo);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    mScreenFbo = fbo;
    mScreenRbo = rbo;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        mError = "the screen framebuffer is incomplete";
        close();
        return false;
    }
    glViewport(0, 0, width, height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

void HeadlessDisplay::close() {
    if (mContext == EGL_NO_CONTEXT) {
        if (mDisplay != EGL_NO_DISPLAY) egl<PFNEGLTERMINATEPROC>("eglTerminate")(mDisplay);
        mDisplay = EGL_NO_DISPLAY;
        return;
    }
    if (mScreenFbo != 0) {
        GLuint fbo = mScreenFbo, rbo = mScreenRbo;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &fbo);
        glDeleteRenderbuffers(1, &rbo);
        mScreenFbo = mScreenRbo = 0;
    }
    egl<PFNEGLMAKECURRENTPROC>("eglMakeCurrent")(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE,
                                                 EGL_NO_CONTEXT);
    egl<PFNEGLDESTROYCONTEXTPROC>("eglDestroyContext")(mDisplay, mContext);
    mContext = EGL_NO_CONTEXT;
    egl<PFNEGLTERMINATEPROC>("eglTerminate")(mDisplay);
    mDisplay = EGL_NO_DISPLAY;
}

std::string HeadlessDisplay::glVersion() const {
    if (mContext == EGL_NO_CONTEXT) return "";
    const char* v = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return v ? v : "";
}

}  // namespace demo
}  // namespace qor
