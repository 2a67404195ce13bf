#ifndef ANDROID_PROCESS_STATE_H_
#define ANDROID_PROCESS_STATE_H_

#include <utils/RefBase.h>

namespace android {

class ProcessState : public RefBase {
public:
    static sp<ProcessState> self();
    // Starts the thread pool on which service callbacks arrive (once).
    void startThreadPool();
    bool threadPoolStarted() const { return mStarted; }

private:
    ProcessState() : mStarted(false) {}
    bool mStarted;
};

}  // namespace android

#endif  // ANDROID_PROCESS_STATE_H_
