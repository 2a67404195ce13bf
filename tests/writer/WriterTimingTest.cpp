// Time stamps: dropped samples, composition offsets, stts runs and table
// blocks, start offsets between tracks, and pause/resume.
#include <gtest/gtest.h>

#include <math.h>

#include <host/log_record.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

TEST(WriterTiming, FirstSampleAtTimeZeroIsDropped) {
    host::logClear();
    std::string path = tempPath("zero.mp4");
    auto audio = audioUnits(50, 0);
    Recording r = record(path, audio, {});
    ASSERT_EQ(0, r.stopResult);
    EXPECT_EQ(1, host::logCount("previous timestamp 0 gt timestamp 0", "MPEG4Writer"));
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    audio.erase(audio.begin() + 1);  // the frame at time 0
    expectSamplesMatch(f, f.tracks[0], audio, false);
    EXPECT_EQ("", decodeErrors(path));
}

TEST(WriterTiming, OutOfOrderSamplesAreDroppedWithAWarning) {
    host::logClear();
    std::string path = tempPath("order.mp4");
    auto video = videoUnits(60);
    // Frame 40 (not a sync frame) claims a time before frame 39.
    ASSERT_FALSE(video[41].sync);
    video[41].timeUs = video[41].decTimeUs = video[39].timeUs - 1000;
    Recording r = record(path, {}, video);
    ASSERT_EQ(0, r.stopResult);
    char expected[128];
    snprintf(expected, sizeof(expected), "timestampUs %lld < lastTimestampUs %lld for Video track",
             (long long)(video[41].timeUs - video[1].timeUs),
             (long long)(video[40].timeUs - video[1].timeUs));
    EXPECT_EQ(1, host::logCount(expected, "MPEG4Writer"));
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(59u, f.tracks[0].sizes.size());
    video.erase(video.begin() + 41);
    expectSamplesMatch(f, f.tracks[0], video, true);
    EXPECT_FALSE(f.tracks[0].hasCtts);
    // Decoding skips the dropped frame's references; only count packets.
    auto probe = probeStreams(path);
    ASSERT_EQ(1u, probe.size());
    EXPECT_EQ("59", probe[0]["nb_read_packets"]);
}

TEST(WriterTiming, CompositionOffsetsFollowPresentationTimes) {
    std::string path = tempPath("ctts.mp4");
    auto video = videoUnits(30, 100000);
    // Every odd frame is presented 40 ms after its decoding time.
    for (size_t i = 2; i < video.size(); i += 2) video[i].timeUs += 40000;
    Recording r = record(path, {}, video);
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    const TrackTables& t = f.tracks[0];
    ASSERT_TRUE(t.hasCtts);
    // Offsets are stored relative to the smallest one (1 s bias removed).
    uint32_t n = 0;
    for (size_t i = 0; i < t.ctts.size(); ++i) {
        EXPECT_EQ(i % 2 ? 3600u : 0u, t.ctts[i].second) << "entry " << i;
        EXPECT_EQ(1u, t.ctts[i].first);
        n += t.ctts[i].first;
    }
    EXPECT_EQ(30u, n);

    std::vector<Packet> packets = probePackets(path);
    ASSERT_EQ(30u, packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_NEAR(i % 2 ? 0.040 : 0.0, packets[i].pts - packets[i].dts, 1e-4) << i;
        EXPECT_NEAR(i * 0.033333, packets[i].dts, 1e-4) << i;
    }
}

TEST(WriterTiming, EqualCompositionOffsetsNeedNoCtts) {
    std::string path = tempPath("noctts.mp4");
    auto video = videoUnits(30);
    for (Unit& u : video) {
        if (!u.config) u.timeUs += 40000;  // constant offset
    }
    Recording r = record(path, {}, video);
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    // Every frame is kept although the first is decoded before it is shown.
    ASSERT_EQ(30u, f.tracks[0].sizes.size());
    EXPECT_FALSE(f.tracks[0].hasCtts);
    EXPECT_TRUE(f.tracks[0].hasStss);
    EXPECT_EQ((std::vector<uint32_t>{1}), f.tracks[0].stss);
}

// Audio at 8 kHz with 20 ms frames: 160 ticks each, no rounding.
std::vector<Unit> evenAudio(size_t count) {
    std::vector<Unit> units;
    Unit conf;
    conf.config = true;
    conf.data = {0x15, 0x88};
    units.push_back(conf);
    for (size_t i = 0; i < count; ++i) {
        Unit u;
        u.data = Bytes(20 + i % 3, (uint8_t)i);
        u.timeUs = 50000 + (int64_t)i * 20000;
        units.push_back(u);
    }
    return units;
}

struct SttsCase {
    size_t samples;
    std::vector<std::pair<uint32_t, uint32_t>> stts;
    uint32_t mediaDuration;
};

class WriterStts : public ::testing::TestWithParam<SttsCase> {};

