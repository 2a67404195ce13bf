/*
 * Where the writer's bytes go: the output file, or memory while the moov is
 * built. Positions are 64-bit; a failed write or seek is kept as the sink's
 * status (the first one wins) and later calls still move the position, so
 * the layout stays computable after a failure.
 */
#ifndef QOR_BYTE_SINK_H_
#define QOR_BYTE_SINK_H_

#include <stddef.h>
#include <stdint.h>
#include <sys/uio.h>

#include <atomic>
#include <vector>

#include <utils/Errors.h>

namespace qor {

class IByteSink {
public:
    virtual ~IByteSink() = default;
    virtual void write(const void* data, size_t size) = 0;
    // Writes every piece in order; the pieces may be adjusted on the way.
    virtual void writev(struct iovec* iov, size_t count);
    virtual void seek(int64_t offset) = 0;
    virtual int64_t position() const = 0;
    virtual android::status_t status() const = 0;
    // No more writes; a file is closed.
    virtual void close() {}
    // The file written (-1 when there is none to reach directly).
    virtual int fd() const { return -1; }
};

// The output file. Offsets past 2 GiB work on 32-bit builds too.
class FileByteSink : public IByteSink {
public:
    // Adopts `fd` (closed by close() or the destructor).
    explicit FileByteSink(int fd) : mFd(fd) {}
    ~FileByteSink() override;

    static int openFile(const char* filename);

    void write(const void* data, size_t size) override;
    void writev(struct iovec* iov, size_t count) override;
    void seek(int64_t offset) override;
    int64_t position() const override { return mPosition; }
    android::status_t status() const override { return mStatus.load(); }
    void close() override;
    int fd() const override { return mFd; }

private:
    void noteError(const char* what, int err);

    int mFd;
    int64_t mPosition = 0;
    // Read by the track threads while the writing thread may set it.
    std::atomic<android::status_t> mStatus{android::OK};

    FileByteSink(const FileByteSink&) = delete;
    FileByteSink& operator=(const FileByteSink&) = delete;
};

// A growing buffer; a seek past the end leaves zeros up to the next write.
class MemoryByteSink : public IByteSink {
public:
    void write(const void* data, size_t size) override;
    void seek(int64_t offset) override { mPosition = (size_t)offset; }
    int64_t position() const override { return (int64_t)mPosition; }
    android::status_t status() const override { return android::OK; }
    const std::vector<uint8_t>& bytes() const { return mBytes; }

private:
    std::vector<uint8_t> mBytes;
    size_t mPosition = 0;
};

}  // namespace qor

#endif  // QOR_BYTE_SINK_H_
