/*
 * The simulated device: a file of key=value lines named by the environment
 * variable DEVICE_PROFILE (built-in default when unset). Keys beginning with
 * "ro." are system properties; codec.N.* keys list the device's codecs.
 */
#ifndef HOST_DEVICE_PROFILE_H
#define HOST_DEVICE_PROFILE_H

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace host {

struct CodecEntry {
    int index = 0;  // N of codec.N.*
    std::string name;
    std::string type;  // MIME
    bool encoder = true;
    std::vector<uint32_t> colorFormats;
    std::vector<std::pair<uint32_t, uint32_t>> profileLevels;  // OpenMAX profile, level
    std::vector<std::string> quirks;
    std::map<std::string, std::string> keys;  // every codec.N.<key>, e.g. fault.*

    bool hasQuirk(const std::string& q) const;
    // Integer value of codec.N.<key>, or `def` when absent.
    long long intKey(const std::string& key, long long def) const;
};

struct DeviceProfile {
    std::string path;  // empty for the built-in default
    std::map<std::string, std::string> values;  // every key of the file
    std::vector<CodecEntry> codecs;               // in list order (ascending N)

    std::string get(const std::string& key, const std::string& def = "") const;
};

// The profile in force now; re-read when DEVICE_PROFILE names another file
// or the file changed.
std::shared_ptr<const DeviceProfile> currentDeviceProfile();

// Parses profile text (exposed for tests).
std::shared_ptr<DeviceProfile> parseDeviceProfile(const std::string& text, const std::string& path);

}  // namespace host

#endif  // HOST_DEVICE_PROFILE_H
