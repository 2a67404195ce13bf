// MP4 writer throughput against its limit (a plain write() of the same
// bytes in 64 KiB blocks to the same disk) and its peer (ffmpeg -c copy of
// the same streams into MP4), and long-recording table behaviour.
//
// Default: 30 s of 720p30 H.264 + AAC. QOR_WRITER_BENCH_FULL=1 runs the full
// 10-minute recording (about 18,000 + 26,000 samples, 160 MB).
// QOR_WRITER_BENCH_DIR picks the disk (default /tmp).
#include <benchmark/benchmark.h>

#include "BenchHost.h"

#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>

#include "mpeg4_writer/MPEG4Writer.h"

namespace {

using android::sp;
using android::status_t;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Scratch folder on the disk under test, removed at exit.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        const char* d = getenv("QOR_WRITER_BENCH_DIR");
        std::string tmpl = std::string(d ? d : "/tmp") + "/qor_writer_bench_XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp");
        path = buf.data();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::string benchDir() {
    static ScratchDir dir;
    return dir.path;
}

bool fullSize() {
    const char* f = getenv("QOR_WRITER_BENCH_FULL");
    return f && *f && strcmp(f, "0") != 0;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void run(const std::string& cmd) {
    if (system(cmd.c_str()) != 0) throw std::runtime_error("failed: " + cmd);
}

struct Sample {
    const Bytes* data;
    int64_t timeUs;
    bool sync;
};

// Encoder output of 10 s (720p30 H.264 at 2 Mbit/s, GOP 30; AAC 128 kbit/s
// stereo 44.1 kHz), replayed with advancing times to the wanted length.
struct Material {
    Bytes sps, pps, audioConfig;
    std::vector<Bytes> frames, aacFrames, adtsFrames;
    std::vector<bool> sync;
    std::vector<Sample> video, audio;
    size_t payloadBytes = 0;
    std::string h264Path, aacPath;
};

std::vector<Bytes> splitAnnexB(const Bytes& d) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<Bytes> nals;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : d.size();
        while (k + 1 < starts.size() && end > starts[k] && d[end - 1] == 0) --end;
        nals.emplace_back(d.begin() + starts[k], d.begin() + end);
    }
    return nals;
}

const Material& material() {
    static Material m = [] {
        Material m;
        std::string v = benchDir() + "/src.h264", a = benchDir() + "/src.aac";
        run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30 -t 10 "
            "-pix_fmt yuv420p -c:v libx264 -profile:v baseline -preset ultrafast -b:v 2M "
            "-g 30 -keyint_min 30 -sc_threshold 0 -bf 0 -x264-params aud=0 -f h264 " + v);
        run("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 "
            "-t 10 -ac 2 -c:a aac -b:a 128k -f adts " + a);
        for (Bytes& nal : splitAnnexB(readFile(v))) {
            int type = nal[0] & 0x1F;
            if (type == 7 && m.sps.empty()) m.sps = nal;
            else if (type == 8 && m.pps.empty()) m.pps = nal;
            else if (type == 1 || type == 5) {
                Bytes f = {0, 0, 0, 1};
                f.insert(f.end(), nal.begin(), nal.end());
                m.sync.push_back(type == 5);
                m.frames.push_back(std::move(f));
            }
        }
        Bytes aac = readFile(a);
        for (size_t i = 0; i + 7 <= aac.size();) {
            const uint8_t* h = &aac[i];
            size_t len = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
            size_t hdr = (h[1] & 1) ? 7 : 9;
            if (m.audioConfig.empty()) {
                int objectType = ((h[2] >> 6) & 3) + 1;
                int freqIndex = (h[2] >> 2) & 0xF;
                int channels = ((h[2] & 1) << 2) | (h[3] >> 6);
                m.audioConfig = {(uint8_t)((objectType << 3) | (freqIndex >> 1)),
                                 (uint8_t)(((freqIndex & 1) << 7) | (channels << 3))};
            }
            m.adtsFrames.emplace_back(aac.begin() + i, aac.begin() + i + len);
            m.aacFrames.emplace_back(aac.begin() + i + hdr, aac.begin() + i + len);
            i += len;
        }

        const int seconds = fullSize() ? 600 : 30;
        const size_t nVideo = (size_t)seconds * 30;
        const size_t nAudio = (size_t)((int64_t)seconds * 44100 / 1024);
        // Cycling by whole GOPs keeps every replayed frame decodable.
        size_t cycle = m.frames.size() - m.frames.size() % 30;
        for (size_t i = 0; i < nVideo; ++i) {
            size_t k = i % cycle;
            m.video.push_back({&m.frames[k], 100000 + (int64_t)i * 1000000 / 30, m.sync[k]});
            m.payloadBytes += m.frames[k].size();
        }
        for (size_t i = 0; i < nAudio; ++i) {
            size_t k = i % m.aacFrames.size();
            m.audio.push_back({&m.aacFrames[k], 100000 + (int64_t)i * 1024 * 1000000 / 44100,
                               false});
            m.payloadBytes += m.aacFrames[k].size();
        }

        // The same streams as elementary files for the peer.
        m.h264Path = benchDir() + "/long.h264";
        m.aacPath = benchDir() + "/long.aac";
        FILE* fv = fopen(m.h264Path.c_str(), "wb");
        const uint8_t sc[4] = {0, 0, 0, 1};
        fwrite(sc, 1, 4, fv);
        fwrite(m.sps.data(), 1, m.sps.size(), fv);
        fwrite(sc, 1, 4, fv);
        fwrite(m.pps.data(), 1, m.pps.size(), fv);
        for (const Sample& s : m.video) fwrite(s.data->data(), 1, s.data->size(), fv);
        fclose(fv);
        FILE* fa = fopen(m.aacPath.c_str(), "wb");
        for (size_t i = 0; i < nAudio; ++i) {
            const Bytes& f = m.adtsFrames[i % m.adtsFrames.size()];
            fwrite(f.data(), 1, f.size(), fa);
        }
        fclose(fa);
        return m;
    }();
    return m;
}

