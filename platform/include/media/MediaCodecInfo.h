// Per-codec information of the codec list (levels 21 and 23).
#ifndef MEDIA_CODEC_INFO_H_
#define MEDIA_CODEC_INFO_H_

#include <string.h>

#include <vector>

#include <utils/RefBase.h>
#include <utils/String8.h>

namespace android {

struct MediaCodecInfo : public RefBase {
    MediaCodecInfo(const String8& name, bool encoder, const std::vector<String8>& mimes,
                   const std::vector<String8>& quirks)
        : mName(name), mIsEncoder(encoder), mMimes(mimes), mQuirks(quirks) {}

    const char* getCodecName() const { return mName.string(); }
    bool isEncoder() const { return mIsEncoder; }
    bool hasQuirk(const char* name) const {
        if (name == nullptr) return false;
        for (const String8& q : mQuirks) {
            if (strcmp(q.string(), name) == 0) return true;
        }
        return false;
    }
    const std::vector<String8>& getSupportedMimes() const { return mMimes; }

private:
    String8 mName;
    bool mIsEncoder;
    std::vector<String8> mMimes;
    std::vector<String8> mQuirks;
};

}  // namespace android

#endif  // MEDIA_CODEC_INFO_H_
