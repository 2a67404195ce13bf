// Handle of a buffer shared between processes (host stand-in: it carries no
// file descriptors, only the owner's private words).
#ifndef CUTILS_NATIVE_HANDLE_H
#define CUTILS_NATIVE_HANDLE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct native_handle {
    int version;  // sizeof(native_handle_t)
    int numFds;
    int numInts;
    int data[0];
} native_handle_t;

typedef const native_handle_t* buffer_handle_t;

#ifdef __cplusplus
}
#endif

#endif  // CUTILS_NATIVE_HANDLE_H
