#ifndef ANDROID_PROCESS_STATE_H_
#define ANDROID_PROCESS_STATE_H_

#include <functional>
#include <mutex>
#include <vector>

#include <utils/RefBase.h>

namespace android {

class ProcessState : public RefBase {
public:
    static sp<ProcessState> self();
    // Starts the thread pool on which service callbacks arrive (once).
    void startThreadPool();
    bool threadPoolStarted();

    // Host: runs `onStart` once the pool is started, at once if it already
    // is. The in-process service holds its messages until then, as binder
    // queues transactions for a process that has no thread to take them.
    void whenThreadPoolStarted(std::function<void()> onStart);

private:
    ProcessState() : mStarted(false) {}
    std::mutex mLock;
    bool mStarted;
    std::vector<std::function<void()>> mWaiting;
};

}  // namespace android

#endif  // ANDROID_PROCESS_STATE_H_
