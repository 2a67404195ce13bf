// Test support for the MP4 writer: encoder-made streams (ffmpeg), a source
// that replays their access units the way an encoder delivers them, a small
// MP4 box reader and ffprobe/ffmpeg helpers.
#ifndef QOR_TESTS_WRITER_TEST_SUPPORT_H_
#define QOR_TESTS_WRITER_TEST_SUPPORT_H_

#include <stdint.h>

#include <array>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>

namespace wtest {

using android::sp;
using android::status_t;
using Bytes = std::vector<uint8_t>;

// One buffer as an encoder hands it over.
struct Unit {
    Bytes data;
    int64_t timeUs = -1;     // 'time' (absent when < 0 and not forced)
    int64_t decTimeUs = -1;  // 'decT' (absent when < 0)
    bool sync = false;       // 'sync'
    bool config = false;     // 'conf'
    bool hasTime = true;
};

// Encoder output made once per test process with ffmpeg (libx264 baseline,
// GOP 30, 320x240 at 30 fps; AAC-LC mono 44.1 kHz), split into access units.
struct Streams {
    Bytes sps, pps;                  // NAL units without start codes
    std::vector<Bytes> videoFrames;  // one VCL NAL each, without start code
    std::vector<bool> videoSync;
    Bytes audioConfig;               // AudioSpecificConfig (2 bytes)
    std::vector<Bytes> audioFrames;  // raw AAC frames
    int width = 320, height = 240, fps = 30, sampleRate = 44100, channels = 1;
};
const Streams& streams();

// Video units: the SPS+PPS config buffer, then frames [first, first+count)
// of the fixture (cycled) with times t0 + i * frameUs, 4-byte start codes.
std::vector<Unit> videoUnits(size_t count, int64_t t0Us = 100000, int64_t frameUs = 33333,
                             size_t first = 0);
std::vector<Unit> audioUnits(size_t count, int64_t t0Us = 100000, size_t first = 0);
Bytes avcConfigBuffer();  // 00 00 00 01 SPS 00 00 00 01 PPS

sp<android::MetaData> videoFormat(int width = 320, int height = 240);
sp<android::MetaData> audioFormat(int sampleRate = 44100, int channels = 1,
                                  const char* mime = nullptr);

// Replays units. A gate, when set, holds read() before unit number `gate`
// until the test opens it further; end of stream after the last unit.
class ReplaySource : public android::MediaSource {
public:
    ReplaySource(const sp<android::MetaData>& format, std::vector<Unit> units);

    status_t start(android::MetaData* params) override;
    status_t stop() override;
    sp<android::MetaData> getFormat() override { return mFormat; }
    status_t read(android::MediaBuffer** out, const ReadOptions* options) override;

    void setGate(size_t gate);
    // Waits until read() has been asked for unit `index` (so every unit
    // before it has been handed over and processed by the caller).
    void waitForRequest(size_t index);
    int64_t startTimeUs() const { return mStartTimeUs; }
    bool started() const { return mStarted; }
    bool stopped() const { return mStopped; }
    status_t mStartResult = 0;
    status_t mReadError = 0;  // returned instead of end of stream when set

private:
    sp<android::MetaData> mFormat;
    std::vector<Unit> mUnits;
    std::mutex mMutex;
    std::condition_variable mCond;
    size_t mNext = 0;
    size_t mGate = SIZE_MAX;
    size_t mRequested = 0;
    int64_t mStartTimeUs = -1;
    bool mStarted = false, mStopped = false;
};

// A parsed box.
struct Box {
    std::string type;
    uint64_t offset = 0;  // of the header
    uint64_t size = 0;
    uint32_t headerSize = 8;
    std::vector<Box> children;
    const Box* find(const std::string& path) const;  // "mdia/minf/stbl"
};

struct TrackTables {
    std::string handler;           // "vide" / "soun"
    std::string sampleEntry;       // "avc1", "mp4a", ...
    uint32_t mediaTimeScale = 0;
    uint64_t mediaDuration = 0;  // mdhd
    uint64_t tkhdDuration = 0;
    uint32_t editCount = 0;  // elst entries; 0 without an edit list
    uint64_t editDuration = 0;  // of the first edit, movie time scale
    int64_t editMediaTime = 0;
    bool mdhdVersion1 = false, tkhdVersion1 = false;
    std::vector<uint32_t> sizes;
    std::vector<uint64_t> chunkOffsets;
    bool co64 = false;
    std::vector<std::array<uint32_t, 3>> stsc;
    std::vector<std::pair<uint32_t, uint32_t>> stts, ctts;
    std::vector<uint32_t> stss;
    bool hasCtts = false, hasStss = false;
    Bytes avcC, esdsConfig;
    std::vector<uint32_t> matrix;
    // File offset of every sample, from stsc, stco and stsz.
    std::vector<uint64_t> sampleOffsets() const;
};

// Files up to 256 MiB are held in memory whole; of larger ones only the moov
// is (bytesBase is its offset), and samples are read from the file.
struct Mp4File {
    std::string path;
    uint64_t fileSize = 0;
    Bytes bytes;
    uint64_t bytesBase = 0;
    std::vector<Box> top;
    bool ok = false;           // the box tree parsed and sizes add up
    std::string error;
    uint32_t movieTimeScale = 0, nextTrackId = 0;
    uint64_t movieDuration = 0;
    bool mvhdVersion1 = false;
    std::vector<TrackTables> tracks;
    std::string topOrder() const;  // "ftyp moov free mdat"
    const TrackTables* track(const std::string& handler) const;
    Bytes sampleBytes(const TrackTables& t, size_t i) const;
    Bytes fileBytes(uint64_t offset, size_t size) const;
};
Mp4File parseMp4(const std::string& path);

struct CmdResult {
    int status = -1;
    std::string out, err;
};
CmdResult runCommand(const std::string& cmd);
// Full decode of every stream with ffmpeg; returns its stderr (empty = clean).
std::string decodeErrors(const std::string& path);
// ffprobe per-stream values: codec_name, nb_read_packets, nb_read_frames, duration.
std::vector<std::map<std::string, std::string>> probeStreams(const std::string& path);
struct Packet {
    int stream;
    double pts, dts;
    int flagsKey;
    int size;
};
std::vector<Packet> probePackets(const std::string& path);

std::string tempPath(const std::string& name);
Bytes readFile(const std::string& path);
uint32_t be32(const uint8_t* p);

}  // namespace wtest

#endif  // QOR_TESTS_WRITER_TEST_SUPPORT_H_
