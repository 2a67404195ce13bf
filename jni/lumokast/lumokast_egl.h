// The GraphicBuffer capturer, the EGL shims and run-time GL entry points.
#ifndef LUMOKAST_EGL_H
#define LUMOKAST_EGL_H

#include <stdint.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>
#include <jni.h>
#include <ui/GraphicBuffer.h>
#include <utils/StrongPointer.h>

#define LUMOKAST_EXPORT __attribute__((visibility("default")))

// Destination of a copied frame: a direct buffer's address (null when the
// object has none) and its capacity in bytes.
struct DirectBuffer {
    void* address;
    int64_t capacity;
};

DirectBuffer directBufferOf(JNIEnv* env, jobject buffer);
// False, with a log line, when `buffer` cannot take `bytes`.
bool directBufferFits(const DirectBuffer& buffer, int64_t bytes);

// Extension and GLES 3 entry points, through eglGetProcAddress of the EGL
// library that the shims open ("LIBEGL" or "libEGL.so").
void* lumokastGetProcAddress(const char* name);
// The calling thread's current EGL context.
EGLContext lumokastCurrentContext();

extern "C" {
LUMOKAST_EXPORT EGLint eglGetError(void);
LUMOKAST_EXPORT EGLDisplay eglGetDisplay(EGLNativeDisplayType display);
LUMOKAST_EXPORT EGLDisplay eglGetCurrentDisplay(void);
LUMOKAST_EXPORT EGLSurface eglGetCurrentSurface(EGLint readdraw);
LUMOKAST_EXPORT EGLBoolean eglSwapBuffers(EGLDisplay dpy, EGLSurface surface);
LUMOKAST_EXPORT EGLBoolean eglDestroyImageKHR(EGLDisplay dpy, EGLImageKHR image);
LUMOKAST_EXPORT EGLBoolean nativeSwapBuffers(void);
}

// Capturer state.
extern android::sp<android::GraphicBuffer> g_graphicBuffer;
extern EGLImageKHR g_eglImage;
extern int g_capturerReady;
extern uint8_t g_rebindRequested;
extern uint8_t g_swapToggle;

void nativeInitCapturer(JNIEnv* env, jobject thiz, jint width, jint height, jint texture,
                        jboolean writeLock);
void nativeCaptureFrame(JNIEnv* env, jobject thiz, jint width, jint height, jint texture,
                        jboolean writeLock, jobject buffer);
void nativeReBindGraphicBuffer(JNIEnv* env, jobject thiz);
void nativeStopCapturer(JNIEnv* env, jobject thiz);

// A record's texture is deleted or lost (`why`, a literal, is logged): a
// capturer attached to it is made anew at the next capture.
void capturerTextureGone(GLuint texture, const char* why);

// The copy of one frame into `dst` (initialising the capturer first if it is
// not ready).
void captureFrameInto(jint width, jint height, jint texture, jboolean writeLock,
                      const DirectBuffer& dst);

#endif  // LUMOKAST_EGL_H
