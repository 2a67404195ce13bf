// FBO redirection capture on OpenGL ES 1 through the OES framebuffer
// extension.
#ifndef LUMOKAST_GLESOES_H
#define LUMOKAST_GLESOES_H

#include <stdint.h>

#include <map>
#include <memory>

#include <GLES/gl.h>
#include <jni.h>

#include "lumokast_egl.h"

struct sfboInfoOES {
    GLuint m_texture;
    GLuint m_fbo;
    GLuint m_rbo;
    int32_t m_width;
    int32_t m_height;
    float m_ratioA;
    float m_ratioB;
    EGLContext m_context;  // where the names live
};

// The FBO records by framebuffer name.
extern std::map<GLuint, std::unique_ptr<sfboInfoOES>> g_fboMapOES;
extern GLuint g_screenfboOES;
extern GLuint g_screenrboOES;

jint nativePrepareFboOES(JNIEnv* env, jobject thiz, jint width, jint height, jfloat ratioA,
                         jfloat ratioB);
void nativeBineFboOES(JNIEnv* env, jobject thiz, jint fbo);
void nativeUnbineFboOES(JNIEnv* env, jobject thiz, jint fbo, jint target);
void nativeDeleteFboOES(JNIEnv* env, jobject thiz, jint fbo);
void nativeDeleteAllFboOES(JNIEnv* env, jobject thiz);
jint nativeGetTextureByFboOES(JNIEnv* env, jobject thiz, jint fbo);
void nativeSetScreenFboOES(JNIEnv* env, jobject thiz, jint fbo);
void nativeSetScreenRboOES(JNIEnv* env, jobject thiz, jint rbo);
void nativeCaptureFrameByfboOES(JNIEnv* env, jobject thiz, jint fbo, jboolean writeLock,
                                jobject buffer);
void captureFrameByfboOESInto(jint fbo, jboolean writeLock, const DirectBuffer& dst);

#endif  // LUMOKAST_GLESOES_H
