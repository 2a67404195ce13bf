// Host-only link between android::GraphicBuffer and the EGL layer.
//
// A phone's GraphicBuffer is memory that the GPU renders into directly. Mesa's
// software rasteriser cannot alias client memory with a texture, so the EGL
// layer gives an EGL_NATIVE_BUFFER_ANDROID image a texture of its own and
// registers it here as the buffer's backing: lock() then brings the
// texture's pixels into the buffer's memory and unlock() after a write lock
// puts the memory back into the texture. Between lock and unlock the memory
// is the picture, as on a phone.
#ifndef HOST_GRAPHIC_BUFFER_BACKING_H
#define HOST_GRAPHIC_BUFFER_BACKING_H

#include <stdint.h>

#include <nativebase/nativebase.h>

namespace host {

class GraphicBufferBacking {
public:
    virtual ~GraphicBufferBacking() {}
    // Fills `pixels` (stride in pixels) with the GPU's picture; a negative
    // status refuses the lock.
    virtual int onLock(uint32_t usage, void* pixels, int stride) = 0;
    // Called at unlock after a lock with SW write bits.
    virtual int onUnlockWritten(const void* pixels, int stride) = 0;
    // The buffer is being destroyed; the backing must forget it.
    virtual void onBufferGone() = 0;
};

// True if `buffer` is the native buffer of a live android::GraphicBuffer.
bool isGraphicBuffer(const ANativeWindowBuffer* buffer);
// Registers `backing` for the buffer; false if it is not a GraphicBuffer or
// already has one.
bool attachBacking(ANativeWindowBuffer* buffer, GraphicBufferBacking* backing);
// Removes `backing` if it is the buffer's current one.
void detachBacking(ANativeWindowBuffer* buffer, GraphicBufferBacking* backing);
// The buffer's memory (for the first upload into a backing texture).
const void* graphicBufferBits(const ANativeWindowBuffer* buffer);

}  // namespace host

#endif  // HOST_GRAPHIC_BUFFER_BACKING_H
