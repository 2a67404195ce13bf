#include "android_source/ColorFormats.h"

#include "common/ColorFormat.h"

namespace qor {

const uint32_t kPreferredColorFormats[8] = {
    kColorFormatQcomYUV420PackedSemiPlanar32m,
    kColorFormatQcomYVU420SemiPlanar,
    kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka,
    kColorFormatYUV420Planar,
    kColorFormatYUV420SemiPlanar,
    kColorFormatVendorPlanar,
    kColorFormatSecNV12Tiled,
    kColorFormatTiYUV420PackedSemiPlanar,
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
        case kColorFormatTiYUV420PackedSemiPlanar:
            return "TI_COLOR_FormatYUV420PackedSemiPlanar";
        case kColorFormatAndroidOpaque:
            return "COLOR_FormatAndroidOpaque";
        case kColorFormatQcomYVU420SemiPlanar:
            return "QCOM_COLOR_FormatYVU420SemiPlanar";
        case kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka:
            return "QCOM_COLOR_FormatYUV420PackedSemiPlanar64x32Tile2m8ka";
        case kColorFormatSecNV12Tiled:
            return "SEC_COLOR_FormatNV12Tiled";
#if PLATFORM_LEVEL >= 21
        case kColorFormatYUV420Flexible:
            return "COLOR_FormatYUV420Flexible";
        case kColorFormatQcomYUV420PackedSemiPlanar32m:
            return "QCOM_COLOR_FormatYUV420PackedSemiPlanar32m";
#endif
        default:
            return "??";
    }
}

bool isPushSourceColorFormat(int32_t colorFormat) {
    switch ((uint32_t)colorFormat) {
        case kColorFormatYUV420Planar:
        case kColorFormatYUV420SemiPlanar:
        case kColorFormatYCbYCr:
        case kColorFormatCbYCrY:
        case kColorFormatTiYUV420PackedSemiPlanar:
        case kColorFormatAndroidOpaque:
        case kColorFormatVendorPlanar:
        case kColorFormatQcomYVU420SemiPlanar:
        case kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka:
        case kColorFormatQcomYUV420PackedSemiPlanar32m:
        case kColorFormatSecNV12Tiled:
            return true;
        default:
            return false;
    }
}

}  // namespace qor
