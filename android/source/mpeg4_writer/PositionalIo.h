/*
 * Whole reads and writes at a file offset (64-bit offsets in both ABIs),
 * going on after short transfers and interrupted calls.
 */
#ifndef QOR_POSITIONAL_IO_H_
#define QOR_POSITIONAL_IO_H_

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

namespace qor {

inline bool readAt(int fd, void* data, size_t size, int64_t offset) {
    uint8_t* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t n = pread64(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
        offset += n;
    }
    return true;
}

inline bool writeAt(int fd, const void* data, size_t size, int64_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = pwrite64(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
        offset += n;
    }
    return true;
}

}  // namespace qor

#endif  // QOR_POSITIONAL_IO_H_
