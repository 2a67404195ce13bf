// The recovery journal's writer and its byte encoding.
#define LOG_TAG "MPEG4Writer"

#include "mpeg4_writer/RecoveryJournal.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include <utils/Log.h>

#include "mpeg4_writer/PositionalIo.h"

namespace qor {

namespace journal {

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static uint32_t table[256];
    static bool ready = [] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back((uint8_t)(v >> (8 * i)));
}

void put64(std::vector<uint8_t>* out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out->push_back((uint8_t)(v >> (8 * i)));
}

bool Reader::bytes(size_t n, const uint8_t** p) {
    if (!mOk || n > mSize - mPos) {
        mOk = false;
        return false;
    }
    *p = mData + mPos;
    mPos += n;
    return true;
}

bool Reader::get8(uint8_t* v) {
    const uint8_t* p;
    if (!bytes(1, &p)) return false;
    *v = p[0];
    return true;
}

bool Reader::get32(uint32_t* v) {
    const uint8_t* p;
    if (!bytes(4, &p)) return false;
    *v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return true;
}

bool Reader::get64(uint64_t* v) {
    uint32_t lo, hi;
    if (!get32(&lo) || !get32(&hi)) return false;
    *v = (uint64_t)hi << 32 | lo;
    return true;
}

}  // namespace journal

namespace {
// The journal grows ahead of its records by this much.
const int64_t kAllocationStep = 16 * 1024;

// Whether `fd` still is what `path` names (it was not replaced meanwhile).
bool namesSameFile(const std::string& path, int fd) {
    struct stat64 byName, byFd;
    return lstat64(path.c_str(), &byName) == 0 && fstat64(fd, &byFd) == 0 &&
           byName.st_dev == byFd.st_dev && byName.st_ino == byFd.st_ino;
}
}  // namespace

RecoveryJournal::~RecoveryJournal() { close(); }

std::string RecoveryJournal::pathFor(const char* mediaPath) {
    return std::string(mediaPath) + ".journal";
}

RecoveryJournal::OpenResult RecoveryJournal::open(const char* mediaPath) {
    close();
    mPath = pathFor(mediaPath);
    // Never through a link, and a FIFO does not block the open.
    int fd = ::open(mPath.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) {
        ALOGW("No recovery journal at %s: %s", mPath.c_str(), strerror(errno));
        mPath.clear();
        return OpenResult::kNone;
    }
    if (fd >= 0) {
        // Locked by a recording or a recovery: this path is theirs.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            mPath.clear();
            return OpenResult::kBusy;
        }
        const bool removed = removeStale(fd);
        ::close(fd);
        if (!removed) {
            mPath.clear();
            return OpenResult::kNone;
        }
    }
    return create();
}

