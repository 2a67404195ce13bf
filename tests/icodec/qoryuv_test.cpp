// The RGB565 converter: sizes and strides of every format, and converted
// pixels read back at known places in each layout (planar, semi-planar with
// padded stride and slice height), upright and flipped, at odd sizes.
#include "icodec/qoryuv.h"

#include <stdlib.h>

#include <vector>

#include <gtest/gtest.h>

#include "common/ColorFormat.h"

namespace {

using namespace qor;

struct SizeCase {
    int width, height, format;
    int stride, sliceHeight, size;
};

class ColorSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ColorSizeTest, MatchesTheEncoderLayout) {
    const SizeCase& c = GetParam();
    int stride = -1, sliceHeight = -1;
    EXPECT_EQ(c.size,
              qoryuv::getOMXColorSizeAndDimensions(c.width, c.height, c.format, &stride,
                                                   &sliceHeight));
    EXPECT_EQ(c.stride, stride);
    EXPECT_EQ(c.sliceHeight, sliceHeight);
}

INSTANTIATE_TEST_SUITE_P(
        Formats, ColorSizeTest,
        ::testing::Values(SizeCase{1280, 720, kColorFormatYUV420SemiPlanar, 1280, 720, 1382400},
                          SizeCase{1280, 720, kColorFormatYUV420Planar, 1280, 720, 1382400},
                          SizeCase{1280, 720, kColorFormatVendorPlanar, 1280, 720, 1382400},
                          SizeCase{1280, 720, kColorFormatTiYUV420PackedSemiPlanar,
                                   1280, 720, 1382400},
                          SizeCase{1280, 720, kColorFormatQcomYUV420PackedSemiPlanar32m,
                                   1280, 736, 1417216},
                          SizeCase{1280, 720, kColorFormatQcomYVU420SemiPlanar, 1280, 720, 1384448},
                          SizeCase{1280, 720, kColorFormatSecNV12Tiled, 1280, 736, 1433600},
                          SizeCase{1280, 720, kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka,
                                   1280, 736, 1433600},
                          SizeCase{0, 720, kColorFormatQcomYUV420PackedSemiPlanar32m, 0, 736, 0},
                          SizeCase{1280, 0, kColorFormatQcomYUV420PackedSemiPlanar32m, 1280, 0, 0},
                          SizeCase{17, 9, kColorFormatYUV420Planar, 32, 16, 243},
                          SizeCase{854, 480, kColorFormatYUV420SemiPlanar, 864, 480, 614880},
                          SizeCase{1280, 720, kColorFormatAndroidOpaque, 1280, 736, -22}));

// RGB565 of an 8-bit colour.
uint16_t rgb565(int r, int g, int b) { return (uint16_t)(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); }

struct Yuv {
    int y, u, v;
};

// BT.601 limited range, as the encoders expect.
Yuv reference(int r, int g, int b) {
    return {((66 * r + 129 * g + 25 * b + 128) >> 8) + 16,
            ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
            ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
}

const int kColors[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

// Four quadrants: red, green (top), blue, white (bottom).
std::vector<uint16_t> quadrants(int w, int h) {
    std::vector<uint16_t> pixels((size_t)w * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int* c = kColors[(y >= h / 2) * 2 + (x >= w / 2)];
            pixels[(size_t)y * w + x] = rgb565(c[0], c[1], c[2]);
        }
    }
    return pixels;
}

struct LayoutCase {
    int format, width, height;
    bool flipped;
};

class ConvertTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ConvertTest, QuadrantColoursLandWhereTheLayoutSays) {
    const LayoutCase& c = GetParam();
    int stride, sliceHeight;
    int size = qoryuv::getOMXColorSizeAndDimensions(c.width, c.height, c.format, &stride,
                                                    &sliceHeight);
    ASSERT_GT(size, 0);
    int64_t extent = qoryuv::getConvertedExtent(c.width, c.height, c.format, stride, sliceHeight);
    // Guard bytes after the extent must stay untouched.
    std::vector<uint8_t> out((size_t)std::max<int64_t>(size, extent) + 64, 0xA5);
    std::vector<uint16_t> in = quadrants(c.width, c.height);
    qoryuv converter;
    ASSERT_EQ(0, converter.ConvertFromRGB565((const uint8_t*)in.data(), out.data(), c.format,
                                             c.width, c.flipped ? -c.height : c.height, stride,
                                             sliceHeight));
    for (size_t i = (size_t)extent; i < out.size(); ++i) ASSERT_EQ(0xA5, out[i]) << i;

