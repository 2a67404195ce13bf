#include "icodec/qoryuv.h"

#include "icodec/ColorLayout.h"

#include <stdlib.h>

#include <libyuv/convert.h>
#include <libyuv/convert_from.h>

namespace qor {

namespace {

const int kBadValue = -22;

int64_t i420Size(int64_t w, int64_t h) { return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2); }

}  // namespace

int qoryuv::getOMXColorSizeAndDimensions(int width, int height, int colorFormat, int* stride,
                                         int* sliceHeight) {
    return colorFormatLayout(width, height, colorFormat, stride, sliceHeight);
}

int64_t qoryuv::getConvertedExtent(int width, int height, int colorFormat, int stride,
                                   int sliceHeight) {
    const int64_t h = abs(height);
    if (isPlanarColorFormat(colorFormat)) return i420Size(width, h);
    if (isSemiPlanarColorFormat(colorFormat)) {
        return (int64_t)stride * sliceHeight + (int64_t)stride * ((h + 1) / 2);
    }
    return 0;
}

int qoryuv::ConvertFromRGB565(const uint8_t* src, uint8_t* dst, int colorFormat, int width,
                              int height, int stride, int sliceHeight) {
    const int absHeight = abs(height);
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (absHeight + 1) / 2;
    if (isPlanarColorFormat(colorFormat)) {
        uint8_t* y = dst;
        uint8_t* u = y + (size_t)width * absHeight;
        uint8_t* v = u + (size_t)chromaWidth * chromaHeight;
        return libyuv::RGB565ToI420(src, width * 2, y, width, u, chromaWidth, v, chromaWidth, width,
                                    height);
    }
    if (!isSemiPlanarColorFormat(colorFormat)) return kBadValue;

    const size_t needed = (size_t)i420Size(width, absHeight);
    if (mScratch.size() < needed) mScratch.resize(needed);
    uint8_t* y = mScratch.data();
    uint8_t* u = y + (size_t)width * absHeight;
    uint8_t* v = u + (size_t)chromaWidth * chromaHeight;
    int err = libyuv::RGB565ToI420(src, width * 2, y, width, u, chromaWidth, v, chromaWidth, width,
                                   height);
    if (err != 0) return err;
    return libyuv::I420ToNV12(y, width, u, chromaWidth, v, chromaWidth, dst, stride,
                              dst + (size_t)stride * sliceHeight, stride, width, absHeight);
}

}  // namespace qor
