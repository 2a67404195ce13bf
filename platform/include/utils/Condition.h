// Condition variable of the platform utilities, over pthreads.
#ifndef UTILS_CONDITION_H
#define UTILS_CONDITION_H

#include <errno.h>
#include <stdint.h>
#include <time.h>

#include <utils/Mutex.h>

namespace android {

typedef int64_t nsecs_t;

class Condition {
public:
    Condition() {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&mCond, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~Condition() { pthread_cond_destroy(&mCond); }

    status_t wait(Mutex& mutex) REQUIRES(mutex) { return -pthread_cond_wait(&mCond, &mutex.mMutex); }
    status_t waitRelative(Mutex& mutex, nsecs_t reltime) REQUIRES(mutex) {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        int64_t ns = ts.tv_nsec + reltime % 1000000000LL;
        ts.tv_sec += reltime / 1000000000LL + ns / 1000000000LL;
        ts.tv_nsec = ns % 1000000000LL;
        return -pthread_cond_timedwait(&mCond, &mutex.mMutex, &ts);
    }
    void signal() { pthread_cond_signal(&mCond); }
    void broadcast() { pthread_cond_broadcast(&mCond); }

private:
    pthread_cond_t mCond;
};

}  // namespace android

#endif  // UTILS_CONDITION_H
