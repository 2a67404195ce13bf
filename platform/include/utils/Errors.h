// Platform status codes.
#ifndef UTILS_ERRORS_H
#define UTILS_ERRORS_H

#include <errno.h>
#include <stdint.h>

namespace android {

typedef int32_t status_t;

enum {
    OK = 0,
    NO_ERROR = 0,
    UNKNOWN_ERROR = (-2147483647 - 1),  // 0x80000000
    NO_MEMORY = -ENOMEM,
    INVALID_OPERATION = -ENOSYS,  // -38
    BAD_VALUE = -EINVAL,          // -22
    BAD_TYPE = (UNKNOWN_ERROR + 1),
    NAME_NOT_FOUND = -ENOENT,
    PERMISSION_DENIED = -EPERM,
    NO_INIT = -ENODEV,  // -19
    ALREADY_EXISTS = -EEXIST,
    DEAD_OBJECT = -EPIPE,
    BAD_INDEX = -EOVERFLOW,
    NOT_ENOUGH_DATA = -ENODATA,
    WOULD_BLOCK = -EWOULDBLOCK,
    TIMED_OUT = -ETIMEDOUT,
    UNKNOWN_TRANSACTION = (UNKNOWN_ERROR + 2),
};

}  // namespace android

#endif  // UTILS_ERRORS_H
