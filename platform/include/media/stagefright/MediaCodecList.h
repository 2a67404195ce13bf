/*
 * The device's codec list. Level 18 answers by index on the list itself;
 * levels 21 and 23 hand out a per-codec information object.
 */
#ifndef MEDIA_CODEC_LIST_H_
#define MEDIA_CODEC_LIST_H_

#include <stddef.h>
#include <sys/types.h>

#include <utils/RefBase.h>
#include <utils/String8.h>

#ifndef PLATFORM_LEVEL
#error "PLATFORM_LEVEL comes from the platform target of the build's level"
#endif

#if PLATFORM_LEVEL >= 21
#include <media/MediaCodecInfo.h>
#endif

namespace android {

#if PLATFORM_LEVEL >= 21

struct IMediaCodecList : public RefBase {
    virtual size_t countCodecs() const = 0;
    virtual ssize_t findCodecByType(const char* type, bool encoder,
                                    size_t startIndex = 0) const = 0;
    virtual ssize_t findCodecByName(const char* name) const = 0;
    virtual sp<MediaCodecInfo> getCodecInfo(size_t index) const = 0;
};

struct MediaCodecList {
    // Null when the list is unavailable.
    static sp<IMediaCodecList> getInstance();
};

#else

struct MediaCodecList {
    // Null when the list is unavailable.
    static const MediaCodecList* getInstance();

    size_t countCodecs() const;
    ssize_t findCodecByType(const char* type, bool encoder, size_t startIndex = 0) const;
    ssize_t findCodecByName(const char* name) const;
    const char* getCodecName(size_t index) const;
    bool isEncoder(size_t index) const;
    bool codecHasQuirk(size_t index, const char* quirkName) const;

private:
    MediaCodecList() {}
};

#endif

}  // namespace android

#endif  // MEDIA_CODEC_LIST_H_
