// FBO redirection capture on OpenGL ES 2: the game draws into an FBO of ours,
// a textured quad copies it back to the screen, and the picture is read out
// through the GraphicBuffer or, on GLES 3, through a pixel-pack buffer.
#include "lumokast_gles.h"

#include <string.h>

#include "gl3stub.h"
#include "lumokast_glstate.h"
#include "lumokast_log.h"

std::map<GLuint, std::unique_ptr<sfboInfo>> g_fboMap;
GLuint g_screenfbo = 0;
GLuint g_screenrbo = 0;
GLint g_savedProgram = 0;

int g_es3Checked = 0;
int g_isOpenglES3 = 0;
GLuint g_pbo = 0;
int32_t g_pboSize = 0;
static EGLContext g_pboContext = EGL_NO_CONTEXT;

namespace {

const GLfloat kQuad[] = {-1.0f, 1.0f,  0.0f, -1.0f, -1.0f, 0.0f,
                         1.0f,  -1.0f, 0.0f, 1.0f,  1.0f,  0.0f};
const GLushort kQuadIndices[] = {0, 1, 2, 2, 3, 0};

const char kVertexShader[] =
    "uniform mat4 u_MVPMatrix;\n"
    "attribute vec3 a_position;\n"
    "uniform mat4 um4MVP;\t\t\n"
    "varying mediump vec2 v_texCoord;\n"
    "void main() {\n"
    "    gl_Position = um4MVP * vec4(a_position,1.0);\n"
    "    v_texCoord = 0.5 * (a_position.xy + vec2(1.0, 1.0));\n"
    "}";
const char kFragmentShader[] =
    "varying lowp vec2 v_texCoord;\n"
    "uniform sampler2D u_texture;\n"
    "void main() {\n"
    "   gl_FragColor = texture2D(u_texture, v_texCoord);\n"
    "}";

sfboInfo* findFbo(jint fbo) {
    auto it = g_fboMap.find((GLuint)fbo);
    return it == g_fboMap.end() ? nullptr : it->second.get();
}

// True when the record's framebuffer is still the one the kit made: same
// context, and the name still holds the record's texture and depth buffer.
bool ownsFramebuffer(const sfboInfo* info) {
    if (info->m_context != lumokastCurrentContext() || !glIsFramebuffer(info->m_fbo)) return false;
    const bool es3 = qor::isEs3Context();
    const GLenum target = es3 ? GL_READ_FRAMEBUFFER : GL_FRAMEBUFFER;
    GLint saved = qor::queryInt(es3 ? GL_READ_FRAMEBUFFER_BINDING : GL_FRAMEBUFFER_BINDING);
    glBindFramebuffer(target, info->m_fbo);
    GLint color = 0, depth = 0;
    glGetFramebufferAttachmentParameteriv(target, GL_COLOR_ATTACHMENT0,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &color);
    glGetFramebufferAttachmentParameteriv(target, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &depth);
    glBindFramebuffer(target, (GLuint)saved);
    return (GLuint)color == info->m_texture && (GLuint)depth == info->m_rbo;
}

// Deletes the record's GL objects, unless the names are not the kit's any
// more (a lost context, or a framebuffer deleted behind its back).
void deleteFbo(sfboInfo* info) {
    if (!ownsFramebuffer(info)) {
        LKLOGD("fbo %u is not ours any more: its names are left alone", info->m_fbo);
        capturerTextureGone(info->m_texture, "its FBO or context is gone");
        return;
    }
    capturerTextureGone(info->m_texture, "its FBO was deleted");
    if (info->m_program) glDeleteProgram(info->m_program);
    glDeleteFramebuffers(1, &info->m_fbo);
    glDeleteTextures(1, &info->m_texture);
    glDeleteRenderbuffers(1, &info->m_rbo);
}

void loadShader(GLenum type, const char* source, GLuint* out) {
    GLuint shader = glCreateShader(type);
    if (shader == 0) return;
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled) {
        *out = shader;
    } else {
        glDeleteShader(shader);
    }
}

void loadProgram(const char* vertexSource, const char* fragmentSource, GLuint* out) {
    GLuint vertex = 0, fragment = 0;
    loadShader(GL_VERTEX_SHADER, vertexSource, &vertex);
    loadShader(GL_FRAGMENT_SHADER, fragmentSource, &fragment);
    GLuint program = vertex && fragment ? glCreateProgram() : 0;
    if (program != 0) {
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (linked) {
            *out = program;
        } else {
            glDeleteProgram(program);
        }
    }
    // Attached shaders go with the program; the others go now.
    if (vertex) glDeleteShader(vertex);
    if (fragment) glDeleteShader(fragment);
}

