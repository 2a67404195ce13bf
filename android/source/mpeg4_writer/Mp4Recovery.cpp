// Mending a recording in place from its journal, and nothing else.
#define LOG_TAG "MP4Recovery"

#include "mpeg4_writer/Mp4Recovery.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <string>

#include <utils/Log.h>

#include "mpeg4_writer/JournalReader.h"
#include "mpeg4_writer/PositionalIo.h"
#include "mpeg4_writer/RecoveredMoov.h"

namespace qor {

namespace {

// A journal larger than this is not one of ours (ten hours of recording
// take about 40 MiB).
const uint64_t kMaxJournalBytes = 256ULL << 20;
// Chunks are read back in pieces of this size to check their CRC.
const size_t kCheckBytes = 256 * 1024;
// Box headers are read through a window of this size.
const size_t kHeaderWindowBytes = 64 * 1024;
// The moov goes to the file through a buffer of this size.
const size_t kMoovBufferBytes = 64 * 1024;

// Seconds since 1904, the epoch of the header boxes.
uint64_t mpeg4Time() { return (uint64_t)((int64_t)time(nullptr) + 2082844800LL); }

uint64_t bigEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

// The size of a regular file; false for anything else.
bool regularFileSize(int fd, uint64_t* size) {
    struct stat64 st;
    if (fstat64(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = (uint64_t)st.st_size;
    return true;
}

bool sameFile(const struct stat64& a, const struct stat64& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `path` still names the file open as `fd`.
bool namesFile(const std::string& path, int fd) {
    struct stat64 byName, byFd;
    return lstat64(path.c_str(), &byName) == 0 && fstat64(fd, &byFd) == 0 && sameFile(byName, byFd);
}

// ---- Complete files ----

// Small pieces of a file read through a window: the box headers of a file
// of many small boxes cost a read per window, not one per box.
class WindowReader {
public:
    WindowReader(int fd, uint64_t size) : mFd(fd), mSize(size) {}

    bool read(uint64_t at, uint8_t* out, size_t n) {
        if (at > mSize || n > mSize - at || n > kHeaderWindowBytes) return false;
        if (at < mStart || at + n > mStart + mWindow.size()) {
            const uint64_t left = mSize - at;
            mWindow.resize((size_t)(left < kHeaderWindowBytes ? left : kHeaderWindowBytes));
            mStart = at;
            if (!readAt(mFd, mWindow.data(), mWindow.size(), (int64_t)at)) {
                mWindow.clear();
                return false;
            }
        }
        memcpy(out, &mWindow[at - mStart], n);
        return true;
    }

private:
    int mFd;
    uint64_t mSize;
    uint64_t mStart = 0;
    std::vector<uint8_t> mWindow;
};

bool printableType(const uint8_t* type) {
    for (int i = 0; i < 4; ++i) {
        if (type[i] < 0x20 || type[i] > 0x7e) return false;
    }
    return true;
}

// Complete by ISO BMFF's rules, only the top-level headers read: boxes
// that run to the end of the file (the last one may say 0: up to the end;
// fewer than 8 bytes after it hold no box), one of them a moov.
bool isCompleteMp4(int fd, uint64_t size) {
    WindowReader reader(fd, size);
    uint64_t pos = 0;
    bool moov = false;
    while (size - pos >= 8) {
        uint8_t h[16];
        if (!reader.read(pos, h, 8) || !printableType(h + 4)) return false;
        uint64_t boxSize = bigEndian(h, 4);
        if (boxSize == 1) {
            if (!reader.read(pos + 8, h + 8, 8)) return false;
            boxSize = bigEndian(h + 8, 8);
            if (boxSize < 16) return false;
        } else if (boxSize == 0) {
            boxSize = size - pos;
        } else if (boxSize < 8) {
            return false;
        }
        if (boxSize > size - pos) return false;
        if (memcmp(h + 4, "moov", 4) == 0) moov = true;
        pos += boxSize;
    }
    return moov;
}

// ---- Whether a journal is this file's ----

// ftyp from 0 up to the reservation (or mdat); the reservation a free box,
// or the moov a stop began to write there; mdat where the journal says.
// Every offset is compared unsigned with the file's real size.
bool layoutMatches(int fd, uint64_t size, const journal::FileInfo& f) {
    const uint64_t mdatStart = (uint64_t)f.mdatStart, freeStart = (uint64_t)f.freeBoxStart;
    const uint64_t reserved = (uint64_t)f.reservedMoovBytes;
    const size_t mdatHeader = f.use32BitOffset ? 8 : 16;
    if (mdatStart > size || mdatHeader > size - mdatStart || freeStart > mdatStart) return false;
    uint8_t h[16];
    if (!readAt(fd, h, 8, 0) || memcmp(h + 4, "ftyp", 4) != 0 || bigEndian(h, 4) != freeStart) {
        return false;
    }
    if (reserved > 0) {
        if (!readAt(fd, h, 8, (int64_t)freeStart)) return false;
        const uint64_t boxSize = bigEndian(h, 4);
        const bool freeBox = memcmp(h + 4, "free", 4) == 0 && boxSize == reserved;
        const bool moov = memcmp(h + 4, "moov", 4) == 0 && boxSize + 8 <= reserved;
        if (!freeBox && !moov) return false;
    }
    if (!readAt(fd, h, mdatHeader, (int64_t)mdatStart) || memcmp(h + 4, "mdat", 4) != 0) {
        return false;
    }
    return f.use32BitOffset || bigEndian(h, 4) == 1;
}

enum class ChunkState { kWhole, kTorn, kReadError };

// Whether the chunk's bytes in the file are those the journal recorded.
ChunkState checkChunk(int fd, uint64_t size, const ChunkRecord& c, std::vector<uint8_t>* buf) {
    const uint64_t offset = (uint64_t)c.offset, bytes = (uint64_t)c.bytes;
    if (offset > size || bytes > size - offset) return ChunkState::kTorn;
    uint32_t crc = 0;
    for (uint64_t done = 0; done < bytes;) {
        const size_t n = (size_t)(bytes - done < kCheckBytes ? bytes - done : kCheckBytes);
        buf->resize(n);
        if (!readAt(fd, buf->data(), n, (int64_t)(offset + done))) return ChunkState::kReadError;
        crc = journal::crc32(buf->data(), n, crc);
        done += n;
    }
    return crc == c.crc ? ChunkState::kWhole : ChunkState::kTorn;
}

// What a journal gives: the chunks the file holds whole, in order (the
// first one that is not ends them), replayed into the moov's tables.
struct Scan {
    JournalHead head;
    std::vector<int64_t> chunkEnds;
    size_t journalChunks = 0;
    // A chunk after the first damaged one is in the file: its bytes stay.
    bool keepTail = false;
    bool layoutMatches = true;
    bool readError = false;
    std::unique_ptr<RecoveredMoov> moov;
};

struct ScanOptions {
    bool verify = true;       // the layout and CRCs checked against the file
    bool buildMoov = true;    // the tables built
    size_t limit = SIZE_MAX;  // chunks taken at most
};

class ScanVisitor : public JournalVisitor {
public:
    ScanVisitor(int fd, uint64_t size, const ScanOptions& options, Scan* scan)
        : mFd(fd), mSize(size), mOptions(options), mScan(scan) {}

    bool onFile(const journal::FileInfo& file) override {
        if (mOptions.verify && !layoutMatches(mFd, mSize, file)) {
            mScan->layoutMatches = false;
            return false;
        }
        if (mOptions.buildMoov) mScan->moov = std::make_unique<RecoveredMoov>(file);
        return true;
    }

    bool onChunk(const JournalHead& head, const ChunkRecord& c) override {
        if (mScan->journalChunks >= mOptions.limit) return false;
        ++mScan->journalChunks;
        if (mTorn) {
            const uint64_t offset = (uint64_t)c.offset;
            if (offset <= mSize && (uint64_t)c.bytes <= mSize - offset) mScan->keepTail = true;
            return true;  // counted only
        }
        ChunkState state = ChunkState::kWhole;
        if (mOptions.verify) {
            state = checkChunk(mFd, mSize, c, &mBuffer);
        } else if ((uint64_t)c.offset > mSize || (uint64_t)c.bytes > mSize - (uint64_t)c.offset) {
            state = ChunkState::kTorn;
        }
        if (state == ChunkState::kReadError) mScan->readError = true;
        if (state != ChunkState::kWhole) {
            mTorn = true;
            return state != ChunkState::kReadError;
        }
        if (mScan->moov) mScan->moov->addChunk(*head.track(c.trackId), c);
        mScan->chunkEnds.push_back(c.offset + c.bytes);
        return true;
    }

private:
    int mFd;
    uint64_t mSize;
    ScanOptions mOptions;
    Scan* mScan;
    bool mTorn = false;
    std::vector<uint8_t> mBuffer;
};

// False, with the reason, when nothing of the journal can be used.
bool scanJournal(const JournalSource& journal, int fd, uint64_t size, const ScanOptions& options,
                 Scan* scan, std::string* why) {
    ScanVisitor visitor(fd, size, options, scan);
    const WalkResult walked = walkJournal(journal, &visitor, &scan->head);
    if (walked != WalkResult::kRead) {
        *why = describe(walked);
    } else if (!scan->layoutMatches) {
        *why = "the journal does not belong to the file (the layout differs)";
    } else if (scan->readError) {
        *why = std::string("the file cannot be read: ") + strerror(errno);
    } else if (scan->chunkEnds.empty()) {
        *why = scan->journalChunks > 0
                   ? "the journal does not belong to the file (its first chunk is not there)"
                   : "the journal records no media";
    } else if (options.buildMoov && !scan->moov->finish()) {
        *why = "no track has a sample to show";
    } else {
        return true;
    }
    return false;
}

// ---- Writing the moov ----

// Writes at `base` in a file through a buffer: the moov goes to the file
// without a whole copy of it in memory.
class RegionSink : public IByteSink {
public:
    RegionSink(int fd, int64_t base) : mFd(fd), mBase(base) {}

    void write(const void* data, size_t size) override {
        const bool inside = mPosition >= mStart && mPosition <= mStart + (int64_t)mBuffer.size();
        if (!inside || (size_t)(mPosition - mStart) + size > kMoovBufferBytes) {
            flush();
            mStart = mPosition;
        }
        if (size > kMoovBufferBytes) {
            mOk = mOk && writeAt(mFd, data, size, mBase + mPosition);
        } else {
            const size_t at = (size_t)(mPosition - mStart);
            if (at + size > mBuffer.size()) mBuffer.resize(at + size);
            memcpy(&mBuffer[at], data, size);
        }
        mPosition += (int64_t)size;
    }
    void seek(int64_t offset) override { mPosition = offset; }
    int64_t position() const override { return mPosition; }
    android::status_t status() const override { return mOk ? android::OK : android::UNKNOWN_ERROR; }

    // Writes what is buffered; false when any write failed.
    bool flush() {
        if (!mBuffer.empty()) {
            mOk = mOk && writeAt(mFd, mBuffer.data(), mBuffer.size(), mBase + mStart);
        }
        mBuffer.clear();
        return mOk;
    }

private:
    int mFd;
    int64_t mBase;
    int64_t mPosition = 0;
    int64_t mStart = 0;  // of the buffer
    std::vector<uint8_t> mBuffer;
    bool mOk = true;
};

bool writeBigEndian(int fd, uint64_t value, int bytes, int64_t at) {
    uint8_t be[8];
    for (int i = 0; i < bytes; ++i) be[i] = (uint8_t)(value >> (8 * (bytes - 1 - i)));
    return writeAt(fd, be, (size_t)bytes, at);
}

bool patchMdatSize(int fd, const journal::FileInfo& f, int64_t dataEnd) {
    const uint64_t size = (uint64_t)(dataEnd - f.mdatStart);
    if (f.use32BitOffset) return writeBigEndian(fd, size, 4, f.mdatStart);
    return writeBigEndian(fd, size, 8, f.mdatStart + 8);
}

// Room for the file to reach `end`, taken before anything is written: a
// full disk then leaves the file as it was.
bool growTo(int fd, uint64_t size, int64_t end) {
    if ((uint64_t)end <= size) return true;
    const int rc = posix_fallocate64(fd, (int64_t)size, end - (int64_t)size);
    if (rc == 0) return true;
    if (ftruncate64(fd, (int64_t)size) != 0) ALOGW("The file's size cannot be restored");
    errno = rc;
    return false;
}

enum class Placed { kDone, kNoRoom, kFailed };

// Where mdat ends: after the last whole chunk, or after everything when
// the bytes past a damaged chunk stay (and mdat can hold them).
int64_t mdatEnd(const Scan& scan, uint64_t size) {
    const journal::FileInfo& f = scan.head.file;
    const bool fits = !f.use32BitOffset || size - (uint64_t)f.mdatStart <= 0xFFFFFFFFull;
    return scan.keepTail && fits ? (int64_t)size : scan.chunkEnds.back();
}

// The moov goes in and is synced; only then is mdat closed, synced, and
// what lies after the new end cut off.
Placed placeMoov(int fd, uint64_t size, const Scan& scan, int64_t moovSize, uint64_t now) {
    const journal::FileInfo& f = scan.head.file;
    const int64_t dataEnd = mdatEnd(scan, size);
    const bool reserved = f.reservedMoovBytes > 0 && moovSize + 8 <= f.reservedMoovBytes;
    const int64_t at = reserved ? f.freeBoxStart : dataEnd;
    const int64_t end = reserved ? dataEnd : dataEnd + moovSize;
    if (!growTo(fd, size, at + moovSize)) return Placed::kNoRoom;
    RegionSink sink(fd, at);
    scan.moov->write(&sink, now);
    bool ok = sink.flush();
    if (ok && reserved) {
        uint8_t freeBox[8] = {0, 0, 0, 0, 'f', 'r', 'e', 'e'};
        const uint32_t rest = (uint32_t)(f.reservedMoovBytes - moovSize);
        for (int i = 0; i < 4; ++i) freeBox[i] = (uint8_t)(rest >> (24 - 8 * i));
        ok = writeAt(fd, freeBox, sizeof(freeBox), at + moovSize);
    }
    ok = ok && fsync(fd) == 0 && patchMdatSize(fd, f, dataEnd) && fsync(fd) == 0;
    if (ok && (uint64_t)end < size) ok = ftruncate64(fd, end) == 0 && fsync(fd) == 0;
    if (!ok && (uint64_t)(at + moovSize) > size && ftruncate64(fd, (int64_t)size) != 0) {
        ALOGW("The file's size cannot be restored");
    }
    return ok ? Placed::kDone : Placed::kFailed;
}

// Chunks from the end are given up until the moov fits in the file as it
// is; 0 when it never does.
size_t chunksLeavingRoom(const Scan& scan, uint64_t size, int64_t moovSize) {
    size_t n = scan.chunkEnds.size();
    while (n > 0 && (uint64_t)(scan.chunkEnds[n - 1] + moovSize) > size) --n;
    return n < scan.chunkEnds.size() ? n : 0;
}

RecoveryResult mend(int fd, const JournalSource& journal, bool verify, bool giveUpTail,
                    std::string* why) {
    uint64_t size = 0;
    if (!regularFileSize(fd, &size)) {
        *why = "the recording is not a regular file";
        return RecoveryResult::kFailed;
    }
    const uint64_t now = mpeg4Time();
    ScanOptions options;
    options.verify = verify;
    for (;;) {
        Scan scan;
        if (!scanJournal(journal, fd, size, options, &scan, why)) return RecoveryResult::kFailed;
        if (scan.chunkEnds.size() < scan.journalChunks) {
            ALOGI("%zu of %zu chunks are in the file whole", scan.chunkEnds.size(),
                  scan.journalChunks);
        }
        const int64_t moovSize = scan.moov->size(now);
        const Placed placed = placeMoov(fd, size, scan, moovSize, now);
        if (placed == Placed::kDone) return RecoveryResult::kRecovered;
        *why =
            std::string(placed == Placed::kNoRoom ? "no room for the moov: " : "a write failed: ") +
            strerror(errno);
        options.limit =
            placed == Placed::kNoRoom && giveUpTail ? chunksLeavingRoom(scan, size, moovSize) : 0;
        if (options.limit == 0) return RecoveryResult::kFailed;
        ALOGW("No room for the moov: the last %zu chunks are given up",
              scan.chunkEnds.size() - options.limit);
    }
}

// ---- Files at a path ----

// The journal beside a recording: never through a link, never blocking on
// a FIFO, locked from before its first read until it is removed.
class JournalLock {
public:
    enum State { kAbsent, kUnusable, kBusy, kLocked };

    explicit JournalLock(const std::string& path) : mPath(path) {
        mFd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (mFd < 0) {
            mState = errno == ENOENT ? kAbsent : kUnusable;
            mWhy = errno == ELOOP ? "is a link" : strerror(errno);
        } else if (!regularFileSize(mFd, &mSize)) {
            mWhy = "is not a regular file";
        } else if (flock(mFd, LOCK_EX | LOCK_NB) != 0) {
            mState = kBusy;
            mWhy = "is held by a recording that still runs, or by another recovery";
        } else if (!namesFile(path, mFd) || !regularFileSize(mFd, &mSize)) {
            mState = kBusy;
            mWhy = "was replaced meanwhile";
        } else if (mSize > kMaxJournalBytes) {
            mWhy = "is larger than any journal";
        } else {
            mState = kLocked;
        }
    }
    ~JournalLock() {
        if (mFd >= 0) ::close(mFd);
    }

    State state() const { return mState; }
    int fd() const { return mFd; }
    uint64_t size() const { return mSize; }
    const std::string& why() const { return mWhy; }
    // The name goes while the lock is held.
    void remove() {
        if (namesFile(mPath, mFd)) unlink(mPath.c_str());
    }

private:
    std::string mPath;
    int mFd = -1;
    State mState = kUnusable;
    uint64_t mSize = 0;
    std::string mWhy;

    JournalLock(const JournalLock&) = delete;
    JournalLock& operator=(const JournalLock&) = delete;
};

// Opened without following a link or blocking on a FIFO; a regular file.
int openRecording(const char* path, int flags, std::string* why) {
    const int fd = ::open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_LARGEFILE);
    uint64_t size = 0;
    if (fd < 0) {
        *why = errno == ELOOP ? "it is a link" : strerror(errno);
    } else if (!regularFileSize(fd, &size)) {
        *why = "it is not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

// A stale journal of a complete recording goes; any other stays.
void settleJournalOfComplete(const char* path, int fd, uint64_t size, JournalLock* journal) {
    if (journal->state() == JournalLock::kAbsent) return;
    if (journal->state() == JournalLock::kLocked) {
        Scan scan;
        ScanOptions options;
        options.buildMoov = false;
        std::string why;
        FdJournalSource source(journal->fd(), journal->size());
        if (scanJournal(source, fd, size, options, &scan, &why) &&
            scan.chunkEnds.size() == scan.journalChunks) {
            journal->remove();
            return;
        }
        ALOGW("%s is complete; the journal beside it is left in place: %s", path, why.c_str());
        return;
    }
    ALOGW("%s is complete; the journal beside it is left in place: it %s", path,
          journal->why().c_str());
}

RecoveryResult recoverOpened(const char* path, int fd, std::string* why) {
    JournalLock journal(RecoveryJournal::pathFor(path));
    if (journal.state() == JournalLock::kBusy) {
        *why = "its journal " + journal.why();
        return RecoveryResult::kFailed;
    }
    uint64_t size = 0;
    if (!regularFileSize(fd, &size)) {
        *why = "it is not a regular file";
        return RecoveryResult::kFailed;
    }
    if (isCompleteMp4(fd, size)) {
        settleJournalOfComplete(path, fd, size, &journal);
        return RecoveryResult::kComplete;
    }
    if (journal.state() != JournalLock::kLocked) {
        *why = journal.state() == JournalLock::kAbsent
                   ? "it is not complete and has no journal"
                   : "it is not complete, and its journal " + journal.why();
        return RecoveryResult::kFailed;
    }
    // Written through a second descriptor of the very file checked.
    const int rw = openRecording(path, O_RDWR, why);
    if (rw < 0) return RecoveryResult::kFailed;
    struct stat64 checked, writing;
    RecoveryResult result = RecoveryResult::kFailed;
    if (fstat64(fd, &checked) != 0 || fstat64(rw, &writing) != 0 || !sameFile(checked, writing)) {
        *why = "it was replaced meanwhile";
    } else {
        FdJournalSource source(journal.fd(), journal.size());
        result = mend(rw, source, /*verify=*/true, /*giveUpTail=*/false, why);
    }
    if (::close(rw) != 0 && result == RecoveryResult::kRecovered) {
        *why = std::string("closing it failed: ") + strerror(errno);
        result = RecoveryResult::kFailed;
    }
    if (result == RecoveryResult::kRecovered) journal.remove();
    return result;
}

}  // namespace

RecoveryResult recoverRecording(const char* path) {
    if (path == nullptr || *path == '\0') {
        ALOGE("Nothing recovered: no path");
        return RecoveryResult::kFailed;
    }
    std::string why;
    RecoveryResult result = RecoveryResult::kFailed;
    const int fd = openRecording(path, O_RDONLY, &why);
    if (fd >= 0) {
        try {
            result = recoverOpened(path, fd, &why);
        } catch (const std::bad_alloc&) {
            why = "not enough memory";
        }
        ::close(fd);
    }
    if (result == RecoveryResult::kFailed) {
        ALOGE("%s is not recovered: %s", path, why.c_str());
    } else if (result == RecoveryResult::kRecovered) {
        ALOGI("%s was recovered from its journal", path);
    }
    return result;
}

RecoveryResult finishRecording(int mediaFd, const RecoveryJournal& journal) {
    std::string why = "no journal";
    RecoveryResult result = RecoveryResult::kFailed;
    uint64_t size = 0;
    try {
        if (journal.inMemory()) {
            MemoryJournalSource source(journal.memory().data(), journal.memory().size());
            result = mend(mediaFd, source, /*verify=*/false, /*giveUpTail=*/true, &why);
        } else if (journal.fd() >= 0 && regularFileSize(journal.fd(), &size)) {
            FdJournalSource source(journal.fd(), size);
            result = mend(mediaFd, source, /*verify=*/false, /*giveUpTail=*/true, &why);
        }
    } catch (const std::bad_alloc&) {
        why = "not enough memory";
    }
    if (result == RecoveryResult::kFailed) {
        ALOGE("The recording cannot be finished: %s", why.c_str());
    }
    return result;
}

}  // namespace qor
