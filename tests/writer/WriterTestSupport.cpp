#include "WriterTestSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>

namespace wtest {

using android::MetaData;

uint32_t be32(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
static uint64_t be64(const uint8_t* p) { return ((uint64_t)be32(p) << 32) | be32(p + 4); }

namespace {
// This process's scratch folder; removed at exit unless QOR_KEEP_TEST_FILES
// is set (to look at the files written).
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char tmpl[] = "/tmp/qor_writer_test_XXXXXX";
        const char* d = mkdtemp(tmpl);
        if (!d) throw std::runtime_error("mkdtemp");
        path = d;
    }
    ~ScratchDir() {
        if (getenv("QOR_KEEP_TEST_FILES") == nullptr) {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    }
};
}  // namespace

std::string tempPath(const std::string& name) {
    static ScratchDir dir;
    return dir.path + "/" + name;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

CmdResult runCommand(const std::string& cmd) {
    CmdResult r;
    std::string errFile = tempPath("cmd_stderr.txt");
    FILE* p = popen((cmd + " 2>" + errFile).c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    Bytes e = readFile(errFile);
    r.err.assign(e.begin(), e.end());
    return r;
}

// ---- Fixture streams ------------------------------------------------------

namespace {

// NAL units of an Annex B stream (3- or 4-byte start codes), without codes.
std::vector<Bytes> splitAnnexB(const Bytes& d) {
    std::vector<Bytes> nals;
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : d.size();
        // A 4-byte start code leaves its leading zero at the end.
        while (end > starts[k] && k + 1 < starts.size() && d[end - 1] == 0) --end;
        nals.emplace_back(d.begin() + starts[k], d.begin() + end);
    }
    return nals;
}

// Encodes once per machine: every test runs in its own process, so the
// streams are kept under /tmp (the name carries the encoding settings'
// version) and published with an atomic rename.
std::string encodedFixture(const std::string& name, const std::string& ffmpegArgs) {
    const std::string dir = "/tmp/qor_writer_fixtures_v1";
    const std::string path = dir + "/" + name;
    if (access(path.c_str(), R_OK) == 0) return path;
    mkdir(dir.c_str(), 0777);
    std::string tmp = tempPath(name);
    CmdResult r = runCommand("ffmpeg -nostdin -v error -y " + ffmpegArgs + " " + tmp);
    if (r.status != 0) throw std::runtime_error("ffmpeg fixture " + name + ": " + r.err);
    if (rename(tmp.c_str(), path.c_str()) != 0) return tmp;
    return path;
}

Streams makeStreams() {
    Streams s;
    std::string v = encodedFixture(
        "fixture.h264",
        "-f lavfi -i testsrc=size=320x240:rate=30 -t 10 -pix_fmt yuv420p -c:v libx264 "
        "-profile:v baseline -preset veryfast -g 30 -keyint_min 30 -sc_threshold 0 -bf 0 "
        "-x264-params aud=0 -f h264");
    std::string a = encodedFixture(
        "fixture.aac",
        "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 10 -ac 1 -c:a aac -b:a 64k -f adts");

    for (Bytes& nal : splitAnnexB(readFile(v))) {
        int type = nal[0] & 0x1F;
        if (type == 7 && s.sps.empty()) s.sps = nal;
        else if (type == 8 && s.pps.empty()) s.pps = nal;
        else if (type == 1 || type == 5) {
            s.videoSync.push_back(type == 5);
            s.videoFrames.push_back(std::move(nal));
        }
    }
    Bytes aac = readFile(a);
    for (size_t i = 0; i + 7 <= aac.size();) {
        const uint8_t* h = &aac[i];
        if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) throw std::runtime_error("bad ADTS");
        size_t len = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
        size_t hdr = (h[1] & 1) ? 7 : 9;
        if (s.audioConfig.empty()) {
            int objectType = ((h[2] >> 6) & 3) + 1;
            int freqIndex = (h[2] >> 2) & 0xF;
            int channels = ((h[2] & 1) << 2) | (h[3] >> 6);
            s.audioConfig = {(uint8_t)((objectType << 3) | (freqIndex >> 1)),
                             (uint8_t)(((freqIndex & 1) << 7) | (channels << 3))};
        }
        s.audioFrames.emplace_back(aac.begin() + i + hdr, aac.begin() + i + len);
        i += len;
    }
    return s;
}

}  // namespace

const Streams& streams() {
    static Streams s = makeStreams();
    return s;
}

Bytes avcConfigBuffer() {
    const Streams& s = streams();
    Bytes b = {0, 0, 0, 1};
    b.insert(b.end(), s.sps.begin(), s.sps.end());
    b.insert(b.end(), {0, 0, 0, 1});
    b.insert(b.end(), s.pps.begin(), s.pps.end());
    return b;
}

std::vector<Unit> videoUnits(size_t count, int64_t t0Us, int64_t frameUs, size_t first) {
    const Streams& s = streams();
    std::vector<Unit> units;
    Unit conf;
    conf.data = avcConfigBuffer();
    conf.config = true;
    conf.timeUs = 0;
    units.push_back(conf);
    for (size_t i = 0; i < count; ++i) {
        size_t k = (first + i) % s.videoFrames.size();
        Unit u;
        u.data = {0, 0, 0, 1};
        u.data.insert(u.data.end(), s.videoFrames[k].begin(), s.videoFrames[k].end());
        u.timeUs = u.decTimeUs = t0Us + (int64_t)i * frameUs;
        u.sync = s.videoSync[k];
        units.push_back(std::move(u));
    }
    return units;
}

std::vector<Unit> audioUnits(size_t count, int64_t t0Us, size_t first) {
    const Streams& s = streams();
    std::vector<Unit> units;
    Unit conf;
    conf.data = s.audioConfig;
    conf.config = true;
    conf.timeUs = 0;
    units.push_back(conf);
    for (size_t i = 0; i < count; ++i) {
        size_t k = (first + i) % s.audioFrames.size();
        Unit u;
        u.data = s.audioFrames[k];
        u.timeUs = t0Us + (int64_t)(i * 1024 * 1000000ULL / s.sampleRate);
        units.push_back(std::move(u));
    }
    return units;
}

sp<MetaData> videoFormat(int width, int height) {
    sp<MetaData> m = new MetaData;
    m->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_AVC);
    m->setInt32(android::kKeyWidth, width);
    m->setInt32(android::kKeyHeight, height);
    return m;
}

