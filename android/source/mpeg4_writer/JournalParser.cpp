// Reading a recovery journal: untrusted bytes, checked record by record.
#define LOG_TAG "MP4Recovery"

#include <string.h>

#include "mpeg4_writer/JournalReader.h"
#include "mpeg4_writer/Mp4Recovery.h"
#include "mpeg4_writer/PositionalIo.h"

namespace qor {

using journal::Reader;

namespace {

const uint64_t kMaxFileOffset = 1ULL << 42;
const uint32_t kMaxSampleBytes = 256u << 20;
const uint32_t kMaxSampleEntryBytes = 64 * 1024;
const uint32_t kMaxTimeScale = 10000000;
const uint64_t kMaxSamples = 50000000;
// A longer record is not one of ours (a chunk of a million samples).
const uint32_t kMaxRecordBytes = 16u << 20;
// How far the records are read ahead.
const size_t kWindowBytes = 64 * 1024;

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

uint32_t littleEndian32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Every value is compared unsigned: one past 2^63 must not pass as negative.
bool readFile(Reader* r, journal::FileInfo* f) {
    uint32_t flags, scale;
    uint64_t mdat, freeStart, reserved;
    if (!r->get32(&flags) || !r->get64(&mdat) || !r->get64(&freeStart) || !r->get64(&reserved) ||
        !r->get32(&scale) || r->left() != 0) {
        return false;
    }
    if (flags > 1 || mdat < 8 || mdat > kMaxFileOffset || freeStart < 8 || freeStart > mdat ||
        reserved > mdat - freeStart || scale == 0 || scale > kMaxTimeScale) {
        return false;
    }
    if (reserved != 0 && (reserved < 8 || freeStart + reserved != mdat)) return false;
    f->use32BitOffset = flags == 1;
    f->mdatStart = (int64_t)mdat;
    f->freeBoxStart = (int64_t)freeStart;
    f->reservedMoovBytes = (int64_t)reserved;
    f->movieTimeScale = (int32_t)scale;
    return true;
}

bool validSampleEntry(const uint8_t* p, uint32_t size) {
    return size >= 16 && size <= kMaxSampleEntryBytes && bigEndian32(p) == size &&
           memcmp(p + 4, "stsd", 4) == 0;
}

bool readTrack(Reader* r, journal::TrackInfo* t) {
    uint32_t id, audio, scale, width, height, entryBytes;
    uint64_t start, priming;
    const uint8_t* entry;
    if (!r->get32(&id) || !r->get32(&audio) || !r->get32(&scale) || !r->get32(&width) ||
        !r->get32(&height) || !r->get64(&start) || !r->get64(&priming) || !r->get32(&entryBytes) ||
        !r->bytes(entryBytes, &entry) || r->left() != 0) {
        return false;
    }
    // A priming of more than ten seconds is no encoder's.
    if (id < 1 || id > 2 || audio > 1 || scale == 0 || scale > kMaxTimeScale || width > 65535 ||
        height > 65535 || start > (uint64_t)INT64_MAX || priming > 10ull * scale ||
        !validSampleEntry(entry, entryBytes)) {
        return false;
    }
    t->trackId = id;
    t->isAudio = audio == 1;
    t->timeScale = (int32_t)scale;
    t->width = (int32_t)width;
    t->height = (int32_t)height;
    t->startTimeUs = (int64_t)start;
    t->primingTicks = priming;
    t->sampleEntry.assign(entry, entry + entryBytes);
    return true;
}

bool checkSamples(ChunkRecord* c) {
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < c->count; ++i) {
        const uint8_t* s = c->samples + (size_t)i * journal::kSampleBytes;
        const uint32_t size = littleEndian32(s);
        if (size == 0 || size > kMaxSampleBytes || s[12] > 1) return false;
        bytes += size;
    }
    c->bytes = (int64_t)bytes;
    return true;
}

// Chunks follow each other in the file in the order they were recorded.
bool readChunk(Reader* r, const JournalHead& head, uint64_t previousEnd, ChunkRecord* c) {
    uint64_t offset;
    if (!r->get32(&c->trackId) || !r->get64(&offset) || !r->get32(&c->crc) ||
        !r->get32(&c->count)) {
        return false;
    }
    if (head.track(c->trackId) == nullptr || c->count == 0 ||
        r->left() != (size_t)c->count * journal::kSampleBytes ||
        !r->bytes(r->left(), &c->samples) || !checkSamples(c)) {
        return false;
    }
    if (offset < previousEnd || offset > kMaxFileOffset) return false;
    c->offset = (int64_t)offset;
    const uint64_t end = offset + (uint64_t)c->bytes;
    return !head.file.use32BitOffset || end <= 0xFFFFFFFFull;
}

// Records read through a window that moves along the source.
class RecordStream {
public:
    explicit RecordStream(const JournalSource& source) : mSource(source) {}

    // The next record whose CRC holds; false at the end or at damage.
    bool next(uint8_t* type, Reader* payload) {
        if (!fill(journal::kRecordOverhead)) return false;
        const uint32_t length = littleEndian32(&mWindow[mPos]);
        if (length > kMaxRecordBytes || !fill(length + journal::kRecordOverhead)) return false;
        const uint8_t* body = &mWindow[mPos + 4];
        if (journal::crc32(body, length + 1) != littleEndian32(body + length + 1)) return false;
        *type = body[0];
        *payload = Reader(body + 1, length);
        mPos += length + journal::kRecordOverhead;
        return true;
    }
    bool readError() const { return mReadError; }

private:
    // At least `n` bytes at mPos; false where the source ends before.
    bool fill(size_t n) {
        if (mWindow.size() - mPos >= n) return true;
        mWindow.erase(mWindow.begin(), mWindow.begin() + (ptrdiff_t)mPos);
        mAt += mPos;
        mPos = 0;
        const uint64_t left = mSource.size() - mAt;
        if (left < n) return false;
        const size_t want =
            (size_t)(left < kWindowBytes ? left : (n > kWindowBytes ? n : kWindowBytes));
        const size_t have = mWindow.size();
        mWindow.resize(want);
        if (!mSource.read(&mWindow[have], want - have, mAt + have)) {
            mReadError = true;
            return false;
        }
        return true;
    }

