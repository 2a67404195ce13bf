// The native buffer record that EGL takes as the client buffer of an
// EGL_NATIVE_BUFFER_ANDROID image.
#ifndef NATIVEBASE_NATIVEBASE_H
#define NATIVEBASE_NATIVEBASE_H

#include <stdint.h>

#include <cutils/native_handle.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ANDROID_NATIVE_MAKE_CONSTANT(a, b, c, d) \
    (((unsigned)(a) << 24) | ((unsigned)(b) << 16) | ((unsigned)(c) << 8) | (unsigned)(d))
#define ANDROID_NATIVE_BUFFER_MAGIC ANDROID_NATIVE_MAKE_CONSTANT('_', 'b', 'f', 'r')

typedef struct android_native_base_t {
    int magic;
    int version;
    void* reserved[4];
    void (*incRef)(struct android_native_base_t* base);
    void (*decRef)(struct android_native_base_t* base);
} android_native_base_t;

typedef struct ANativeWindowBuffer {
    struct android_native_base_t common;
    int width;
    int height;
    int stride;  // in pixels
    int format;
    int usage;
    void* reserved[2];
    buffer_handle_t handle;
    void* reserved_proc[8];
} ANativeWindowBuffer_t;

typedef struct ANativeWindowBuffer ANativeWindowBuffer;

#ifdef __cplusplus
}
#endif

#endif  // NATIVEBASE_NATIVEBASE_H
