// Mending a recording that a crash or a full disk cut short; needs no init.
#define LOG_TAG "qor_icodec"
#include "icodec/Recovery.h"

#include <utils/Log.h>

#include "mpeg4_writer/Mp4Recovery.h"

// Recovery itself logs why a file is refused.
extern "C" int lumokast_recover(const char* path) {
    if (path == nullptr) {
        ALOGE("recover, no file path.");
        return -1;
    }
    const qor::RecoveryResult result = qor::recoverRecording(path);
    if (result == qor::RecoveryResult::kFailed) return -1;
    ALOGI("recover %s: %s", path,
          result == qor::RecoveryResult::kRecovered ? "mended" : "complete already");
    return 0;
}
