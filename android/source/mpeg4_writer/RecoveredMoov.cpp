// The moov of a mended recording, built from its journal: the same sample
// tables the writer keeps, replayed chunk by chunk.
#define LOG_TAG "MP4Recovery"

#include <memory>

#include "mpeg4_writer/BoxWriter.h"
#include "mpeg4_writer/RecoveredMoov.h"
#include "mpeg4_writer/SampleTable.h"

namespace qor {

namespace {

uint64_t scaledDuration(int64_t durationUs, int32_t timeScale) {
    if (durationUs <= 0) return 0;
    return ((uint64_t)durationUs * (uint64_t)timeScale + 500000u) / 1000000u;
}

// Tracks start together within this, or the journal is wrong.
const int64_t kMaxStartOffsetUs = 3600LL * 1000000LL;

struct RecoveredTrack {
    const journal::TrackInfo* info = nullptr;
    std::unique_ptr<SampleTable> table;
    uint64_t durationTicks = 0;
    uint32_t lastDelta = 0;
    // Bounded, so that no later arithmetic overflows on a damaged journal.
    int64_t durationUs() const {
        const uint64_t scale = (uint64_t)info->timeScale;
        const uint64_t seconds = durationTicks / scale;
        if (seconds > (1ull << 32)) return 1LL << 52;
        return (int64_t)(seconds * 1000000u + (durationTicks % scale) * 1000000u / scale);
    }
};

void replayChunks(const JournalContents& j, size_t chunkCount, RecoveredTrack* t) {
    uint32_t samples = 0;
    for (size_t i = 0; i < chunkCount; ++i) {
        const JournalContents::Chunk& c = j.chunks[i];
        if (c.trackId != t->info->trackId) continue;
        for (const journal::SampleInfo& s : c.samples) {
            t->table->addSample(s.size, s.deltaTicks, s.compositionOffsetTicks, s.isSync);
            t->durationTicks += s.deltaTicks;
            t->lastDelta = s.deltaTicks;
            ++samples;
        }
        t->table->addChunk((uint32_t)c.samples.size());
        t->table->addChunkOffset(c.offset, j.file.use32BitOffset);
    }
    if (samples == 0) return;
    t->table->finishSamples();
    // The last sample lasts as long as the one before it.
    if (samples > 1) t->durationTicks += t->lastDelta;
}

void writeTkhd(BoxWriter* out, const RecoveredTrack& t, int32_t movieScale, uint64_t now) {
    const uint64_t duration = scaledDuration(t.durationUs(), movieScale);
    const bool version1 = BoxWriter::needsVersion1(now, duration);
    out->beginBox("tkhd");
    out->writeVersionAndTimes(version1, 0x07, now);
    out->writeInt32((int32_t)t.info->trackId);
    out->writeInt32(0);
    out->writeTimeField(version1, duration);
    out->writeInt32(0);
    out->writeInt32(0);
    out->writeInt16(0);  // layer
    out->writeInt16(0);  // alternate group
    out->writeInt16(t.info->isAudio ? 0x100 : 0);
    out->writeInt16(0);
    out->writeCompositionMatrix(0);
    out->writeInt32(t.info->isAudio ? 0 : t.info->width << 16);
    out->writeInt32(t.info->isAudio ? 0 : t.info->height << 16);
    out->endBox();
}

void writeMdhdAndHdlr(BoxWriter* out, const RecoveredTrack& t, uint64_t now) {
    const uint64_t duration = scaledDuration(t.durationUs(), t.info->timeScale);
    const bool version1 = BoxWriter::needsVersion1(now, duration);
    out->beginBox("mdhd");
    out->writeVersionAndTimes(version1, 0, now);
    out->writeInt32(t.info->timeScale);
    out->writeTimeField(version1, duration);
    out->writeInt16(0);  // language
    out->writeInt16(0);
    out->endBox();
    out->beginBox("hdlr");
    out->writeInt32(0);
    out->writeInt32(0);
    out->writeFourcc(t.info->isAudio ? "soun" : "vide");
    for (int i = 0; i < 3; ++i) out->writeInt32(0);
    out->writeCString(t.info->isAudio ? "SoundHandle" : "VideoHandle");
    out->endBox();
}

void writeMediaHeader(BoxWriter* out, bool isAudio) {
    if (isAudio) {
        out->beginBox("smhd");
        out->writeInt32(0);
        out->writeInt32(0);  // balance, reserved
    } else {
        out->beginBox("vmhd");
        out->writeInt32(0x01);
        for (int i = 0; i < 4; ++i) out->writeInt16(0);
    }
    out->endBox();
    out->beginBox("dinf");
    out->beginBox("dref");
    out->writeInt32(0);
    out->writeInt32(1);
    out->beginBox("url ");
    out->writeInt32(1);  // self-contained
    out->endBox();
    out->endBox();
    out->endBox();
}

void writeStbl(BoxWriter* out, const RecoveredTrack& t, uint32_t startOffsetTicks,
               bool use32BitOffset) {
    out->beginBox("stbl");
    out->write(t.info->sampleEntry.data(), t.info->sampleEntry.size());
    t.table->writeSttsBox(out, startOffsetTicks);
    t.table->writeCttsBox(out, startOffsetTicks);
    if (!t.info->isAudio) t.table->writeStssBox(out);
    t.table->writeStszBox(out);
    t.table->writeStscBox(out);
    t.table->writeStcoBox(out, use32BitOffset);
    out->endBox();
}

void writeTrak(BoxWriter* out, const RecoveredTrack& t, const JournalContents& j,
               int64_t movieStartUs, uint64_t now) {
    int64_t startOffsetUs = t.info->startTimeUs - movieStartUs;
    if (startOffsetUs > kMaxStartOffsetUs) startOffsetUs = 0;
    const uint32_t startOffsetTicks =
        (uint32_t)((startOffsetUs * t.info->timeScale + 500000LL) / 1000000LL);
    out->beginBox("trak");
    writeTkhd(out, t, j.file.movieTimeScale, now);
    out->beginBox("mdia");
    writeMdhdAndHdlr(out, t, now);
    out->beginBox("minf");
    writeMediaHeader(out, t.info->isAudio);
    writeStbl(out, t, startOffsetTicks, j.file.use32BitOffset);
    out->endBox();  // minf
    out->endBox();  // mdia
    out->endBox();  // trak
}

void writeMvhd(BoxWriter* out, int64_t durationUs, int32_t scale, uint32_t nextTrackId,
               uint64_t now) {
    const uint64_t duration = scaledDuration(durationUs, scale);
    const bool version1 = BoxWriter::needsVersion1(now, duration);
    out->beginBox("mvhd");
    out->writeVersionAndTimes(version1, 0, now);
    out->writeInt32(scale);
    out->writeTimeField(version1, duration);
    out->writeInt32(0x10000);  // rate
    out->writeInt16(0x100);    // volume
    out->writeInt16(0);
    out->writeInt32(0);
    out->writeInt32(0);
    out->writeCompositionMatrix(0);
    for (int i = 0; i < 6; ++i) out->writeInt32(0);
    out->writeInt32((int32_t)nextTrackId);
    out->endBox();
}

}  // namespace

// Tracks without a sample, and video without a sync sample, are left out.
bool buildRecoveredMoov(const JournalContents& j, size_t chunkCount, uint64_t now,
                        std::vector<uint8_t>* moov) {
    std::vector<RecoveredTrack> tracks;
    for (const journal::TrackInfo& info : j.tracks) {
        RecoveredTrack t;
        t.info = &info;
        t.table = std::make_unique<SampleTable>(!info.isAudio);
        replayChunks(j, chunkCount, &t);
        if (t.table->sampleCount() == 0) continue;
        if (!info.isAudio && t.table->syncSampleCount() == 0) continue;
        tracks.push_back(std::move(t));
    }
    if (tracks.empty()) return false;
    int64_t movieStartUs = tracks[0].info->startTimeUs;
    int64_t durationUs = 0;
    uint32_t nextTrackId = 1;
    for (const RecoveredTrack& t : tracks) {
        if (t.info->startTimeUs < movieStartUs) movieStartUs = t.info->startTimeUs;
        if (t.durationUs() > durationUs) durationUs = t.durationUs();
        if (t.info->trackId >= nextTrackId) nextTrackId = t.info->trackId + 1;
    }
    MemoryByteSink sink;
    BoxWriter out(&sink);
    out.beginBox("moov");
    writeMvhd(&out, durationUs, j.file.movieTimeScale, nextTrackId, now);
    for (const RecoveredTrack& t : tracks) writeTrak(&out, t, j, movieStartUs, now);
    out.endBox();
    *moov = sink.bytes();
    return true;
}

}  // namespace qor
