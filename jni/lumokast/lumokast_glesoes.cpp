// FBO redirection capture on OpenGL ES 1: the same design as the GLES 2
// variant on the OES framebuffer extension, with a fixed-function copy.
#include "lumokast_glesoes.h"

#include <string.h>

#include <GLES/glext.h>

#include "lumokast_glstate.h"
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
    PFNGLISFRAMEBUFFEROESPROC isFramebuffer;
    PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVOESPROC getAttachmentParameter;
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
    lookUp(&gOes.isFramebuffer, "glIsFramebufferOES");
    lookUp(&gOes.getAttachmentParameter, "glGetFramebufferAttachmentParameterivOES");
    return gOes.ok;
}

sfboInfoOES* findFbo(jint fbo) {
    auto it = g_fboMapOES.find((GLuint)fbo);
    return it == g_fboMapOES.end() ? nullptr : it->second.get();
}

// True when the record's framebuffer is still the one the kit made: same
// context, and the name still holds the record's texture and depth buffer.
bool ownsFramebufferOES(const sfboInfoOES* info) {
    if (info->m_context != lumokastCurrentContext() || !gOes.isFramebuffer(info->m_fbo))
        return false;
    GLint saved = qor::queryInt(GL_FRAMEBUFFER_BINDING_OES);
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, info->m_fbo);
    GLint color = 0, depth = 0;
    gOes.getAttachmentParameter(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES,
                                GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_OES, &color);
    gOes.getAttachmentParameter(GL_FRAMEBUFFER_OES, GL_DEPTH_ATTACHMENT_OES,
                                GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME_OES, &depth);
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, (GLuint)saved);
    return (GLuint)color == info->m_texture && (GLuint)depth == info->m_rbo;
}

// Deletes the record's GL objects, unless the names are not the kit's any
// more (a lost context, or a framebuffer deleted behind its back).
void deleteFboOES(sfboInfoOES* info) {
    if (!ownsFramebufferOES(info)) {
        LKLOGD("fbo %u is not ours any more: its names are left alone", info->m_fbo);
        capturerTextureGone(info->m_texture, "its FBO or context is gone");
        return;
    }
    capturerTextureGone(info->m_texture, "its FBO was deleted");
    gOes.deleteFramebuffers(1, &info->m_fbo);
    glDeleteTextures(1, &info->m_texture);
    gOes.deleteRenderbuffers(1, &info->m_rbo);
}

const GLenum kCopyCaps[] = {GL_SCISSOR_TEST, GL_BLEND,          GL_DEPTH_TEST,
                            GL_STENCIL_TEST, GL_CULL_FACE,      GL_ALPHA_TEST,
                            GL_FOG,          GL_COLOR_LOGIC_OP, GL_SAMPLE_ALPHA_TO_COVERAGE};

// Client texture unit 0, with GL_TEXTURE_2D on and GL_REPLACE on server unit
// 0 (which the caller made active); all three put back.
class ScopedUnit0Replace {
public:
    ScopedUnit0Replace() : mClient(qor::queryInt(GL_CLIENT_ACTIVE_TEXTURE)) {
        if (mClient != GL_TEXTURE0) glClientActiveTexture(GL_TEXTURE0);
        mEnabled = glIsEnabled(GL_TEXTURE_2D);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mMode);
        qor::g_glStateQueries += 2;
        if (!mEnabled) glEnable(GL_TEXTURE_2D);
        if (mMode != GL_REPLACE) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    }
    ~ScopedUnit0Replace() {
        if (mMode != GL_REPLACE) glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, mMode);
        if (!mEnabled) glDisable(GL_TEXTURE_2D);
        if (mClient != GL_TEXTURE0) glClientActiveTexture((GLenum)mClient);
    }

private:
    GLint mClient;
    GLboolean mEnabled = GL_FALSE;
    GLint mMode = GL_REPLACE;
};

