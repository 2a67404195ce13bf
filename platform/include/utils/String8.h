// Narrow string of the platform utilities (host stand-in).
#ifndef UTILS_STRING8_H
#define UTILS_STRING8_H

#include <stdarg.h>
#include <string.h>

#include <string>

namespace android {

class String8 {
public:
    String8() {}
    String8(const char* s) : mStr(s ? s : "") {}
    String8(const char* s, size_t n) : mStr(s ? std::string(s, n) : std::string()) {}
    String8(const String8& o) = default;
    String8& operator=(const String8& o) = default;
    String8& operator=(const char* s) {
        mStr = s ? s : "";
        return *this;
    }

    const char* string() const { return mStr.c_str(); }
    const char* c_str() const { return mStr.c_str(); }
    operator const char*() const { return mStr.c_str(); }
    size_t size() const { return mStr.size(); }
    size_t length() const { return mStr.size(); }
    bool isEmpty() const { return mStr.empty(); }

    void setTo(const char* s) { mStr = s ? s : ""; }
    void setTo(const String8& o) { mStr = o.mStr; }
    void append(const char* s) { mStr += (s ? s : ""); }
    void append(const String8& o) { mStr += o.mStr; }
    int appendFormat(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    static String8 format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    bool operator==(const String8& o) const { return mStr == o.mStr; }
    bool operator!=(const String8& o) const { return mStr != o.mStr; }
    bool operator<(const String8& o) const { return mStr < o.mStr; }

private:
    std::string mStr;
};

inline int String8::appendFormat(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[1024];
    int n = vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    if (n < 0) return n;
    if ((size_t)n < sizeof(buf)) {
        mStr.append(buf, n);
    } else {
        std::string big(n + 1, '\0');
        va_start(ap, fmt);
        vsnprintf(&big[0], big.size(), fmt, ap);
        va_end(ap);
        big.resize(n);
        mStr += big;
    }
    return 0;
}

inline String8 String8::format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[1024];
    int n = vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    if (n >= 0 && (size_t)n < sizeof(buf)) return String8(buf, n);
    std::string big(n > 0 ? n + 1 : 1, '\0');
    va_start(ap, fmt);
    vsnprintf(&big[0], big.size(), fmt, ap);
    va_end(ap);
    return String8(big.c_str());
}

}  // namespace android

#endif  // UTILS_STRING8_H
