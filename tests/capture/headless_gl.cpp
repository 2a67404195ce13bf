#include "headless_gl.h"

#include <dlfcn.h>
#include <stdio.h>

#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <GLES/glext.h>
#include <GLES2/gl2.h>

namespace qor {
namespace test {

namespace {

template <typename F>
F egl(const char* name) {
    return reinterpret_cast<F>(HeadlessGl::eglFunction(name));
}

struct OesFbo {
    PFNGLGENFRAMEBUFFERSOESPROC gen;
    PFNGLBINDFRAMEBUFFEROESPROC bind;
    PFNGLDELETEFRAMEBUFFERSOESPROC del;
    PFNGLGENRENDERBUFFERSOESPROC genRb;
    PFNGLBINDRENDERBUFFEROESPROC bindRb;
    PFNGLDELETERENDERBUFFERSOESPROC delRb;
    PFNGLRENDERBUFFERSTORAGEOESPROC storage;
    PFNGLFRAMEBUFFERRENDERBUFFEROESPROC attachRb;
};

const OesFbo& oes() {
    static OesFbo f = {
        (PFNGLGENFRAMEBUFFERSOESPROC)HeadlessGl::procAddress("glGenFramebuffersOES"),
        (PFNGLBINDFRAMEBUFFEROESPROC)HeadlessGl::procAddress("glBindFramebufferOES"),
        (PFNGLDELETEFRAMEBUFFERSOESPROC)HeadlessGl::procAddress("glDeleteFramebuffersOES"),
        (PFNGLGENRENDERBUFFERSOESPROC)HeadlessGl::procAddress("glGenRenderbuffersOES"),
        (PFNGLBINDRENDERBUFFEROESPROC)HeadlessGl::procAddress("glBindRenderbufferOES"),
        (PFNGLDELETERENDERBUFFERSOESPROC)HeadlessGl::procAddress("glDeleteRenderbuffersOES"),
        (PFNGLRENDERBUFFERSTORAGEOESPROC)HeadlessGl::procAddress("glRenderbufferStorageOES"),
        (PFNGLFRAMEBUFFERRENDERBUFFEROESPROC)HeadlessGl::procAddress(
            "glFramebufferRenderbufferOES"),
    };
    return f;
}

uint16_t pack565(int r, int g, int b) { return (uint16_t)((r << 11) | (g << 5) | b); }

}  // namespace

void* HeadlessGl::eglFunction(const char* name) {
    static void* library = dlopen("libEGL.so.1", RTLD_NOW | RTLD_LOCAL);
    return library ? dlsym(library, name) : nullptr;
}

void* HeadlessGl::procAddress(const char* name) {
    auto getProcAddress = egl<PFNEGLGETPROCADDRESSPROC>("eglGetProcAddress");
    return reinterpret_cast<void*>(getProcAddress(name));
}

HeadlessGl::~HeadlessGl() { destroy(); }

bool HeadlessGl::create(int clientVersion, bool surfaces) {
    mVersion = clientVersion;
    mDisplay = egl<PFNEGLGETDISPLAYPROC>("eglGetDisplay")(EGL_DEFAULT_DISPLAY);
    if (!egl<PFNEGLINITIALIZEPROC>("eglInitialize")(mDisplay, nullptr, nullptr)) return false;
    egl<PFNEGLBINDAPIPROC>("eglBindAPI")(EGL_OPENGL_ES_API);
    EGLConfig config = nullptr;
    if (surfaces) {
        EGLint renderable = clientVersion == 1 ? EGL_OPENGL_ES_BIT
                            : clientVersion == 2 ? EGL_OPENGL_ES2_BIT
                                                 : EGL_OPENGL_ES3_BIT_KHR;
        const EGLint attribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                  renderable, EGL_NONE};
        EGLint count = 0;
        egl<PFNEGLCHOOSECONFIGPROC>("eglChooseConfig")(mDisplay, attribs, &config, 1, &count);
        if (count < 1) return false;
        const EGLint size[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
        auto createPbuffer = egl<PFNEGLCREATEPBUFFERSURFACEPROC>("eglCreatePbufferSurface");
        mDraw = createPbuffer(mDisplay, config, size);
        mRead = createPbuffer(mDisplay, config, size);
    }
    const EGLint contextAttribs[] = {EGL_CONTEXT_CLIENT_VERSION, clientVersion, EGL_NONE};
    mContext = egl<PFNEGLCREATECONTEXTPROC>("eglCreateContext")(mDisplay, config, EGL_NO_CONTEXT,
                                                                contextAttribs);
    if (mContext == EGL_NO_CONTEXT) return false;
    return egl<PFNEGLMAKECURRENTPROC>("eglMakeCurrent")(mDisplay, mDraw, mRead, mContext);
}

bool HeadlessGl::makeCurrent() {
    return egl<PFNEGLMAKECURRENTPROC>("eglMakeCurrent")(mDisplay, mDraw, mRead, mContext);
}

void HeadlessGl::destroy() {
    if (mContext == EGL_NO_CONTEXT) return;
    egl<PFNEGLMAKECURRENTPROC>("eglMakeCurrent")(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE,
                                                 EGL_NO_CONTEXT);
    egl<PFNEGLDESTROYCONTEXTPROC>("eglDestroyContext")(mDisplay, mContext);
    auto destroySurface = egl<PFNEGLDESTROYSURFACEPROC>("eglDestroySurface");
    if (mDraw != EGL_NO_SURFACE) destroySurface(mDisplay, mDraw);
    if (mRead != EGL_NO_SURFACE) destroySurface(mDisplay, mRead);
    mContext = EGL_NO_CONTEXT;
    mDraw = mRead = EGL_NO_SURFACE;
}

std::string HeadlessGl::version() const {
    const char* v = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return v ? v : "";
}

uint32_t framebufferBinding(int clientVersion) {
    GLint fbo = 0;
    glGetIntegerv(clientVersion == 1 ? GL_FRAMEBUFFER_BINDING_OES : GL_FRAMEBUFFER_BINDING, &fbo);
    return (uint32_t)fbo;
}

void bindFramebuffer(int clientVersion, uint32_t fbo) {
    if (clientVersion == 1) {
        oes().bind(GL_FRAMEBUFFER_OES, fbo);
    } else {
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    }
}

uint32_t makeScreenFbo(int clientVersion, int w, int h) {
    GLuint fbo = 0, rbo = 0;
    if (clientVersion == 1) {
        oes().gen(1, &fbo);
        oes().bind(GL_FRAMEBUFFER_OES, fbo);
        oes().genRb(1, &rbo);
        oes().bindRb(GL_RENDERBUFFER_OES, rbo);
        oes().storage(GL_RENDERBUFFER_OES, GL_RGBA8_OES, w, h);
        oes().attachRb(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES, rbo);
        oes().bindRb(GL_RENDERBUFFER_OES, 0);
    } else {
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glGenRenderbuffers(1, &rbo);
        glBindRenderbuffer(GL_RENDERBUFFER, rbo);
        glRenderbufferStorage(GL_RENDERBUFFER, 0x8058 /* GL_RGBA8 */, w, h);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rbo);
        glBindRenderbuffer(GL_RENDERBUFFER, 0);
    }
    return fbo;
}

void deleteScreenFbo(int clientVersion, uint32_t fbo) {
    GLuint name = fbo;
    if (clientVersion == 1) {
        oes().del(1, &name);
    } else {
        glDeleteFramebuffers(1, &name);
    }
}

uint16_t pictureTexel(int x, int y, int w, int h) {
    bool right = x >= w / 2, top = y >= h / 2;
    if (!top) return right ? pack565(0, 63, 0) : pack565(31, 0, 0);
    if (!right) return pack565(0, 0, 31);
    int span = w - w / 2 - 1;
    int r = span > 0 ? (x - w / 2) * 31 / span : 0;
    return pack565(r, 32, 31 - r);
}

void drawPicture(int w, int h) {
    glEnable(GL_SCISSOR_TEST);
    auto clear = [](int x, int y, int cw, int ch, uint16_t c) {
        glScissor(x, y, cw, ch);
        glClearColor(((c >> 11) & 31) / 31.0f, ((c >> 5) & 63) / 63.0f, (c & 31) / 31.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    };
    clear(0, 0, w / 2, h / 2, pictureTexel(0, 0, w, h));
    clear(w / 2, 0, w - w / 2, h / 2, pictureTexel(w - 1, 0, w, h));
    clear(0, h / 2, w / 2, h - h / 2, pictureTexel(0, h - 1, w, h));
    for (int x = w / 2; x < w; ++x) clear(x, h / 2, 1, h - h / 2, pictureTexel(x, h - 1, w, h));
    glDisable(GL_SCISSOR_TEST);
}

std::vector<uint16_t> readFramebuffer565(int w, int h) {
    std::vector<uint8_t> rgba((size_t)w * h * 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    std::vector<uint16_t> out((size_t)w * h);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint8_t* p = &rgba[i * 4];
        out[i] = pack565((p[0] * 31 + 127) / 255, (p[1] * 63 + 127) / 255, (p[2] * 31 + 127) / 255);
    }
    return out;
}

int channelStep(uint16_t a, uint16_t b) {
    int dr = abs(((a >> 11) & 31) - ((b >> 11) & 31));
    int dg = abs(((a >> 5) & 63) - ((b >> 5) & 63));
    int db = abs((a & 31) - (b & 31));
    return dr > dg ? (dr > db ? dr : db) : (dg > db ? dg : db);
}

int countMismatches(const uint16_t* frame, int w, int h, bool transposed, std::string* first) {
    int bad = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint16_t want = transposed ? pictureTexel(y, x, h, w) : pictureTexel(x, y, w, h);
            uint16_t got = frame[(size_t)y * w + x];
            if (channelStep(want, got) > 1) {
                if (bad == 0 && first) {
                    char text[96];
                    snprintf(text, sizeof(text), "(%d,%d) want %04x got %04x", x, y, want, got);
                    *first = text;
                }
                ++bad;
            }
        }
    }
    return bad;
}

}  // namespace test
}  // namespace qor
