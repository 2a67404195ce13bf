// FBO redirection capture on OpenGL ES 1: the same design as the GLES 2
// variant on the OES framebuffer extension, with a fixed-function copy.
#include "lumokast_glesoes.h"

#include <string.h>

#include <GLES/glext.h>

#include "lumokast_log.h"

std::map<GLuint, std::unique_ptr<sfboInfoOES>> g_fboMapOES;
GLuint g_screenfboOES = 0;
GLuint g_screenrboOES = 0;

namespace {

const GLfloat kQuad[] = {-1.0f, -1.0f, 1.0f, 1.0f, -1.0f, 1.0f,
                         -1.0f, 1.0f,  1.0f, 1.0f, 1.0f,  1.0f};
const GLfloat kQuadTexCoords[] = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f};
const GLushort kQuadIndices[] = {0, 1, 3, 0, 3, 2};

// The extension's functions: the platform's GLES 1 library may not export
// them (Mesa's does not), so they come from eglGetProcAddress.
struct OesFramebuffer {
    PFNGLGENFRAMEBUFFERSOESPROC genFramebuffers;
    PFNGLBINDFRAMEBUFFEROESPROC bindFramebuffer;
    PFNGLDELETEFRAMEBUFFERSOESPROC deleteFramebuffers;
    PFNGLFRAMEBUFFERTEXTURE2DOESPROC framebufferTexture2D;
    PFNGLGENRENDERBUFFERSOESPROC genRenderbuffers;
    PFNGLBINDRENDERBUFFEROESPROC bindRenderbuffer;
    PFNGLDELETERENDERBUFFERSOESPROC deleteRenderbuffers;
    PFNGLRENDERBUFFERSTORAGEOESPROC renderbufferStorage;
    PFNGLFRAMEBUFFERRENDERBUFFEROESPROC framebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSOESPROC checkFramebufferStatus;
    bool ok;
};

OesFramebuffer gOes;

template <typename F>
void lookUp(F* out, const char* name) {
    *out = reinterpret_cast<F>(lumokastGetProcAddress(name));
    gOes.ok = gOes.ok && *out != nullptr;
}

// True once every entry point is known; tried again while one is missing.
bool oesReady() {
    if (gOes.ok) return true;
    gOes.ok = true;
    lookUp(&gOes.genFramebuffers, "glGenFramebuffersOES");
    lookUp(&gOes.bindFramebuffer, "glBindFramebufferOES");
    lookUp(&gOes.deleteFramebuffers, "glDeleteFramebuffersOES");
    lookUp(&gOes.framebufferTexture2D, "glFramebufferTexture2DOES");
    lookUp(&gOes.genRenderbuffers, "glGenRenderbuffersOES");
    lookUp(&gOes.bindRenderbuffer, "glBindRenderbufferOES");
    lookUp(&gOes.deleteRenderbuffers, "glDeleteRenderbuffersOES");
    lookUp(&gOes.renderbufferStorage, "glRenderbufferStorageOES");
    lookUp(&gOes.framebufferRenderbuffer, "glFramebufferRenderbufferOES");
    lookUp(&gOes.checkFramebufferStatus, "glCheckFramebufferStatusOES");
    return gOes.ok;
}

sfboInfoOES* findFbo(jint fbo) {
    auto it = g_fboMapOES.find((GLuint)fbo);
    return it == g_fboMapOES.end() ? nullptr : it->second.get();
}

void deleteFboOES(sfboInfoOES* info) {
    gOes.deleteFramebuffers(1, &info->m_fbo);
    glDeleteTextures(1, &info->m_texture);
    gOes.deleteRenderbuffers(1, &info->m_rbo);
}

void drawTextureOES(sfboInfoOES* info) {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glViewport(0, 0, info->m_width, info->m_height);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, kQuad);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, (GLfloat)GL_REPLACE);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, 0, kQuadTexCoords);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, kQuadIndices);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);
}

}  // namespace

