// Reading a recovery journal: untrusted bytes, checked record by record.
#define LOG_TAG "MP4Recovery"

#include <string.h>

#include <utils/Log.h>

#include "mpeg4_writer/Mp4Recovery.h"

namespace qor {

using journal::Reader;

namespace {

const int64_t kMaxFileOffset = 1LL << 42;
const uint32_t kMaxSampleBytes = 256u << 20;
const uint32_t kMaxSampleEntryBytes = 64 * 1024;
const int32_t kMaxTimeScale = 10000000;
const size_t kMaxSamples = 50000000;

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

bool readFile(Reader* r, journal::FileInfo* f) {
    uint32_t flags, scale;
    uint64_t mdat, freeStart, reserved;
    if (!r->get32(&flags) || !r->get64(&mdat) || !r->get64(&freeStart) || !r->get64(&reserved) ||
        !r->get32(&scale) || r->left() != 0) {
        return false;
    }
    if (flags > 1 || mdat < 8 || (int64_t)mdat > kMaxFileOffset || freeStart < 8 ||
        freeStart > mdat || reserved > mdat - freeStart || scale == 0 ||
        scale > (uint32_t)kMaxTimeScale) {
        return false;
    }
    if (reserved != 0 && freeStart + reserved != mdat) return false;
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
    uint64_t start;
    const uint8_t* entry;
    if (!r->get32(&id) || !r->get32(&audio) || !r->get32(&scale) || !r->get32(&width) ||
        !r->get32(&height) || !r->get64(&start) || !r->get32(&entryBytes) ||
        !r->bytes(entryBytes, &entry) || r->left() != 0) {
        return false;
    }
    if (id < 1 || id > 2 || audio > 1 || scale == 0 || scale > (uint32_t)kMaxTimeScale ||
        width > 65535 || height > 65535 || (int64_t)start < 0 ||
        !validSampleEntry(entry, entryBytes)) {
        return false;
    }
    t->trackId = id;
    t->isAudio = audio == 1;
    t->timeScale = (int32_t)scale;
    t->width = (int32_t)width;
    t->height = (int32_t)height;
    t->startTimeUs = (int64_t)start;
    t->sampleEntry.assign(entry, entry + entryBytes);
    return true;
}

bool readSamples(Reader* r, uint32_t count, JournalContents::Chunk* c) {
    if (count == 0 || count > r->left() / journal::kSampleBytes) return false;
    c->samples.resize(count);
    for (journal::SampleInfo& s : c->samples) {
        uint8_t sync;
        if (!r->get32(&s.size) || !r->get32(&s.deltaTicks) ||
            !r->get32(&s.compositionOffsetTicks) || !r->get8(&sync)) {
            return false;
        }
        if (s.size == 0 || s.size > kMaxSampleBytes || sync > 1) return false;
        s.isSync = sync == 1;
        c->bytes += s.size;
    }
    return r->left() == 0;
}

bool hasTrack(const JournalContents& j, uint32_t id) {
    for (const journal::TrackInfo& t : j.tracks) {
        if (t.trackId == id) return true;
    }
    return false;
}

// Chunks follow each other in the file in the order they were recorded.
bool readChunk(Reader* r, const JournalContents& j, size_t samplesSoFar,
               JournalContents::Chunk* c) {
    uint32_t id, count;
    uint64_t offset;
    if (!r->get32(&id) || !r->get64(&offset) || !r->get32(&count)) return false;
    if (!hasTrack(j, id) || samplesSoFar + count > kMaxSamples) return false;
    c->trackId = id;
    c->offset = (int64_t)offset;
    if (!readSamples(r, count, c)) return false;
    const int64_t mdatHeader = j.file.use32BitOffset ? 8 : 16;
    int64_t previousEnd = j.file.mdatStart + mdatHeader;
    if (!j.chunks.empty()) previousEnd = j.chunks.back().offset + j.chunks.back().bytes;
    if (offset > (uint64_t)kMaxFileOffset || c->offset < previousEnd) return false;
    const int64_t end = c->offset + c->bytes;
    return !j.file.use32BitOffset || end <= 0xFFFFFFFFLL;
}

bool readRecord(uint8_t type, Reader* r, JournalContents* out, size_t* samples) {
    switch (type) {
        case journal::kFileRecord:
            if (out->hasFile) return false;
            out->hasFile = readFile(r, &out->file);
            return out->hasFile;
        case journal::kTrackRecord: {
            journal::TrackInfo t;
            if (!out->hasFile || out->tracks.size() >= 2 || !readTrack(r, &t)) return false;
            if (hasTrack(*out, t.trackId)) return false;
            out->tracks.push_back(std::move(t));
            return true;
        }
        case journal::kChunkRecord: {
            JournalContents::Chunk c;
            if (!out->hasFile || !readChunk(r, *out, *samples, &c)) return false;
            *samples += c.samples.size();
            out->chunks.push_back(std::move(c));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

bool parseJournal(const uint8_t* data, size_t size, JournalContents* out) {
    *out = JournalContents();
    if (size < journal::kHeaderBytes || memcmp(data, journal::kMagic, 4) != 0) return false;
    Reader header(data + 4, 4);
    uint32_t version = 0;
    if (!header.get32(&version) || version != journal::kVersion) return false;
    Reader r(data + journal::kHeaderBytes, size - journal::kHeaderBytes);
    size_t samples = 0;
    while (r.left() >= journal::kRecordOverhead) {
        uint32_t length;
        const uint8_t* body;
        uint32_t crc;
        if (!r.get32(&length) || length > r.left() - 5 || !r.bytes(length + 1, &body) ||
            !r.get32(&crc) || journal::crc32(body, length + 1) != crc) {
            break;
        }
        Reader payload(body + 1, length);
        if (!readRecord(body[0], &payload, out, &samples)) break;
    }
    if (!out->hasFile) ALOGW("The recovery journal holds no file layout");
    return out->hasFile;
}

}  // namespace qor