// The other texture units off (their texturing would combine with the copy's);
// unit 0 is active at both ends.
class ScopedOtherUnitsOff {
public:
    ScopedOtherUnitsOff() {
        static const GLint units = qor::queryInt(GL_MAX_TEXTURE_UNITS);
        mCount = units < kMaxUnits ? units : kMaxUnits;
        for (GLint i = 1; i < mCount; ++i) {
            glActiveTexture(GL_TEXTURE0 + i);
            mWasOn[i] = glIsEnabled(GL_TEXTURE_2D);
            ++qor::g_glStateQueries;
            if (mWasOn[i]) glDisable(GL_TEXTURE_2D);
        }
        if (mCount > 1) glActiveTexture(GL_TEXTURE0);
    }
    ~ScopedOtherUnitsOff() {
        bool changed = false;
        for (GLint i = 1; i < mCount; ++i) {
            if (!mWasOn[i]) continue;
            glActiveTexture(GL_TEXTURE0 + i);
            glEnable(GL_TEXTURE_2D);
            changed = true;
        }
        if (changed) glActiveTexture(GL_TEXTURE0);
    }

private:
    static constexpr GLint kMaxUnits = 8;
    GLint mCount;
    GLboolean mWasOn[kMaxUnits] = {GL_FALSE};
};

// Identity model-view, projection and texture matrices; the game's stacks are
// left at their depth (a full stack could not take a push).
class ScopedIdentityMatrices {
public:
    ScopedIdentityMatrices() : mMode(qor::queryInt(GL_MATRIX_MODE)) {
        for (size_t i = 0; i < kCount; ++i) {
            glGetFloatv(kQueries[i], mSaved[i]);
            ++qor::g_glStateQueries;
            glMatrixMode(kModes[i]);
            glLoadIdentity();
        }
    }
    ~ScopedIdentityMatrices() {
        for (size_t i = 0; i < kCount; ++i) {
            glMatrixMode(kModes[i]);
            glLoadMatrixf(mSaved[i]);
        }
        glMatrixMode((GLenum)mMode);
    }

private:
    static constexpr size_t kCount = 3;
    static constexpr GLenum kModes[kCount] = {GL_MODELVIEW, GL_PROJECTION, GL_TEXTURE};
    static constexpr GLenum kQueries[kCount] = {GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX,
                                                GL_TEXTURE_MATRIX};
    GLint mMode;
    GLfloat mSaved[kCount][16];
};

// One client array of the copy (vertices or texture coordinates) on client
// memory; the game's array is put back as it was.
struct ClientArrayNames {
    GLenum array, size, type, stride, buffer, pointer;
};
const ClientArrayNames kVertexArray = {
    GL_VERTEX_ARRAY,        GL_VERTEX_ARRAY_SIZE,           GL_VERTEX_ARRAY_TYPE,
    GL_VERTEX_ARRAY_STRIDE, GL_VERTEX_ARRAY_BUFFER_BINDING, GL_VERTEX_ARRAY_POINTER};
const ClientArrayNames kTexCoordArray = {GL_TEXTURE_COORD_ARRAY,
                                         GL_TEXTURE_COORD_ARRAY_SIZE,
                                         GL_TEXTURE_COORD_ARRAY_TYPE,
                                         GL_TEXTURE_COORD_ARRAY_STRIDE,
                                         GL_TEXTURE_COORD_ARRAY_BUFFER_BINDING,
                                         GL_TEXTURE_COORD_ARRAY_POINTER};

class ScopedClientArray {
public:
    ScopedClientArray(const ClientArrayNames& names, GLint size, const GLfloat* data)
        : mNames(names) {
        mEnabled = glIsEnabled(names.array);
        mSize = qor::queryInt(names.size);
        mType = qor::queryInt(names.type);
        mStride = qor::queryInt(names.stride);
        mBuffer = qor::queryInt(names.buffer);
        glGetPointerv(names.pointer, &mPointer);
        qor::g_glStateQueries += 2;
        if (!mEnabled) glEnableClientState(names.array);
        set(size, GL_FLOAT, 0, data);
    }
    ~ScopedClientArray() {
        glBindBuffer(GL_ARRAY_BUFFER, (GLuint)mBuffer);  // the pointer is into it
        set(mSize, (GLenum)mType, mStride, mPointer);
        if (!mEnabled) glDisableClientState(mNames.array);
    }

private:
    void set(GLint size, GLenum type, GLsizei stride, const void* pointer) {
        if (mNames.array == GL_VERTEX_ARRAY) {
            glVertexPointer(size, type, stride, pointer);
        } else {
            glTexCoordPointer(size, type, stride, pointer);
        }
    }
    ClientArrayNames mNames;
    GLboolean mEnabled;
    GLint mSize, mType, mStride, mBuffer;
    void* mPointer = nullptr;
};

