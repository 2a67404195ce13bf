// Mending a recording in place from its journal.
#define LOG_TAG "MP4Recovery"

#include "mpeg4_writer/Mp4Recovery.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <utils/Log.h>

#include "mpeg4_writer/PositionalIo.h"
#include "mpeg4_writer/RecoveredMoov.h"

namespace qor {

namespace {

// A journal larger than this is not one of ours (ten hours of recording
// take about 40 MiB).
const int64_t kMaxJournalBytes = 256LL << 20;

// Seconds since 1904, the epoch of the header boxes.
uint64_t mpeg4Time() { return (uint64_t)((int64_t)time(nullptr) + 2082844800LL); }

uint64_t bigEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

int64_t fileSize(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? (int64_t)st.st_size : -1;
}

// False also while the journal's recording still runs (its lock is held).
bool readWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ALOGE("%s belongs to a recording that is still running", path.c_str());
        ::close(fd);
        return false;
    }
    const int64_t size = fileSize(fd);
    bool ok = size >= 0 && size <= kMaxJournalBytes;
    if (ok) {
        bytes->resize((size_t)size);
        ok = size == 0 || readAt(fd, bytes->data(), (size_t)size, 0);
    }
    ::close(fd);
    return ok;
}

// A file whose top-level boxes run exactly to its end, with a moov that
// starts with its mvhd, is finished.
bool isCompleteFile(int fd) {
    const int64_t size = fileSize(fd);
    int64_t pos = 0;
    bool moov = false;
    while (pos < size) {
        uint8_t h[16];
        if (size - pos < 8 || !readAt(fd, h, 8, pos)) return false;
        uint64_t boxSize = bigEndian(h, 4);
        if (boxSize == 1) {
            if (size - pos < 16 || !readAt(fd, h + 8, 8, pos + 8)) return false;
            boxSize = bigEndian(h + 8, 8);
        }
        if (boxSize < 8 || boxSize > (uint64_t)(size - pos)) return false;
        for (int i = 4; i < 8; ++i) {
            if (h[i] < 0x20 || h[i] > 0x7e) return false;
        }
        if (memcmp(h + 4, "moov", 4) == 0) {
            uint8_t child[8];
            if (boxSize < 16 || !readAt(fd, child, 8, pos + 8)) return false;
            moov = memcmp(child + 4, "mvhd", 4) == 0;
        }
        pos += (int64_t)boxSize;
    }
    return moov && pos == size;
}

// The chunks whose every byte is in the file; the first one cut short
// ends the list (nothing after it was written later than it).
size_t wholeChunks(const JournalContents& j, int64_t size) {
    size_t n = 0;
    while (n < j.chunks.size() && j.chunks[n].offset + j.chunks[n].bytes <= size) ++n;
    return n;
}

bool patchMdatSize(int fd, const journal::FileInfo& f, int64_t dataEnd) {
    const uint64_t size = (uint64_t)(dataEnd - f.mdatStart);
    uint8_t be[8];
    for (int i = 0; i < 8; ++i) be[i] = (uint8_t)(size >> (56 - 8 * i));
    if (f.use32BitOffset) return writeAt(fd, be + 4, 4, f.mdatStart);
    return writeAt(fd, be, 8, f.mdatStart + 8);
}

bool placeInReservation(int fd, const journal::FileInfo& f, const std::vector<uint8_t>& moov,
                        int64_t dataEnd) {
    const int64_t size = (int64_t)moov.size();
    uint8_t freeBox[8] = {0, 0, 0, 0, 'f', 'r', 'e', 'e'};
    const uint32_t rest = (uint32_t)(f.reservedMoovBytes - size);
    for (int i = 0; i < 4; ++i) freeBox[i] = (uint8_t)(rest >> (24 - 8 * i));
    return ftruncate64(fd, dataEnd) == 0 && patchMdatSize(fd, f, dataEnd) &&
           writeAt(fd, moov.data(), moov.size(), f.freeBoxStart) &&
           writeAt(fd, freeBox, 8, f.freeBoxStart + size);
}

// Chunks from the end are given up until the moov fits after the rest.
bool placeMoov(int fd, const JournalContents& j, size_t chunks) {
    const journal::FileInfo& f = j.file;
    std::vector<uint8_t> moov;
    while (chunks > 0 && buildRecoveredMoov(j, chunks, mpeg4Time(), &moov)) {
        const JournalContents::Chunk& last = j.chunks[chunks - 1];
        const int64_t dataEnd = last.offset + last.bytes;
        if (f.reservedMoovBytes > 0 && (int64_t)moov.size() + 8 <= f.reservedMoovBytes) {
            return placeInReservation(fd, f, moov, dataEnd);
        }
        if (ftruncate64(fd, dataEnd) == 0 && patchMdatSize(fd, f, dataEnd) &&
            writeAt(fd, moov.data(), moov.size(), dataEnd)) {
            return ftruncate64(fd, dataEnd + (int64_t)moov.size()) == 0;
        }
        ALOGW("No room for the moov after %zu chunks: giving up the tail", chunks);
        int64_t freed = 0;
        while (chunks > 0 && freed < (int64_t)moov.size()) freed += j.chunks[--chunks].bytes;
    }
    return false;
}

RecoveryResult mend(int fd, const JournalContents& j) {
    const int64_t size = fileSize(fd);
    size_t chunks = wholeChunks(j, size);
    if (chunks < j.chunks.size()) {
        ALOGW("%zu of %zu chunks reached the file whole", chunks, j.chunks.size());
    }
    if (!placeMoov(fd, j, chunks)) {
        ALOGE("Nothing playable can be made of the recording");
        return RecoveryResult::kFailed;
    }
    return RecoveryResult::kRecovered;
}

}  // namespace

RecoveryResult recoverRecording(const char* path) {
    if (path == nullptr) return RecoveryResult::kFailed;
    const std::string journalPath = RecoveryJournal::pathFor(path);
    std::vector<uint8_t> bytes;
    if (access(journalPath.c_str(), F_OK) != 0) return RecoveryResult::kNothingToDo;
    int fd = ::open(path, O_RDWR | O_CLOEXEC | O_LARGEFILE);
    if (fd < 0) {
        ALOGE("Cannot open %s: %s", path, strerror(errno));
        return RecoveryResult::kFailed;
    }
    RecoveryResult result = RecoveryResult::kNothingToDo;
    if (!isCompleteFile(fd)) {
        JournalContents j;
        if (!readWholeFile(journalPath, &bytes) || !parseJournal(bytes.data(), bytes.size(), &j)) {
            ALOGE("The recovery journal of %s cannot be read", path);
            result = RecoveryResult::kFailed;
        } else {
            result = mend(fd, j);
        }
    }
    if (::close(fd) != 0 && result == RecoveryResult::kRecovered) result = RecoveryResult::kFailed;
    if (result != RecoveryResult::kFailed) unlink(journalPath.c_str());
    return result;
}

}  // namespace qor
