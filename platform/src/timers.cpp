// systemTime() from the host's clocks, or from the time a test set.
#include <time.h>

#include <atomic>

#include <host/test_clock.h>
#include <utils/Timers.h>

namespace {

const int64_t kNoTestClock = -1;
std::atomic<int64_t> gTestClockNs{kNoTestClock};

}  // namespace

nsecs_t systemTime(int clock) {
    const int64_t set = gTestClockNs.load(std::memory_order_acquire);
    if (set != kNoTestClock) return set;
    struct timespec ts;
    clock_gettime(clock == SYSTEM_TIME_REALTIME ? CLOCK_REALTIME : CLOCK_MONOTONIC, &ts);
    return (nsecs_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

namespace host {

void setTestClockNs(int64_t timeNs) { gTestClockNs.store(timeNs, std::memory_order_release); }

void releaseTestClock() { gTestClockNs.store(kNoTestClock, std::memory_order_release); }

}  // namespace host
