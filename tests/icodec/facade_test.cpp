// The muxer facade over the real recorder with fake encoders (the spy
// library bound as libvencora_23): pushes, buffer reuse while a slow encoder
// holds frames, refusals, and stop racing pushes.
#include "icodec/IcodecInterface.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <host/log_record.h>

#include <gtest/gtest.h>

namespace {

const int kWidth = 64, kHeight = 32;
const size_t kFrameBytes = kWidth * kHeight * 2;

class FacadeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, qor::init(nullptr)); }
    void SetUp() override { host::logClear(); }
    void TearDown() override { qor::stop(); }

    static std::vector<uint8_t> frame(uint16_t pixel) {
        std::vector<uint8_t> bytes(kFrameBytes);
        for (size_t i = 0; i < kFrameBytes; i += 2) memcpy(&bytes[i], &pixel, 2);
        return bytes;
    }

    // The spy's "read size ..." lines for one MIME type, in order.
    static std::vector<std::string> reads(const char* mime) {
        std::vector<std::string> out;
        std::string prefix = std::string("spy ") + mime + " read size ";
        for (const host::LogLine& l : host::logSnapshot()) {
            if (l.tag == "spy" && l.msg.compare(0, prefix.size(), prefix) == 0) out.push_back(l.msg);
        }
        return out;
    }
};

TEST_F(FacadeTest, InitTwiceKeepsOneFacadeAndTheLibraryIsBound) {
    EXPECT_EQ(0, qor::init(nullptr));
    EXPECT_EQ(1, qor::isAvailable());
    EXPECT_EQ(0, qor::stop());
    EXPECT_EQ(1, host::logCount("stop(Receied video/audio 0/0).", "qor_icodec"));
}

TEST_F(FacadeTest, ParameterAndStartRefusals) {
    EXPECT_EQ(-1, qor::setVideoParameter(kWidth, kHeight, 0, 1000000, 1, 0));
    EXPECT_EQ(1, host::logCount("video parameters width 64 height 32 frameRate 0 bitRate 1000000 "
                                "isinvert ? no status ? stop."));
    EXPECT_EQ(-1, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 0, 1));
    EXPECT_EQ(-1, qor::setAudioParameter(44100, 0, 64000));
    EXPECT_EQ(1, host::logCount("audio parameters sampleRate 44100 channels 0 bitRate 64000 status ? stop."));
}

TEST_F(FacadeTest, FirstFrameIsDroppedAndAudioIsCutIntoBlocks) {
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::setAudioParameter(44100, 2, 64000));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    EXPECT_EQ(0, qor::start("/tmp/facade.mp4"));
    EXPECT_EQ(1, host::logCount("Has yet started!"));
    EXPECT_EQ(1, qor::status());
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> f = frame((uint16_t)(0x1111 * (i + 1)));
        EXPECT_EQ(0, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    }
    std::vector<uint8_t> pcm(20000, 7);
    EXPECT_EQ(0, qor::pushAudioBuffer(pcm.data(), 0, (int)pcm.size()));
    EXPECT_EQ(0, qor::stop());
    EXPECT_EQ(1, host::logCount("stop(Receied video/audio 5/3)."));

    // The sound started after the first frame: silence up to its time
    // (at most one buffer, the pushes follow each other closely), then the
    // blocks.
    std::vector<std::string> audio = reads("audio/mp4a-latm");
    ASSERT_GE(audio.size(), 3u);
    ASSERT_LE(audio.size(), 4u);
    const size_t first = audio.size() - 3;
    EXPECT_EQ(0u, audio[first].find("spy audio/mp4a-latm read size 8192 "));
    EXPECT_EQ(0u, audio[first + 1].find("spy audio/mp4a-latm read size 8192 "));
    EXPECT_EQ(0u, audio[first + 2].find("spy audio/mp4a-latm read size 3616 "));
    // Every frame but the first reaches the encoder, the last one too.
    EXPECT_EQ(4u, reads("video/avc").size());
}

