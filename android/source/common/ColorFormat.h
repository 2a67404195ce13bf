/*
 * The OpenMAX IL colour formats the kit knows by name: the standard ones of
 * OMX_IVCommon.h that encoders take, and the vendors' own, numbered as the
 * vendors' components report them. The front end lays frames out in them,
 * the recorder chooses among them and the driver configures them.
 */
#ifndef QOR_COMMON_COLOR_FORMAT_H_
#define QOR_COMMON_COLOR_FORMAT_H_

#include <stdint.h>

namespace qor {

enum ColorFormat : uint32_t {
    kColorFormatUnused = 0,
    kColorFormat16bitRGB565 = 6,
    kColorFormat24bitRGB888 = 11,
    kColorFormat32bitARGB8888 = 16,
    kColorFormatYUV420Planar = 19,
    kColorFormatYUV420PackedPlanar = 20,
    kColorFormatYUV420SemiPlanar = 21,
    kColorFormatYUV422SemiPlanar = 24,
    kColorFormatYCbYCr = 25,
    kColorFormatCbYCrY = 27,
    kColorFormatYUV420PackedSemiPlanar = 39,
    kColorFormatTiYUV420PackedSemiPlanar = 0x7F000100,
    kColorFormatAndroidOpaque = 0x7F000789,
    kColorFormatYUV420Flexible = 0x7F420888,
    // Planar 4:2:0 of a vendor that gives it no name of its own.
    kColorFormatVendorPlanar = 0x7FA00000,
    kColorFormatQcomYVU420SemiPlanar = 0x7FA30C00,
    kColorFormatQcomYUV420PackedSemiPlanar64x32Tile2m8ka = 0x7FA30C03,
    kColorFormatQcomYUV420PackedSemiPlanar32m = 0x7FA30C04,
    kColorFormatSecNV12Tiled = 0x7FC00002,
};

}  // namespace qor

#endif  // QOR_COMMON_COLOR_FORMAT_H_
