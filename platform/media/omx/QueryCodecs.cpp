// Codec capabilities, answered from the device profile's codec.N.* entries.
#include <media/stagefright/OMXCodec.h>

#include <strings.h>

#include <host/device_profile.h>

namespace android {

status_t QueryCodecs(const sp<IOMX>& /*omx*/, const char* mimeType, bool queryDecoders,
                     std::vector<CodecCapabilities>* results) {
    results->clear();
    if (mimeType == nullptr) return BAD_VALUE;
    std::shared_ptr<const host::DeviceProfile> profile = host::currentDeviceProfile();
    for (const host::CodecEntry& codec : profile->codecs) {
        if (codec.encoder == queryDecoders) continue;
        if (strcasecmp(codec.type.c_str(), mimeType) != 0) continue;
        CodecCapabilities caps;
        caps.mComponentName = codec.name.c_str();
        for (const auto& pl : codec.profileLevels) caps.mProfileLevels.push_back({pl.first, pl.second});
        for (uint32_t f : codec.colorFormats) caps.mColorFormats.push_back(f);
        results->push_back(caps);
    }
    return OK;
}

}  // namespace android
