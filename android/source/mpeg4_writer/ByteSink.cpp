// File and memory sinks of the writer.
#define LOG_TAG "MPEG4Writer"

#include "mpeg4_writer/ByteSink.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

namespace qor {

void IByteSink::writev(struct iovec* iov, size_t count) {
    for (size_t i = 0; i < count; ++i) write(iov[i].iov_base, iov[i].iov_len);
}

FileByteSink::~FileByteSink() { close(); }

int FileByteSink::openFile(const char* filename) {
    return ::open(filename, O_CREAT | O_LARGEFILE | O_TRUNC | O_RDWR, S_IRUSR | S_IWUSR);
}

void FileByteSink::close() {
    if (mFd >= 0) ::close(mFd);
    mFd = -1;
}

void FileByteSink::noteError(const char* what, int err) {
    android::status_t expected = android::OK;
    if (!mStatus.compare_exchange_strong(expected, android::ERROR_IO)) return;
    ALOGE("%s failed at offset %lld: %s", what, (long long)mPosition, strerror(err));
}

void FileByteSink::write(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t left = size;
    while (left > 0) {
        ssize_t n = ::write(mFd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            noteError("write", n < 0 ? errno : ENOSPC);
            break;
        }
        p += n;
        left -= (size_t)n;
    }
    mPosition += (int64_t)size;
}

void FileByteSink::writev(struct iovec* iov, size_t count) {
    int64_t total = 0;
    for (size_t i = 0; i < count; ++i) total += (int64_t)iov[i].iov_len;
    while (count > 0) {
        int n = count > (size_t)IOV_MAX ? IOV_MAX : (int)count;
        ssize_t written = ::writev(mFd, iov, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            noteError("write", written < 0 ? errno : ENOSPC);
            break;
        }
        // Skip what went out; a short write resumes inside a piece.
        size_t left = (size_t)written;
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0 && left > 0) {
            iov->iov_base = (uint8_t*)iov->iov_base + left;
            iov->iov_len -= left;
        }
    }
    mPosition += total;
}

void FileByteSink::seek(int64_t offset) {
    if (lseek64(mFd, offset, SEEK_SET) < 0) noteError("seek", errno);
    mPosition = offset;
}

void MemoryByteSink::write(const void* data, size_t size) {
    if (mPosition + size > mBytes.size()) mBytes.resize(mPosition + size);
    memcpy(mBytes.data() + mPosition, data, size);
    mPosition += size;
}

}  // namespace qor