sp<MetaData> audioFormat(int sampleRate, int channels, const char* mime) {
    sp<MetaData> m = new MetaData;
    m->setCString(android::kKeyMIMEType, mime ? mime : android::MEDIA_MIMETYPE_AUDIO_AAC);
    m->setInt32(android::kKeySampleRate, sampleRate);
    m->setInt32(android::kKeyChannelCount, channels);
    return m;
}

// ---- ReplaySource -------------------------------------------------------

ReplaySource::ReplaySource(const sp<MetaData>& format, std::vector<Unit> units)
    : mFormat(format), mUnits(std::move(units)) {}

status_t ReplaySource::start(MetaData* params) {
    int64_t t;
    if (params && params->findInt64(android::kKeyTime, &t)) mStartTimeUs = t;
    mStarted = mStartResult == 0;
    return mStartResult;
}

status_t ReplaySource::stop() {
    std::lock_guard<std::mutex> l(mMutex);
    mStopped = true;
    mGate = SIZE_MAX;
    mCond.notify_all();
    return 0;
}

status_t ReplaySource::read(android::MediaBuffer** out, const ReadOptions*) {
    std::unique_lock<std::mutex> l(mMutex);
    mRequested = std::max(mRequested, mNext + 1);
    mCond.notify_all();
    mCond.wait(l, [&] { return mNext < mGate || mStopped; });
    if (mNext >= mUnits.size() || mStopped) {
        return mReadError ? mReadError : (status_t)android::ERROR_END_OF_STREAM;
    }
    const Unit& u = mUnits[mNext++];
    android::MediaBuffer* b = new android::MediaBuffer(u.data.size());
    if (!u.data.empty()) memcpy(b->data(), u.data.data(), u.data.size());
    if (u.hasTime && u.timeUs >= 0) b->meta_data()->setInt64(android::kKeyTime, u.timeUs);
    if (u.decTimeUs >= 0) b->meta_data()->setInt64(android::kKeyDecodingTime, u.decTimeUs);
    if (u.sync) b->meta_data()->setInt32(android::kKeyIsSyncFrame, 1);
    if (u.config) b->meta_data()->setInt32(android::kKeyIsCodecConfig, 1);
    *out = b;
    return 0;
}

