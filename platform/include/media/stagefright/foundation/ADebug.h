/*
 * Assertion macros for broken preconditions. A failure logs, through the
 * fatal log, the source path (relative to the source tree, without its
 * extension), a colon, the line, then the condition and "failed.", e.g.
 *   android/source/mpeg4_writer/MPEG4Writer:1147 CHECK(!mBoxes.empty()) failed.
 *   android/source/mpeg4_writer/MPEG4Writer:88 CHECK_EQ( strlen(s),4) (3 vs. 4) failed.
 * and aborts the process. Never an answer to ordinary input.
 */
#ifndef A_DEBUG_H
#define A_DEBUG_H

#include <inttypes.h>
#include <stdio.h>

#include <string>
#include <type_traits>

namespace android {

[[noreturn]] void checkFailed(const char* file, int line, const char* what, const char* values);

template <typename T>
std::string checkValueString(const T& v) {
    char buf[64];
    if constexpr (std::is_pointer<T>::value || std::is_null_pointer<T>::value) {
        snprintf(buf, sizeof(buf), "%p", (const void*)v);
    } else if constexpr (std::is_same<T, bool>::value) {
        snprintf(buf, sizeof(buf), "%s", v ? "true" : "false");
    } else if constexpr (std::is_floating_point<T>::value) {
        snprintf(buf, sizeof(buf), "%g", (double)v);
    } else if constexpr (std::is_enum<T>::value) {
        snprintf(buf, sizeof(buf), "%lld", (long long)v);
    } else if constexpr (std::is_signed<T>::value) {
        snprintf(buf, sizeof(buf), "%lld", (long long)v);
    } else {
        snprintf(buf, sizeof(buf), "%llu", (unsigned long long)v);
    }
    return buf;
}

}  // namespace android

#define CHECK(condition)                                                        \
    do {                                                                        \
        if (!(condition)) {                                                     \
            ::android::checkFailed(__FILE__, __LINE__, "CHECK(" #condition ")", \
                                   nullptr);                                    \
        }                                                                       \
    } while (0)

#define QOR_CHECK_OP(x, y, suffix, op)                                                    \
    do {                                                                                  \
        const auto& x_ = (x);                                                             \
        const auto& y_ = (y);                                                             \
        _Pragma("GCC diagnostic push")                                                    \
        _Pragma("GCC diagnostic ignored \"-Wsign-compare\"")                              \
        if (!(x_ op y_)) {                                                                \
            std::string values_ = ::android::checkValueString(x_) + " vs. " +             \
                                  ::android::checkValueString(y_);                        \
            ::android::checkFailed(__FILE__, __LINE__, "CHECK_" #suffix "( " #x "," #y ")", \
                                   values_.c_str());                                      \
        }                                                                                 \
        _Pragma("GCC diagnostic pop")                                                     \
    } while (0)

#define CHECK_EQ(x, y) QOR_CHECK_OP(x, y, EQ, ==)
#define CHECK_NE(x, y) QOR_CHECK_OP(x, y, NE, !=)
#define CHECK_LE(x, y) QOR_CHECK_OP(x, y, LE, <=)
#define CHECK_LT(x, y) QOR_CHECK_OP(x, y, LT, <)
#define CHECK_GE(x, y) QOR_CHECK_OP(x, y, GE, >=)
#define CHECK_GT(x, y) QOR_CHECK_OP(x, y, GT, >)

#define TRESPASS() ::android::checkFailed(__FILE__, __LINE__, "Should not be here.", nullptr)

#endif  // A_DEBUG_H
