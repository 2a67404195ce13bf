/*
 * System clocks, as the platform's utilities provide them.
 */
#ifndef PLATFORM_UTILS_TIMERS_H_
#define PLATFORM_UTILS_TIMERS_H_

#include <stdint.h>

typedef int64_t nsecs_t;  // nanoseconds

enum {
    SYSTEM_TIME_REALTIME = 0,   // wall clock
    SYSTEM_TIME_MONOTONIC = 1,  // since boot, never set back
};

// The current time of a system clock, in nanoseconds.
nsecs_t systemTime(int clock = SYSTEM_TIME_MONOTONIC);

#endif  // PLATFORM_UTILS_TIMERS_H_
