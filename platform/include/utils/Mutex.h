// Mutex of the platform utilities, over pthreads.
#ifndef UTILS_MUTEX_H
#define UTILS_MUTEX_H

#include <pthread.h>

#include <android-base/thread_annotations.h>
#include <utils/Errors.h>

namespace android {

class Condition;

class CAPABILITY("mutex") Mutex {
public:
    enum { PRIVATE = 0, SHARED = 1 };
    Mutex() { pthread_mutex_init(&mMutex, nullptr); }
    explicit Mutex(const char*) : Mutex() {}
    Mutex(int type, const char* = nullptr) {
        if (type == SHARED) {
            pthread_mutexattr_t attr;
            pthread_mutexattr_init(&attr);
            pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
            pthread_mutex_init(&mMutex, &attr);
            pthread_mutexattr_destroy(&attr);
        } else {
            pthread_mutex_init(&mMutex, nullptr);
        }
    }
    ~Mutex() { pthread_mutex_destroy(&mMutex); }

    status_t lock() ACQUIRE() { return -pthread_mutex_lock(&mMutex); }
    void unlock() RELEASE() { pthread_mutex_unlock(&mMutex); }
    status_t tryLock() TRY_ACQUIRE(0) { return -pthread_mutex_trylock(&mMutex); }

    class SCOPED_CAPABILITY Autolock {
    public:
        explicit Autolock(Mutex& m) ACQUIRE(m) : mLock(m) { mLock.lock(); }
        explicit Autolock(Mutex* m) ACQUIRE(m) : mLock(*m) { mLock.lock(); }
        ~Autolock() RELEASE() { mLock.unlock(); }

    private:
        Mutex& mLock;
    };

private:
    friend class Condition;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    pthread_mutex_t mMutex;
};

typedef Mutex::Autolock AutoMutex;

}  // namespace android

#endif  // UTILS_MUTEX_H
