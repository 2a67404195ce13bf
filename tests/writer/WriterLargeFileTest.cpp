// Values past 32 bits: header durations of recordings many hours long, the
// header times, and files past 2 GiB (offsets that a 32-bit process must
// carry in 64-bit file calls).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <functional>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MetaData.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

const int64_t kHourUs = 3600LL * 1000000;

// Video units at the given times (µs after the first), decoding order equal
// to presentation order.
std::vector<Unit> videoAt(const std::vector<int64_t>& offsetsUs) {
    const int64_t t0 = 100000;
    std::vector<Unit> units = videoUnits(offsetsUs.size(), t0);
    for (size_t i = 0; i < offsetsUs.size(); ++i) {
        units[i + 1].timeUs = units[i + 1].decTimeUs = t0 + offsetsUs[i];
    }
    return units;
}

double probedDuration(const std::string& path) {
    CmdResult r = runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=duration "
                             "-of csv=p=0 '" + path + "'");
    return atof(r.out.c_str());
}

uint64_t sttsTotal(const TrackTables& t) {
    uint64_t total = 0;
    for (const auto& e : t.stts) total += (uint64_t)e.first * e.second;
    return total;
}

struct LongCase {
    const char* name;
    std::vector<int64_t> offsetsUs;  // the last sample lasts as long as the one before
    double hours;
    bool mdhdVersion1, movieVersion1;
};

class WriterLongDuration : public ::testing::TestWithParam<LongCase> {};

TEST_P(WriterLongDuration, HeaderDurationsAreExact) {
    const LongCase& c = GetParam();
    std::string path = tempPath(std::string("long_") + c.name + ".mp4");
    Recording r = record(path, {}, videoAt(c.offsetsUs));
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    const TrackTables& t = f.tracks[0];

    const uint64_t durationUs = (uint64_t)(c.hours * kHourUs);
    EXPECT_EQ(90000u, t.mediaTimeScale);
    EXPECT_EQ(durationUs * 9 / 100, t.mediaDuration);
    EXPECT_EQ(sttsTotal(t), t.mediaDuration);
    EXPECT_EQ(1000u, f.movieTimeScale);
    EXPECT_EQ(durationUs / 1000, f.movieDuration);
    EXPECT_EQ(durationUs / 1000, t.tkhdDuration);
    EXPECT_EQ(c.mdhdVersion1, t.mdhdVersion1);
    EXPECT_EQ(c.movieVersion1, t.tkhdVersion1);
    EXPECT_EQ(c.movieVersion1, f.mvhdVersion1);
    // The boxes after the wider fields still read right.
    EXPECT_EQ(2u, f.nextTrackId);
    EXPECT_EQ(0x00010000u, t.matrix[0]);
    EXPECT_EQ(0x40000000u, t.matrix[8]);

    EXPECT_NEAR(c.hours * 3600, probedDuration(path), 0.01);
    EXPECT_EQ("", decodeErrors(path));
}

std::vector<int64_t> evenly(int count, int64_t stepUs) {
    std::vector<int64_t> v;
    for (int i = 0; i < count; ++i) v.push_back(i * stepUs);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriterLongDuration,
    ::testing::Values(
        // 7 h: 2.27e9 ticks at 90 kHz, past a signed 32-bit field.
        LongCase{"7h", {0, 2 * kHourUs, 4 * kHourUs, 5 * kHourUs, 6 * kHourUs}, 7, false, false},
        // 14 h: 4.54e9 ticks, past an unsigned one: mdhd takes version 1.
        LongCase{"14h", {0, 4 * kHourUs, 8 * kHourUs, 11 * kHourUs, 12 * kHourUs, 13 * kHourUs},
                 14, true, false},
        // 50 days: 4.32e9 ms, so tkhd and mvhd take version 1 as well.
        LongCase{"50d", evenly(100, 12 * kHourUs), 1200, true, true}),
    [](const ::testing::TestParamInfo<LongCase>& info) { return std::string("Span") + info.param.name; });

