/*
 * The monotonic clock that time limits are measured on (never set back,
 * unlike the wall clock the pushes are stamped with).
 */
#ifndef QOR_MONOTONIC_CLOCK_H_
#define QOR_MONOTONIC_CLOCK_H_

#include <stdint.h>
#include <time.h>

namespace qor {

inline int64_t monotonicNs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

}  // namespace qor

#endif  // QOR_MONOTONIC_CLOCK_H_
