#include "icodec/qoryuv.h"

#include <stdlib.h>

#include <libyuv/convert.h>
#include <libyuv/convert_from.h>

namespace qor {

namespace {

const int kBadValue = -22;

int64_t align(int64_t x, int64_t n) { return (x + n - 1) & ~(n - 1); }

bool isPlanar(int colorFormat) { return colorFormat == 19 || colorFormat == 0x7FA00000; }

bool isSemiPlanar(int colorFormat) {
    switch ((uint32_t)colorFormat) {
        case 21: case 0x7F000100: case 0x7FA30C00: case 0x7FA30C03: case 0x7FA30C04:
        case 0x7FC00002:
            return true;
        default:
            return false;
    }
}

int64_t i420Size(int64_t w, int64_t h) { return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2); }

}  // namespace

int qoryuv::getOMXColorSizeAndDimensions(int width, int height, int colorFormat, int* stride,
                                         int* sliceHeight) {
    const int64_t w = width, h = height;
    switch ((uint32_t)colorFormat) {
        case 19: case 21: case 0x7F000100: case 0x7FA00000:
            *stride = (int)align(w, 16);
            *sliceHeight = (int)align(h, 16);
            return (int)i420Size(w, h);
        case 0x7FA30C00: {
            *stride = (int)align(w, 16);
            *sliceHeight = height;
            const int64_t product = h * *stride;
            return (int)((product + product / 2 + 4096) & ~(int64_t)4095);
        }
        case 0x7FA30C03:
            *stride = (int)align(w, 128);
            *sliceHeight = (int)align(h, 32);
            return (int)(align(align(h, 32) * align(w, 128), 8192) +
                         align(align(w, 128) * align(h / 2, 32), 8192));
        case 0x7FA30C04:
            *stride = width == 0 ? 0 : (int)align(w, 128);
            *sliceHeight = height == 0 ? 0 : (int)align(h, 32);
            if (width == 0 || height == 0) return 0;
            return (int)((align(w, 128) * (align(h, 32) + align((h + 1) / 2, 16)) + 8191) &
                         ~(int64_t)4095);
        case 0x7FC00002:
            *stride = (int)align(w, 16);
            *sliceHeight = (int)align(h, 32);
            return (int)((align(h, 32) + align(h / 2, 32)) * align(w, 16));
        default:
            *stride = (int)align(w, 32);
            *sliceHeight = (int)align(h, 32);
            return kBadValue;
    }
}

int64_t qoryuv::getConvertedExtent(int width, int height, int colorFormat, int stride,
                                   int sliceHeight) {
    const int64_t h = abs(height);
    if (isPlanar(colorFormat)) return i420Size(width, h);
    if (isSemiPlanar(colorFormat)) return (int64_t)stride * sliceHeight + (int64_t)stride * ((h + 1) / 2);
    return 0;
}

int qoryuv::ConvertFromRGB565(const uint8_t* src, uint8_t* dst, int colorFormat, int width,
                              int height, int stride, int sliceHeight) {
    const int absHeight = abs(height);
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (absHeight + 1) / 2;
    if (isPlanar(colorFormat)) {
        uint8_t* y = dst;
        uint8_t* u = y + (size_t)width * absHeight;
        uint8_t* v = u + (size_t)chromaWidth * chromaHeight;
        return libyuv::RGB565ToI420(src, width * 2, y, width, u, chromaWidth, v, chromaWidth,
                                    width, height);
    }
    if (!isSemiPlanar(colorFormat)) return kBadValue;

    const size_t needed = (size_t)i420Size(width, absHeight);
    if (mScratch.size() < needed) mScratch.resize(needed);
    uint8_t* y = mScratch.data();
    uint8_t* u = y + (size_t)width * absHeight;
    uint8_t* v = u + (size_t)chromaWidth * chromaHeight;
    int err = libyuv::RGB565ToI420(src, width * 2, y, width, u, chromaWidth, v, chromaWidth,
                                   width, height);
    if (err != 0) return err;
    return libyuv::I420ToNV12(y, width, u, chromaWidth, v, chromaWidth, dst, stride,
                              dst + (size_t)stride * sliceHeight, stride, width, absHeight);
}

}  // namespace qor