// Each test runs in a process of its own (ctest), so no video parameters
// were ever set here: only the audio track is recorded.
TEST_F(FacadeTest, PauseResumeTwiceAndAudioOnlyVideoPushes) {
    EXPECT_EQ(-1, qor::resume(0));
    ASSERT_EQ(0, qor::setAudioParameter(48000, 1, 64000));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    EXPECT_EQ(-1, qor::resume(0));
    std::vector<uint8_t> f = frame(0x1234);
    EXPECT_EQ(0, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    EXPECT_EQ(-1, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    EXPECT_EQ(0, qor::pause(1));
    EXPECT_EQ(-1, qor::pause(0));
    EXPECT_EQ(1, qor::status());  // a paused recording still reports 1
    EXPECT_EQ(0, qor::resume(0));
    EXPECT_EQ(-1, qor::resume(0));
    EXPECT_EQ(3, host::logCount("resume, nothing paused to resume."));
    EXPECT_EQ(0, qor::pause(1));
    EXPECT_EQ(0, qor::stop());
    EXPECT_EQ(0, qor::status());
    EXPECT_EQ(-1, qor::resume(0));
}

// Frames the recording cannot read as its own size: refused, one line each
// naming the size it needs, never read.
TEST_F(FacadeTest, BadFramesAreRefusedWithoutBeingRead) {
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    std::vector<uint8_t> big(kFrameBytes * 4, 0x55);  // a 128x64 frame
    struct Bad {
        const uint8_t* data;
        int64_t capacity;
        int length;
    } const cases[] = {
        {big.data(), (int64_t)kFrameBytes - 2, (int)kFrameBytes},  // buffer too small
        {big.data(), (int64_t)kFrameBytes, (int)kFrameBytes - 1},  // short frame
        {big.data(), (int64_t)big.size(), (int)big.size()},        // a larger picture
        {big.data(), (int64_t)big.size(), (int)kFrameBytes + 2},   // one pixel more
        {nullptr, 0, 0},
    };
    for (const Bad& c : cases) {
        EXPECT_EQ(-1, qor::pushVideoBuffer(c.data, c.capacity, c.length, 0)) << c.length;
    }
    EXPECT_EQ((int)(sizeof(cases) / sizeof(cases[0])),
              host::logCount("a frame needs 4096 bytes"));
    EXPECT_EQ(0, qor::stop());
    EXPECT_EQ(1, host::logCount("stop(Receied video/audio 0/0)."));
    std::vector<uint8_t> f = frame(0x1234);
    EXPECT_EQ(-1, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    EXPECT_EQ(1, host::logCount("pushVideoBuffer, has no yet started."));
}

// Odd sizes are refused up front; each recording needs its parameters again
// (stop clears them), so a sound-only recording can follow one with video.
TEST_F(FacadeTest, ParametersBelongToOneRecording) {
    EXPECT_EQ(-1, qor::setVideoParameter(321, 240, 30, 1000000, 1, 0));
    EXPECT_EQ(-1, qor::setVideoParameter(320, 241, 30, 1000000, 1, 0));
    EXPECT_EQ(1, host::logCount("video parameters 321x240: width and height must be even."));
    EXPECT_EQ(1, host::logCount("video parameters 320x241: width and height must be even."));

    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::setAudioParameter(44100, 2, 64000));
    EXPECT_EQ(0, qor::stop());  // nothing recorded: 0, and the parameters are gone
    EXPECT_EQ(-1, qor::start("/tmp/facade.mp4"));  // stop cleared the parameters
    EXPECT_EQ(1, host::logCount("Please call (video_parameters && audio_parameters), before start."));

    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    EXPECT_EQ(0, qor::stop());
    host::logClear();
    ASSERT_EQ(0, qor::setAudioParameter(44100, 2, 64000));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    std::vector<uint8_t> f = frame(0x4321);
    EXPECT_EQ(0, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));  // skipped first
    EXPECT_EQ(-1, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    std::vector<uint8_t> pcm(20000, 7);
    EXPECT_EQ(0, qor::pushAudioBuffer(pcm.data(), 0, (int)pcm.size()));
    EXPECT_EQ(0, qor::stop());
    EXPECT_EQ(0u, reads("video/avc").size());
    EXPECT_GE(reads("audio/mp4a-latm").size(), 3u);
}

// A slow encoder holds each frame for a while; the frames pushed meanwhile
// must not be written over the ones it still reads.
TEST_F(FacadeTest, SlowEncoderNeverSeesAFrameRewritten) {
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::setAudioParameter(8000, 1, 16000));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    // A pause in the middle: the frames pushed while paused are refused and
    // must not be written over the ones the encoder still holds.
    const int kFrames = 40, kPauseAt = 20, kPaused = 6;
    for (int i = 0; i < kFrames + kPaused; ++i) {
        const bool paused = i >= kPauseAt && i < kPauseAt + kPaused;
        if (i == kPauseAt) {
            ASSERT_EQ(0, qor::pause(0));
        }
        if (i == kPauseAt + kPaused) {
            ASSERT_EQ(0, qor::resume(0));
        }
        std::vector<uint8_t> f = frame((uint16_t)(i * 1601));  // a different grey-ish each time
        ASSERT_EQ(paused ? -1 : 0, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
        std::vector<uint8_t> pcm(1000, (uint8_t)i);
        qor::pushAudioBuffer(pcm.data(), 0, (int)pcm.size());
    }
    ASSERT_EQ(0, qor::stop());
    EXPECT_EQ(1, host::logCount("spy video/avc reads ", "spy"));
    EXPECT_EQ(1, host::logCount(" unstable 0", "spy") >= 1 ? 1 : 0);
    EXPECT_EQ(0, host::logCount("changed while the encoder held it"));
    EXPECT_EQ((size_t)kFrames - 1, reads("video/avc").size());
}

// An encoder slower than the game: pushes give up on the full slot (-1,
// frame dropped), and the next push writes the same buffer again, never one
// the encoder still holds.
TEST_F(FacadeTest, PushesThatGiveUpNeverRewriteAFrameTheEncoderHolds) {
    setenv("SPY_HOLD_US", "450000", 1);
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    int refused = 0;
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> f = frame((uint16_t)(i * 2311 + 1));
        refused += qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0) == -1;
    }
    EXPECT_EQ(0, qor::stop());
    setenv("SPY_HOLD_US", "8000", 1);
    EXPECT_GE(refused, 2);
    EXPECT_EQ(0, host::logCount("changed while the encoder held it"));
    EXPECT_EQ(1, host::logCount(" unstable 0", "spy") >= 1 ? 1 : 0);
}