// Hands out samples from memory without copying them.
class MemorySource : public android::MediaSource {
public:
    MemorySource(sp<android::MetaData> format, Bytes config, const std::vector<Sample>* samples,
                 bool video)
        : mFormat(format), mConfig(std::move(config)), mSamples(samples), mVideo(video) {}
    status_t start(android::MetaData*) override { return 0; }
    status_t stop() override { return 0; }
    sp<android::MetaData> getFormat() override { return mFormat; }
    status_t read(android::MediaBuffer** out, const ReadOptions*) override {
        if (!mSentConfig) {
            mSentConfig = true;
            auto* b = new android::MediaBuffer(mConfig.data(), mConfig.size());
            b->meta_data()->setInt32(android::kKeyIsCodecConfig, 1);
            b->meta_data()->setInt64(android::kKeyTime, 0);
            *out = b;
            return 0;
        }
        if (mNext >= mSamples->size()) return android::ERROR_END_OF_STREAM;
        const Sample& s = (*mSamples)[mNext++];
        auto* b = new android::MediaBuffer((void*)s.data->data(), s.data->size());
        b->meta_data()->setInt64(android::kKeyTime, s.timeUs);
        if (mVideo) b->meta_data()->setInt64(android::kKeyDecodingTime, s.timeUs);
        if (s.sync) b->meta_data()->setInt32(android::kKeyIsSyncFrame, 1);
        *out = b;
        return 0;
    }

private:
    sp<android::MetaData> mFormat;
    Bytes mConfig;
    const std::vector<Sample>* mSamples;
    bool mVideo;
    bool mSentConfig = false;
    size_t mNext = 0;
};

sp<android::MetaData> videoFormat(int w, int h) {
    sp<android::MetaData> f = new android::MetaData;
    f->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_AVC);
    f->setInt32(android::kKeyWidth, w);
    f->setInt32(android::kKeyHeight, h);
    return f;
}

sp<android::MetaData> audioFormat(int rate, int channels) {
    sp<android::MetaData> f = new android::MetaData;
    f->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_AUDIO_AAC);
    f->setInt32(android::kKeySampleRate, rate);
    f->setInt32(android::kKeyChannelCount, channels);
    return f;
}

Bytes avcConfig(const Material& m) {
    Bytes c = {0, 0, 0, 1};
    c.insert(c.end(), m.sps.begin(), m.sps.end());
    c.insert(c.end(), {0, 0, 0, 1});
    c.insert(c.end(), m.pps.begin(), m.pps.end());
    return c;
}

// Size of the top-level moov box of an MP4 file.
uint64_t moovSize(const std::string& path) {
    Bytes b = readFile(path);
    uint64_t pos = 0;
    while (pos + 8 <= b.size()) {
        uint64_t size = ((uint64_t)b[pos] << 24) | (b[pos + 1] << 16) | (b[pos + 2] << 8) |
                        b[pos + 3];
        if (size == 1) {
            size = 0;
            for (int i = 0; i < 8; ++i) size = (size << 8) | b[pos + 8 + i];
        }
        if (!memcmp(&b[pos + 4], "moov", 4)) return size;
        if (size < 8) break;
        pos += size;
    }
    return 0;
}

// CPU time of the whole process (all threads), in seconds: on a shared
// machine it shows the work done apart from scheduling delays.
double processCpuSeconds() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void reportSamples(benchmark::State& state, const Material& m, double seconds) {
    double samples = (double)(m.video.size() + m.audio.size());
    state.counters["samples_per_s"] = samples / seconds;
    state.counters["MB_per_s"] = m.payloadBytes / 1e6 / seconds;
    state.counters["samples"] = samples;
    state.counters["MB"] = m.payloadBytes / 1e6;
}