// A client array the copy must not read (colours would tint it).
class ScopedClientArrayOff {
public:
    explicit ScopedClientArrayOff(GLenum array) : mArray(array), mEnabled(glIsEnabled(array)) {
        ++qor::g_glStateQueries;
        if (mEnabled) glDisableClientState(array);
    }
    ~ScopedClientArrayOff() {
        if (mEnabled) glEnableClientState(mArray);
    }

private:
    GLenum mArray;
    GLboolean mEnabled;
};

// Copies `texture` over the bound framebuffer with the fixed-function
// pipeline; the state the copy needs is set for it and put back after it.
void drawTextureOES(sfboInfoOES* info, GLuint texture) {
    qor::ScopedCapsOff caps(kCopyCaps, sizeof(kCopyCaps) / sizeof(kCopyCaps[0]));
    qor::ScopedCopyTarget target(info->m_width, info->m_height);
    qor::ScopedTextureUnit0 unit(texture);
    ScopedOtherUnitsOff otherUnits;
    ScopedUnit0Replace replace;
    ScopedIdentityMatrices matrices;
    qor::ScopedBufferBinding array(GL_ARRAY_BUFFER, GL_ARRAY_BUFFER_BINDING, 0);
    qor::ScopedBufferBinding elements(GL_ELEMENT_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER_BINDING, 0);
    ScopedClientArray vertices(kVertexArray, 3, kQuad);
    ScopedClientArray coords(kTexCoordArray, 2, kQuadTexCoords);
    ScopedClientArrayOff colors(GL_COLOR_ARRAY);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, kQuadIndices);
}

// Builds the record's framebuffer: a 565 colour texture and a depth
// renderbuffer. Every binding it makes is put back.
GLenum buildFramebufferOES(sfboInfoOES* info, jint width, jint height) {
    GLint screenFbo = qor::queryInt(GL_FRAMEBUFFER_BINDING_OES);
    g_screenfboOES = (GLuint)screenFbo;
    GLint screenRbo = qor::queryInt(GL_RENDERBUFFER_BINDING_OES);
    g_screenrboOES = (GLuint)screenRbo;

    gOes.genFramebuffers(1, &info->m_fbo);
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, info->m_fbo);
    glGenTextures(1, &info->m_texture);
    GLenum status = GL_FRAMEBUFFER_UNSUPPORTED_OES;
    {
        qor::ScopedTextureUnit0 unit(info->m_texture);
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
        gOes.framebufferRenderbuffer(GL_FRAMEBUFFER_OES, GL_DEPTH_ATTACHMENT_OES,
                                     GL_RENDERBUFFER_OES, info->m_rbo);
        status = gOes.checkFramebufferStatus(GL_FRAMEBUFFER_OES);
    }
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, screenFbo);
    gOes.bindRenderbuffer(GL_RENDERBUFFER_OES, screenRbo);
    return status;
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
    info->m_context = lumokastCurrentContext();

    GLenum status = buildFramebufferOES(info.get(), width, height);

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
    sfboInfoOES* info = findFbo(fbo);
    if (info == nullptr) return;
    gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, (GLuint)target);
    if ((GLuint)target == g_screenfboOES) {
        drawTextureOES(info, info->m_texture);
    } else if (sfboInfoOES* targetInfo = findFbo(target)) {
        drawTextureOES(targetInfo, info->m_texture);
        gOes.bindFramebuffer(GL_FRAMEBUFFER_OES, g_screenfboOES);
    }
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
