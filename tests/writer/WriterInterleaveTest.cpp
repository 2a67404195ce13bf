// Chunk interleaving: the writer thread's choice among queued chunks, the
// drain at stop, and two-track files whose chunk tables point at the right
// bytes.
#include <gtest/gtest.h>

#include <host/log_record.h>
#include <media/stagefright/MediaBuffer.h>

#include "RecordHelper.h"
#include "WriterTestPeer.h"

namespace wtest {
namespace {

struct QueuedChunk {
    size_t track;
    int64_t timeUs;
    uint8_t fill;  // byte value of its one sample
};

TEST(WriterInterleave, EarliestHeadChunkFirstAndTiesToTheFirstTrack) {
    std::string path = tempPath("chunks.bin");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    sp<ReplaySource> audio = new ReplaySource(audioFormat(), {});
    sp<ReplaySource> video = new ReplaySource(videoFormat(), {});
    ASSERT_EQ(0, writer->addSource(audio));
    ASSERT_EQ(0, writer->addSource(video));
    qor::MPEG4WriterTestPeer peer(writer.get());
    peer.openQueues();

    const QueuedChunk queued[] = {
        {0, 1000, 0xA1}, {0, 2000, 0xA2}, {0, 3000, 0xA3},
        {1, 1000, 0xB1}, {1, 1500, 0xB2}, {1, 3000, 0xB3},
    };
    for (const QueuedChunk& c : queued) peer.queue(c.track, c.timeUs, {Bytes(3, c.fill)});

    // Head chunks are compared; a tie goes to the track added first.
    const std::pair<size_t, int64_t> expected[] = {{0, 1000}, {1, 1000}, {1, 1500}, {0, 2000}};
    for (const auto& e : expected) {
        size_t track;
        int64_t timeUs;
        ASSERT_TRUE(peer.next(&track, &timeUs));
        EXPECT_EQ(e.first, track);
        EXPECT_EQ(e.second, timeUs);
    }
    // What is left is drained at stop, earliest first.
    host::logClear();
    peer.writeAllChunks();
    EXPECT_EQ(1, host::logCount("2 chunks are written in the last batch", "MPEG4Writer"));

    Bytes file = readFile(path);
    Bytes expectedBytes;
    for (uint8_t fill : {0xA1, 0xB1, 0xB2, 0xA2, 0xA3, 0xB3}) {
        expectedBytes.insert(expectedBytes.end(), 3, fill);
    }
    // The video track is AVC: its samples carry a 4-byte length prefix.
    Bytes withPrefixes;
    for (size_t i = 0; i < expectedBytes.size(); i += 3) {
        if (expectedBytes[i] >= 0xB0) withPrefixes.insert(withPrefixes.end(), {0, 0, 0, 3});
        withPrefixes.insert(withPrefixes.end(), expectedBytes.begin() + i,
                            expectedBytes.begin() + i + 3);
    }
    EXPECT_EQ(withPrefixes, file);
}

class WriterInterleaveDuration : public ::testing::TestWithParam<uint32_t> {};

TEST_P(WriterInterleaveDuration, ChunkTablesPointAtTheSamples) {
    std::string path = tempPath("interleave.mp4");
    auto audio = audioUnits(130);
    auto video = videoUnits(90);
    Recording r = record(path, audio, video, [](qor::MPEG4Writer* w) {
        w->setInterleaveDuration(GetParam());
    });
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(2u, f.tracks.size());
    const TrackTables& a = f.tracks[0];
    const TrackTables& v = f.tracks[1];
    expectSamplesMatch(f, a, audio, false);
    expectSamplesMatch(f, v, video, true);

    if (GetParam() == 0) {
        // Every sample is a chunk of its own.
        EXPECT_EQ(a.sizes.size(), a.chunkOffsets.size());
        EXPECT_EQ(v.sizes.size(), v.chunkOffsets.size());
    } else {
        // About one chunk per interleave duration (3 s of media).
        EXPECT_GE(v.chunkOffsets.size(), 2u);
        EXPECT_LE(v.chunkOffsets.size(), 4u);
        EXPECT_EQ(1u, v.stsc[0][0]);
        // A chunk closes with the sample that lies more than 1 s after its
        // start; the first sample's rebased time is 0, so the first chunk is
        // timed from the second sample: frames 0..32 (t = 1.067 s).
        EXPECT_EQ(33u, v.stsc[0][1]);
        for (const TrackTables* t : {&a, &v}) {
            for (size_t i = 1; i + 1 < t->stsc.size(); ++i) {
                EXPECT_NE(t->stsc[i][1], t->stsc[i - 1][1]) << "equal chunks share an entry";
            }
        }
    }
    for (const TrackTables* t : {&a, &v}) {
        for (const auto& e : t->stsc) EXPECT_EQ(1u, e[2]);
    }
    EXPECT_EQ("", decodeErrors(path));
}

INSTANTIATE_TEST_SUITE_P(Durations, WriterInterleaveDuration, ::testing::Values(0u, 1000000u));

TEST(WriterInterleave, SingleTrackWritesItsOwnSamplesAsOneChunk) {
    host::logClear();
    std::string path = tempPath("single.mp4");
    auto video = videoUnits(45);
    Recording r = record(path, {}, video);
    ASSERT_EQ(0, r.stopResult);
    EXPECT_EQ(1, host::logCount("0 chunks are written in the last batch", "MPEG4Writer"));
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    EXPECT_EQ(1u, f.tracks[0].chunkOffsets.size());
    ASSERT_EQ(1u, f.tracks[0].stsc.size());
    EXPECT_EQ(45u, f.tracks[0].stsc[0][1]);
    expectSamplesMatch(f, f.tracks[0], video, true);
}

}  // namespace
}  // namespace wtest
