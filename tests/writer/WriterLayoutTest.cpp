// File layouts: the moov in its reservation or at the end, the reservation
// threshold, the exact-fit boundary and 64-bit offsets. Every file written
// from encoder streams is checked by ffprobe and a full ffmpeg decode.
#include <gtest/gtest.h>

#include <host/log_record.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

void expectPlayable(const std::string& path, size_t videoFrames, size_t audioFrames) {
    auto probe = probeStreams(path);
    ASSERT_EQ((videoFrames ? 1u : 0u) + (audioFrames ? 1u : 0u), probe.size());
    for (auto& s : probe) {
        if (s["codec_name"] == "h264") {
            EXPECT_EQ(std::to_string(videoFrames), s["nb_read_frames"]);
            EXPECT_EQ("320", s["width"]);
        } else {
            EXPECT_EQ("aac", s["codec_name"]);
            EXPECT_EQ(std::to_string(audioFrames), s["nb_read_packets"]);
            EXPECT_EQ("44100", s["sample_rate"]);
        }
    }
    EXPECT_EQ("", decodeErrors(path));
}

uint64_t boxSize(const Mp4File& f, const std::string& type) {
    for (const Box& b : f.top) {
        if (b.type == type) return b.size;
    }
    return 0;
}

TEST(WriterLayout, ShortRecordingPutsMoovIntoItsReservation) {
    std::string path = tempPath("short.mp4");
    auto audio = audioUnits(86);
    auto video = videoUnits(60);
    Recording r = record(path, audio, video);
    ASSERT_EQ(0, r.startResult);
    ASSERT_EQ(0, r.stopResult);

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ("ftyp moov free mdat", f.topOrder());
    EXPECT_EQ(24u, f.top[0].size);
    EXPECT_EQ(3072u, f.top[1].size + f.top[2].size);  // moov + free fill the reservation
    EXPECT_EQ(24u + 3072u, f.top[3].offset);
    EXPECT_EQ(f.bytes.size(), f.top[3].offset + f.top[3].size);
    EXPECT_EQ(0, memcmp(&f.bytes[8], "isom\0\0\0\0isom3gp4", 16));

    ASSERT_EQ(2u, f.tracks.size());
    EXPECT_EQ("soun", f.tracks[0].handler);
    EXPECT_EQ("mp4a", f.tracks[0].sampleEntry);
    EXPECT_EQ("avc1", f.tracks[1].sampleEntry);
    EXPECT_EQ(44100u, f.tracks[0].mediaTimeScale);
    EXPECT_EQ(90000u, f.tracks[1].mediaTimeScale);
    EXPECT_EQ(1000u, f.movieTimeScale);
    EXPECT_EQ(3u, f.nextTrackId);
    EXPECT_EQ(streams().audioConfig, f.tracks[0].esdsConfig);
    expectSamplesMatch(f, f.tracks[0], audio, false);
    expectSamplesMatch(f, f.tracks[1], video, true);
    expectPlayable(path, 60, 86);
}

TEST(WriterLayout, LongRecordingPutsMoovAtTheEnd) {
    host::logClear();
    std::string path = tempPath("long.mp4");
    auto audio = audioUnits(430);
    auto video = videoUnits(300);
    Recording r = record(path, audio, video);
    ASSERT_EQ(0, r.stopResult);

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ("ftyp free mdat moov", f.topOrder());
    EXPECT_EQ(3072u, boxSize(f, "free"));
    EXPECT_GT(boxSize(f, "moov"), 3064u);
    EXPECT_EQ(1, host::logCount("The mp4 file will not be streamable.", "MPEG4Writer"));
    ASSERT_EQ(2u, f.tracks.size());
    expectSamplesMatch(f, f.tracks[0], audio, false);
    expectSamplesMatch(f, f.tracks[1], video, true);
    expectPlayable(path, 300, 430);
}

struct SizeLimitCase {
    int64_t limit;
    const char* layout;
};

class WriterSizeLimitLayout : public ::testing::TestWithParam<SizeLimitCase> {};

TEST_P(WriterSizeLimitLayout, ReservesMoovSpaceFromFiveMebibytes) {
    std::string path = tempPath("limit.mp4");
    Recording r = record(path, audioUnits(40), videoUnits(30), [](qor::MPEG4Writer* w) {
        w->setMaxFileSize(GetParam().limit);
    });
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(GetParam().layout, f.topOrder());
    EXPECT_EQ(GetParam().limit >= 5242880, r.writer->isFileStreamable());
    expectPlayable(path, 30, 40);
}

INSTANTIATE_TEST_SUITE_P(Limits, WriterSizeLimitLayout,
                         ::testing::Values(SizeLimitCase{5242879, "ftyp mdat moov"},
                                           SizeLimitCase{5242880, "ftyp moov free mdat"}));