void ReplaySource::setGate(size_t gate) {
    std::lock_guard<std::mutex> l(mMutex);
    mGate = gate;
    mCond.notify_all();
}

void ReplaySource::waitForRequest(size_t index) {
    std::unique_lock<std::mutex> l(mMutex);
    mCond.wait(l, [&] { return mRequested >= index + 1 || mStopped; });
}

// ---- Box reader -----------------------------------------------------------

const Box* Box::find(const std::string& path) const {
    size_t slash = path.find('/');
    std::string head = path.substr(0, slash);
    for (const Box& c : children) {
        if (c.type == head) {
            if (slash == std::string::npos) return &c;
            return c.find(path.substr(slash + 1));
        }
    }
    return nullptr;
}

namespace {

bool isContainer(const std::string& t) {
    return t == "moov" || t == "trak" || t == "mdia" || t == "minf" || t == "stbl" ||
           t == "dinf" || t == "udta" || t == "edts";
}

// Bytes of the file held in memory: all of it, or (large files) the moov
// box alone, starting at file offset `base`.
struct View {
    const Bytes& bytes;
    uint64_t base;
    bool holds(uint64_t pos, uint64_t n) const {
        return pos >= base && pos - base <= bytes.size() && n <= bytes.size() - (pos - base);
    }
    const uint8_t* at(uint64_t pos) const { return &bytes[pos - base]; }
};

bool readBoxHeader(const View& v, uint64_t pos, uint64_t end, Box* box, std::string* error) {
    if (end - pos < 8 || !v.holds(pos, 8)) {
        *error = "truncated box header at " + std::to_string(pos);
        return false;
    }
    box->offset = pos;
    box->size = be32(v.at(pos));
    box->type.assign((const char*)v.at(pos + 4), 4);
    if (box->size == 1) {
        if (!v.holds(pos, 16)) {
            *error = "truncated large box header at " + std::to_string(pos);
            return false;
        }
        box->size = be64(v.at(pos + 8));
        box->headerSize = 16;
    }
    if (box->size < box->headerSize || pos + box->size > end) {
        *error = "box " + box->type + " at " + std::to_string(pos) + " overruns its parent";
        return false;
    }
    return true;
}

// Bytes of a box's body before its child boxes start (0: a plain container,
// -1: no children).
int childStart(const std::string& t) {
    if (isContainer(t)) return 0;
    if (t == "stsd" || t == "dref") return 8;
    if (t == "avc1" || t == "mp4v" || t == "s263") return 78;
    if (t == "mp4a" || t == "samr" || t == "sawb") return 28;
    return -1;
}

// Parses boxes in [begin, end); false when sizes do not add up.
bool parseBoxes(const View& v, uint64_t begin, uint64_t end, std::vector<Box>* out,
                std::string* error) {
    uint64_t pos = begin;
    while (pos < end) {
        Box box;
        if (!readBoxHeader(v, pos, end, &box, error)) return false;
        int skip = childStart(box.type);
        if (skip >= 0 && !v.holds(pos, box.size)) {
            *error = "box " + box.type + " at " + std::to_string(pos) + " is not in memory";
            return false;
        }
        if (skip >= 0 && !parseBoxes(v, pos + box.headerSize + skip, pos + box.size,
                                     &box.children, error)) {
            return false;
        }
        pos += box.size;
        out->push_back(std::move(box));
    }
    return true;
}

bool preadAll(int fd, void* buf, size_t n, uint64_t offset) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        ssize_t r = pread64(fd, p, n, (off64_t)offset);
        if (r <= 0) return false;
        p += r;
        n -= (size_t)r;
        offset += (uint64_t)r;
    }
    return true;
}

