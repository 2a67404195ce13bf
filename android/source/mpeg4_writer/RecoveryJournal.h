/*
 * The recovery journal: a small file next to the recording that holds what
 * a moov needs (the file layout, each track's sample entry and timing, and,
 * chunk by chunk, the sample tables with a CRC-32 of the chunk's bytes),
 * appended after each chunk reaches the file. A recording cut short (a
 * killed process, a full disk) is made playable again from it; a clean stop
 * deletes it. The CRCs and the layout tie the journal to its own file:
 * recovery verifies them before it writes a byte.
 *
 * The journal is created anew (never through a link, never over a file
 * that is not a journal) and locked before the recording's file is opened;
 * the lock is held until the recording ends. Without a file the journal is
 * kept in memory, so that a full disk still ends with a moov.
 *
 * Layout: "LKRJ", version (u32), then records: payload length (u32), type
 * (u8), payload, CRC-32 of type and payload (u32); all little-endian. The
 * journal's space is allocated ahead of the chunks it will describe, so a
 * chunk that reached the file can always be recorded.
 */
#ifndef QOR_RECOVERY_JOURNAL_H_
#define QOR_RECOVERY_JOURNAL_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace qor {

namespace journal {

// Version 1 had no chunk CRCs and no priming; it is not read.
const uint32_t kVersion = 2;
const char kMagic[4] = {'L', 'K', 'R', 'J'};
const size_t kHeaderBytes = 8;
// Length, type and CRC around every payload.
const size_t kRecordOverhead = 9;

enum RecordType : uint8_t {
    kFileRecord = 1,
    kTrackRecord = 2,
    kChunkRecord = 3,
};

// Where mdat and the moov reservation are; fixed when the file begins.
// ftyp takes the bytes before freeBoxStart.
struct FileInfo {
    bool use32BitOffset = true;
    int64_t mdatStart = 0;
    int64_t freeBoxStart = 0;
    int64_t reservedMoovBytes = 0;  // 0: no reservation
    int32_t movieTimeScale = 1000;
};

struct TrackInfo {
    uint32_t trackId = 0;
    bool isAudio = false;
    int32_t timeScale = 0;
    int32_t width = 0, height = 0;
    int64_t startTimeUs = 0;
    uint64_t primingTicks = 0;         // the encoder's delay, skipped by an edit
    std::vector<uint8_t> sampleEntry;  // the whole stsd box
};

// One sample as its tables record it.
struct SampleInfo {
    uint32_t size = 0;
    uint32_t deltaTicks = 0;
    uint32_t compositionOffsetTicks = 0;
    bool isSync = false;
};

const size_t kSampleBytes = 13;
const size_t kChunkHeadBytes = 20;

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Little-endian values appended to a record's payload.
void put32(std::vector<uint8_t>* out, uint32_t v);
void put64(std::vector<uint8_t>* out, uint64_t v);

// Reads values from untrusted bytes: past the end, every read fails and
// leaves the reader failed.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    bool get8(uint8_t* v);
    bool get32(uint32_t* v);
    bool get64(uint64_t* v);
    bool bytes(size_t n, const uint8_t** p);
    size_t left() const { return mSize - mPos; }
    bool ok() const { return mOk; }

private:
    const uint8_t* mData;
    size_t mSize;
    size_t mPos = 0;
    bool mOk = true;
};

}  // namespace journal

class RecoveryJournal {
public:
    enum class OpenResult {
        kOpened,  // created and locked
        kNone,    // no file can hold it here (logged): keep it in memory
        kBusy,    // another recording or a recovery holds this path's journal
    };

    RecoveryJournal() = default;
    ~RecoveryJournal();

    static std::string pathFor(const char* mediaPath);

    // Creates the journal of `mediaPath` and locks it; a stale journal of
    // an earlier recording is removed first.
    OpenResult open(const char* mediaPath);
    // Keeps the journal in memory from now on (also after a failed open).
    void openInMemory();
    bool isOpen() const { return mFd >= 0 || mInMemory; }
    bool inMemory() const { return mInMemory; }
    // The locked journal file (-1 in memory), or the records kept in memory.
    int fd() const { return mFd; }
    const std::vector<uint8_t>& memory() const { return mMemory; }

    void writeFile(const journal::FileInfo& info);
    void writeTrack(const journal::TrackInfo& info);
    // Makes sure a chunk of `samples` samples can be recorded; false when
    // the disk has no room left for it.
    bool reserveChunk(size_t samples);
    // `crc` is the CRC-32 of the chunk's bytes in the file.
    void writeChunk(uint32_t trackId, int64_t offset, uint32_t crc,
                    const journal::SampleInfo* samples, size_t count);

    // Closes the journal and keeps it (the file needs mending) or removes
    // it (the file is complete). Either releases the lock last.
    void close();
    void remove();

private:
    bool removeStale(int fd);
    OpenResult create();
    bool reserve(int64_t bytes);
    void append(uint8_t type, const std::vector<uint8_t>& payload);

    int mFd = -1;
    bool mInMemory = false;
    std::vector<uint8_t> mMemory;
    std::string mPath;
    int64_t mEnd = 0;        // where the next record goes
    int64_t mAllocated = 0;  // bytes the file holds ready
    bool mFailed = false;

    RecoveryJournal(const RecoveryJournal&) = delete;
    RecoveryJournal& operator=(const RecoveryJournal&) = delete;
};

}  // namespace qor

#endif  // QOR_RECOVERY_JOURNAL_H_