void initDrwProgram(sfboInfo* info) {
    loadProgram(kVertexShader, kFragmentShader, &info->m_program);
    if (info->m_program == 0) {
        // Built once per record: a failure is not retried every frame.
        info->m_programFailed = true;
        LKLOGE("the copy's program could not be built");
        return;
    }
    info->m_positionLoc = glGetAttribLocation(info->m_program, "a_position");
    info->m_mvpLoc = glGetUniformLocation(info->m_program, "um4MVP");
    info->m_textureLoc = glGetUniformLocation(info->m_program, "u_texture");
}

// The copy's caps off; the last one exists on GLES 3 only.
const GLenum kCopyCaps[] = {GL_SCISSOR_TEST,      GL_BLEND,     GL_DEPTH_TEST,
                            GL_STENCIL_TEST,      GL_CULL_FACE, GL_SAMPLE_ALPHA_TO_COVERAGE,
                            GL_RASTERIZER_DISCARD};
const size_t kCopyCapsEs2 = sizeof(kCopyCaps) / sizeof(kCopyCaps[0]) - 1;

// GLES 3: the copy draws with vertex array 0 and no sampler on unit 0, so the
// game's vertex array and sampler are neither used nor changed.
class ScopedEs3Copy {
public:
    explicit ScopedEs3Copy(bool es3) : mEs3(es3) {
        if (!mEs3) return;
        mVertexArray = qor::queryInt(GL_VERTEX_ARRAY_BINDING);
        mSampler = qor::queryInt(GL_SAMPLER_BINDING);  // unit 0 is active
        if (mVertexArray) glBindVertexArray(0);
        if (mSampler) glBindSampler(0, 0);
    }
    ~ScopedEs3Copy() {
        if (!mEs3) return;
        if (mSampler) glBindSampler(0, (GLuint)mSampler);
        if (mVertexArray) glBindVertexArray((GLuint)mVertexArray);
    }

private:
    bool mEs3;
    GLint mVertexArray = 0;
    GLint mSampler = 0;
};

// The copy's position attribute on the quad in client memory; puts back the
// attribute as the bound vertex array had it.
class ScopedCopyAttrib {
public:
    ScopedCopyAttrib(GLuint loc, bool es3) : mLoc(loc), mEs3(es3) {
        glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &mEnabled);
        glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_SIZE, &mSize);
        glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_TYPE, &mType);
        glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &mNormalized);
        glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &mStride);
        glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &mBuffer);
        glGetVertexAttribPointerv(loc, GL_VERTEX_ATTRIB_ARRAY_POINTER, &mPointer);
        qor::g_glStateQueries += 7;
        if (mEs3) {
            glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_INTEGER, &mInteger);
            glGetVertexAttribiv(loc, GL_VERTEX_ATTRIB_ARRAY_DIVISOR, &mDivisor);
            qor::g_glStateQueries += 2;
            if (mDivisor) glVertexAttribDivisor(loc, 0);
        }
        glEnableVertexAttribArray(loc);
        glVertexAttribPointer(loc, 3, GL_FLOAT, GL_FALSE, 0, kQuad);
    }
    ~ScopedCopyAttrib() {
        // The pointer names an offset into the buffer bound at the call.
        glBindBuffer(GL_ARRAY_BUFFER, (GLuint)mBuffer);
        if (mInteger) {
            glVertexAttribIPointer(mLoc, mSize, (GLenum)mType, mStride, mPointer);
        } else {
            glVertexAttribPointer(mLoc, mSize, (GLenum)mType, (GLboolean)mNormalized, mStride,
                                  mPointer);
        }
        if (mDivisor) glVertexAttribDivisor(mLoc, (GLuint)mDivisor);
        if (!mEnabled) glDisableVertexAttribArray(mLoc);
    }

private:
    GLuint mLoc;
    bool mEs3;
    GLint mEnabled = 0, mSize = 4, mType = GL_FLOAT, mNormalized = 0, mStride = 0;
    GLint mBuffer = 0, mInteger = 0, mDivisor = 0;
    void* mPointer = nullptr;
};