// A recording of ordinary length keeps the version-0 header boxes, field for
// field, and their times are the wall clock's, counted from 1904.
TEST(WriterHeaderBoxes, ShortRecordingKeepsTheCommonLayout) {
    std::string path = tempPath("short_headers.mp4");
    uint64_t before = (uint64_t)time(nullptr) + 2082844800u;
    Recording r = record(path, audioUnits(40), videoUnits(30));
    uint64_t after = (uint64_t)time(nullptr) + 2082844800u;
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    const Box* moov = nullptr;
    for (const Box& b : f.top) {
        if (b.type == "moov") moov = &b;
    }
    ASSERT_NE(nullptr, moov);
    auto body = [&](const Box* b) { return &f.bytes[b->offset + b->headerSize]; };
    const Box* mvhd = moov->find("mvhd");
    ASSERT_NE(nullptr, mvhd);
    EXPECT_EQ(108u, mvhd->size);
    EXPECT_EQ(0u, be32(body(mvhd)));
    uint32_t created = be32(body(mvhd) + 4);
    EXPECT_GE(created, before);
    EXPECT_LE(created, after);
    EXPECT_EQ(created, be32(body(mvhd) + 8));
    int tracks = 0;
    for (const Box& trak : moov->children) {
        if (trak.type != "trak") continue;
        ++tracks;
        const Box* tkhd = trak.find("tkhd");
        const Box* mdhd = trak.find("mdia/mdhd");
        ASSERT_TRUE(tkhd && mdhd);
        EXPECT_EQ(92u, tkhd->size);
        EXPECT_EQ(7u, be32(body(tkhd)));  // version 0, enabled|in movie|in preview
        EXPECT_EQ(32u, mdhd->size);
        EXPECT_EQ(0u, be32(body(mdhd)));
        EXPECT_EQ(created, be32(body(mdhd) + 4));
    }
    EXPECT_EQ(2, tracks);
    EXPECT_EQ("", decodeErrors(path));
}

// ---- files past 2 GiB -------------------------------------------------------

// Audio samples of `sampleSize` bytes made on the fly: each begins with its
// index and is filled with a byte derived from it, so any sample can be
// checked where it lies in the file.
class PatternSource : public android::MediaSource {
public:
    PatternSource(uint32_t count, size_t sampleSize) : mCount(count), mSampleSize(sampleSize) {}

    static uint8_t fillByte(uint32_t index) { return (uint8_t)(index * 37 + 11); }
    static Bytes expected(uint32_t index, size_t size) {
        Bytes b(size, fillByte(index));
        memcpy(b.data(), &index, sizeof(index));
        return b;
    }

    status_t start(android::MetaData*) override { return 0; }
    status_t stop() override { return 0; }
    sp<android::MetaData> getFormat() override { return audioFormat(); }
    status_t read(android::MediaBuffer** out, const ReadOptions*) override {
        if (mNext > mCount) return android::ERROR_END_OF_STREAM;
        if (mNext == 0) {  // the codec configuration first
            const Bytes& config = streams().audioConfig;
            android::MediaBuffer* b = new android::MediaBuffer(config.size());
            memcpy(b->data(), config.data(), config.size());
            b->meta_data()->setInt64(android::kKeyTime, 0);
            b->meta_data()->setInt32(android::kKeyIsCodecConfig, 1);
            ++mNext;
            *out = b;
            return 0;
        }
        uint32_t index = mNext++ - 1;
        android::MediaBuffer* b = new android::MediaBuffer(mSampleSize);
        memset(b->data(), fillByte(index), mSampleSize);
        memcpy(b->data(), &index, sizeof(index));
        b->meta_data()->setInt64(android::kKeyTime, 100000 + (int64_t)index * 1024 * 1000000 / 44100);
        *out = b;
        return 0;
    }

private:
    uint32_t mCount;
    size_t mSampleSize;
    uint32_t mNext = 0;
};