    const JournalSource& mSource;
    std::vector<uint8_t> mWindow;
    uint64_t mAt = journal::kHeaderBytes;  // source offset of mWindow[0]
    size_t mPos = 0;
    bool mReadError = false;
};

struct WalkState {
    uint64_t previousEnd = 0;
    uint64_t samples = 0;
};

bool takeRecord(uint8_t type, Reader* r, JournalVisitor* visitor, JournalHead* head,
                WalkState* state) {
    switch (type) {
        case journal::kFileRecord:
            if (head->hasFile || !readFile(r, &head->file)) return false;
            head->hasFile = true;
            state->previousEnd =
                (uint64_t)head->file.mdatStart + (head->file.use32BitOffset ? 8 : 16);
            return visitor->onFile(head->file);
        case journal::kTrackRecord: {
            journal::TrackInfo t;
            if (!head->hasFile || head->tracks.size() >= 2 || !readTrack(r, &t)) return false;
            if (head->track(t.trackId) != nullptr) return false;
            head->tracks.push_back(std::move(t));
            return true;
        }
        case journal::kChunkRecord: {
            ChunkRecord c;
            if (!head->hasFile || !readChunk(r, *head, state->previousEnd, &c)) return false;
            if (state->samples + c.count > kMaxSamples) return false;
            state->samples += c.count;
            state->previousEnd = (uint64_t)(c.offset + c.bytes);
            return visitor->onChunk(*head, c);
        }
        default:
            return false;
    }
}

// Collects every chunk with its samples (for tests and tools).
class Collector : public JournalVisitor {
public:
    explicit Collector(JournalContents* out) : mOut(out) {}
    bool onChunk(const JournalHead&, const ChunkRecord& c) override {
        JournalContents::Chunk chunk;
        chunk.trackId = c.trackId;
        chunk.offset = c.offset;
        chunk.bytes = c.bytes;
        chunk.crc = c.crc;
        for (uint32_t i = 0; i < c.count; ++i) chunk.samples.push_back(c.sample(i));
        mOut->chunks.push_back(std::move(chunk));
        return true;
    }

private:
    JournalContents* mOut;
};

}  // namespace

bool FdJournalSource::read(void* out, size_t size, uint64_t at) const {
    return at <= mSize && size <= mSize - at && readAt(mFd, out, size, (int64_t)at);
}

bool MemoryJournalSource::read(void* out, size_t size, uint64_t at) const {
    if (at > mSize || size > mSize - at) return false;
    memcpy(out, mData + at, size);
    return true;
}

journal::SampleInfo ChunkRecord::sample(size_t i) const {
    const uint8_t* s = samples + i * journal::kSampleBytes;
    journal::SampleInfo info;
    info.size = littleEndian32(s);
    info.deltaTicks = littleEndian32(s + 4);
    info.compositionOffsetTicks = littleEndian32(s + 8);
    info.isSync = s[12] == 1;
    return info;
}

const journal::TrackInfo* JournalHead::track(uint32_t id) const {
    for (const journal::TrackInfo& t : tracks) {
        if (t.trackId == id) return &t;
    }
    return nullptr;
}

WalkResult walkJournal(const JournalSource& source, JournalVisitor* visitor, JournalHead* head) {
    *head = JournalHead();
    uint8_t header[journal::kHeaderBytes];
    if (source.size() < sizeof(header)) return WalkResult::kNotAJournal;
    if (!source.read(header, sizeof(header), 0)) return WalkResult::kReadError;
    if (memcmp(header, journal::kMagic, 4) != 0) return WalkResult::kNotAJournal;
    if (littleEndian32(header + 4) != journal::kVersion) return WalkResult::kOldFormat;
    RecordStream records(source);
    WalkState state;
    uint8_t type = 0;
    Reader payload(nullptr, 0);
    while (records.next(&type, &payload)) {
        if (!takeRecord(type, &payload, visitor, head, &state)) break;
    }
    if (records.readError()) return WalkResult::kReadError;
    return head->hasFile ? WalkResult::kRead : WalkResult::kNoLayout;
}

const char* describe(WalkResult result) {
    switch (result) {
        case WalkResult::kRead:
            return "read";
        case WalkResult::kNotAJournal:
            return "the journal is not a recovery journal";
        case WalkResult::kOldFormat:
            return "the journal is of another format than this version reads";
        case WalkResult::kNoLayout:
            return "the journal holds no file layout";
        case WalkResult::kReadError:
            return "the journal cannot be read";
    }
    return "?";
}

bool parseJournal(const uint8_t* data, size_t size, JournalContents* out) {
    *out = JournalContents();
    MemoryJournalSource source(data, size);
    Collector collector(out);
    JournalHead head;
    if (walkJournal(source, &collector, &head) != WalkResult::kRead) return false;
    out->hasFile = true;
    out->file = head.file;
    out->tracks = head.tracks;
    return true;
}

}  // namespace qor
