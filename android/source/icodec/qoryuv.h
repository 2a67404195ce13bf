/*
 * Conversion of captured RGB565 frames into the encoder's colour format, on
 * libyuv. Planar formats get tightly packed I420; every semi-planar format
 * (tiled and YVU ones included) gets linear NV12 with the format's stride
 * and slice height.
 */
#ifndef QOR_QORYUV_H_
#define QOR_QORYUV_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace qor {

class qoryuv {
public:
    qoryuv() {}

    // Bytes of one converted frame, with the row pitch and plane height the
    // encoder sees; -22 for a format without a layout here.
    static int getOMXColorSizeAndDimensions(int width, int height, int colorFormat, int* stride,
                                            int* sliceHeight);

    // Bytes the converter actually writes for the layout (at least the size
    // above for semi-planar formats whose stride or slice height is padded).
    static int64_t getConvertedExtent(int width, int height, int colorFormat, int stride,
                                      int sliceHeight);

    // Converts one RGB565 frame (pitch 2 x width; a negative height means
    // bottom row first). Returns libyuv's result, or -22 for an unknown
    // format (nothing written).
    int ConvertFromRGB565(const uint8_t* src, uint8_t* dst, int colorFormat, int width, int height,
                          int stride, int sliceHeight);

    void releaseScratch() { std::vector<uint8_t>().swap(mScratch); }

private:
    std::vector<uint8_t> mScratch;  // one I420 frame for the semi-planar formats

    qoryuv(const qoryuv&) = delete;
    qoryuv& operator=(const qoryuv&) = delete;
};

}  // namespace qor

#endif  // QOR_QORYUV_H_
