#include <host/device_profile.h>

#include <android/log.h>

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <sstream>

namespace host {

namespace {

// The default device: level 23, a model on no list, a non-Qualcomm board,
// the platform's software encoders.
const char kDefaultProfile[] =
    "ro.build.version.sdk=23\n"
    "ro.product.model=LumoKast Host\n"
    "ro.board.platform=host\n"
    "ro.hw_plat=host\n"
    "codec.0.name=OMX.google.h264.encoder\n"
    "codec.0.type=video/avc\n"
    "codec.0.encoder=1\n"
    "codec.0.colorformats=19\n"
    "codec.0.profilelevels=1:0x2000\n"
    "codec.1.name=OMX.google.aac.encoder\n"
    "codec.1.type=audio/mp4a-latm\n"
    "codec.1.encoder=1\n";

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitList(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, ',')) {
        item = trim(item);
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

uint32_t parseNumber(const std::string& s) { return (uint32_t)strtoul(s.c_str(), nullptr, 0); }

struct Cache {
    std::mutex lock;
    std::string path;
    time_t mtime = 0;
    long mtimeNs = 0;
    std::shared_ptr<const DeviceProfile> profile;
};

Cache& cache() {
    static Cache* c = new Cache;
    return *c;
}

}  // namespace

bool CodecEntry::hasQuirk(const std::string& q) const {
    for (const std::string& s : quirks) {
        if (s == q) return true;
    }
    return false;
}

long long CodecEntry::intKey(const std::string& key, long long def) const {
    auto it = keys.find(key);
    return it == keys.end() ? def : strtoll(it->second.c_str(), nullptr, 0);
}

std::string DeviceProfile::get(const std::string& key, const std::string& def) const {
    auto it = values.find(key);
    return it == values.end() ? def : it->second;
}

std::shared_ptr<DeviceProfile> parseDeviceProfile(const std::string& text, const std::string& path) {
    auto profile = std::make_shared<DeviceProfile>();
    profile->path = path;
    std::map<int, CodecEntry> codecs;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(t.substr(0, eq));
        std::string value = trim(t.substr(eq + 1));
        profile->values[key] = value;
        if (key.compare(0, 6, "codec.") != 0) continue;
        size_t dot = key.find('.', 6);
        if (dot == std::string::npos) continue;
        int n = atoi(key.substr(6, dot - 6).c_str());
        std::string field = key.substr(dot + 1);
        CodecEntry& c = codecs[n];
        c.index = n;
        c.keys[field] = value;
        if (field == "name") {
            c.name = value;
        } else if (field == "type") {
            c.type = value;
        } else if (field == "encoder") {
            c.encoder = atoi(value.c_str()) != 0;
        } else if (field == "colorformats") {
            for (const std::string& f : splitList(value)) c.colorFormats.push_back(parseNumber(f));
        } else if (field == "profilelevels") {
            for (const std::string& pl : splitList(value)) {
                size_t colon = pl.find(':');
                if (colon == std::string::npos) continue;
                c.profileLevels.emplace_back(parseNumber(pl.substr(0, colon)),
                                             parseNumber(pl.substr(colon + 1)));
            }
        } else if (field == "quirks") {
            c.quirks = splitList(value);
        }
    }
    for (auto& kv : codecs) profile->codecs.push_back(kv.second);
    return profile;
}

std::shared_ptr<const DeviceProfile> currentDeviceProfile() {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    const char* env = getenv("DEVICE_PROFILE");
    std::string path = env ? env : "";
    struct stat st;
    memset(&st, 0, sizeof(st));
    if (!path.empty()) stat(path.c_str(), &st);
    if (c.profile && c.path == path && c.mtime == st.st_mtim.tv_sec &&
        c.mtimeNs == st.st_mtim.tv_nsec) {
        return c.profile;
    }
    std::string text = kDefaultProfile;
    if (!path.empty()) {
        std::ifstream f(path);
        if (f) {
            std::stringstream ss;
            ss << f.rdbuf();
            text = ss.str();
        } else {
            // A test or demo that names a device it cannot read would
            // otherwise run on the default device without noticing.
            __android_log_print(ANDROID_LOG_ERROR, "host_device",
                                "device profile %s cannot be read; the default device applies",
                                path.c_str());
        }
    }
    c.profile = parseDeviceProfile(text, path);
    c.path = path;
    c.mtime = st.st_mtim.tv_sec;
    c.mtimeNs = st.st_mtim.tv_nsec;
    return c.profile;
}

}  // namespace host