// The disk falls behind while the encoder holds a frame: the frames the
// recorder drops meanwhile (0 to the game) were never handed over, so their
// slots are used again and no frame is written over the one it still reads.
TEST_F(FacadeTest, FramesDroppedForASlowDiskNeverRewriteAFrameTheEncoderHolds) {
    setenv("SPY_HOLD_US", "600000", 1);
    setenv("SPY_DISK_BEHIND_AT", "1", 1);
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    std::vector<int> results;
    auto push = [&results](int i) {
        std::vector<uint8_t> f = frame((uint16_t)(i * 2311 + 1));
        results.push_back(qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    };
    push(0);  // the first frame of a recording is dropped by the facade
    push(1);  // taken by the encoder, which holds it
    for (int waitedMs = 0; host::logCount("spy: the disk falls behind", "spy") == 0; ++waitedMs) {
        ASSERT_LT(waitedMs, 5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 2; i < 8; ++i) push(i);  // dropped: more than the ring's slots
    EXPECT_EQ(0, qor::stop());
    setenv("SPY_HOLD_US", "8000", 1);
    unsetenv("SPY_DISK_BEHIND_AT");
    EXPECT_EQ(std::vector<int>(8, 0), results);
    EXPECT_EQ(0, host::logCount("changed while the encoder held it"));
    EXPECT_EQ(1, host::logCount("spy video/avc reads 1 unstable 0", "spy"));
}

TEST_F(FacadeTest, StopRacingPushesNeitherCrashesNorHangs) {
    std::vector<uint8_t> f = frame(0x7777);
    std::vector<uint8_t> pcm(10000, 1);
    for (int cycle = 0; cycle < 40; ++cycle) {
        ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, cycle % 2));
        ASSERT_EQ(0, qor::setAudioParameter(8000, 1, 16000));
        ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
        std::atomic<bool> done{false};
        std::thread video([&] {
            while (!done) qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0);
        });
        std::thread audio([&] {
            while (!done) qor::pushAudioBuffer(pcm.data(), 0, (int)pcm.size());
        });
        EXPECT_EQ(0, qor::stop());
        done = true;
        video.join();
        audio.join();
    }
}

}  // namespace