    const bool planar = c.format == (int)kColorFormatYUV420Planar ||
                        c.format == (int)kColorFormatVendorPlanar;
    const int cw = (c.width + 1) / 2, ch = (c.height + 1) / 2;
    for (int q = 0; q < 4; ++q) {
        // Centre of quadrant q in the picture as it arrived.
        const int qx = (q % 2) ? c.width * 3 / 4 : c.width / 4;
        int qy = (q / 2) ? c.height * 3 / 4 : c.height / 4;
        const int* rgb = kColors[q];
        const Yuv want = reference(rgb[0], rgb[1], rgb[2]);
        if (c.flipped) qy = c.height - 1 - qy;  // bottom row first: upside down on output
        int y, u, v;
        if (planar) {
            y = out[(size_t)qy * c.width + qx];
            u = out[(size_t)c.width * c.height + (size_t)(qy / 2) * cw + qx / 2];
            v = out[(size_t)c.width * c.height + (size_t)cw * ch + (size_t)(qy / 2) * cw + qx / 2];
        } else {
            y = out[(size_t)qy * stride + qx];
            const size_t uv = (size_t)stride * sliceHeight + (size_t)(qy / 2) * stride + (qx / 2) * 2;
            u = out[uv];
            v = out[uv + 1];
        }
        EXPECT_NEAR(want.y, y, 3) << "quadrant " << q;
        EXPECT_NEAR(want.u, u, 3) << "quadrant " << q;
        EXPECT_NEAR(want.v, v, 3) << "quadrant " << q;
    }
}

INSTANTIATE_TEST_SUITE_P(
        Layouts, ConvertTest,
        ::testing::Values(LayoutCase{kColorFormatYUV420Planar, 64, 48, false},
                          LayoutCase{kColorFormatYUV420Planar, 64, 48, true},
                          LayoutCase{kColorFormatVendorPlanar, 64, 48, false},
                          LayoutCase{kColorFormatYUV420Planar, 34, 18, false},
                          LayoutCase{kColorFormatYUV420SemiPlanar, 64, 48, false},
                          LayoutCase{kColorFormatYUV420SemiPlanar, 64, 48, true},
                          LayoutCase{kColorFormatYUV420SemiPlanar, 854, 480, false},
                          LayoutCase{kColorFormatYUV420SemiPlanar, 34, 18, true},
                          LayoutCase{kColorFormatTiYUV420PackedSemiPlanar, 40, 24, false},
                          LayoutCase{kColorFormatQcomYVU420SemiPlanar, 64, 48, false},
                          LayoutCase{kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka, 200, 100, false},
                          LayoutCase{kColorFormatQcomYUV420PackedSemiPlanar32m, 200, 100, true},
                          LayoutCase{kColorFormatSecNV12Tiled, 64, 40, false}));

TEST(ConvertTest, UnknownFormatWritesNothing) {
    std::vector<uint16_t> in = quadrants(16, 16);
    std::vector<uint8_t> out(1024, 0x5A);
    qoryuv converter;
    EXPECT_EQ(-22, converter.ConvertFromRGB565((const uint8_t*)in.data(), out.data(),
                                               kColorFormatAndroidOpaque,
                                               16, 16, 32, 32));
    for (uint8_t b : out) ASSERT_EQ(0x5A, b);
}

}  // namespace
