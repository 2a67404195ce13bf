// Mending a recording that a crash or a full disk cut short; needs no init.
#define LOG_TAG "qor_icodec"
#include "icodec/Recovery.h"

#include <utils/Log.h>

#include "mpeg4_writer/Mp4Recovery.h"

extern "C" int lumokast_recover(const char* path) {
    if (path == nullptr) {
        ALOGE("recover, no file path.");
        return -1;
    }
    const qor::RecoveryResult result = qor::recoverRecording(path);
    ALOGI("recover %s: %s", path,
          result == qor::RecoveryResult::kRecovered     ? "mended"
          : result == qor::RecoveryResult::kNothingToDo ? "nothing to mend"
                                                        : "not recoverable");
    return result == qor::RecoveryResult::kFailed ? -1 : 0;
}
