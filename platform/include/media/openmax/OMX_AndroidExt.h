// Vendor extensions of OpenMAX IL that the platform's encoders use.
#ifndef OMX_ANDROID_EXT_H_
#define OMX_ANDROID_EXT_H_

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

#endif  // OMX_ANDROID_EXT_H_
