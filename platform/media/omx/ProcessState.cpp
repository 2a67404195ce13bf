#include <binder/ProcessState.h>

#include <mutex>

namespace android {

sp<ProcessState> ProcessState::self() {
    static std::mutex lock;
    static sp<ProcessState>* instance = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (instance == nullptr) instance = new sp<ProcessState>(new ProcessState);
    return *instance;
}

// The in-process service delivers its messages on threads of its own; what
// it queued before the start goes out now.
void ProcessState::startThreadPool() {
    std::vector<std::function<void()>> waiting;
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (mStarted) return;
        mStarted = true;
        waiting.swap(mWaiting);
    }
    for (const std::function<void()>& onStart : waiting) onStart();
}

bool ProcessState::threadPoolStarted() {
    std::lock_guard<std::mutex> guard(mLock);
    return mStarted;
}

void ProcessState::whenThreadPoolStarted(std::function<void()> onStart) {
    {
        std::lock_guard<std::mutex> guard(mLock);
        if (!mStarted) {
            mWaiting.push_back(std::move(onStart));
            return;
        }
    }
    onStart();
}

}  // namespace android
