// The device's codec list, read from the device profile's codec.N.* entries
// (the same entries QueryCodecs answers from). The profile key
// "codeclist.unavailable=1" makes the list unavailable.
#include <media/stagefright/MediaCodecList.h>

#include <strings.h>

#include <mutex>
#include <vector>

#include <host/device_profile.h>

namespace android {

namespace {

bool listAvailable(const host::DeviceProfile& profile) {
    return profile.get("codeclist.unavailable", "0") != "1";
}

ssize_t findByType(const host::DeviceProfile& profile, const char* type, bool encoder,
                   size_t startIndex) {
    if (type == nullptr) return -ENOENT;
    for (size_t i = startIndex; i < profile.codecs.size(); ++i) {
        const host::CodecEntry& c = profile.codecs[i];
        if (c.encoder == encoder && strcasecmp(c.type.c_str(), type) == 0) return (ssize_t)i;
    }
    return -ENOENT;
}

ssize_t findByName(const host::DeviceProfile& profile, const char* name) {
    if (name == nullptr) return -ENOENT;
    for (size_t i = 0; i < profile.codecs.size(); ++i) {
        if (profile.codecs[i].name == name) return (ssize_t)i;
    }
    return -ENOENT;
}

}  // namespace

#if PLATFORM_LEVEL >= 21

namespace {

// A snapshot of the profile taken when the list was handed out.
class ProfileCodecList : public IMediaCodecList {
public:
    explicit ProfileCodecList(std::shared_ptr<const host::DeviceProfile> profile)
        : mProfile(std::move(profile)) {}

    size_t countCodecs() const override { return mProfile->codecs.size(); }
    ssize_t findCodecByType(const char* type, bool encoder, size_t startIndex) const override {
        return findByType(*mProfile, type, encoder, startIndex);
    }
    ssize_t findCodecByName(const char* name) const override {
        return findByName(*mProfile, name);
    }
    sp<MediaCodecInfo> getCodecInfo(size_t index) const override {
        if (index >= mProfile->codecs.size()) return nullptr;
        const host::CodecEntry& c = mProfile->codecs[index];
        std::vector<String8> mimes{String8(c.type.c_str())};
        std::vector<String8> quirks;
        for (const std::string& q : c.quirks) quirks.push_back(String8(q.c_str()));
        return new MediaCodecInfo(String8(c.name.c_str()), c.encoder, mimes, quirks);
    }

private:
    std::shared_ptr<const host::DeviceProfile> mProfile;
};

}  // namespace

sp<IMediaCodecList> MediaCodecList::getInstance() {
    std::shared_ptr<const host::DeviceProfile> profile = host::currentDeviceProfile();
    if (!listAvailable(*profile)) return nullptr;
    return new ProfileCodecList(profile);
}

#else

const MediaCodecList* MediaCodecList::getInstance() {
    static MediaCodecList* instance = new MediaCodecList;
    return listAvailable(*host::currentDeviceProfile()) ? instance : nullptr;
}

size_t MediaCodecList::countCodecs() const { return host::currentDeviceProfile()->codecs.size(); }

ssize_t MediaCodecList::findCodecByType(const char* type, bool encoder, size_t startIndex) const {
    return findByType(*host::currentDeviceProfile(), type, encoder, startIndex);
}

ssize_t MediaCodecList::findCodecByName(const char* name) const {
    return findByName(*host::currentDeviceProfile(), name);
}

const char* MediaCodecList::getCodecName(size_t index) const {
    // Names live as long as the profile snapshot; keep every snapshot handed out.
    static std::mutex lock;
    static std::vector<std::shared_ptr<const host::DeviceProfile>>* kept =
        new std::vector<std::shared_ptr<const host::DeviceProfile>>;
    std::shared_ptr<const host::DeviceProfile> profile = host::currentDeviceProfile();
    if (index >= profile->codecs.size()) return nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (kept->empty() || kept->back() != profile) kept->push_back(profile);
    return profile->codecs[index].name.c_str();
}

bool MediaCodecList::isEncoder(size_t index) const {
    std::shared_ptr<const host::DeviceProfile> profile = host::currentDeviceProfile();
    return index < profile->codecs.size() && profile->codecs[index].encoder;
}

bool MediaCodecList::codecHasQuirk(size_t index, const char* quirkName) const {
    std::shared_ptr<const host::DeviceProfile> profile = host::currentDeviceProfile();
    return quirkName != nullptr && index < profile->codecs.size() &&
           profile->codecs[index].hasQuirk(quirkName);
}

#endif

}  // namespace android
