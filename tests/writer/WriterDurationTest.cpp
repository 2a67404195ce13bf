// Header durations: mdhd, the edit list, tkhd and mvhd all tell what the
// samples last, so that players keep every sample written.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>

#include <media/stagefright/MediaErrors.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

const int32_t kPrimingSamples = 1024;

struct DurationCase {
    const char* name;
    size_t audioFrames;
    int64_t audioStartUs;
    bool audioConfig;  // without it the sound track is left out
    size_t videoFrames;
    int64_t videoStartUs;
};

class WriterDurations : public ::testing::TestWithParam<DurationCase> {};

uint64_t sttsTotal(const TrackTables& t) {
    uint64_t total = 0;
    for (const auto& e : t.stts) total += (uint64_t)e.first * e.second;
    return total;
}

uint64_t rescaled(uint64_t ticks, uint32_t from, uint32_t to) {
    return (uint64_t)llround((double)ticks * to / from);
}

TEST_P(WriterDurations, EveryHeaderTellsWhatTheSamplesLast) {
    const DurationCase& c = GetParam();
    const std::string path = tempPath(std::string("durations_") + c.name + ".mp4");
    std::vector<Unit> audio = audioUnits(c.audioFrames, c.audioStartUs);
    if (!c.audioConfig) audio.erase(audio.begin());
    sp<android::MetaData> audioFmt = audioFormat();
    audioFmt->setInt32(android::kKeyEncoderDelay, kPrimingSamples);
    Recording r =
        record(path, audio, videoUnits(c.videoFrames, c.videoStartUs), nullptr, nullptr, audioFmt);
    EXPECT_EQ(c.audioConfig ? android::OK : (status_t)android::ERROR_MALFORMED, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(c.audioConfig ? 2u : 1u, f.tracks.size());

    const int64_t earliestUs =
        c.audioConfig ? std::min(c.audioStartUs, c.videoStartUs) : c.videoStartUs;
    uint64_t longest = 0;
    for (const TrackTables& t : f.tracks) {
        const bool sound = t.handler == "soun";
        SCOPED_TRACE(t.handler);
        // The media lasts from the movie's start to the last sample's end.
        const int64_t startUs = (sound ? c.audioStartUs : c.videoStartUs) - earliestUs;
        const uint64_t samples =
            sound ? c.audioFrames * 1024 : (uint64_t)llround(c.videoFrames * 0.033333 * 90000);
        EXPECT_NEAR((double)(startUs * t.mediaTimeScale / 1000000 + samples),
                    (double)t.mediaDuration, 2.0 * t.sizes.size());
        EXPECT_EQ(sttsTotal(t), t.mediaDuration);
        // The sound's edit skips the priming and plays the rest to the end.
        EXPECT_EQ(sound ? 1u : 0u, t.editCount);
        uint64_t played = t.mediaDuration;
        if (sound) {
            EXPECT_EQ(kPrimingSamples, t.editMediaTime);
            played -= kPrimingSamples;
            EXPECT_NEAR((double)rescaled(played, t.mediaTimeScale, f.movieTimeScale),
                        (double)t.editDuration, 1.0);
        }
        EXPECT_NEAR((double)rescaled(played, t.mediaTimeScale, f.movieTimeScale),
                    (double)t.tkhdDuration, 1.0);
        if (sound) {
            EXPECT_EQ(t.editDuration, t.tkhdDuration);
        }
        longest = std::max(longest, t.tkhdDuration);
    }
    EXPECT_EQ(longest, f.movieDuration);

    // Players decode every picture, and every sound frame but the priming
    // one, which the edit skips.
    std::map<std::string, std::string> counts;
    for (auto& s : probeStreams(path)) counts[s["codec_name"]] = s["nb_read_frames"];
    EXPECT_EQ(std::to_string(c.videoFrames), counts["h264"]);
    if (c.audioConfig) {
        EXPECT_EQ(std::to_string(c.audioFrames - 1), counts["aac"]);
    }
    EXPECT_EQ("", decodeErrors(path));
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, WriterDurations,
    ::testing::Values(DurationCase{"SoundAfterThePicture", 65, 600000, true, 60, 100000},
                      DurationCase{"SoundBeforeThePicture", 87, 100000, true, 45, 600000},
                      DurationCase{"SoundLeftOut", 130, 100000, false, 30, 100000}),
    [](const ::testing::TestParamInfo<DurationCase>& info) { return info.param.name; });

}  // namespace
}  // namespace wtest
