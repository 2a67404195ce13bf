// The muxer facade over the real recorder with fake encoders (the spy
// library bound as libvencora_23): pushes, buffer reuse while a slow encoder
// holds frames, refusals, and stop racing pushes.
#include "icodec/IcodecInterface.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
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

TEST_F(FacadeTest, BadFramesAreRefusedWithoutBeingRead) {
    ASSERT_EQ(0, qor::setVideoParameter(kWidth, kHeight, 30, 1000000, 1, 0));
    ASSERT_EQ(0, qor::start("/tmp/facade.mp4"));
    std::vector<uint8_t> f = frame(0x1234);
    EXPECT_EQ(-1, qor::pushVideoBuffer(f.data(), (int64_t)f.size() - 2, (int)f.size(), 0));
    EXPECT_EQ(-1, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size() - 1, 0));
    EXPECT_EQ(-1, qor::pushVideoBuffer(nullptr, 0, 0, 0));
    EXPECT_EQ(3, host::logCount("pushVideoBuffer, invalid frame"));
    EXPECT_EQ(0, qor::stop());
    EXPECT_EQ(1, host::logCount("stop(Receied video/audio 0/0)."));
    EXPECT_EQ(-1, qor::pushVideoBuffer(f.data(), f.size(), (int)f.size(), 0));
    EXPECT_EQ(1, host::logCount("pushVideoBuffer, has no yet started."));
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
