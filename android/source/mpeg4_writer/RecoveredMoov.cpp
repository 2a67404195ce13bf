// The moov of a mended recording, built from its journal: the same sample
// tables the writer keeps, replayed chunk by chunk, and the same header
// durations and edit list as a clean stop's.
#define LOG_TAG "MP4Recovery"

#include "mpeg4_writer/RecoveredMoov.h"

#include "mpeg4_writer/BoxWriter.h"
#include "mpeg4_writer/TrackDurations.h"

namespace qor {

namespace {

// Tracks start together within this, or the journal is wrong.
const int64_t kMaxStartOffsetUs = 3600LL * 1000000LL;

// Counts what is written: the moov's size without the moov.
class CountingSink : public IByteSink {
public:
    void write(const void*, size_t size) override {
        mPosition += (int64_t)size;
        if (mPosition > mEnd) mEnd = mPosition;
    }
    void seek(int64_t offset) override { mPosition = offset; }
    int64_t position() const override { return mPosition; }
    android::status_t status() const override { return android::OK; }
    int64_t end() const { return mEnd; }

private:
    int64_t mPosition = 0;
    int64_t mEnd = 0;
};

struct TrackView {
    const journal::TrackInfo* info;
    const SampleTable* table;
    uint32_t startOffsetTicks;
    TrackDurations durations;
};

// As the writer computes it: the track's start after the movie's, rounded.
uint32_t startOffsetTicks(const journal::TrackInfo& info, int64_t movieStartUs) {
    int64_t offsetUs = info.startTimeUs - movieStartUs;
    if (offsetUs > kMaxStartOffsetUs) offsetUs = 0;
    return (uint32_t)((offsetUs * info.timeScale + 500000LL) / 1000000LL);
}

TrackView viewOf(const journal::TrackInfo& info, const SampleTable& table, int64_t movieStartUs,
                 int32_t movieTimeScale) {
    TrackView v{&info, &table, startOffsetTicks(info, movieStartUs), TrackDurations()};
    TrackTiming timing;
    timing.sampleTicks = table.durationTicks();
    timing.startOffsetTicks = v.startOffsetTicks;
    timing.primingTicks = info.primingTicks;
    timing.mediaTimeScale = info.timeScale;
    timing.movieTimeScale = movieTimeScale;
    v.durations = trackDurations(timing);
    return v;
}

void writeTkhd(BoxWriter* out, const TrackView& t, uint64_t now) {
    const uint64_t duration = t.durations.trackTicks;
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
    // 16.16 fixed point; unsigned, as a journal may say up to 65535.
    out->writeInt32(t.info->isAudio ? 0 : (int32_t)((uint32_t)t.info->width << 16));
    out->writeInt32(t.info->isAudio ? 0 : (int32_t)((uint32_t)t.info->height << 16));
    out->endBox();
}

void writeMdhdAndHdlr(BoxWriter* out, const TrackView& t, uint64_t now) {
    const uint64_t duration = t.durations.mediaTicks;
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

void writeStbl(BoxWriter* out, const TrackView& t, bool use32BitOffset) {
    out->beginBox("stbl");
    out->write(t.info->sampleEntry.data(), t.info->sampleEntry.size());
    t.table->writeSttsBox(out, t.startOffsetTicks);
    t.table->writeCttsBox(out, t.startOffsetTicks);
    if (!t.info->isAudio) t.table->writeStssBox(out);
    t.table->writeStszBox(out);
    t.table->writeStscBox(out);
    t.table->writeStcoBox(out, use32BitOffset);
    out->endBox();
}

void writeTrak(BoxWriter* out, const TrackView& t, bool use32BitOffset, uint64_t now) {
    out->beginBox("trak");
    writeTkhd(out, t, now);
    writeEditList(out, t.durations);
    out->beginBox("mdia");
    writeMdhdAndHdlr(out, t, now);
    out->beginBox("minf");
    writeMediaHeader(out, t.info->isAudio);
    writeStbl(out, t, use32BitOffset);
    out->endBox();  // minf
    out->endBox();  // mdia
    out->endBox();  // trak
}

void writeMvhd(BoxWriter* out, uint64_t duration, int32_t scale, uint32_t nextTrackId,
               uint64_t now) {
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

void RecoveredMoov::addChunk(const journal::TrackInfo& info, const ChunkRecord& chunk) {
    Track* track = nullptr;
    for (Track& t : mTracks) {
        if (t.info.trackId == info.trackId) track = &t;
    }
    if (track == nullptr) {
        mTracks.push_back(Track{info, std::make_unique<SampleTable>(!info.isAudio)});
        track = &mTracks.back();
    }
    for (uint32_t i = 0; i < chunk.count; ++i) {
        const journal::SampleInfo s = chunk.sample(i);
        track->table->addSample(s.size, s.deltaTicks, s.compositionOffsetTicks, s.isSync);
    }
    track->table->addChunk(chunk.count);
    track->table->addChunkOffset(chunk.offset, mFile.use32BitOffset);
}

// Video without a sync sample cannot be shown: it is left out.
bool RecoveredMoov::finish() {
    for (auto it = mTracks.begin(); it != mTracks.end();) {
        if (!it->info.isAudio && it->table->syncSampleCount() == 0) {
            it = mTracks.erase(it);
            continue;
        }
        it->table->finishSamples();
        ++it;
    }
    return !mTracks.empty();
}

int64_t RecoveredMoov::size(uint64_t now) const {
    CountingSink counter;
    write(&counter, now);
    return counter.end();
}

void RecoveredMoov::write(IByteSink* sink, uint64_t now) const {
    int64_t movieStartUs = mTracks.empty() ? 0 : mTracks[0].info.startTimeUs;
    uint32_t nextTrackId = 1;
    for (const Track& t : mTracks) {
        if (t.info.startTimeUs < movieStartUs) movieStartUs = t.info.startTimeUs;
        if (t.info.trackId >= nextTrackId) nextTrackId = t.info.trackId + 1;
    }
    std::vector<TrackView> views;
    uint64_t duration = 0;
    for (const Track& t : mTracks) {
        views.push_back(viewOf(t.info, *t.table, movieStartUs, mFile.movieTimeScale));
        if (views.back().durations.trackTicks > duration) {
            duration = views.back().durations.trackTicks;
        }
    }
    BoxWriter out(sink);
    out.beginBox("moov");
    writeMvhd(&out, duration, mFile.movieTimeScale, nextTrackId, now);
    for (const TrackView& v : views) writeTrak(&out, v, mFile.use32BitOffset, now);
    out.endBox();
}

}  // namespace qor
