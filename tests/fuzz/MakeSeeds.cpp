// Makes the fuzzers' seeds with the writer: a short recording whose file and
// journal are copied while the video waits before frame `gate` (what a killed
// process leaves). Frames are a few bytes each, so the seeds stay small.
//   fuzz_make_seeds OUTDIR
// writes OUTDIR/journal/<name> (the journal) and OUTDIR/recovery/<name>
// (4-byte little-endian media length, the media bytes, the journal).
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <algorithm>

#include "../writer/RecordHelper.h"
#include "mpeg4_writer/Mp4Recovery.h"

namespace {

using namespace wtest;

std::vector<Unit> tinyVideo(size_t count) {
    std::vector<Unit> units = videoUnits(1);
    units.resize(1);  // the SPS/PPS buffer only
    for (size_t i = 0; i < count; ++i) {
        Unit u;
        const bool sync = i % 10 == 0;
        u.data = {0, 0, 0, 1, (uint8_t)(sync ? 0x65 : 0x41)};
        for (size_t k = 0; k < 6 + i % 5; ++k) u.data.push_back((uint8_t)(i * 7 + k));
        u.timeUs = u.decTimeUs = 100000 + (int64_t)i * 33333;
        u.sync = sync;
        units.push_back(std::move(u));
    }
    return units;
}

std::vector<Unit> tinyAudio(size_t count) {
    std::vector<Unit> units = audioUnits(1);
    units.resize(1);  // the AudioSpecificConfig
    for (size_t i = 0; i < count; ++i) {
        Unit u;
        u.data.assign(4 + i % 3, (uint8_t)(0x21 + i));
        u.timeUs = 100000 + (int64_t)i * 1024 * 1000000 / 44100;
        units.push_back(std::move(u));
    }
    return units;
}

// The journal's records without the space allocated after them.
Bytes wholeRecords(const Bytes& journal) {
    size_t pos = qor::journal::kHeaderBytes;
    while (pos + qor::journal::kRecordOverhead <= journal.size()) {
        const uint32_t len = (uint32_t)journal[pos] | (uint32_t)journal[pos + 1] << 8 |
                             (uint32_t)journal[pos + 2] << 16 | (uint32_t)journal[pos + 3] << 24;
        if (len == 0 || pos + qor::journal::kRecordOverhead + len > journal.size()) break;
        pos += qor::journal::kRecordOverhead + len;
    }
    return Bytes(journal.begin(), journal.begin() + std::min(pos, journal.size()));
}

void save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

bool makeSeed(const std::string& out, const std::string& name, bool audio, bool video, bool reserve,
              uint32_t interleaveUs) {
    const std::string path = tempPath("seed_" + name + ".mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    writer->setInterleaveDuration(interleaveUs);
    if (!reserve) writer->setMaxFileSize(4 << 20);
    sp<ReplaySource> a, v;
    if (audio) {
        a = new ReplaySource(audioFormat(), tinyAudio(60));
        if (!video) a->setGate(40);
        writer->addSource(a);
    }
    if (video) {
        v = new ReplaySource(videoFormat(), tinyVideo(40));
        v->setGate(25);
        writer->addSource(v);
    }
    if (writer->start(nullptr) != 0) return false;
    if (v != nullptr) v->waitForRequest(25);
    if (v == nullptr) a->waitForRequest(40);
    usleep(300000);
    const Bytes journal = wholeRecords(readFile(path + ".journal"));
    const Bytes media = readFile(path);
    (v != nullptr ? v : a)->setGate(SIZE_MAX);
    waitForEOS(writer.get());
    writer->stop();
    unlink(path.c_str());
    // The seed must be one that recovery mends.
    save(path, media);
    save(path + ".journal", journal);
    const bool mended = qor::recoverRecording(path.c_str()) == qor::RecoveryResult::kRecovered;
    unlink(path.c_str());
    unlink((path + ".journal").c_str());
    Bytes seed = {(uint8_t)media.size(), (uint8_t)(media.size() >> 8),
                  (uint8_t)(media.size() >> 16), (uint8_t)(media.size() >> 24)};
    seed.insert(seed.end(), media.begin(), media.end());
    seed.insert(seed.end(), journal.begin(), journal.end());
    save(out + "/journal/" + name, journal);
    save(out + "/recovery/" + name, seed);
    printf("%s: media %zu, journal %zu bytes\n", name.c_str(), media.size(), journal.size());
    if (!mended) fprintf(stderr, "%s: not recovered\n", name.c_str());
    return mended;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    bool ok = makeSeed(out, "av_at_end", true, true, false, 100000);
    ok = makeSeed(out, "av_reserved", true, true, true, 200000) && ok;
    ok = makeSeed(out, "video_only", false, true, false, 100000) && ok;
    ok = makeSeed(out, "audio_only", true, false, false, 100000) && ok;
    return ok ? 0 : 1;
}
