// The writer's own pause and resume of its tracks: what reaches a track
// while it is paused, a pause shorter than a frame, and resumes racing the
// track thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RecordHelper.h"

namespace wtest {
namespace {

struct GatedVideo {
    sp<qor::MPEG4Writer> writer;
    sp<ReplaySource> source;
};

GatedVideo startGated(const std::string& path, std::vector<Unit> units, size_t gate) {
    GatedVideo g;
    g.writer = new qor::MPEG4Writer(path.c_str());
    g.source = new ReplaySource(videoFormat(), std::move(units));
    EXPECT_EQ(0, g.writer->addSource(g.source));
    g.source->setGate(gate);
    EXPECT_EQ(0, g.writer->start(nullptr));
    return g;
}

// The encoder's configuration can come out after the game paused (the
// encoder starts late): the track keeps it, and the file ends with a moov.
TEST(WriterPause, ConfigurationArrivingWhilePausedIsKept) {
    std::string path = tempPath("pause_config.mp4");
    GatedVideo g = startGated(path, videoUnits(20), 0);
    ASSERT_EQ(0, g.writer->pause());
    g.source->setGate(1);
    g.source->waitForRequest(1);  // the configuration went through while paused
    ASSERT_EQ(0, g.writer->start(nullptr));
    g.source->setGate(SIZE_MAX);
    ASSERT_TRUE(waitForEOS(g.writer.get()));
    ASSERT_EQ(0, g.writer->stop());

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    EXPECT_FALSE(f.tracks[0].avcC.empty());
    EXPECT_EQ(20u, f.tracks[0].sizes.size());
    EXPECT_EQ("", decodeErrors(path));
}

// Pause and resume between two frames, the next one closer than the frame
// before it (encoder time stamps jitter): nothing to fold out, no abort, and
// the frames keep their spacing.
TEST(WriterPause, PauseShorterThanAFrameKeepsTheFrames) {
    std::string path = tempPath("pause_short.mp4");
    std::vector<Unit> units = videoUnits(10, 100000, 33333);
    for (size_t i = 6; i < units.size(); ++i) units[i].timeUs = units[i].decTimeUs -= 13333;
    GatedVideo g = startGated(path, units, 6);
    g.source->waitForRequest(6);
    ASSERT_EQ(0, g.writer->pause());
    ASSERT_EQ(0, g.writer->start(nullptr));
    g.source->setGate(SIZE_MAX);
    ASSERT_TRUE(waitForEOS(g.writer.get()));
    ASSERT_EQ(0, g.writer->stop());

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(10u, f.tracks[0].sizes.size());
    std::vector<Packet> packets = probePackets(path);
    ASSERT_EQ(10u, packets.size());
    EXPECT_NEAR(0.020, packets[5].dts - packets[4].dts, 1e-3);
    EXPECT_EQ("", decodeErrors(path));
}

// A game pausing and resuming as fast as it can while the encoder delivers:
// every resume is seen whole by the track thread (no abort), the file is
// well formed, and the samples in it stay in time order without a step
// longer than the frames' own.
TEST(WriterPause, ResumesRacingTheTrackThread) {
    std::string path = tempPath("pause_race.mp4");
    const size_t kFrames = 600;
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    // Every frame a sync frame: whichever the pauses leave, the track is whole.
    std::vector<Unit> units = videoUnits(kFrames);
    for (Unit& u : units) u.sync = !u.config;
    sp<ReplaySource> source = new ReplaySource(videoFormat(), units);
    ASSERT_EQ(0, writer->addSource(source));
    source->setGate(1);
    ASSERT_EQ(0, writer->start(nullptr));
    // The source hands out a few frames at a time while the game pauses and
    // resumes, so both sides run at once all along.
    for (size_t gate = 4; gate <= kFrames + 3; gate += 3) {
        source->setGate(gate);
        ASSERT_EQ(0, writer->pause());
        std::this_thread::yield();
        ASSERT_EQ(0, writer->start(nullptr));
        std::this_thread::sleep_for(std::chrono::microseconds(gate % 4 * 40));
    }
    source->setGate(SIZE_MAX);
    ASSERT_TRUE(waitForEOS(writer.get()));
    ASSERT_EQ(0, writer->stop());

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    EXPECT_GE(f.tracks[0].sizes.size(), 1u);
    EXPECT_LE(f.tracks[0].sizes.size(), kFrames);
    std::vector<Packet> packets = probePackets(path);
    for (size_t i = 2; i < packets.size(); ++i) {
        EXPECT_GT(packets[i].dts, packets[i - 1].dts) << "packet " << i;
        EXPECT_LT(packets[i].dts - packets[i - 1].dts, 0.0334 + 1e-3) << "packet " << i;
    }
}

}  // namespace
}  // namespace wtest