void BM_Mp4Writer(benchmark::State& state) {
    const Material& m = material();
    std::string path = benchDir() + "/writer.mp4";
    for (auto _ : state) {
        // Each run starts on a clean page cache: no truncation of the last
        // run's file and no write-back of earlier dirty pages in the timing.
        unlink(path.c_str());
        sync();
        double cpu0 = processCpuSeconds();
        auto t0 = Clock::now();
        sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
        writer->addSource(new MemorySource(audioFormat(44100, 2), m.audioConfig, &m.audio, false));
        writer->addSource(new MemorySource(videoFormat(1280, 720), avcConfig(m), &m.video, true));
        if (writer->start(nullptr) != 0) state.SkipWithError("start failed");
        while (!writer->reachedEOS()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (writer->stop() != 0) state.SkipWithError("stop failed");
        writer.clear();
        double secs = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(secs);
        reportSamples(state, m, secs);
        state.counters["cpu_ms"] = (processCpuSeconds() - cpu0) * 1000;
    }
    state.counters["moov_bytes"] = (double)moovSize(path);
}

// The limit: the same payload bytes, written in 64 KiB blocks.
void BM_PlainWrite(benchmark::State& state) {
    const Material& m = material();
    std::string path = benchDir() + "/plain.bin";
    std::vector<uint8_t> block(64 * 1024);
    for (auto _ : state) {
        unlink(path.c_str());
        sync();
        double cpu0 = processCpuSeconds();
        auto t0 = Clock::now();
        int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        size_t fill = 0;
        auto put = [&](const Bytes& b) {
            size_t off = 0;
            while (off < b.size()) {
                size_t n = std::min(block.size() - fill, b.size() - off);
                memcpy(block.data() + fill, b.data() + off, n);
                fill += n;
                off += n;
                if (fill == block.size()) {
                    if (write(fd, block.data(), fill) != (ssize_t)fill) abort();
                    fill = 0;
                }
            }
        };
        for (const Sample& s : m.video) put(*s.data);
        for (const Sample& s : m.audio) put(*s.data);
        if (fill && write(fd, block.data(), fill) != (ssize_t)fill) abort();
        close(fd);
        double secs = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(secs);
        reportSamples(state, m, secs);
        state.counters["cpu_ms"] = (processCpuSeconds() - cpu0) * 1000;
    }
}

// The peer: ffmpeg remuxing the same elementary streams into MP4.
void BM_FfmpegCopy(benchmark::State& state) {
    const Material& m = material();
    std::string path = benchDir() + "/ffmpeg.mp4";
    for (auto _ : state) {
        unlink(path.c_str());
        sync();
        auto t0 = Clock::now();
        run("ffmpeg -nostdin -v error -y -r 30 -i " + m.h264Path + " -i " + m.aacPath +
            " -c copy -f mp4 " + path);
        double secs = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(secs);
        reportSamples(state, m, secs);
    }
    state.counters["moov_bytes"] = (double)moovSize(path);
}

BENCHMARK(BM_Mp4Writer)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegCopy)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// One hour at 60 fps with AAC from a synthetic source (tiny samples): the
// heap the finished tables hold stays near their own bytes (what the moov
// carries), and stop, which drains the writer thread's backlog and writes
// the moov, takes well under a second.
void BM_LongRecordingTables(benchmark::State& state) {
    const size_t nVideo = 3600 * 60, nAudio = 3600 * 44100 / 1024;
    static Bytes tinyVideo = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x10};
    static Bytes tinyAudio = {0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C};
    std::vector<Sample> video, audio;
    for (size_t i = 0; i < nVideo; ++i) {
        video.push_back({&tinyVideo, 100000 + (int64_t)i * 1000000 / 60, i % 60 == 0});
    }
    for (size_t i = 0; i < nAudio; ++i) {
        audio.push_back({&tinyAudio, 100000 + (int64_t)i * 1024 * 1000000 / 44100, false});
    }
    Bytes avcc = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1F, 0x8C, 0x8D, 0x40,
                  0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80};
    std::string path = benchDir() + "/hour.mp4";
    for (auto _ : state) {
        size_t heapBefore = mallinfo2().uordblks;
        sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
        writer->addSource(new MemorySource(audioFormat(44100, 2), {0x12, 0x10}, &audio, false));
        writer->addSource(new MemorySource(videoFormat(1280, 720), avcc, &video, true));
        writer->start(nullptr);
        while (!writer->reachedEOS()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

        auto t0 = Clock::now();
        if (writer->stop() != 0) state.SkipWithError("stop failed");
        auto t1 = Clock::now();
        // The writer is still alive: what it holds now is its tables.
        size_t heapTables = mallinfo2().uordblks - heapBefore;
        writer.clear();

        double stopSecs = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(stopSecs);
        uint64_t moov = moovSize(path);
        state.counters["stop_ms"] = stopSecs * 1000;
        state.counters["table_heap_MB"] = heapTables / 1e6;
        state.counters["moov_MB"] = moov / 1e6;
        state.counters["table_heap_per_moov_byte"] = (double)heapTables / (double)moov;
        state.counters["samples"] = (double)(nVideo + nAudio);
    }
}

BENCHMARK(BM_LongRecordingTables)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

QOR_BENCHMARK_MAIN()
