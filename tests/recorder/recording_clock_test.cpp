// The recording clock: the stamps the encoders get over pauses, resumes and
// a wall clock that steps back.
#include "android_source/RecordingClock.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

// 10 ms of 44.1 kHz stereo sound.
const int32_t kBlockBytes = 1764;
const int64_t kBytesPerSecond = 176400;

// A push (its expected stamp; -1: refused), a pause or a resume, at a
// wall-clock time in milliseconds.
struct Step {
    enum Kind { kVideo, kAudio, kPause, kResume } kind;
    int64_t wallMs;
    int64_t stampMs = -1;
};

struct ClockCase {
    const char* name;
    std::vector<Step> steps;
};

// Picture and sound from 1000 ms; the last frame at 1033, the sound ends
// at 1020; paused at 1040.
std::vector<Step> recordThenPause(std::vector<Step> rest) {
    std::vector<Step> steps = {{Step::kVideo, 1000, 1000}, {Step::kAudio, 1000, 1000},
                               {Step::kAudio, 1010, 1010}, {Step::kVideo, 1033, 1033},
                               {Step::kPause, 1040},       {Step::kVideo, 2000, -1}};
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

class RecordingClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(RecordingClockTest, StampsGoOnFromWhereThePictureAndSoundStopped) {
    qor::RecordingClock clock;
    clock.reset(kBytesPerSecond);
    const std::vector<Step>& steps = GetParam().steps;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        const int64_t wallUs = s.wallMs * 1000;
        if (s.kind == Step::kPause) {
            clock.pause(wallUs);
        } else if (s.kind == Step::kResume) {
            clock.resume(wallUs);
        } else {
            int64_t stampUs = -1;
            const bool video = s.kind == Step::kVideo;
            const bool accepted = clock.stamp(video, wallUs, video ? 64 : kBlockBytes, &stampUs);
            EXPECT_EQ(s.stampMs >= 0, accepted) << "step " << i;
            if (accepted) {
                EXPECT_EQ(s.stampMs * 1000, stampUs) << "step " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pauses, RecordingClockTest,
    ::testing::Values(
        ClockCase{"OnePause", recordThenPause({{Step::kResume, 5000},
                                               {Step::kVideo, 5010, 1040},
                                               {Step::kAudio, 5012, 1042}})},
        // No push between the pauses: the second goes on from the same place.
        ClockCase{"TwoPausesWithoutAPushBetween", recordThenPause({{Step::kResume, 3000},
                                                                   {Step::kPause, 3100},
                                                                   {Step::kResume, 5000},
                                                                   {Step::kVideo, 5010, 1040},
                                                                   {Step::kAudio, 5012, 1042}})},
        // The wall clock steps back 2 s after the resume: nothing is refused
        // and no stream's stamps go back.
        ClockCase{"ClockStepsBackAfterTheResume", recordThenPause({{Step::kResume, 5000},
                                                                   {Step::kVideo, 5010, 1040},
                                                                   {Step::kAudio, 5005, 1040},
                                                                   {Step::kAudio, 3015, 1040},
                                                                   {Step::kVideo, 3043, 1040},
                                                                   {Step::kVideo, 5043, 1073}})},
        ClockCase{"ClockStepsBackWhileRecording",
                  {{Step::kVideo, 1000, 1000},
                   {Step::kVideo, 1033, 1033},
                   {Step::kVideo, 900, 1033},
                   {Step::kAudio, 905, 905},
                   {Step::kVideo, 1066, 1066}}}),
    [](const ::testing::TestParamInfo<ClockCase>& info) { return info.param.name; });

}  // namespace
