// The game's side of the sound: how long pushAudio takes (mean and longest)
// while a recording runs, for pushes paced in real time as a game makes
// them: one 1/30 s push per frame, or bursts of 20000 bytes. Also the
// stamps those pushes get against their sample count (the jitter the audio
// timeline must ride out), and what the timeline makes of them.
// Run: build/bin/sync_bench
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchHost.h"

#include "icodec/IcodecInterface.h"
#ifdef QOR_BENCH_TIMELINE
#include "android_source/AudioTimeline.h"
#endif

namespace {

const int kRate = 44100, kChannels = 2, kSeconds = 10;
const char kOut[] = "/tmp/qor_sync_bench.mp4";

int64_t nowUs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

void sleepUntil(int64_t dueUs) {
    int64_t left = dueUs - nowUs();
    if (left > 0) {
        struct timespec ts = {(time_t)(left / 1000000), (long)(left % 1000000) * 1000};
        nanosleep(&ts, nullptr);
    }
}

// Pushes of `pushFrames` at the pace of the sound, with a video frame at
// 30 fps, for kSeconds.
void BM_PushAudio(benchmark::State& state) {
    const int64_t pushFrames = state.range(0);
    std::vector<int16_t> pcm((size_t)pushFrames * kChannels, 0);
    std::vector<uint16_t> picture(320 * 240, 0);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = (int16_t)((i * 7919) % 4000 - 2000);
    std::vector<double> pushUs;
    std::vector<std::pair<int64_t, int64_t>> stamps;  // stamp, first frame
    for (auto _ : state) {
        setenv("LUMOKAST_LOG_QUIET", "1", 1);
        qor::init(nullptr);
        qor::setVideoParameter(320, 240, 30, 1000000, 1, 0);
        qor::setAudioParameter(kRate, kChannels, 96000);
        if (qor::start(kOut) != 0) {
            state.SkipWithError("start failed");
            return;
        }
        const int64_t t0 = nowUs();
        int64_t frames = 0, nextVideoUs = t0;
        while (frames < (int64_t)kSeconds * kRate) {
            const int64_t dueUs = t0 + frames * 1000000 / kRate;
            while (nextVideoUs <= dueUs) {
                sleepUntil(nextVideoUs);
                qor::pushVideoBuffer((const uint8_t*)picture.data(), picture.size() * 2,
                                     (int)picture.size() * 2, 0);
                nextVideoUs += 1000000 / 30;
            }
            sleepUntil(dueUs);
            const int64_t before = nowUs();
            for (int64_t b = 0; b < pushFrames; b += 2048) stamps.push_back({before, frames + b});
            qor::pushAudioBuffer((const uint8_t*)pcm.data(), 0, (int)(pcm.size() * 2));
            pushUs.push_back((double)(nowUs() - before));
            frames += pushFrames;
        }
        qor::stop();
    }
    std::sort(pushUs.begin(), pushUs.end());
    double sum = 0;
    for (double d : pushUs) sum += d;
    state.counters["mean_us"] = sum / pushUs.size();
    state.counters["p99_us"] = pushUs[pushUs.size() * 99 / 100];
    state.counters["max_us"] = pushUs.back();
    // Lateness of the stamps against the count (the first push is 0).
    int64_t late = 0;
    for (const auto& s : stamps) {
        const int64_t blockLate = s.first - (stamps[0].first + s.second * 1000000 / kRate);
        late = std::max(late, blockLate);
    }
    state.counters["stamp_late_max_ms"] = late / 1000.0;
#ifdef QOR_BENCH_TIMELINE
    qor::AudioTimeline timeline(kRate);
    int64_t corrections = 0, adjusted = 0;
    for (size_t i = 0; i < stamps.size(); ++i) {
        const int64_t end = i + 1 < stamps.size() && stamps[i + 1].second > stamps[i].second
                                ? stamps[i + 1].second
                                : stamps[i].second + 2048;
        const int64_t n = std::min<int64_t>(2048, end - stamps[i].second);
        const qor::AudioTimeline::Placement p = timeline.place(stamps[i].first, (int32_t)n);
        if (p.adjustFrames != 0) ++corrections;
        adjusted += p.adjustFrames;
    }
    state.counters["timeline_corrections"] = (double)corrections;
    state.counters["timeline_adjusted_ms"] = adjusted * 1000.0 / kRate;
#endif
}

BENCHMARK(BM_PushAudio)
    ->Arg(1470)
    ->Arg(5000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

QOR_BENCHMARK_MAIN()