// Only a regular file that is a journal (or an empty one, cut before its
// header) is removed; anything else at the name is left alone.
bool RecoveryJournal::removeStale(int fd) {
    struct stat64 st;
    uint8_t magic[4] = {0, 0, 0, 0};
    const bool regular = fstat64(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool ours = regular && (st.st_size == 0 || (readAt(fd, magic, sizeof(magic), 0) &&
                                                      memcmp(magic, journal::kMagic, 4) == 0));
    if (!ours) {
        ALOGW("%s is not a recovery journal: left alone, the recording keeps none", mPath.c_str());
        return false;
    }
    if (!namesSameFile(mPath, fd) || unlink(mPath.c_str()) != 0) {
        ALOGW("The stale recovery journal %s cannot be removed", mPath.c_str());
        return false;
    }
    return true;
}

RecoveryJournal::OpenResult RecoveryJournal::create() {
    mFd = ::open(mPath.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC,
                 S_IRUSR | S_IWUSR);
    if (mFd < 0) {
        const int err = errno;
        ALOGW("No recovery journal %s: %s", mPath.c_str(), strerror(err));
        mPath.clear();
        // Made by someone else since the name was free: theirs.
        return err == EEXIST ? OpenResult::kBusy : OpenResult::kNone;
    }
    // Held while the recording runs (and released by the kernel when the
    // process dies): recovery and other recordings leave this one alone.
    if (flock(mFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(mFd);
        mFd = -1;
        mPath.clear();
        return OpenResult::kBusy;
    }
    mEnd = 0;
    mAllocated = 0;
    mFailed = false;
    uint8_t header[journal::kHeaderBytes];
    memcpy(header, journal::kMagic, 4);
    for (int i = 0; i < 4; ++i) header[4 + i] = (uint8_t)(journal::kVersion >> (8 * i));
    if (!reserve(sizeof(header)) || !writeAt(mFd, header, sizeof(header), 0)) {
        // No journal file at all rather than one that stops the recording.
        remove();
        return OpenResult::kNone;
    }
    mEnd = sizeof(header);
    return OpenResult::kOpened;
}

void RecoveryJournal::openInMemory() {
    close();
    mInMemory = true;
    mFailed = false;
    mMemory.assign(journal::kMagic, journal::kMagic + 4);
    journal::put32(&mMemory, journal::kVersion);
}

// Space is taken from the disk ahead of need: a disk that fills up fails
// here, before the chunk this space is for goes to the file.
bool RecoveryJournal::reserve(int64_t bytes) {
    if (mInMemory) return !mFailed;
    if (mFd < 0 || mFailed) return false;
    if (mEnd + bytes <= mAllocated) return true;
    // A step ahead when the disk allows, else just what is needed now.
    int64_t target = mEnd + bytes + kAllocationStep;
    int rc = posix_fallocate64(mFd, mAllocated, target - mAllocated);
    if (rc != 0) {
        target = mEnd + bytes;
        rc = posix_fallocate64(mFd, mAllocated, target - mAllocated);
    }
    if (rc != 0) {
        ALOGW("The recovery journal cannot grow: %s", strerror(rc));
        return false;
    }
    mAllocated = target;
    return true;
}

bool RecoveryJournal::reserveChunk(size_t samples) {
    return reserve((int64_t)(journal::kRecordOverhead + journal::kChunkHeadBytes +
                             samples * journal::kSampleBytes));
}

void RecoveryJournal::append(uint8_t type, const std::vector<uint8_t>& payload) {
    if (!isOpen() || mFailed) return;
    std::vector<uint8_t> record;
    record.reserve(payload.size() + journal::kRecordOverhead);
    journal::put32(&record, (uint32_t)payload.size());
    record.push_back(type);
    record.insert(record.end(), payload.begin(), payload.end());
    journal::put32(&record, journal::crc32(record.data() + 4, payload.size() + 1));
    if (mInMemory) {
        try {
            mMemory.insert(mMemory.end(), record.begin(), record.end());
        } catch (const std::bad_alloc&) {
            ALOGW("No memory for the journal: it ends here");
            mFailed = true;
        }
        return;
    }
    if (!reserve((int64_t)record.size()) || !writeAt(mFd, record.data(), record.size(), mEnd)) {
        // Later records would follow a gap: the journal ends here.
        mFailed = true;
        return;
    }
    mEnd += (int64_t)record.size();
}

void RecoveryJournal::writeFile(const journal::FileInfo& info) {
    std::vector<uint8_t> p;
    journal::put32(&p, info.use32BitOffset ? 1 : 0);
    journal::put64(&p, (uint64_t)info.mdatStart);
    journal::put64(&p, (uint64_t)info.freeBoxStart);
    journal::put64(&p, (uint64_t)info.reservedMoovBytes);
    journal::put32(&p, (uint32_t)info.movieTimeScale);
    append(journal::kFileRecord, p);
}

void RecoveryJournal::writeTrack(const journal::TrackInfo& info) {
    std::vector<uint8_t> p;
    journal::put32(&p, info.trackId);
    journal::put32(&p, info.isAudio ? 1 : 0);
    journal::put32(&p, (uint32_t)info.timeScale);
    journal::put32(&p, (uint32_t)info.width);
    journal::put32(&p, (uint32_t)info.height);
    journal::put64(&p, (uint64_t)info.startTimeUs);
    journal::put64(&p, info.primingTicks);
    journal::put32(&p, (uint32_t)info.sampleEntry.size());
    p.insert(p.end(), info.sampleEntry.begin(), info.sampleEntry.end());
    append(journal::kTrackRecord, p);
}

void RecoveryJournal::writeChunk(uint32_t trackId, int64_t offset, uint32_t crc,
                                 const journal::SampleInfo* samples, size_t count) {
    std::vector<uint8_t> p;
    p.reserve(journal::kChunkHeadBytes + count * journal::kSampleBytes);
    journal::put32(&p, trackId);
    journal::put64(&p, (uint64_t)offset);
    journal::put32(&p, crc);
    journal::put32(&p, (uint32_t)count);
    for (size_t i = 0; i < count; ++i) {
        journal::put32(&p, samples[i].size);
        journal::put32(&p, samples[i].deltaTicks);
        journal::put32(&p, samples[i].compositionOffsetTicks);
        p.push_back(samples[i].isSync ? 1 : 0);
    }
    append(journal::kChunkRecord, p);
}

void RecoveryJournal::close() {
    if (mFd >= 0) ::close(mFd);
    mFd = -1;
    mInMemory = false;
    std::vector<uint8_t>().swap(mMemory);
}

// The name goes while the lock is still held: nobody can take a journal
// that is about to disappear.
void RecoveryJournal::remove() {
    if (mFd >= 0 && !mPath.empty() && namesSameFile(mPath, mFd)) unlink(mPath.c_str());
    close();
    mPath.clear();
}

}  // namespace qor