TEST_P(WriterStts, RunsAndTableBlocks) {
    host::logClear();
    const SttsCase& c = GetParam();
    std::string path = tempPath("stts.mp4");
    auto audio = evenAudio(c.samples);
    Recording r = record(path, audio, {}, nullptr, nullptr, audioFormat(8000, 1));
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    const TrackTables& t = f.tracks[0];
    EXPECT_EQ(c.stts, t.stts);
    EXPECT_EQ(c.mediaDuration, t.mediaDuration);
    EXPECT_EQ(8000u, t.mediaTimeScale);
    EXPECT_EQ(c.samples, t.sizes.size());
    expectSamplesMatch(f, t, audio, false);
    EXPECT_EQ(c.samples == 1 ? 1 : 0, host::logCount("0-duration samples found: 1"));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, WriterStts,
    ::testing::Values(SttsCase{1, {{1, 0}}, 0}, SttsCase{2, {{1, 160}, {1, 160}}, 320},
                      SttsCase{3, {{1, 160}, {2, 160}}, 480},
                      SttsCase{1000, {{1, 160}, {999, 160}}, 160000},
                      SttsCase{1001, {{1, 160}, {1000, 160}}, 160160}));

TEST(WriterTiming, RealTimeTwoTrackRecordingStartsSourcesLater) {
    Recording r = record(tempPath("rt.mp4"), audioUnits(10), videoUnits(10));
    ASSERT_EQ(0, r.stopResult);
    EXPECT_EQ(700000, r.audio->startTimeUs());
    EXPECT_EQ(700000, r.video->startTimeUs());

    sp<android::MetaData> meta = new android::MetaData;
    meta->setInt32(android::kKeyRealTimeRecording, 0);
    Recording nrt = record(tempPath("nrt.mp4"), audioUnits(10), videoUnits(10), nullptr, meta.get());
    ASSERT_EQ(0, nrt.stopResult);
    EXPECT_EQ(0, nrt.audio->startTimeUs());
    EXPECT_EQ(0, nrt.video->startTimeUs());
}

double secondDts(const std::vector<Packet>& packets, int stream) {
    int seen = 0;
    for (const Packet& p : packets) {
        if (p.stream == stream && ++seen == 2) return p.dts;
    }
    return NAN;
}

// Video starts 200 ms after audio; the pause in the middle lasts 5 s.
TEST(WriterTiming, PauseAndResumeLeaveTheGapOut) {
    const int64_t kPauseUs = 5000000;
    const int64_t aStep = 1024 * 1000000LL / 44100;
    auto audio = audioUnits(86, 100000);
    auto audioPaused = audioUnits(10, 100000 + 86 * aStep, 86);
    auto audioLater = audioUnits(86, 100000 + 86 * aStep + kPauseUs, 96);
    audio.insert(audio.end(), audioPaused.begin() + 1, audioPaused.end());
    audio.insert(audio.end(), audioLater.begin() + 1, audioLater.end());

    auto video = videoUnits(60, 300000, 33333, 0);
    auto videoPaused = videoUnits(10, 300000 + 60 * 33333, 33333, 60);
    auto videoLater = videoUnits(60, 300000 + 60 * 33333 + kPauseUs, 33333, 90);
    video.insert(video.end(), videoPaused.begin() + 1, videoPaused.end());
    video.insert(video.end(), videoLater.begin() + 1, videoLater.end());
    ASSERT_TRUE(video[71].sync);  // the first frame after the pause

    std::string path = tempPath("pause.mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    sp<ReplaySource> a = new ReplaySource(audioFormat(), audio);
    sp<ReplaySource> v = new ReplaySource(videoFormat(), video);
    ASSERT_EQ(0, writer->addSource(a));
    ASSERT_EQ(0, writer->addSource(v));
    a->setGate(87);
    v->setGate(61);
    ASSERT_EQ(0, writer->start(nullptr));
    a->waitForRequest(87);
    v->waitForRequest(61);

    ASSERT_EQ(0, writer->pause());
    a->setGate(97);
    v->setGate(71);
    a->waitForRequest(97);
    v->waitForRequest(71);

    // A resume that also asks the writer out of real time.
    sp<android::MetaData> meta = new android::MetaData;
    meta->setInt32(android::kKeyRealTimeRecording, 0);
    ASSERT_EQ(0, writer->start(meta.get()));
    a->setGate(SIZE_MAX);
    v->setGate(SIZE_MAX);
    ASSERT_TRUE(waitForEOS(writer.get()));
    ASSERT_EQ(0, writer->stop());

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(2u, f.tracks.size());
    EXPECT_EQ(172u, f.tracks[0].sizes.size());
    EXPECT_EQ(120u, f.tracks[1].sizes.size());
    // Durations leave the pause out: 172 audio frames, 120 video frames
    // after the picture's 200 ms start offset.
    EXPECT_NEAR(172 * 1024 / 44100.0, f.tracks[0].mediaDuration / 44100.0, 0.01);
    EXPECT_NEAR(0.2 + 120 * 0.033333, f.tracks[1].mediaDuration / 90000.0, 0.01);

    std::vector<Packet> packets = probePackets(path);
    for (int stream : {0, 1}) {
        // From the second sample on (the first carries the start offset).
        double prev = -1, maxStep = 0;
        int seen = 0;
        for (const Packet& p : packets) {
            if (p.stream != stream || ++seen < 2) continue;
            if (prev >= 0) maxStep = std::max(maxStep, p.dts - prev);
            prev = p.dts;
        }
        EXPECT_LT(maxStep, stream == 0 ? 0.025 : 0.035) << "stream " << stream;
    }
    // The later track's first sample lasts longer by the start offset
    // between the tracks, which survives the resume.
    EXPECT_NEAR(aStep / 1e6, secondDts(packets, 0), 1e-3);
    EXPECT_NEAR(0.2 + 0.033333, secondDts(packets, 1), 1e-3);
    EXPECT_EQ("", decodeErrors(path));
}

}  // namespace
}  // namespace wtest
