// Device models on which recording is known not to work.
#define LOG_TAG "qor_icodec"
#include <string.h>
#include <strings.h>

#include <cutils/properties.h>
#include <utils/Log.h>

#include "icodec/DeviceCheck.h"

namespace qor {

namespace {

// Models are compared by prefix, ignoring case.
const char* const kUnsupportedModels[] = {
    "HTC T528d",
    "HTC T528t",
    "HTC T528w",
    "HTC T329t",
    "HTC 603e",
    "Coolpad 5950",
    "SM-T211",
    "HUAWEI P6-C00",
    "HUAWEI G750-T20",
    "Lenovo S858t",
    "HUAWEI G750-T01",
    "SCH-I829",
    "ZTE N909",
    "R830",
    "R831T",
    "Venue8 3840",
    "OKU3",
    "HUAWEI SC-CL00",
    "HS-E912S",
    "ZTE Q519T",
    "K-Touch U86",
    "OKU3",
    "4G-LTE",
    "k80_gmo",
    "T5S",
    "R821T",
    "Coolpad 5951",
    "Coolpad 5891Q",
    "Coolpad 7269",
    "Coolpad 7296",
    "ASUS_T00J",
    "Lenovo P770",
    "Lenovo A670t",
    "R829T",
    "M040",
    "GN708T",
    "GT-I9100G",
    "Android",
    "HUAWEI G730-U00",
    "K00U",
    "HUAWEI G610-T00",
    "ME173X",
    "A500(MT6589/4\xBA\xCB)",  // one GBK-encoded character
    "K012",
    "Coolpad 7296",
    "HTC X920e",
    "Coolpad 7269",
    "ZTE N5",
    "HUAWEI Y511-T00",
    "Lenovo K80M",
    "tb8163p3_64_sph",
    "HTC 802d",
    "Venue 8 3830",
    "ME371MG",
    "Lenovo A390t",
    "HUAWEI Y320-T00",
    "Coolpad8085Q",
    "K-Touch S5",
    "W32",
    "X907",
    "X909T",
    "ASUS_T00G",
    "SM-T210",
    "Lenovo K860i",
    "SCH-I869",
    "X70 3G (C5D9)",
    "V819i",
};
static_assert(sizeof(kUnsupportedModels) / sizeof(kUnsupportedModels[0]) == 67,
              "the blacklist has 67 entries");

}  // namespace

bool deviceModelSupported() {
    char model[PROPERTY_VALUE_MAX];
    __system_property_get("ro.product.model", model);
    for (const char* entry : kUnsupportedModels) {
        if (strncasecmp(model, entry, strlen(entry)) == 0) return false;
    }
    ALOGI("product model %s isSupported ? %s.", model, "yes");
    return true;
}

}  // namespace qor
