// FBO redirection capture (OpenGL ES 2) and the GLES 3 pixel-pack read-back.
#ifndef LUMOKAST_GLES_H
#define LUMOKAST_GLES_H

#include <stdint.h>

#include <map>
#include <memory>

#include <GLES2/gl2.h>
#include <jni.h>

#include "lumokast_egl.h"

struct sfboInfo {
    float m_mvp[16];
    GLuint m_texture;
    GLuint m_fbo;
    GLuint m_rbo;
    GLint m_positionLoc;
    GLint m_textureLoc;
    GLuint m_program;
    GLint m_mvpLoc;
    int32_t m_width;
    int32_t m_height;
    float m_ratioA;
    float m_ratioB;
    bool m_programFailed;
    EGLContext m_context;  // where the names live
};

// The FBO records by framebuffer name.
extern std::map<GLuint, std::unique_ptr<sfboInfo>> g_fboMap;
extern GLuint g_screenfbo;
extern GLuint g_screenrbo;
extern GLint g_savedProgram;

// The copy's model-view-projection matrix, column-major.
void computeMvp(float ratioA, float ratioB, float mvp[16]);

jint nativePrepareFbo(JNIEnv* env, jobject thiz, jint width, jint height, jfloat ratioA,
                      jfloat ratioB);
void nativeBineFbo(JNIEnv* env, jobject thiz, jint fbo);
void nativeUnbineFbo(JNIEnv* env, jobject thiz, jint fbo, jint target);
void nativeDrawTexture(JNIEnv* env, jobject thiz, jint fbo, jint texture);
jint nativeGetTextureByFbo(JNIEnv* env, jobject thiz, jint fbo);
void nativeSetScreenFbo(JNIEnv* env, jobject thiz, jint fbo);
void nativeSetScreenRbo(JNIEnv* env, jobject thiz, jint rbo);
void nativeCaptureFrameByfbo(JNIEnv* env, jobject thiz, jint fbo, jboolean writeLock,
                             jobject buffer);
void captureFrameByfboInto(jint fbo, jboolean writeLock, const DirectBuffer& dst);
void nativeDeleteFbo(JNIEnv* env, jobject thiz, jint fbo);
void nativeDeleteAllFbo(JNIEnv* env, jobject thiz);

// GLES 3 read-back.
extern int g_es3Checked;
extern int g_isOpenglES3;
extern GLuint g_pbo;
extern int32_t g_pboSize;

void nativeInitES3(jint width, jint height);
void nativeReadPixels(JNIEnv* env, jobject thiz, jint width, jint height, jint fbo);
void nativeCaptureFrameES3(const DirectBuffer& dst);

#endif  // LUMOKAST_GLES_H
