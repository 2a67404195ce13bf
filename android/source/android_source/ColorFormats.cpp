#include "android_source/ColorFormats.h"

#include <host/platform_level.h>

namespace qor {

const uint32_t kPreferredColorFormats[8] = {
    0x7FA30C04,  // QCOM_COLOR_FormatYUV420PackedSemiPlanar32m
    0x7FA30C00,  // QCOM_COLOR_FormatYVU420SemiPlanar
    0x7FA30C03,  // QCOM_COLOR_FormatYUV420PackedSemiPlanar64x32Tile2m8ka
    19,          // COLOR_FormatYUV420Planar
    21,          // COLOR_FormatYUV420SemiPlanar
    0x7FA00000,  // a vendor planar format
    0x7FC00002,  // SEC_COLOR_FormatNV12Tiled
    0x7F000100,  // TI_COLOR_FormatYUV420PackedSemiPlanar
};

namespace {

// The OpenMAX IL colour-format enumeration, "COLOR_" for "OMX_COLOR_".
const char* const kStandardNames[] = {
    "COLOR_FormatUnused",
    "COLOR_FormatMonochrome",
    "COLOR_Format8bitRGB332",
    "COLOR_Format12bitRGB444",
    "COLOR_Format16bitARGB4444",
    "COLOR_Format16bitARGB1555",
    "COLOR_Format16bitRGB565",
    "COLOR_Format16bitBGR565",
    "COLOR_Format18bitRGB666",
    "COLOR_Format18bitARGB1665",
    "COLOR_Format19bitARGB1666",
    "COLOR_Format24bitRGB888",
    "COLOR_Format24bitBGR888",
    "COLOR_Format24bitARGB1887",
    "COLOR_Format25bitARGB1888",
    "COLOR_Format32bitBGRA8888",
    "COLOR_Format32bitARGB8888",
    "COLOR_FormatYUV411Planar",
    "COLOR_FormatYUV411PackedPlanar",
    "COLOR_FormatYUV420Planar",
    "COLOR_FormatYUV420PackedPlanar",
    "COLOR_FormatYUV420SemiPlanar",
    "COLOR_FormatYUV422Planar",
    "COLOR_FormatYUV422PackedPlanar",
    "COLOR_FormatYUV422SemiPlanar",
    "COLOR_FormatYCbYCr",
    "COLOR_FormatYCrYCb",
    "COLOR_FormatCbYCrY",
    "COLOR_FormatCrYCbY",
    "COLOR_FormatYUV444Interleaved",
    "COLOR_FormatRawBayer8bit",
    "COLOR_FormatRawBayer10bit",
    "COLOR_FormatRawBayer8bitcompressed",
    "COLOR_FormatL2",
    "COLOR_FormatL4",
    "COLOR_FormatL8",
    "COLOR_FormatL16",
    "COLOR_FormatL24",
    "COLOR_FormatL32",
    "COLOR_FormatYUV420PackedSemiPlanar",
    "COLOR_FormatYUV422PackedSemiPlanar",
    "COLOR_Format18BitBGR666",
    "COLOR_Format24BitARGB6666",
    "COLOR_Format24BitABGR6666",
};

}  // namespace

const char* colorFormatName(uint32_t colorFormat) {
    if (colorFormat < sizeof(kStandardNames) / sizeof(kStandardNames[0])) {
        return kStandardNames[colorFormat];
    }
    switch (colorFormat) {
        case 0x7F000100: return "TI_COLOR_FormatYUV420PackedSemiPlanar";
        case 0x7F000789: return "COLOR_FormatAndroidOpaque";
        case 0x7FA30C00: return "QCOM_COLOR_FormatYVU420SemiPlanar";
        case 0x7FA30C03: return "QCOM_COLOR_FormatYUV420PackedSemiPlanar64x32Tile2m8ka";
        case 0x7FC00002: return "SEC_COLOR_FormatNV12Tiled";
#if PLATFORM_LEVEL >= 21
        case 0x7F420888: return "COLOR_FormatYUV420Flexible";
        case 0x7FA30C04: return "QCOM_COLOR_FormatYUV420PackedSemiPlanar32m";
#endif
        default: return "??";
    }
}

bool isPushSourceColorFormat(int32_t colorFormat) {
    switch ((uint32_t)colorFormat) {
        case 19: case 21: case 25: case 27:
        case 0x7F000100: case 0x7F000789: case 0x7FA00000: case 0x7FA30C00:
        case 0x7FA30C03: case 0x7FA30C04: case 0x7FC00002:
            return true;
        default:
            return false;
    }
}

}  // namespace qor
