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

// `transfer(pointer, size, offset)` moves at most `size` bytes; it is
// called again for the rest until all is done or it fails.
template <typename Byte, typename Transfer>
bool transferAll(Byte* p, size_t size, int64_t offset, Transfer transfer) {
    while (size > 0) {
        ssize_t n = transfer(p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= (size_t)n;
        offset += n;
    }
    return true;
}

inline bool readAt(int fd, void* data, size_t size, int64_t offset) {
    return transferAll(static_cast<uint8_t*>(data), size, offset,
                       [fd](uint8_t* p, size_t n, int64_t at) { return pread64(fd, p, n, at); });
}

inline bool writeAt(int fd, const void* data, size_t size, int64_t offset) {
    return transferAll(
        static_cast<const uint8_t*>(data), size, offset,
        [fd](const uint8_t* p, size_t n, int64_t at) { return pwrite64(fd, p, n, at); });
}

}  // namespace qor

#endif  // QOR_POSITIONAL_IO_H_