// Rows of 565 pixels packed back to back, whatever the game's pixel store.
class ScopedTightPacking {
public:
    ScopedTightPacking() {
        for (size_t i = 0; i < kCount; ++i) {
            mSaved[i] = qor::queryInt(kNames[i]);
            if (mSaved[i] != kTight[i]) glPixelStorei(kNames[i], kTight[i]);
        }
    }
    ~ScopedTightPacking() {
        for (size_t i = 0; i < kCount; ++i)
            if (mSaved[i] != kTight[i]) glPixelStorei(kNames[i], mSaved[i]);
    }

private:
    static constexpr size_t kCount = 4;
    static constexpr GLenum kNames[kCount] = {GL_PACK_ALIGNMENT, GL_PACK_ROW_LENGTH,
                                              GL_PACK_SKIP_PIXELS, GL_PACK_SKIP_ROWS};
    static constexpr GLint kTight[kCount] = {1, 0, 0, 0};
    GLint mSaved[kCount];
};

void drawQuad(sfboInfo* info) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(info->m_program);
    glUniformMatrix4fv(info->m_mvpLoc, 1, GL_FALSE, info->m_mvp);
    glUniform1i(info->m_textureLoc, 0);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, kQuadIndices);
}

// Copies `texture` over the bound framebuffer; every piece of state the copy
// needs is set for it and put back after it.
void drawTexture(sfboInfo* info, GLuint texture) {
    if (info->m_program == 0) {
        if (info->m_programFailed) return;
        initDrwProgram(info);
        if (info->m_program == 0) return;
    }
    const bool es3 = qor::isEs3Context();
    qor::ScopedCapsOff caps(kCopyCaps, es3 ? kCopyCapsEs2 + 1 : kCopyCapsEs2);
    qor::ScopedCopyTarget target(info->m_width, info->m_height);
    qor::ScopedTextureUnit0 unit(texture);
    ScopedEs3Copy es3Copy(es3);
    qor::ScopedBufferBinding array(GL_ARRAY_BUFFER, GL_ARRAY_BUFFER_BINDING, 0);
    qor::ScopedBufferBinding elements(GL_ELEMENT_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER_BINDING, 0);
    ScopedCopyAttrib attrib((GLuint)info->m_positionLoc, es3);
    g_savedProgram = qor::queryInt(GL_CURRENT_PROGRAM);
    drawQuad(info);
    glUseProgram((GLuint)g_savedProgram);
}

}  // namespace

void computeMvp(float ratioA, float ratioB, float mvp[16]) {
    // Perspective: near 0.1, far 100, vertical field of view 45 degrees.
    const float kNear = 0.1f, kFar = 100.0f;
    const float top = 0.041421357f;
    const float bottom = -top;
    const float right = top * (ratioB / ratioA);
    const float left = -right;
    float p[16] = {0};
    p[0] = 2.0f * kNear / (right - left);
    p[5] = 2.0f * kNear / (top - bottom);
    p[10] = -(kFar + kNear) / (kFar - kNear);
    p[11] = -1.0f;
    p[14] = -2.0f * kFar * kNear / (kFar - kNear);
    // View: the eye on the z axis at the distance where the quad's width
    // fills the field of view, looking at the origin.
    const float d = (float)((double)(ratioA / ratioB) / 0.41421356237309503);
    float v[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -d, 1};
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += p[k * 4 + row] * v[col * 4 + k];
            mvp[col * 4 + row] = sum;
        }
    }
}

namespace {

// Builds the record's framebuffer: a 565 colour texture and a depth
// renderbuffer. Every binding it makes is put back.
GLenum buildFramebuffer(sfboInfo* info, jint width, jint height) {
    const bool es3 = qor::isEs3Context();
    GLint screenFbo = qor::queryInt(GL_FRAMEBUFFER_BINDING);
    g_screenfbo = (GLuint)screenFbo;
    GLint readFbo = es3 ? qor::queryInt(GL_READ_FRAMEBUFFER_BINDING) : screenFbo;
    GLint screenRbo = qor::queryInt(GL_RENDERBUFFER_BINDING);
    g_screenrbo = (GLuint)screenRbo;
    // A game's unpack buffer would be read as the texture's contents.
    GLint unpack = es3 ? qor::queryInt(GL_PIXEL_UNPACK_BUFFER_BINDING) : 0;
    if (unpack) glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);

