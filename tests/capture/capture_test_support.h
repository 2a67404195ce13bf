// Shared pieces of the capture library's tests.
#ifndef QOR_TESTS_CAPTURE_SUPPORT_H
#define QOR_TESTS_CAPTURE_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <android/log.h>
#include <host/log_record.h>

#include "lumokast_egl.h"

namespace qor {
namespace test {

// A destination buffer with a sentinel fill, to see what a capture wrote.
struct Frame {
    explicit Frame(size_t bytes, size_t capacity = 0)
        : bytes(capacity ? capacity : bytes, 0xA5) {}
    DirectBuffer target() { return DirectBuffer{bytes.data(), (int64_t)bytes.size()}; }
    const uint16_t* pixels() const { return reinterpret_cast<const uint16_t*>(bytes.data()); }
    bool untouched() const {
        for (uint8_t b : bytes)
            if (b != 0xA5) return false;
        return true;
    }
    std::vector<uint8_t> bytes;
};

inline int logLinesContaining(const std::string& text) { return host::logCount(text); }

inline bool logHasTagOf(const std::string& text, const std::string& tagPart) {
    for (const auto& line : host::logSnapshot())
        if (line.msg.find(text) != std::string::npos && line.tag.find(tagPart) != std::string::npos)
            return true;
    return false;
}

// Points DEVICE_PROFILE at a scratch profile holding `lines` (for a suite's
// set-up); dropDeviceProfile() removes it again.
inline bool useDeviceProfile(const char* lines) {
    char path[] = "/tmp/qor_capture_profile_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return false;
    FILE* f = fdopen(fd, "w");
    fputs(lines, f);
    fclose(f);
    return setenv("DEVICE_PROFILE", path, 1) == 0;
}
inline void dropDeviceProfile() {
    if (const char* path = getenv("DEVICE_PROFILE")) remove(path);
    unsetenv("DEVICE_PROFILE");
}

}  // namespace test
}  // namespace qor

#endif  // QOR_TESTS_CAPTURE_SUPPORT_H
