/*
 * Counts the pushes under way. Pushes run without the facade lock (one may
 * wait seconds for the encoder), so stop waits here before it frees the
 * buffers they write.
 */
#ifndef QOR_PUSH_GATE_H_
#define QOR_PUSH_GATE_H_

#include <utils/Condition.h>
#include <utils/Mutex.h>

namespace qor {

class PushGate {
public:
    void enter() EXCLUDES(mLock) {
        android::Mutex::Autolock guard(mLock);
        ++mActive;
    }
    void leave() EXCLUDES(mLock) {
        android::Mutex::Autolock guard(mLock);
        if (--mActive == 0) mIdle.broadcast();
    }
    // Returns once no push is under way.
    void waitUntilIdle() EXCLUDES(mLock) {
        android::Mutex::Autolock guard(mLock);
        while (mActive != 0) mIdle.wait(mLock);
    }

    // One push, from construction to destruction.
    class Scope {
    public:
        explicit Scope(PushGate& gate) : mGate(gate) { mGate.enter(); }
        ~Scope() { mGate.leave(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        PushGate& mGate;
    };

private:
    android::Mutex mLock;
    android::Condition mIdle;
    int mActive GUARDED_BY(mLock) = 0;
};

}  // namespace qor

#endif  // QOR_PUSH_GATE_H_
