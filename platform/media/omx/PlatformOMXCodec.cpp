/*
 * The platform's encoder factory. Candidates are the device's encoders of
 * the wanted MIME type in list order (only `matchComponentName` when one is
 * given); kPreferSoftwareCodecs moves the software ones ("OMX.google." or
 * no "OMX." prefix) to the front, kSoftwareCodecsOnly / kHardwareCodecsOnly
 * filter. The first candidate that can be allocated and configured wins.
 */
#define LOG_TAG "OMXCodec"
#include <media/stagefright/OMXCodec.h>

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>

#include <host/device_profile.h>
#include <media/stagefright/AACEncoder.h>
#include <utils/Log.h>

#include "codec/PlatformEncoder.h"

namespace android {

namespace {

bool isSoftware(const std::string& name) {
    return name.compare(0, 11, "OMX.google.") == 0 || name.compare(0, 4, "OMX.") != 0;
}

}  // namespace

sp<MediaSource> OMXCodec::Create(const sp<IOMX>& omx, const sp<MetaData>& meta,
                                 bool createEncoder, const sp<MediaSource>& source,
                                 const char* matchComponentName, uint32_t flags,
                                 const sp<ANativeWindow>&) {
    const char* mime = nullptr;
    if (meta == nullptr || !meta->findCString(kKeyMIMEType, &mime)) {
        ALOGE("no MIME type in the wanted format");
        return nullptr;
    }
    if (!createEncoder) {
        ALOGE("no decoders on this platform (%s)", mime);
        return nullptr;
    }
    std::vector<std::string> candidates;
    for (const host::CodecEntry& c : host::currentDeviceProfile()->codecs) {
        if (!c.encoder || strcasecmp(c.type.c_str(), mime) != 0) continue;
        if (matchComponentName != nullptr && c.name != matchComponentName) continue;
        if ((flags & kSoftwareCodecsOnly) && !isSoftware(c.name)) continue;
        if ((flags & kHardwareCodecsOnly) && isSoftware(c.name)) continue;
        candidates.push_back(c.name);
    }
    if (flags & kPreferSoftwareCodecs) {
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const std::string& a, const std::string& b) {
                             return isSoftware(a) && !isSoftware(b);
                         });
    }
    for (const std::string& name : candidates) {
        if (name == "AACEncoder") return new AACEncoder(source, meta);
        sp<PlatformEncoder> encoder = PlatformEncoder::Create(omx, name.c_str(), meta, source);
        if (encoder != nullptr) return encoder;
    }
    ALOGE("no encoder for %s%s%s", mime, matchComponentName ? " named " : "",
          matchComponentName ? matchComponentName : "");
    return nullptr;
}

}  // namespace android
