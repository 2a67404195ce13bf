/*
 * Frame layout of each encoder input colour format: the row pitch (stride)
 * and plane height (slice height) the encoder sees, and the frame size.
 * Shared by the front end, which lays frames out, and the encoder set-up,
 * which tells the encoder where the planes are.
 */
#ifndef QOR_COLOR_LAYOUT_H_
#define QOR_COLOR_LAYOUT_H_

#include <stdint.h>

#include "common/ColorFormat.h"

namespace qor {

inline int64_t alignTo(int64_t x, int64_t n) { return (x + n - 1) & ~(n - 1); }

// Planar I420, written tightly packed (pitch = width).
inline bool isPlanarColorFormat(int32_t colorFormat) {
    return colorFormat == kColorFormatYUV420Planar || colorFormat == kColorFormatVendorPlanar;
}

// One Y plane, then one interleaved U,V plane (linear NV12).
inline bool isSemiPlanarColorFormat(int32_t colorFormat) {
    switch ((uint32_t)colorFormat) {
        case kColorFormatYUV420SemiPlanar:
        case kColorFormatTiYUV420PackedSemiPlanar:
        case kColorFormatQcomYVU420SemiPlanar:
        case kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka:
        case kColorFormatQcomYUV420PackedSemiPlanar32m:
        case kColorFormatSecNV12Tiled:
            return true;
        default:
            return false;
    }
}

// Bytes of one frame of `colorFormat`, with its stride and slice height;
// -22 for a format without a layout.
inline int colorFormatLayout(int width, int height, int32_t colorFormat, int* stride,
                             int* sliceHeight) {
    const int64_t w = width, h = height;
    switch ((uint32_t)colorFormat) {
        case kColorFormatYUV420Planar:
        case kColorFormatYUV420SemiPlanar:
        case kColorFormatTiYUV420PackedSemiPlanar:
        case kColorFormatVendorPlanar:
            *stride = (int)alignTo(w, 16);
            *sliceHeight = (int)alignTo(h, 16);
            return (int)(w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2));
        case kColorFormatQcomYVU420SemiPlanar: {
            *stride = (int)alignTo(w, 16);
            *sliceHeight = height;
            const int64_t product = h * *stride;
            return (int)((product + product / 2 + 4096) & ~(int64_t)4095);
        }
        case kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka:
            *stride = (int)alignTo(w, 128);
            *sliceHeight = (int)alignTo(h, 32);
            return (int)(alignTo(alignTo(h, 32) * alignTo(w, 128), 8192) +
                         alignTo(alignTo(w, 128) * alignTo(h / 2, 32), 8192));
        case kColorFormatQcomYUV420PackedSemiPlanar32m:
            *stride = width == 0 ? 0 : (int)alignTo(w, 128);
            *sliceHeight = height == 0 ? 0 : (int)alignTo(h, 32);
            if (width == 0 || height == 0) return 0;
            return (int)((alignTo(w, 128) * (alignTo(h, 32) + alignTo((h + 1) / 2, 16)) + 8191) &
                         ~(int64_t)4095);
        case kColorFormatSecNV12Tiled:
            *stride = (int)alignTo(w, 16);
            *sliceHeight = (int)alignTo(h, 32);
            return (int)((alignTo(h, 32) + alignTo(h / 2, 32)) * alignTo(w, 16));
        default:
            *stride = (int)alignTo(w, 32);
            *sliceHeight = (int)alignTo(h, 32);
            return -22;
    }
}

// Bytes of one frame as the encoder set up for `colorFormat` reads it: a
// semi-planar frame ends where its chroma plane ends (stride x slice height
// of luma, then (height+1)/2 rows of stride), which the tight frame size
// falls short of whenever the stride or slice height is aligned up.
inline int64_t encoderFrameBytes(int width, int height, int32_t colorFormat) {
    int stride = 0, sliceHeight = 0;
    const int64_t size = colorFormatLayout(width, height, colorFormat, &stride, &sliceHeight);
    if (!isSemiPlanarColorFormat(colorFormat)) return size;
    const int64_t planes = (int64_t)stride * sliceHeight + (int64_t)stride * ((height + 1) / 2);
    return planes > size ? planes : size;
}

}  // namespace qor

#endif  // QOR_COLOR_LAYOUT_H_