// An audio-only recording whose moov grows by 4 bytes per sample and by one
// byte per byte of codec data, so its size can be steered exactly.
std::vector<Unit> syntheticAudio(size_t count, size_t configSize) {
    std::vector<Unit> units;
    Unit conf;
    conf.config = true;
    conf.data = Bytes(configSize, 0x12);
    units.push_back(conf);
    for (size_t i = 0; i < count; ++i) {
        Unit u;
        u.data = Bytes(100 + i % 7, (uint8_t)i);
        u.timeUs = 100000 + (int64_t)i * 20000;
        units.push_back(u);
    }
    return units;
}

uint64_t moovSize(const std::string& path) {
    Mp4File f = parseMp4(path);
    EXPECT_TRUE(f.ok) << f.error;
    return boxSize(f, "moov");
}

class WriterMoovFit : public ::testing::TestWithParam<int> {};

TEST_P(WriterMoovFit, MoovUpToReservationMinusEightFits) {
    auto fmt = audioFormat(8000, 1);
    std::string probe = tempPath("fit_probe.mp4");
    ASSERT_EQ(0, record(probe, syntheticAudio(100, 2), {}, nullptr, nullptr, fmt).stopResult);
    int64_t m0 = (int64_t)moovSize(probe);
    ASSERT_GT(m0, 0);

    int64_t target = 3072 - 8 + GetParam();
    int64_t grow = target - m0;
    size_t count = 100 + (size_t)(grow / 4);
    size_t configSize = 2 + (size_t)(grow % 4);
    std::string path = tempPath("fit.mp4");
    ASSERT_EQ(0, record(path, syntheticAudio(count, configSize), {}, nullptr, nullptr, fmt)
                     .stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ((uint64_t)target, boxSize(f, "moov"));
    if (GetParam() == 0) {
        EXPECT_EQ("ftyp moov free mdat", f.topOrder());
        EXPECT_EQ(8u, boxSize(f, "free"));
    } else {
        EXPECT_EQ("ftyp free mdat moov", f.topOrder());
        EXPECT_EQ(3072u, boxSize(f, "free"));
    }
    ASSERT_EQ(1u, f.tracks.size());
    expectSamplesMatch(f, f.tracks[0], syntheticAudio(count, configSize), false);
}

INSTANTIATE_TEST_SUITE_P(Boundary, WriterMoovFit, ::testing::Values(0, 1));

TEST(WriterLayout, SixtyFourBitOffsets) {
    std::string path = tempPath("fobt.mp4");
    sp<android::MetaData> meta = new android::MetaData;
    meta->setInt32(android::kKey64BitFileOffset, 1);
    auto audio = audioUnits(86);
    auto video = videoUnits(60);
    Recording r = record(path, audio, video, nullptr, meta.get());
    ASSERT_EQ(0, r.stopResult);

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    // No size limit: no reservation.
    EXPECT_EQ("ftyp mdat moov", f.topOrder());
    const Box& mdat = f.top[1];
    EXPECT_EQ(16u, mdat.headerSize);
    EXPECT_EQ(1u, be32(&f.bytes[mdat.offset]));
    EXPECT_EQ(f.top[2].offset - mdat.offset, mdat.size);
    for (const TrackTables& t : f.tracks) EXPECT_TRUE(t.co64);
    expectSamplesMatch(f, f.tracks[0], audio, false);
    expectSamplesMatch(f, f.tracks[1], video, true);
    expectPlayable(path, 60, 86);
}

TEST(WriterLayout, GeoDataAndRotation) {
    std::string path = tempPath("geo.mp4");
    sp<android::MetaData> meta = new android::MetaData;
    meta->setInt32(android::kKeyRotation, 90);
    Recording r = record(path, {}, videoUnits(30), [](qor::MPEG4Writer* w) {
        EXPECT_EQ(-22, w->setGeoData(900001, 0));
        EXPECT_EQ(-22, w->setGeoData(0, -1800001));
        EXPECT_EQ(0, w->setGeoData(-900000, 1800000));
        EXPECT_EQ(0, w->setGeoData(375000, -1222500));
    }, meta.get());
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    const Box* moov = nullptr;
    for (const Box& b : f.top) if (b.type == "moov") moov = &b;
    ASSERT_NE(nullptr, moov);
    const Box* xyz = moov->find("udta/\xA9xyz");
    ASSERT_NE(nullptr, xyz);
    std::string body((const char*)&f.bytes[xyz->offset + 8], xyz->size - 8);
    EXPECT_EQ(std::string("\x00\x12\x15\xC7+37.5000-122.2500/", 22), body);
    ASSERT_EQ(1u, f.tracks.size());
    EXPECT_EQ((std::vector<uint32_t>{0, 0x10000, 0, 0xFFFF0000, 0, 0, 0, 0, 0x40000000}),
              f.tracks[0].matrix);
    EXPECT_EQ(2u, f.nextTrackId);
    expectPlayable(path, 30, 0);
}

}  // namespace
}  // namespace wtest
