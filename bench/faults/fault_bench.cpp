// What a game feels of an encoder failure: for each fault, a 2 s recording
// paced at 30 fps (640x360 with sound), then the longest push beyond a
// normal one (the median push) and the time `stop` takes. One device per
// run, as the front end binds once:
//   build/bin/fault_bench            the default device (platform encoders)
//   build/bin/fault_bench qcom       a Qualcomm board (the recorder's own
//                                    OpenMAX IL client for video)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchHost.h"
#include "icodec/IcodecInterface.h"

namespace {

using Clock = std::chrono::steady_clock;
const int kWidth = 640, kHeight = 360, kFps = 30, kRate = 44100, kFrames = 60;

struct Case {
    const char* name;
    const char* lines;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void run(const std::string& base, const Case& c) {
    const std::string profile = "/tmp/fault_bench_" + std::string(c.name) + ".prop";
    std::ofstream(profile) << readFile(base) << c.lines << "\n";
    setenv("DEVICE_PROFILE", profile.c_str(), 1);
    std::vector<uint8_t> frame(kWidth * kHeight * 2, 0x55);
    std::vector<uint8_t> pcm(kRate / kFps * 4, 0x11);
    qor::setVideoParameter(kWidth, kHeight, kFps, 2000000, 1, 0);
    qor::setAudioParameter(kRate, 2, 64000);
    const std::string out = "/tmp/fault_bench_" + std::string(c.name) + ".mp4";
    qor::start(out.c_str());
    std::vector<double> pushes;
    const auto interval = std::chrono::microseconds(1000000 / kFps);
    for (int i = 0; i < kFrames; ++i) {
        const Clock::time_point t = Clock::now();
        qor::pushVideoBuffer(frame.data(), frame.size(), (int)frame.size(), 0);
        qor::pushAudioBuffer(pcm.data(), 0, (int)pcm.size());
        pushes.push_back(ms(Clock::now() - t));
        std::this_thread::sleep_until(std::max(t + interval, Clock::now() + interval / 4));
    }
    const Clock::time_point t = Clock::now();
    const int result = qor::stop();
    const double stopMs = ms(Clock::now() - t);
    std::vector<double> sorted = pushes;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    printf("%-30s %8.2f %10.1f %8.1f %5d\n", c.name, median, sorted.back() - median, stopMs, result);
    setenv("DEVICE_PROFILE", base.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (qor::benchRunsEmulated()) return 0;
    const bool qcom = argc > 1 && !strcmp(argv[1], "qcom");
    const std::string base = qcom ? QOR_SOURCE_DIR "/tests/faults/profiles/qcom_level23.prop"
                                  : QOR_SOURCE_DIR "/platform/devices/default.prop";
    setenv("LUMOKAST_LOG_QUIET", "1", 1);
    setenv("DEVICE_PROFILE", base.c_str(), 1);
    qor::init(nullptr);
    const Case cases[] = {
        {"no_fault", ""},
        {"video_error", "codec.0.fault.errorafter=5"},
        {"video_fill_refused", "codec.0.fault.fillbuffer=8"},
        {"video_empty_refused", "codec.0.fault.emptybuffer=6"},
        {"video_stall", "codec.0.fault.stallafter=5"},
        {"video_error_before_first", "codec.0.fault.errorafter=0"},
        {"audio_error", "codec.1.fault.errorafter=12"},
        {"audio_stall", "codec.1.fault.stallafter=12"},
        {"video_encoder_not_created", "codec.0.fault.allocnode=1"},
    };
    printf("device: %s\n", qcom ? "Qualcomm board, own driver for video" : "default");
    printf("%-30s %8s %10s %8s %5s\n", "case", "push ms", "longest+ms", "stop ms", "stop");
    for (const Case& c : cases) run(base, c);
    return 0;
}
