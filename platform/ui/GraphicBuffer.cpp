// Host GraphicBuffer: plain heap memory, optionally backed by a GL texture
// through the EGL layer (see host/graphic_buffer_backing.h).
#define LOG_TAG "GraphicBuffer"

#include <ui/GraphicBuffer.h>

#include <stdlib.h>
#include <string.h>

#include <host/device_profile.h>
#include <host/graphic_buffer_backing.h>
#include <utils/Log.h>

namespace android {

namespace {
const uint32_t kStoreMagic = 0x47427566;  // 'GBuf'

// The row stride in pixels: the width rounded up to the profile's
// "gralloc.stride.align" (1 when absent), as a phone's gralloc pads rows.
uint32_t strideFor(uint32_t width) {
    long align = atol(host::currentDeviceProfile()->get("gralloc.stride.align", "1").c_str());
    if (align <= 1) return width;
    return (uint32_t)((width + align - 1) / align * align);
}
}  // namespace

struct GraphicBuffer::Store {
    native_handle_t handle;  // first: the native handle points here
    uint32_t magic;
    std::mutex lock;
    uint8_t* bits;
    size_t size;
    host::GraphicBufferBacking* backing;
    uint32_t lockedUsage;
    bool locked;
};

ssize_t bytesPerPixel(PixelFormat format) {
    switch (format) {
        case PIXEL_FORMAT_RGBA_8888:
        case PIXEL_FORMAT_RGBX_8888:
        case PIXEL_FORMAT_BGRA_8888:
            return 4;
        case PIXEL_FORMAT_RGB_888:
            return 3;
        case PIXEL_FORMAT_RGB_565:
            return 2;
        default:
            return 0;
    }
}

static void nativeBufferIncRef(android_native_base_t*) {}
static void nativeBufferDecRef(android_native_base_t*) {}

GraphicBuffer::GraphicBuffer(uint32_t width, uint32_t height, PixelFormat format, uint32_t usage)
    : mStore(nullptr), mInitCheck(NO_ERROR) {
    memset(&mBuffer, 0, sizeof(mBuffer));
    mBuffer.common.magic = ANDROID_NATIVE_BUFFER_MAGIC;
    mBuffer.common.version = sizeof(ANativeWindowBuffer);
    mBuffer.common.incRef = nativeBufferIncRef;
    mBuffer.common.decRef = nativeBufferDecRef;
    mBuffer.width = width;
    mBuffer.height = height;
    mBuffer.stride = (int)strideFor(width);
    mBuffer.format = format;
    mBuffer.usage = usage;

    ssize_t bpp = bytesPerPixel(format);
    if (width == 0 || height == 0 || width > 16384 || height > 16384 || bpp == 0) {
        ALOGE("GraphicBuffer(%u, %u, %d, 0x%x): unsupported", width, height, format, usage);
        mInitCheck = BAD_VALUE;
        return;
    }
    mStore = new Store();
    mStore->handle.version = sizeof(native_handle_t);
    mStore->magic = kStoreMagic;
    mStore->size = (size_t)mBuffer.stride * height * bpp;
    mStore->bits = static_cast<uint8_t*>(calloc(1, mStore->size));
    mStore->backing = nullptr;
    mStore->lockedUsage = 0;
    mStore->locked = false;
    if (mStore->bits == nullptr) {
        mInitCheck = NO_MEMORY;
        return;
    }
    mBuffer.handle = &mStore->handle;
}

GraphicBuffer::~GraphicBuffer() {
    if (mStore == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(mStore->lock);
        if (mStore->backing) mStore->backing->onBufferGone();
        mStore->backing = nullptr;
        mStore->magic = 0;
    }
    free(mStore->bits);
    delete mStore;
}

ANativeWindowBuffer* GraphicBuffer::getNativeBuffer() const {
    return mInitCheck == NO_ERROR ? &mBuffer : nullptr;
}

status_t GraphicBuffer::lock(uint32_t usage, void** vaddr) {
    if (mInitCheck != NO_ERROR) return mInitCheck;
    std::lock_guard<std::mutex> guard(mStore->lock);
    if (mStore->locked) {
        ALOGE("lock: already locked");
        return INVALID_OPERATION;
    }
    // As gralloc may: CPU reads the buffer was not created for see the
    // memory as it is, never the GPU's pixels.
    uint32_t allowed = usage;
    if ((mBuffer.usage & USAGE_SW_READ_MASK) == 0) allowed &= ~(uint32_t)USAGE_SW_READ_MASK;
    if (mStore->backing) {
        int err = mStore->backing->onLock(allowed, mStore->bits, mBuffer.stride);
        if (err < 0) return err;
    }
    mStore->locked = true;
    mStore->lockedUsage = usage;
    *vaddr = mStore->bits;
    return NO_ERROR;
}

status_t GraphicBuffer::unlock() {
    if (mInitCheck != NO_ERROR) return mInitCheck;
    std::lock_guard<std::mutex> guard(mStore->lock);
    if (!mStore->locked) return INVALID_OPERATION;
    mStore->locked = false;
    if (mStore->backing && (mStore->lockedUsage & USAGE_SW_WRITE_MASK)) {
        return mStore->backing->onUnlockWritten(mStore->bits, mBuffer.stride);
    }
    return NO_ERROR;
}

}  // namespace android

namespace host {

using android::GraphicBuffer;

static GraphicBuffer::Store* storeOf(const ANativeWindowBuffer* buffer) {
    if (buffer == nullptr || buffer->common.magic != (int)ANDROID_NATIVE_BUFFER_MAGIC ||
        buffer->handle == nullptr) {
        return nullptr;
    }
    // The handle is the first member of the store.
    auto* store = reinterpret_cast<GraphicBuffer::Store*>(const_cast<native_handle_t*>(buffer->handle));
    return store->magic == android::kStoreMagic ? store : nullptr;
}

bool isGraphicBuffer(const ANativeWindowBuffer* buffer) { return storeOf(buffer) != nullptr; }

bool attachBacking(ANativeWindowBuffer* buffer, GraphicBufferBacking* backing) {
    GraphicBuffer::Store* store = storeOf(buffer);
    if (store == nullptr) return false;
    std::lock_guard<std::mutex> guard(store->lock);
    if (store->backing != nullptr) return false;
    store->backing = backing;
    return true;
}

void detachBacking(ANativeWindowBuffer* buffer, GraphicBufferBacking* backing) {
    GraphicBuffer::Store* store = storeOf(buffer);
    if (store == nullptr) return;
    std::lock_guard<std::mutex> guard(store->lock);
    if (store->backing == backing) store->backing = nullptr;
}

const void* graphicBufferBits(const ANativeWindowBuffer* buffer) {
    GraphicBuffer::Store* store = storeOf(buffer);
    return store ? store->bits : nullptr;
}

}  // namespace host