// Large files: walks the top-level boxes on disk and keeps only the moov in
// memory (a 32-bit process cannot hold a file of several GiB).
bool parseLargeFile(int fd, uint64_t fileSize, Mp4File* f) {
    uint64_t pos = 0;
    while (pos < fileSize) {
        Bytes header(16);
        size_t n = (size_t)std::min<uint64_t>(16, fileSize - pos);
        header.resize(n);
        if (!preadAll(fd, header.data(), n, pos)) {
            f->error = "read failed at " + std::to_string(pos);
            return false;
        }
        Box box;
        if (!readBoxHeader(View{header, pos}, pos, fileSize, &box, &f->error)) return false;
        if (box.type == "moov") {
            f->bytes.resize((size_t)box.size);
            f->bytesBase = pos;
            if (!preadAll(fd, f->bytes.data(), f->bytes.size(), pos) ||
                !parseBoxes(View{f->bytes, pos}, pos + box.headerSize, pos + box.size,
                            &box.children, &f->error)) {
                return false;
            }
        }
        f->top.push_back(std::move(box));
        pos += f->top.back().size;
    }
    return true;
}

// Header boxes: version 1 has 64-bit times and duration.
struct HeaderFields {
    uint32_t timeScaleOrTrackId;
    uint64_t duration;
    bool version1;
    size_t size;  // bytes up to the end of the duration
};
HeaderFields headerFields(const uint8_t* p, bool tkhd) {
    HeaderFields h{};
    h.version1 = p[0] == 1;
    size_t t = h.version1 ? 20 : 12;  // after version/flags and two times
    h.timeScaleOrTrackId = be32(p + t);
    size_t d = t + (tkhd ? 8 : 4);
    h.duration = h.version1 ? be64(p + d) : be32(p + d);
    h.size = d + (h.version1 ? 8 : 4);
    return h;
}

}  // namespace

std::string Mp4File::topOrder() const {
    std::string s;
    for (const Box& b : top) s += (s.empty() ? "" : " ") + b.type;
    return s;
}

const TrackTables* Mp4File::track(const std::string& handler) const {
    for (const TrackTables& t : tracks) {
        if (t.handler == handler) return &t;
    }
    return nullptr;
}

std::vector<uint64_t> TrackTables::sampleOffsets() const {
    std::vector<uint64_t> offs;
    size_t sample = 0;
    for (size_t chunk = 0; chunk < chunkOffsets.size(); ++chunk) {
        uint32_t perChunk = 0;
        for (const auto& e : stsc) {
            if (e[0] <= chunk + 1) perChunk = e[1];
        }
        uint64_t off = chunkOffsets[chunk];
        for (uint32_t k = 0; k < perChunk && sample < sizes.size(); ++k, ++sample) {
            offs.push_back(off);
            off += sizes[sample];
        }
    }
    return offs;
}

Bytes Mp4File::sampleBytes(const TrackTables& t, size_t i) const {
    std::vector<uint64_t> offs = t.sampleOffsets();
    if (i >= offs.size()) return {};
    return fileBytes(offs[i], t.sizes[i]);
}

