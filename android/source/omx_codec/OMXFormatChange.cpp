#include "omx_codec/OMXFormatChange.h"

#include <strings.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>

namespace qor {

using android::MetaData;
using android::sp;

namespace {

// The value of `key` in both formats; both must carry it.
bool int32Differs(const sp<MetaData>& from, const sp<MetaData>& to, uint32_t key) {
    int32_t valueFrom, valueTo;
    CHECK(from->findInt32(key, &valueFrom));
    CHECK(to->findInt32(key, &valueTo));
    return valueFrom != valueTo;
}

bool rawVideoDiffers(const sp<MetaData>& from, const sp<MetaData>& to) {
    if (int32Differs(from, to, android::kKeyColorFormat)) return true;
    if (int32Differs(from, to, android::kKeyWidth)) return true;
    if (int32Differs(from, to, android::kKeyHeight)) return true;
    int32_t left_from, top_from, right_from, bottom_from;
    CHECK(from->findRect(android::kKeyCropRect, &left_from, &top_from, &right_from, &bottom_from));
    int32_t left_to, top_to, right_to, bottom_to;
    CHECK(to->findRect(android::kKeyCropRect, &left_to, &top_to, &right_to, &bottom_to));
    return left_to != left_from || top_to != top_from || right_to != right_from ||
           bottom_to != bottom_from;
}

bool rawAudioDiffers(const sp<MetaData>& from, const sp<MetaData>& to) {
    if (int32Differs(from, to, android::kKeyChannelCount)) return true;
    return int32Differs(from, to, android::kKeySampleRate);
}

}  // namespace

bool formatHasNotablyChanged(const sp<MetaData>& from, const sp<MetaData>& to) {
    if (from == nullptr && to == nullptr) return false;
    if ((from != nullptr && to == nullptr) || (from == nullptr && to != nullptr)) return true;
    const char *mime_from, *mime_to;
    CHECK(from->findCString(android::kKeyMIMEType, &mime_from));
    CHECK(to->findCString(android::kKeyMIMEType, &mime_to));
    if (strcasecmp(mime_from, mime_to)) return true;

    if (!strcasecmp(mime_from, android::MEDIA_MIMETYPE_VIDEO_RAW)) return rawVideoDiffers(from, to);
    if (!strcasecmp(mime_from, android::MEDIA_MIMETYPE_AUDIO_RAW)) return rawAudioDiffers(from, to);
    return false;
}

}  // namespace qor