jint nativePrepareFboOES(JNIEnv*, jobject, jint width, jint height, jfloat ratioA, jfloat ratioB) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_OES, &maxSize);
    if (!(width < maxSize && height < maxSize)) return -1;
    if (width <= 0 || height <= 0) return -1;
    if (!oesReady()) {
        LKLOGD("OES framebuffer functions not found");
        return -1;
    }

    auto info = std::make_unique<sfboInfoOES>();  // zeroed

    GLint screenFbo = 0, activeTexture = 0, screenRbo = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_OES, &screenFbo);
    g_screenfboOES = (GLuint)screenFbo;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
    glGetIntegerv(GL_RENDERBUFFER_BINDING_OES, &screenRbo);
    g_screenrboOES = (GLuint)screenRbo;

    gOes.genFramebuffers(1, &info->m_fbo);
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, info->m_fbo);
    glEnable(GL_TEXTURE_2D);

    glGenTextures(1, &info->m_texture);
    glBindTexture(GL_TEXTURE_2D, info->m_texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5,
                 nullptr);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, (GLfloat)GL_CLAMP_TO_EDGE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, (GLfloat)GL_CLAMP_TO_EDGE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, (GLfloat)GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, (GLfloat)GL_LINEAR);
    gOes.framebufferTexture2D(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_TEXTURE_2D,
                              info->m_texture, 0);

    gOes.genRenderbuffers(1, &info->m_rbo);
    gOes.bindRenderbuffer(GL_RENDERBUFFER_OES, info->m_rbo);
    gOes.renderbufferStorage(GL_RENDERBUFFER_OES, GL_DEPTH_COMPONENT16_OES, width, height);
    gOes.framebufferRenderbuffer(GL_FRAMEBUFFER_OES, GL_DEPTH_ATTACHMENT_OES, GL_RENDERBUFFER_OES,
                                 info->m_rbo);

    GLenum status = gOes.checkFramebufferStatus(GL_FRAMEBUFFER_OES);
    glActiveTexture(activeTexture);
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, screenFbo);
    gOes.bindRenderbuffer(GL_RENDERBUFFER_OES, screenRbo);

    if (status != GL_FRAMEBUFFER_COMPLETE_OES) {
        deleteFboOES(info.get());
        return -1;
    }
    info->m_width = width;
    info->m_height = height;
    info->m_ratioA = ratioA;
    info->m_ratioB = ratioB;
    const GLuint name = info->m_fbo;
    std::unique_ptr<sfboInfoOES>& record = g_fboMapOES[name];
    if (record) LKLOGD("replacing stale record of fbo %u", name);
    record = std::move(info);
    LKLOGD(" nativePrepareFbo fboInfo->m_fbo ======%d", name);
    LKLOGD(" nativePrepareFbo g_screenrbo ======%d", g_screenrboOES);
    LKLOGD(" nativePrepareFbo g_screenfbo ======%d", g_screenfboOES);
    return name;
}

void nativeBineFboOES(JNIEnv*, jobject, jint fbo) {
    sfboInfoOES* info = findFbo(fbo);
    if (info) gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, info->m_fbo);
}

void nativeUnbineFboOES(JNIEnv*, jobject, jint fbo, jint target) {
    glPushMatrix();
    sfboInfoOES* info = findFbo(fbo);
    if (info) {
        gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, (GLuint)target);
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, info->m_texture);
        if ((GLuint)target == g_screenfboOES) {
            drawTextureOES(info);
        } else if (sfboInfoOES* targetInfo = findFbo(target)) {
            drawTextureOES(targetInfo);
            gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, g_screenfboOES);
        }
    }
    glPopMatrix();
}

void nativeDeleteFboOES(JNIEnv*, jobject, jint fbo) {
    auto it = g_fboMapOES.find((GLuint)fbo);
    if (it == g_fboMapOES.end()) return;
    deleteFboOES(it->second.get());
    g_fboMapOES.erase(it);
}

void nativeDeleteAllFboOES(JNIEnv*, jobject) {
    for (auto& entry : g_fboMapOES) deleteFboOES(entry.second.get());
    g_fboMapOES.clear();
}

jint nativeGetTextureByFboOES(JNIEnv*, jobject, jint fbo) {
    sfboInfoOES* info = findFbo(fbo);
    return info ? (jint)info->m_texture : -1;
}

void nativeSetScreenFboOES(JNIEnv*, jobject, jint fbo) { g_screenfboOES = (GLuint)fbo; }

void nativeSetScreenRboOES(JNIEnv*, jobject, jint rbo) { g_screenrboOES = (GLuint)rbo; }

void captureFrameByfboOESInto(jint fbo, jboolean writeLock, const DirectBuffer& dst) {
    sfboInfoOES* info = findFbo(fbo);
    if (info) captureFrameInto(info->m_width, info->m_height, info->m_texture, writeLock, dst);
}

void nativeCaptureFrameByfboOES(JNIEnv* env, jobject, jint fbo, jboolean writeLock,
                                jobject buffer) {
    captureFrameByfboOESInto(fbo, writeLock, directBufferOf(env, buffer));
}
