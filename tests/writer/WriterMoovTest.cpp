// The moov of a finished recording: built again from the writer's tables it
// is byte for byte the one in the file, however often it is built.
#include <gtest/gtest.h>

#include "RecordHelper.h"
#include "WriterTestPeer.h"

namespace wtest {
namespace {

struct MoovCase {
    const char* name;
    size_t audioFrames, videoFrames;
    const char* layout;
};

class WriterMoovRebuild : public ::testing::TestWithParam<MoovCase> {};

TEST_P(WriterMoovRebuild, SameBytesAsTheFileEveryTime) {
    std::string path = tempPath(std::string("rebuild_") + GetParam().name + ".mp4");
    // Video starts 50 ms after audio and every other frame is presented
    // 40 ms late: the first stts entry and the ctts entries are adjusted as
    // they are written.
    auto video = videoUnits(GetParam().videoFrames, 150000);
    for (size_t i = 2; i < video.size(); i += 2) video[i].timeUs += 40000;
    Recording r = record(path, audioUnits(GetParam().audioFrames), video);
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(GetParam().layout, f.topOrder());
    const TrackTables* v = f.track("vide");
    ASSERT_NE(nullptr, v);
    ASSERT_TRUE(v->hasCtts);
    ASSERT_FALSE(v->stts.empty());
    EXPECT_GT(v->stts[0].second, 3000u + 4000u);  // one frame plus the 50 ms

    const Box* moovBox = nullptr;
    for (const Box& b : f.top) {
        if (b.type == "moov") moovBox = &b;
    }
    ASSERT_NE(nullptr, moovBox);
    Bytes inFile = f.fileBytes(moovBox->offset, moovBox->size);
    // The creation time of mvhd (version 0): the time the moov was built at.
    ASSERT_GE(inFile.size(), 24u);
    uint64_t now = be32(&inFile[20]);

    qor::MPEG4WriterTestPeer peer(r.writer.get());
    Bytes first = peer.moov(now);
    EXPECT_EQ(inFile, first);
    EXPECT_EQ(first, peer.moov(now));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WriterMoovRebuild,
    ::testing::Values(MoovCase{"in_reservation", 86, 60, "ftyp moov free mdat"},
                      MoovCase{"at_the_end", 430, 300, "ftyp free mdat moov"}),
    [](const ::testing::TestParamInfo<MoovCase>& info) { return info.param.name; });

}  // namespace
}  // namespace wtest
