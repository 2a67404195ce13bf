// Pixel formats of graphics buffers (the platform's HAL values).
#ifndef UI_PIXEL_FORMAT_H
#define UI_PIXEL_FORMAT_H

#include <stdint.h>
#include <sys/types.h>

namespace android {

typedef int32_t PixelFormat;

enum {
    PIXEL_FORMAT_UNKNOWN = 0,
    PIXEL_FORMAT_RGBA_8888 = 1,
    PIXEL_FORMAT_RGBX_8888 = 2,
    PIXEL_FORMAT_RGB_888 = 3,
    PIXEL_FORMAT_RGB_565 = 4,
    PIXEL_FORMAT_BGRA_8888 = 5,
};

// Bytes per pixel of a format, 0 for formats this platform cannot allocate.
ssize_t bytesPerPixel(PixelFormat format);

}  // namespace android

#endif  // UI_PIXEL_FORMAT_H