    glGenFramebuffers(1, &info->m_fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, info->m_fbo);
    glGenTextures(1, &info->m_texture);
    GLenum status = GL_FRAMEBUFFER_UNSUPPORTED;
    {
        qor::ScopedTextureUnit0 unit(info->m_texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5,
                     nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, info->m_texture,
                               0);

        glGenRenderbuffers(1, &info->m_rbo);
        glBindRenderbuffer(GL_RENDERBUFFER, info->m_rbo);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                  info->m_rbo);
        status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, screenFbo);
    if (readFbo != screenFbo) glBindFramebuffer(GL_READ_FRAMEBUFFER, (GLuint)readFbo);
    glBindRenderbuffer(GL_RENDERBUFFER, screenRbo);
    if (unpack) glBindBuffer(GL_PIXEL_UNPACK_BUFFER, (GLuint)unpack);
    return status;
}

}  // namespace

jint nativePrepareFbo(JNIEnv*, jobject, jint width, jint height, jfloat ratioA, jfloat ratioB) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    if (!(width < maxSize && height < maxSize)) return -1;
    // Negative sizes would make GL errors and a useless record.
    if (width <= 0 || height <= 0) return -1;

    auto info = std::make_unique<sfboInfo>();  // zeroed
    info->m_context = lumokastCurrentContext();
    GLenum status = buildFramebuffer(info.get(), width, height);

    computeMvp(ratioA, ratioB, info->m_mvp);

    if (status != GL_FRAMEBUFFER_COMPLETE) {
        deleteFbo(info.get());
        return -1;
    }
    info->m_width = width;
    info->m_height = height;
    info->m_ratioA = ratioA;
    info->m_ratioB = ratioB;
    const GLuint name = info->m_fbo;
    std::unique_ptr<sfboInfo>& record = g_fboMap[name];
    if (record) {
        // GL handed out the name again, so the framebuffer of the old record
        // was deleted behind our back: the new one takes its place.
        LKLOGD("replacing stale record of fbo %u", name);
        // Its program is the kit's while its context lives; the other names
        // may be the game's by now.
        if (record->m_program && record->m_context == info->m_context)
            glDeleteProgram(record->m_program);
    }
    record = std::move(info);
    LKLOGD(" nativePrepareFbo fboInfo->m_fbo ======%d", name);
    LKLOGD(" nativePrepareFbo g_screenrbo ======%d", g_screenrbo);
    LKLOGD(" nativePrepareFbo g_screenfbo ======%d", g_screenfbo);
    return name;
}

void nativeBineFbo(JNIEnv*, jobject, jint fbo) {
    sfboInfo* info = findFbo(fbo);
    if (info) glBindFramebuffer(GL_FRAMEBUFFER, info->m_fbo);
}

void nativeUnbineFbo(JNIEnv*, jobject, jint fbo, jint target) {
    sfboInfo* info = findFbo(fbo);
    if (info == nullptr) return;
    glBindFramebuffer(GL_FRAMEBUFFER, (GLuint)target);
    if ((GLuint)target == g_screenfbo) {
        drawTexture(info, info->m_texture);
        return;
    }
    sfboInfo* targetInfo = findFbo(target);
    if (targetInfo) {
        drawTexture(targetInfo, info->m_texture);
        glBindFramebuffer(GL_FRAMEBUFFER, g_screenfbo);
    }
}

void nativeDrawTexture(JNIEnv*, jobject, jint fbo, jint texture) {
    sfboInfo* info = findFbo(fbo);
    if (info == nullptr) return;
    glBindFramebuffer(GL_FRAMEBUFFER, info->m_fbo);
    drawTexture(info, (GLuint)texture);
    glBindFramebuffer(GL_FRAMEBUFFER, g_screenfbo);
}

jint nativeGetTextureByFbo(JNIEnv*, jobject, jint fbo) {
    sfboInfo* info = findFbo(fbo);
    return info ? (jint)info->m_texture : -1;
}

void nativeSetScreenFbo(JNIEnv*, jobject, jint fbo) { g_screenfbo = (GLuint)fbo; }

void nativeSetScreenRbo(JNIEnv*, jobject, jint rbo) { g_screenrbo = (GLuint)rbo; }

