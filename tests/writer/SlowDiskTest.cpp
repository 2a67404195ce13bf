// A disk slower than the stream, under the real recorder and encoders: the
// chunks waiting for it stay under the cap because video frames are dropped
// before they are encoded (counted); the file decodes cleanly and keeps all
// of its sound; stop succeeds.
#include <gtest/gtest.h>

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include <media/stagefright/OMXCodec.h>

#include "WriterTestSupport.h"
#include "android_source/AndroidCodec.h"
#include "icodec/ColorLayout.h"
#include "mpeg4_writer/MPEG4Writer.h"

namespace wtest {
namespace {

// The file, written no faster than `bytesPerSecond`.
class ThrottledSink : public qor::FileByteSink {
public:
    ThrottledSink(int fd, int64_t bytesPerSecond) : FileByteSink(fd), mRate(bytesPerSecond) {}
    void write(const void* data, size_t size) override {
        wait(size);
        FileByteSink::write(data, size);
    }
    void writev(struct iovec* iov, size_t count) override {
        size_t size = 0;
        for (size_t i = 0; i < count; ++i) size += iov[i].iov_len;
        wait(size);
        FileByteSink::writev(iov, count);
    }

private:
    void wait(size_t size) { usleep((useconds_t)((int64_t)size * 1000000 / mRate)); }
    int64_t mRate;
};

int64_t wallClockUs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

double streamDuration(const std::string& path, const std::string& codec) {
    for (auto& s : probeStreams(path)) {
        if (s["codec_name"] == codec) return atof(s["duration"].c_str());
    }
    return 0;
}

// Frame times come from the wall clock; passthrough keeps them as they are,
// at the file's precision (two frames pushed close together are not an
// error of the file).
std::string decodeErrorsAsTimed(const std::string& path) {
    CmdResult r = runCommand("ffmpeg -nostdin -v warning -xerror -i '" + path +
                             "' -fps_mode passthrough -enc_time_base:v 1:90000 -f null -");
    return r.status != 0 && r.err.empty() ? "ffmpeg failed" : r.err;
}

int packets(const std::string& path, const std::string& codec) {
    for (auto& s : probeStreams(path)) {
        if (s["codec_name"] == codec) return atoi(s["nb_read_packets"].c_str());
    }
    return 0;
}

// Luma of random 8x8 blocks, flat chroma.
void fillBlocks(std::vector<uint8_t>* frame, int w, int h, std::mt19937* rng) {
    std::fill(frame->begin(), frame->end(), 128);
    for (int by = 0; by < h; by += 8) {
        for (int bx = 0; bx < w; bx += 8) {
            const uint8_t v = (uint8_t)(*rng)();
            for (int y = by; y < by + 8 && y < h; ++y) {
                std::fill(frame->begin() + y * w + bx, frame->begin() + y * w + std::min(bx + 8, w), v);
            }
        }
    }
}

TEST(RecorderSlowDisk, VideoIsDroppedBeforeEncodingAndAllSoundKept) {
    const std::string path = tempPath("slow_disk.mp4");
    const int64_t kCap = 128 * 1024;
    sp<qor::MPEG4Writer> writer;
    qor::RecorderFactories factories;
    factories.createWriter = [&](const char* p) -> sp<android::MediaWriter> {
        writer = new qor::MPEG4Writer(
            std::make_unique<ThrottledSink>(qor::FileByteSink::openFile(p), 150 * 1024), p);
        writer->setInterleaveDuration(400000);
        writer->setMaxQueuedBytes(kCap);
        return writer;
    };
    factories.platformEncoderFactory = &android::OMXCodec::Create;
    qor::AndroidCodec recorder(factories);
    const int w = 640, h = 360;
    ASSERT_EQ(0, recorder.setVideoMeta(w, h, 2000000, 30, 1));
    ASSERT_EQ(0, recorder.setAudioMeta(44100, 2, 64000));
    ASSERT_EQ(0, recorder.start(path.c_str()));
    const int64_t frameBytes = qor::encoderFrameBytes(w, h, recorder.getColorFormat());
    ASSERT_GT(frameBytes, 0);

    // Random blocks: every frame costs the encoder its whole bit rate.
    std::vector<std::vector<uint8_t>> frames(3, std::vector<uint8_t>((size_t)frameBytes));
    std::mt19937 rng(5);
    const int kFrames = 90;
    std::atomic<int64_t> longestPushUs{0};
    std::thread videoPusher([&] {
        for (int i = 0; i < kFrames; ++i) {
            std::vector<uint8_t>& f = frames[i % 3];
            fillBlocks(&f, w, h, &rng);
            const int64_t t0 = wallClockUs();
            recorder.pushVideoBuffer(f.data(), (int)f.size(), (int)f.size(), t0);
            const int64_t took = wallClockUs() - t0;
            if (took > longestPushUs) longestPushUs = took;
            std::this_thread::sleep_for(std::chrono::microseconds(33333 - took % 33333));
        }
    });
    std::vector<std::vector<uint8_t>> pcm(3, std::vector<uint8_t>(4096, 0));
    const int kBlocks = 3 * 44100 / 1024;
    for (int i = 0; i < kBlocks; ++i) {
        for (size_t k = 0; k < pcm[i % 3].size(); ++k) pcm[i % 3][k] = (uint8_t)(k * i);
        recorder.pushAudioBuffer(pcm[i % 3].data(), 0, 4096, wallClockUs());
        std::this_thread::sleep_for(std::chrono::microseconds(23220));
    }
    videoPusher.join();
    const auto stopStart = std::chrono::steady_clock::now();
    EXPECT_EQ(0, recorder.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(5));
    EXPECT_LT(longestPushUs.load(), 500000);

    EXPECT_GT(recorder.droppedVideoFrames(), 0u);
    // Past the cap come at most the chunk that crossed it and the sound.
    EXPECT_LE(writer->peakQueuedBytes(), kCap + 256 * 1024);
    EXPECT_EQ("", decodeErrorsAsTimed(path));
    const int video = packets(path, "h264");
    EXPECT_GT(video, 0);
    EXPECT_LE(video, kFrames - (int)recorder.droppedVideoFrames());
    EXPECT_GT(streamDuration(path, "aac"), 2.7);
}

}  // namespace
}  // namespace wtest
