/*
 * Reading a recovery journal as untrusted bytes, record by record, without
 * holding more of it than one record: the journal of a long recording is
 * large, and recovery runs in the game's (maybe 32-bit) process.
 */
#ifndef QOR_JOURNAL_READER_H_
#define QOR_JOURNAL_READER_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "mpeg4_writer/RecoveryJournal.h"

namespace qor {

// Where a journal's bytes come from: its file, or the writer's memory.
class JournalSource {
public:
    virtual ~JournalSource() = default;
    virtual uint64_t size() const = 0;
    virtual bool read(void* out, size_t size, uint64_t at) const = 0;
};

class FdJournalSource : public JournalSource {
public:
    FdJournalSource(int fd, uint64_t size) : mFd(fd), mSize(size) {}
    uint64_t size() const override { return mSize; }
    bool read(void* out, size_t size, uint64_t at) const override;

private:
    int mFd;
    uint64_t mSize;
};

class MemoryJournalSource : public JournalSource {
public:
    MemoryJournalSource(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    uint64_t size() const override { return mSize; }
    bool read(void* out, size_t size, uint64_t at) const override;

private:
    const uint8_t* mData;
    size_t mSize;
};

// A chunk record whose values were checked; its samples stay valid until
// the next record is read.
struct ChunkRecord {
    uint32_t trackId = 0;
    int64_t offset = 0;
    int64_t bytes = 0;
    uint32_t crc = 0;
    uint32_t count = 0;
    const uint8_t* samples = nullptr;  // count * kSampleBytes
    journal::SampleInfo sample(size_t i) const;
};

// What comes before the chunks: the layout first, the tracks as they come.
struct JournalHead {
    bool hasFile = false;
    journal::FileInfo file;
    std::vector<journal::TrackInfo> tracks;
    const journal::TrackInfo* track(uint32_t id) const;
};

class JournalVisitor {
public:
    virtual ~JournalVisitor() = default;
    // The layout, read before anything else; false ends the walk.
    virtual bool onFile(const journal::FileInfo& file) {
        (void)file;
        return true;
    }
    // Each chunk in order; false ends the walk.
    virtual bool onChunk(const JournalHead& head, const ChunkRecord& chunk) = 0;
};

enum class WalkResult {
    kRead,         // to the last whole record, or as far as the visitor went
    kNotAJournal,  // no journal header
    kOldFormat,    // a journal of another version
    kNoLayout,     // no file layout can be read
    kReadError,    // the source could not be read
};

// Reads the records in order up to the first one that is cut, damaged or
// inconsistent, handing each chunk to `visitor`.
WalkResult walkJournal(const JournalSource& source, JournalVisitor* visitor, JournalHead* head);

const char* describe(WalkResult result);

}  // namespace qor

#endif  // QOR_JOURNAL_READER_H_
