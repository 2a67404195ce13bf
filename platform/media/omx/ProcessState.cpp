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

// The in-process service delivers its messages on threads of its own; the
// pool only has to be marked started.
void ProcessState::startThreadPool() { mStarted = true; }

}  // namespace android
