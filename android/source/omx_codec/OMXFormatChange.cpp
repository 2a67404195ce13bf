#include "omx_codec/OMXFormatChange.h"

#include <strings.h>

#include <media/stagefright/MediaDefs.h>

namespace qor {

using android::MetaData;
using android::sp;

namespace {

// The formats are built from what the component reports: a value one of
// them lacks (and the other has) is a change.
bool int32Differs(const sp<MetaData>& from, const sp<MetaData>& to, uint32_t key) {
    int32_t valueFrom = 0, valueTo = 0;
    const bool inFrom = from->findInt32(key, &valueFrom);
    const bool inTo = to->findInt32(key, &valueTo);
    return inFrom != inTo || valueFrom != valueTo;
}

bool cropDiffers(const sp<MetaData>& from, const sp<MetaData>& to) {
    int32_t f[4] = {}, t[4] = {};
    const bool inFrom = from->findRect(android::kKeyCropRect, &f[0], &f[1], &f[2], &f[3]);
    const bool inTo = to->findRect(android::kKeyCropRect, &t[0], &t[1], &t[2], &t[3]);
    return inFrom != inTo || f[0] != t[0] || f[1] != t[1] || f[2] != t[2] || f[3] != t[3];
}

bool rawVideoDiffers(const sp<MetaData>& from, const sp<MetaData>& to) {
    return int32Differs(from, to, android::kKeyColorFormat) ||
           int32Differs(from, to, android::kKeyWidth) ||
           int32Differs(from, to, android::kKeyHeight) || cropDiffers(from, to);
}

bool rawAudioDiffers(const sp<MetaData>& from, const sp<MetaData>& to) {
    if (int32Differs(from, to, android::kKeyChannelCount)) return true;
    return int32Differs(from, to, android::kKeySampleRate);
}

}  // namespace

bool formatHasNotablyChanged(const sp<MetaData>& from, const sp<MetaData>& to) {
    if (from == nullptr && to == nullptr) return false;
    if ((from != nullptr && to == nullptr) || (from == nullptr && to != nullptr)) return true;
    const char *mime_from = nullptr, *mime_to = nullptr;
    const bool inFrom = from->findCString(android::kKeyMIMEType, &mime_from);
    const bool inTo = to->findCString(android::kKeyMIMEType, &mime_to);
    if (!inFrom || !inTo) return inFrom != inTo;
    if (strcasecmp(mime_from, mime_to)) return true;

    if (!strcasecmp(mime_from, android::MEDIA_MIMETYPE_VIDEO_RAW)) return rawVideoDiffers(from, to);
    if (!strcasecmp(mime_from, android::MEDIA_MIMETYPE_AUDIO_RAW)) return rawAudioDiffers(from, to);
    return false;
}

}  // namespace qor
