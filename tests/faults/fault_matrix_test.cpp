// Encoder faults through the front end's C functions over the real encoder
// library and the host's components: each case records about a second of
// frames and sound while one encoder fails (an error event, refused fill or
// empty calls, a stall, a component that cannot be created), then checks
// what the game saw (push results and times, stop's result and time, one
// error line) and what the file holds (ffprobe and a full ffmpeg decode).
//
// Built twice: on the default device (the platform's encoders) and, with
// QOR_FAULT_OWN_DRIVER, on a Qualcomm board whose video encoder the
// recorder drives with its own OpenMAX IL client. In both codec 0 is the AVC
// encoder and codec 1 the AAC encoder.
#include "icodec/IcodecInterface.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <host/log_record.h>

#include <gtest/gtest.h>

#include "WriterTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

const int kWidth = 320, kHeight = 240, kFps = 30, kRate = 44100, kChannels = 2;
const int kFrames = 36;  // 1.2 s
// Loose limits: a busy machine passes; the exact figures are the bench's.
const double kMaxPushSeconds = 0.5, kMaxStopSeconds = 5.0;

enum class Fails { kNothing, kVideo, kAudio };

struct FaultCase {
    const char* name;
    const char* profileLines;  // added to the default device
    Fails fails;
    // Samples the failed track keeps: [min, max]; 0, 0: the track is left out.
    int minKept, maxKept;
    int stopResult;
};

struct Outcome {
    std::vector<int> videoResults;
    double longestPushS = 0, stopS = 0;
    int stopResult = 0;
};

