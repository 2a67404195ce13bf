// CPU-mappable graphics buffer that EGL can wrap as an image
// (EGL_NATIVE_BUFFER_ANDROID) for the GPU to draw into.
#ifndef UI_GRAPHIC_BUFFER_H
#define UI_GRAPHIC_BUFFER_H

#include <stdint.h>

#include <mutex>

#include <hardware/gralloc.h>
#include <nativebase/nativebase.h>
#include <ui/PixelFormat.h>
#include <utils/Errors.h>
#include <utils/RefBase.h>
#include <utils/StrongPointer.h>

namespace android {

class GraphicBuffer : public RefBase {
public:
    enum {
        USAGE_SW_READ_NEVER = GRALLOC_USAGE_SW_READ_NEVER,
        USAGE_SW_READ_RARELY = GRALLOC_USAGE_SW_READ_RARELY,
        USAGE_SW_READ_OFTEN = GRALLOC_USAGE_SW_READ_OFTEN,
        USAGE_SW_READ_MASK = GRALLOC_USAGE_SW_READ_MASK,
        USAGE_SW_WRITE_NEVER = GRALLOC_USAGE_SW_WRITE_NEVER,
        USAGE_SW_WRITE_RARELY = GRALLOC_USAGE_SW_WRITE_RARELY,
        USAGE_SW_WRITE_OFTEN = GRALLOC_USAGE_SW_WRITE_OFTEN,
        USAGE_SW_WRITE_MASK = GRALLOC_USAGE_SW_WRITE_MASK,
        USAGE_HW_TEXTURE = GRALLOC_USAGE_HW_TEXTURE,
        USAGE_HW_RENDER = GRALLOC_USAGE_HW_RENDER,
    };

    GraphicBuffer(uint32_t width, uint32_t height, PixelFormat format, uint32_t usage);

    status_t initCheck() const { return mInitCheck; }
    uint32_t getWidth() const { return mBuffer.width; }
    uint32_t getHeight() const { return mBuffer.height; }
    uint32_t getStride() const { return mBuffer.stride; }
    uint32_t getUsage() const { return mBuffer.usage; }
    PixelFormat getPixelFormat() const { return mBuffer.format; }

    // The record EGL takes as client buffer; valid while this buffer lives.
    ANativeWindowBuffer* getNativeBuffer() const;

    // Maps the pixels for the CPU. `usage` holds the SW read/write bits.
    status_t lock(uint32_t usage, void** vaddr);
    status_t unlock();

    // Implementation record behind the native handle (opaque outside the
    // graphics stand-ins).
    struct Store;

protected:
    virtual ~GraphicBuffer();

private:
    GraphicBuffer(const GraphicBuffer&) = delete;
    GraphicBuffer& operator=(const GraphicBuffer&) = delete;

    mutable ANativeWindowBuffer mBuffer;
    Store* mStore;
    status_t mInitCheck;
};

}  // namespace android

#endif  // UI_GRAPHIC_BUFFER_H