Bytes Mp4File::fileBytes(uint64_t offset, size_t size) const {
    View v{bytes, bytesBase};
    if (v.holds(offset, size)) return Bytes(v.at(offset), v.at(offset) + size);
    Bytes out(size);
    int fd = open(path.c_str(), O_RDONLY | O_LARGEFILE);
    bool ok = fd >= 0 && preadAll(fd, out.data(), size, offset);
    if (fd >= 0) close(fd);
    return ok ? out : Bytes();
}

Mp4File parseMp4(const std::string& path) {
    const uint64_t kWholeFileLimit = 256u << 20;
    Mp4File f;
    f.path = path;
    int fd = open(path.c_str(), O_RDONLY | O_LARGEFILE);
    struct stat64 st;
    if (fd < 0 || fstat64(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        f.error = "cannot open " + path;
        return f;
    }
    f.fileSize = (uint64_t)st.st_size;
    bool parsed;
    if (f.fileSize <= kWholeFileLimit) {
        f.bytes = readFile(path);
        parsed = parseBoxes(View{f.bytes, 0}, 0, f.bytes.size(), &f.top, &f.error);
    } else {
        parsed = parseLargeFile(fd, f.fileSize, &f);
    }
    close(fd);
    if (!parsed) return f;
    const Box* moov = nullptr;
    for (const Box& t : f.top) {
        if (t.type == "moov") moov = &t;
    }
    if (!moov) {
        f.ok = true;
        return f;
    }
    View v{f.bytes, f.bytesBase};
    auto body = [&](const Box* x) { return v.at(x->offset + x->headerSize); };
    if (const Box* mvhd = moov->find("mvhd")) {
        HeaderFields h = headerFields(body(mvhd), false);
        f.movieTimeScale = h.timeScaleOrTrackId;
        f.movieDuration = h.duration;
        f.mvhdVersion1 = h.version1;
        f.nextTrackId = be32(body(mvhd) + h.size + 76);
    }
    for (const Box& trak : moov->children) {
        if (trak.type != "trak") continue;
        TrackTables t;
        if (const Box* x = trak.find("tkhd")) {
            HeaderFields h = headerFields(body(x), true);
            t.tkhdDuration = h.duration;
            t.tkhdVersion1 = h.version1;
            const uint8_t* matrix = body(x) + h.size + 16;
            for (int i = 0; i < 9; ++i) t.matrix.push_back(be32(matrix + 4 * i));
        }
        if (const Box* x = trak.find("edts/elst")) {
            // The first entry: segment duration and media time.
            const uint8_t* p = body(x);
            const bool version1 = p[0] == 1;
            t.editCount = be32(p + 4);
            if (t.editCount > 0) {
                t.editDuration = version1 ? be64(p + 8) : be32(p + 8);
                t.editMediaTime = version1 ? (int64_t)be64(p + 16) : (int32_t)be32(p + 12);
            }
        }
        if (const Box* x = trak.find("mdia/mdhd")) {
            HeaderFields h = headerFields(body(x), false);
            t.mediaTimeScale = h.timeScaleOrTrackId;
            t.mediaDuration = h.duration;
            t.mdhdVersion1 = h.version1;
        }
        if (const Box* x = trak.find("mdia/hdlr")) t.handler.assign((const char*)body(x) + 8, 4);
        const Box* stbl = trak.find("mdia/minf/stbl");
        if (!stbl) continue;
        if (const Box* stsd = stbl->find("stsd"); stsd && !stsd->children.empty()) {
            const Box& entry = stsd->children[0];
            t.sampleEntry = entry.type;
            if (const Box* avcC = entry.find("avcC")) {
                t.avcC.assign(body(avcC), body(avcC) + avcC->size - 8);
            }
            if (const Box* esds = entry.find("esds")) {
                // One-byte descriptor lengths: tag 3 at 4, tag 4 at 9, tag 5 at 24.
                const uint8_t* p = body(esds);
                size_t n = esds->size - 8;
                if (n > 26 && p[4] == 0x03 && p[9] == 0x04 && p[24] == 0x05 &&
                    26u + p[25] <= n) {
                    t.esdsConfig.assign(p + 26, p + 26 + p[25]);
                }
            }
        }
        if (const Box* x = stbl->find("stsz")) {
            const uint8_t* p = body(x);
            uint32_t n = be32(p + 8);
            for (uint32_t i = 0; i < n; ++i) t.sizes.push_back(be32(p + 12 + 4 * i));
        }
        if (const Box* x = stbl->find("stco")) {
            const uint8_t* p = body(x);
            uint32_t n = be32(p + 4);
            for (uint32_t i = 0; i < n; ++i) t.chunkOffsets.push_back(be32(p + 8 + 4 * i));
        }
        if (const Box* x = stbl->find("co64")) {
            t.co64 = true;
            const uint8_t* p = body(x);
            uint32_t n = be32(p + 4);
            for (uint32_t i = 0; i < n; ++i) t.chunkOffsets.push_back(be64(p + 8 + 8 * i));
        }
        if (const Box* x = stbl->find("stsc")) {
            const uint8_t* p = body(x);
            uint32_t n = be32(p + 4);
            for (uint32_t i = 0; i < n; ++i) {
                t.stsc.push_back({be32(p + 8 + 12 * i), be32(p + 12 + 12 * i),
                                  be32(p + 16 + 12 * i)});
            }
        }
        for (const char* name : {"stts", "ctts"}) {
            if (const Box* x = stbl->find(name)) {
                const uint8_t* p = body(x);
                uint32_t n = be32(p + 4);
                auto& v = std::string(name) == "stts" ? t.stts : t.ctts;
                if (std::string(name) == "ctts") t.hasCtts = true;
                for (uint32_t i = 0; i < n; ++i) {
                    v.push_back({be32(p + 8 + 8 * i), be32(p + 12 + 8 * i)});
                }
            }
        }
        if (const Box* x = stbl->find("stss")) {
            t.hasStss = true;
            const uint8_t* p = body(x);
            uint32_t n = be32(p + 4);
            for (uint32_t i = 0; i < n; ++i) t.stss.push_back(be32(p + 8 + 4 * i));
        }
        f.tracks.push_back(std::move(t));
    }
    f.ok = true;
    return f;
}

// ---- ffmpeg / ffprobe -------------------------------------------------------

std::string decodeErrors(const std::string& path) {
    CmdResult r = runCommand("ffmpeg -nostdin -v warning -xerror -i '" + path + "' -f null -");
    if (r.status != 0 && r.err.empty()) return "ffmpeg exit status " + std::to_string(r.status);
    return r.err;
}

std::vector<std::map<std::string, std::string>> probeStreams(const std::string& path) {
    CmdResult r = runCommand(
        "ffprobe -v error -count_frames -count_packets -show_entries "
        "stream=codec_name,nb_read_packets,nb_read_frames,duration,width,height,sample_rate "
        "-of default=noprint_wrappers=0 '" + path + "'");
    std::vector<std::map<std::string, std::string>> out;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "[STREAM]") {
            out.emplace_back();
        } else if (!out.empty() && line.find('=') != std::string::npos) {
            out.back()[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    return out;
}

std::vector<Packet> probePackets(const std::string& path) {
    CmdResult r = runCommand(
        "ffprobe -v error -show_entries packet=stream_index,pts_time,dts_time,flags,size "
        "-of csv=p=0 '" + path + "'");
    std::vector<Packet> out;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        Packet p{};
        char flags[16] = {0};
        if (sscanf(line.c_str(), "%d,%lf,%lf,%d,%15s", &p.stream, &p.pts, &p.dts, &p.size,
                   flags) >= 4) {
            p.flagsKey = flags[0] == 'K';
            out.push_back(p);
        }
    }
    return out;
}

}  // namespace wtest