void captureFrameByfboInto(jint fbo, jboolean writeLock, const DirectBuffer& dst) {
    sfboInfo* info = findFbo(fbo);
    if (info == nullptr) return;
    if (g_isOpenglES3) {
        nativeCaptureFrameES3(dst);
    } else {
        captureFrameInto(info->m_width, info->m_height, info->m_texture, writeLock, dst);
    }
}

void nativeCaptureFrameByfbo(JNIEnv* env, jobject, jint fbo, jboolean writeLock, jobject buffer) {
    captureFrameByfboInto(fbo, writeLock, directBufferOf(env, buffer));
}

void nativeDeleteFbo(JNIEnv*, jobject, jint fbo) {
    auto it = g_fboMap.find((GLuint)fbo);
    if (it == g_fboMap.end()) return;
    deleteFbo(it->second.get());
    g_fboMap.erase(it);
}

namespace {

// True while the pixel-pack buffer is the one the kit made: same context, and
// the name still holds a buffer of its size and usage.
bool pboStillOurs() {
    if (g_pboContext != lumokastCurrentContext() || !glIsBuffer(g_pbo)) return false;
    qor::ScopedBufferBinding pack(GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING, g_pbo);
    GLint size = 0, usage = 0;
    glGetBufferParameteriv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_SIZE, &size);
    glGetBufferParameteriv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_USAGE, &usage);
    qor::g_glStateQueries += 3;
    return size == g_pboSize && usage == GL_DYNAMIC_READ;
}

}  // namespace

void nativeDeleteAllFbo(JNIEnv*, jobject) {
    for (auto& entry : g_fboMap) deleteFbo(entry.second.get());
    g_fboMap.clear();
    // The capture is over: the next read makes the pixel-pack buffer anew.
    if (g_pbo != 0 && pboStillOurs()) glDeleteBuffers(1, &g_pbo);
    g_pbo = 0;
    g_pboSize = 0;
}

void nativeInitES3(jint width, jint height) {
    if (!g_es3Checked) {
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        g_isOpenglES3 = version && strstr(version, "OpenGL ES 3.") && gl3stubInit() ? 1 : 0;
        g_es3Checked = 1;
        LKLOGD("g_isOpenglES3: %d", g_isOpenglES3);
    }
    // The first read with pixels fixes the size; an empty one fixes nothing.
    if (!g_isOpenglES3 || g_pbo != 0 || width <= 0 || height <= 0) return;
    g_pboSize = width * height * 2;
    g_pboContext = lumokastCurrentContext();
    glGenBuffers(1, &g_pbo);
    qor::ScopedBufferBinding pack(GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING, g_pbo);
    glBufferData(GL_PIXEL_PACK_BUFFER, g_pboSize, nullptr, GL_DYNAMIC_READ);
}

void nativeReadPixels(JNIEnv*, jobject, jint width, jint height, jint fbo) {
    nativeInitES3(width, height);
    if (!g_isOpenglES3) return;
    if (width <= 0 || height <= 0) {
        LKLOGD("readPixels %dx%d refused: no pixels", width, height);
        return;
    }
    if (g_pbo != 0 && !pboStillOurs()) {
        // Its context is gone, and the name with it: never deleted here.
        LKLOGD("pixel-pack buffer of a lost context: made anew");
        g_pbo = 0;
        g_pboSize = 0;
        nativeInitES3(width, height);
    }
    // The PBO holds only the first size; a larger read would overflow it.
    if ((int64_t)width * height * 2 > g_pboSize) {
        LKLOGD("readPixels %dx%d larger than the pixel-pack buffer (%d bytes)", width, height,
               g_pboSize);
        return;
    }
    // Only the read framebuffer is used; the game's draw binding stays.
    GLint savedRead = qor::queryInt(GL_READ_FRAMEBUFFER_BINDING);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, (GLuint)fbo);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    {
        qor::ScopedBufferBinding pack(GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING, g_pbo);
        ScopedTightPacking packing;
        glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, nullptr);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, (GLuint)savedRead);
}

void nativeCaptureFrameES3(const DirectBuffer& dst) {
    if (dst.address == nullptr || g_pbo == 0) return;
    if (g_pboContext != lumokastCurrentContext()) return;  // read again first
    if (!directBufferFits(dst, g_pboSize)) return;
    qor::ScopedBufferBinding pack(GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING, g_pbo);
    void* mapped = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, g_pboSize, GL_MAP_READ_BIT);
    if (mapped) {
        memcpy(dst.address, mapped, g_pboSize);
        glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    }
}