// Every chunk of the track that starts at or past `from` holds, at its
// offset, the sample the tables put there. Returns the number checked.
int checkChunksFrom(const Mp4File& f, const TrackTables& t, uint64_t from,
                    const std::function<Bytes(uint32_t sample, size_t size)>& expected) {
    std::vector<uint64_t> offsets = t.sampleOffsets();
    int checked = 0;
    uint32_t sample = 0;
    for (uint64_t chunkOffset : t.chunkOffsets) {
        while (sample < offsets.size() && offsets[sample] != chunkOffset) ++sample;
        EXPECT_LT(sample, offsets.size()) << "chunk at " << chunkOffset << " starts no sample";
        if (sample >= offsets.size()) break;
        if (chunkOffset < from) continue;
        ++checked;
        size_t n = std::min<size_t>(t.sizes[sample], 64);
        EXPECT_EQ(expected(sample, n), f.fileBytes(chunkOffset, n)) << "chunk at " << chunkOffset;
    }
    return checked;
}

// The build the kit ships in has a 32-bit off_t; this proves its offsets.
// A second, small track makes the writer cut the sound into chunks of about
// a second (a lone track is written as one chunk); the video comes in faster
// than the sound and lands near the start.
TEST(WriterLargeFile, SamplesPast2GiBAreWhereTheTablesSay) {
    if (sizeof(void*) != 4 && getenv("QOR_LARGE_FILE_TEST") == nullptr) {
        GTEST_SKIP() << "runs in the 32-bit build (QOR_LARGE_FILE_TEST=1 runs it here)";
    }
    const size_t kSampleSize = 1 << 20;
    const uint32_t kCount = 2560;  // 2.5 GiB of sound, 59.4 s
    const size_t kFrames = 1780;   // 59.3 s of video
    std::vector<Unit> video = videoUnits(kFrames);
    std::string path = tempPath("large.mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    ASSERT_EQ(0, writer->initCheck());
    ASSERT_EQ(0, writer->addSource(new PatternSource(kCount, kSampleSize)));
    ASSERT_EQ(0, writer->addSource(new ReplaySource(videoFormat(), video)));
    sp<android::MetaData> params = new android::MetaData;
    params->setInt32(android::kKeyRealTimeRecording, 0);
    ASSERT_EQ(0, writer->start(params.get()));
    ASSERT_TRUE(waitForEOS(writer.get(), 600000));
    ASSERT_EQ(0, writer->stop());
    writer.clear();

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_GT(f.fileSize, (uint64_t)kCount * kSampleSize);
    const TrackTables* audio = f.track("soun");
    const TrackTables* avc = f.track("vide");
    ASSERT_TRUE(audio && avc);
    ASSERT_EQ(kCount, audio->sizes.size());
    ASSERT_EQ(kFrames, avc->sizes.size());
    EXPECT_FALSE(audio->co64);  // 32-bit chunk offsets reach 4 GiB
    EXPECT_FALSE(avc->co64);

    const uint64_t k2GiB = 1ULL << 31;
    int audioChunks = checkChunksFrom(f, *audio, k2GiB, [](uint32_t i, size_t n) {
        return PatternSource::expected(i, n);
    });
    EXPECT_GE(audioChunks, 10);
    // The last samples, byte for byte.
    std::vector<uint64_t> offsets = audio->sampleOffsets();
    for (uint32_t i = kCount - 4; i < kCount; ++i) {
        ASSERT_GT(offsets[i], k2GiB);
        ASSERT_EQ(PatternSource::expected(i, kSampleSize), f.sampleBytes(*audio, i)) << i;
    }

    CmdResult probe = runCommand("ffprobe -v error -count_packets -show_entries "
                                 "stream=nb_read_packets -of csv=p=0 '" + path + "'");
    EXPECT_EQ(0, probe.status) << probe.err;
    EXPECT_EQ(std::to_string(kCount) + "\n" + std::to_string(kFrames) + "\n", probe.out);
    unlink(path.c_str());
}

}  // namespace
}  // namespace wtest
