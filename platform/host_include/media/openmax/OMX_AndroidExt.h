// Vendor extensions of OpenMAX IL that the platform's encoders use.
#ifndef OMX_ANDROID_EXT_H_
#define OMX_ANDROID_EXT_H_

#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_IVCommon.h>

enum {
    OMX_TI_COLOR_FormatYUV420PackedSemiPlanar = 0x7F000100,
    OMX_COLOR_FormatAndroidOpaque = 0x7F000789,
    OMX_COLOR_FormatYUV420Flexible = 0x7F420888,
    OMX_COLOR_FormatVendorPlanar7FA = 0x7FA00000,
    OMX_QCOM_COLOR_FormatYVU420SemiPlanar = 0x7FA30C00,
    OMX_QCOM_COLOR_FormatYUV420PackedSemiPlanar64x32Tile2m8ka = 0x7FA30C03,
    OMX_QCOM_COLOR_FormatYUV420PackedSemiPlanar32m = 0x7FA30C04,
    OMX_SEC_COLOR_FormatNV12Tiled = 0x7FC00002,
};

// Extension indices handed out by getExtensionIndex (vendor range).
enum {
    // "OMX.SEC.index.ThumbnailMode": config, a 4-byte OMX_BOOL.
    OMX_IndexVendorSecThumbnailMode = OMX_IndexVendorStartUnused + 0x100,
};

// Extension name of the thumbnail mode of "OMX.SEC." components.
#define OMX_SEC_INDEX_THUMBNAIL_MODE "OMX.SEC.index.ThumbnailMode"

// Buffer flags of OpenMAX IL 1.1 that the encoders set.
#ifndef OMX_BUFFERFLAG_CODECCONFIG
#define OMX_BUFFERFLAG_CODECCONFIG 0x00000080
#endif

#endif  // OMX_ANDROID_EXT_H_
