#include <media/stagefright/foundation/ADebug.h>

#include <android/log.h>
#include <string.h>

namespace android {

void checkFailed(const char* file, int line, const char* what, const char* values) {
    std::string path = file ? file : "";
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
    if (values != nullptr) {
        __android_log_assert(what, "CHECK", "%s:%d %s (%s) failed.", path.c_str(), line, what, values);
    }
    __android_log_assert(what, "CHECK", "%s:%d %s failed.", path.c_str(), line, what);
}

}  // namespace android