std::string baseProfile() {
    std::ifstream in(QOR_FAULT_BASE_PROFILE);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int countLines(const std::string& text) {
    int n = 0;
    for (const host::LogLine& l : host::logSnapshot()) n += l.msg.find(text) != std::string::npos;
    return n;
}

// Every frame decodes without an error. (The null muxer's warnings about
// frames closer than its time base are left out: a game's frames are not
// evenly spaced.)
std::string decodeErrors(const std::string& path) {
    wtest::CmdResult r = wtest::runCommand("ffmpeg -nostdin -v error -xerror -i '" + path +
                                           "' -fps_mode passthrough -enc_time_base -1 -f null -");
    if (r.status != 0 && r.err.empty()) return "ffmpeg exit status " + std::to_string(r.status);
    return r.err;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class FaultRecording : public ::testing::Test {
protected:
    // The device of the whole process: the facade binds once.
    static void SetUpTestSuite() {
        setenv("DEVICE_PROFILE", QOR_FAULT_BASE_PROFILE, 1);
        ASSERT_EQ(0, qor::init(nullptr));
    }
    void SetUp() override { host::logClear(); }
    void TearDown() override {
        qor::stop();
        setenv("DEVICE_PROFILE", QOR_FAULT_BASE_PROFILE, 1);
    }

    // A recording on a device with the case's fault, paced as a game.
    static Outcome record(const std::string& path) {
        Outcome o;
        std::vector<uint8_t> frame(kWidth * kHeight * 2);
        std::vector<uint8_t> pcm(kRate / kFps * kChannels * 2);
        EXPECT_EQ(0, qor::setVideoParameter(kWidth, kHeight, kFps, 1000000, 1, 0));
        EXPECT_EQ(0, qor::setAudioParameter(kRate, kChannels, 64000));
        EXPECT_EQ(0, qor::start(path.c_str()));
        const auto interval = std::chrono::microseconds(1000000 / kFps);
        for (int i = 0; i < kFrames; ++i) {
            memset(frame.data(), (i * 7) & 0xFF, frame.size());
            for (size_t k = 0; k < pcm.size(); ++k) pcm[k] = (uint8_t)((k * 13 + i) & 0xFF);
            Clock::time_point t = Clock::now();
            o.videoResults.push_back(
                qor::pushVideoBuffer(frame.data(), frame.size(), (int)frame.size(), 0));
            EXPECT_EQ(0, qor::pushAudioBuffer(pcm.data(), 0, (int)pcm.size()));
            o.longestPushS = std::max(o.longestPushS, seconds(Clock::now() - t));
            // A frame late by a slow push is not followed by a burst: frames
            // microseconds apart are no game's.
            std::this_thread::sleep_until(std::max(t + interval, Clock::now() + interval / 4));
        }
        Clock::time_point t = Clock::now();
        o.stopResult = qor::stop();
        o.stopS = seconds(Clock::now() - t);
        return o;
    }
};

class FaultMatrix : public FaultRecording, public ::testing::WithParamInterface<FaultCase> {};

// Returns codec name -> packet count.
std::map<std::string, int> packets(const std::string& path) {
    std::map<std::string, int> out;
    for (auto& s : wtest::probeStreams(path)) out[s["codec_name"]] = atoi(s["nb_read_packets"].c_str());
    return out;
}

TEST_P(FaultMatrix, TheGameGoesOnAndTheFileKeepsWhatWasRecorded) {
    const FaultCase& c = GetParam();
    const std::string profile = wtest::tempPath(std::string("fault_") + c.name + ".prop");
    std::ofstream(profile) << baseProfile() << c.profileLines << "\n";
    setenv("DEVICE_PROFILE", profile.c_str(), 1);
    const char* keep = getenv("QOR_FAULT_OUT");  // a folder to keep the files in
    const std::string path = (keep ? std::string(keep) : wtest::tempPath("")) + "/fault_" +
                             c.name + ".mp4";
    unlink(path.c_str());

    Outcome o = record(path);
    printf("[ %s ] longest push %.1f ms, stop %.1f ms\n", c.name, o.longestPushS * 1000,
           o.stopS * 1000);
    EXPECT_LT(o.longestPushS, kMaxPushSeconds);
    // A stalled platform encoder's own stop (5 s on the host) is not waited for.
    EXPECT_LT(o.stopS, kMaxStopSeconds);
    EXPECT_EQ(c.stopResult, o.stopResult);
    EXPECT_EQ(0, qor::status());

    // Video pushes: -1 from the video encoder's failure on, every one. (A
    // push may also drop its frame when a busy machine delays the encoder
    // past the slot's wait: a few of those are no failure.)
    size_t lastTaken = 0, refused = 0;
    for (size_t i = 0; i < o.videoResults.size(); ++i) {
        if (o.videoResults[i] == 0) lastTaken = i;
        refused += o.videoResults[i] != 0;
    }
    if (c.fails == Fails::kVideo) {
        EXPECT_LT(lastTaken, o.videoResults.size() - 5) << "pushes go on being taken";
    } else {
        EXPECT_LE(refused, 3u);
    }
    if (c.fails != Fails::kNothing && c.stopResult != 0) {
        const char* stream = c.fails == Fails::kVideo ? "[video]" : "[audio]";
        EXPECT_EQ(1, countLines(std::string(stream) + " the encoder stopped reading"));
    }

    std::map<std::string, int> n = packets(path);
    const size_t tracks = n.size();
    const int fullVideo = kFrames - 8, fullAudio = kRate * kFrames / kFps / 1024 - 12;
    const int kept = c.fails == Fails::kVideo ? n["h264"] : n["aac"];
    if (c.fails == Fails::kNothing) {
        EXPECT_EQ(2u, tracks);
    } else if (c.maxKept == 0 || (c.minKept == 0 && kept == 0)) {
        EXPECT_EQ(1u, tracks) << "the failed track is left out";
    } else {
        EXPECT_GE(kept, c.minKept);
        EXPECT_LE(kept, c.maxKept);
    }
    if (c.fails != Fails::kVideo) {
        EXPECT_GE(n["h264"], fullVideo);
    }
    if (c.fails != Fails::kAudio) {
        EXPECT_GE(n["aac"], fullAudio);
    }
    EXPECT_EQ("", decodeErrors(path));
}

// The facade drops the first frame; errorafter/stallafter count encoded
// frames (AAC: of 1024 samples), fillbuffer/emptybuffer calls.
const int kMinKeptAfterRefusedEmpty = 3;

// The sound always goes through the platform's encoder: its cases run on
// the default device only; a stall of the platform's video encoder with
// latency adds nothing to its stall without.
std::vector<FaultCase> cases() {
    std::vector<FaultCase> all = {
        {"video_error", "codec.0.fault.errorafter=5", Fails::kVideo, 4, 5, -1},
        {"video_fill_refused", "codec.0.fault.fillbuffer=8", Fails::kVideo, 1, 8, -1},
        {"video_empty_refused", "codec.0.fault.emptybuffer=6", Fails::kVideo,
         kMinKeptAfterRefusedEmpty, 6, -1},
        {"video_stall", "codec.0.fault.stallafter=5", Fails::kVideo, 4, 5, -1},
        {"video_error_before_first_sample", "codec.0.fault.errorafter=0", Fails::kVideo, 0, 0, -1},
        {"video_fill_refused_at_once", "codec.0.fault.fillbuffer=1", Fails::kVideo, 0, 0, -1},
        {"video_empty_refused_at_once", "codec.0.fault.emptybuffer=1", Fails::kVideo, 0, 0, -1},
        {"video_encoder_not_created", "codec.0.fault.allocnode=1", Fails::kVideo, 0, 0, 0},
        {"no_fault_with_latency", "codec.0.latency=3", Fails::kNothing, 0, 0, 0},
    };
#ifdef QOR_FAULT_OWN_DRIVER
    all.push_back({"video_stall_with_latency", "codec.0.fault.stallafter=8\ncodec.0.latency=3",
                   Fails::kVideo, 4, 8, -1});
#else
    all.push_back({"audio_error", "codec.1.fault.errorafter=12", Fails::kAudio, 8, 12, -1});
    all.push_back({"audio_stall", "codec.1.fault.stallafter=12", Fails::kAudio, 8, 12, -1});
    all.push_back(
        {"audio_empty_refused_at_once", "codec.1.fault.emptybuffer=1", Fails::kAudio, 0, 0, -1});
#endif
#ifdef QOR_FAULT_FEW_CASES
    std::vector<FaultCase> few;
    for (const FaultCase& c : all) {
        const std::string name = c.name;
        if (name == "video_error" || name == "video_stall" || name == "audio_error" ||
            name == "video_fill_refused_at_once") {
            few.push_back(c);
        }
    }
    return few;
#else
    return all;
#endif
}

INSTANTIATE_TEST_SUITE_P(Encoders, FaultMatrix, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return info.param.name;
                         });

struct RetryCase {
    const char* name;
    const char* profileLines;  // the device as the retry finds it
    Fails fails;               // the stream whose encoder the retry cannot create
};

// Test names show the case, not its bytes.
void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class FaultRetry : public FaultRecording, public ::testing::WithParamInterface<RetryCase> {};

// A start refused for its path set both encoders up; the retry cannot
// create one of them again. The recording is of the other stream alone:
// no encoder of the first set-up is left reading a source nobody pushes to
// (its track would never end, and stop would fail the file).
TEST_P(FaultRetry, ARetryThatCannotCreateAnEncoderRecordsTheOtherStream) {
    const RetryCase& c = GetParam();
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, kFps, 1000000, 1, 0));
    ASSERT_EQ(0, qor::setAudioParameter(kRate, kChannels, 64000));
    EXPECT_EQ(-1, qor::start("/no-such-folder-lumokast/retry.mp4"));
    EXPECT_EQ(0, qor::status());

    const std::string profile = wtest::tempPath(std::string("retry_") + c.name + ".prop");
    std::ofstream(profile) << baseProfile() << c.profileLines << "\n";
    setenv("DEVICE_PROFILE", profile.c_str(), 1);
    const std::string path = wtest::tempPath("") + "/retry_" + c.name + ".mp4";
    unlink(path.c_str());
    Outcome o = record(path);
    EXPECT_EQ(0, o.stopResult);
    EXPECT_LT(o.stopS, kMaxStopSeconds);

    size_t refused = 0;
    for (int r : o.videoResults) refused += r != 0;
    std::map<std::string, int> n = packets(path);
    ASSERT_EQ(1u, n.size()) << "one track, of the stream that was set up";
    if (c.fails == Fails::kVideo) {
        EXPECT_EQ(o.videoResults.size() - 1, refused) << "all but the first (dropped) frame";
        EXPECT_GE(n["aac"], kRate * kFrames / kFps / 1024 - 12);
    } else {
        EXPECT_LE(refused, 3u);
        EXPECT_GE(n["h264"], kFrames - 8);
    }
    EXPECT_EQ("", decodeErrors(path));
}

INSTANTIATE_TEST_SUITE_P(
    SetUps, FaultRetry,
    ::testing::Values(RetryCase{"video_encoder_not_created", "codec.0.fault.allocnode=1",
                                Fails::kVideo},
                      RetryCase{"audio_encoder_not_created", "codec.1.fault.allocnode=1",
                                Fails::kAudio}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return info.param.name; });

}  // namespace
