// Access units of several NAL units (slices, delimiters, SEI, parameter
// sets repeated before sync frames) as encoders emit them: each becomes one
// sample whose NAL units carry their own lengths, without the parameter
// sets the avcC holds; ffmpeg decodes the file to exactly the frames of the
// raw stream.
#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

struct AccessUnitCase {
    const char* name;
    const char* x264Params;  // what the encoder puts into each access unit
    bool withAudio;          // chunks through the writer thread, else one chunk
};

struct AccessUnitStream {
    Bytes annexB;
    Bytes config;                     // 00 00 00 01 SPS 00 00 00 01 PPS
    std::vector<Bytes> units;         // each access unit as the encoder hands it over
    std::vector<std::vector<int>> types;  // NAL unit types of each
    std::vector<bool> sync;
};

// Start-code positions (of the byte after 00 00 01) and NAL unit ends.
std::vector<std::pair<size_t, size_t>> nalRanges(const Bytes& d) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<std::pair<size_t, size_t>> r;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : d.size();
        while (end > starts[k] && d[end - 1] == 0) --end;
        r.emplace_back(starts[k], end);
    }
    return r;
}

// Cuts the stream at its access-unit delimiters (or before each first
// slice / parameter set when there are none), keeping the start codes.
AccessUnitStream makeStream(const AccessUnitCase& c) {
    AccessUnitStream s;
    std::string path = tempPath(std::string(c.name) + ".h264");
    CmdResult r = runCommand(
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=30 -frames:v 45 "
        "-pix_fmt yuv420p -c:v libx264 -profile:v baseline -preset veryfast -g 15 "
        "-sc_threshold 0 -bf 0 -x264-params " +
        std::string(c.x264Params) + " -f h264 " + path);
    EXPECT_EQ(0, r.status) << r.err;
    s.annexB = readFile(path);
    auto ranges = nalRanges(s.annexB);
    size_t auStart = 0;
    bool inPicture = false;
    for (size_t k = 0; k < ranges.size(); ++k) {
        const int type = s.annexB[ranges[k].first] & 0x1F;
        // The start code (3 or 4 bytes) in front of this NAL unit.
        size_t code = ranges[k].first - 3;
        if (code > 0 && s.annexB[code - 1] == 0) --code;
        const bool vcl = type == 1 || type == 5;
        const bool first_mb_zero = vcl && (s.annexB[ranges[k].first + 1] & 0x80);
        if (inPicture && (type == 9 || type == 7 || type == 6 || first_mb_zero)) {
            s.units.emplace_back(s.annexB.begin() + auStart, s.annexB.begin() + code);
            auStart = code;
            inPicture = false;
        }
        if (vcl) inPicture = true;
        if (type == 7 && s.config.empty()) {
            s.config = {0, 0, 0, 1};
            s.config.insert(s.config.end(), s.annexB.begin() + ranges[k].first,
                            s.annexB.begin() + ranges[k].second);
            auto pps = ranges[k + 1];
            s.config.insert(s.config.end(), {0, 0, 0, 1});
            s.config.insert(s.config.end(), s.annexB.begin() + pps.first,
                            s.annexB.begin() + pps.second);
        }
    }
    s.units.emplace_back(s.annexB.begin() + auStart, s.annexB.end());
    for (const Bytes& u : s.units) {
        std::vector<int> types;
        bool idr = false;
        for (auto& nr : nalRanges(u)) {
            types.push_back(u[nr.first] & 0x1F);
            idr = idr || types.back() == 5;
        }
        s.types.push_back(types);
        s.sync.push_back(idr);
    }
    return s;
}

std::vector<Unit> videoUnitsOf(const AccessUnitStream& s) {
    std::vector<Unit> units;
    Unit conf;
    conf.data = s.config;
    conf.config = true;
    conf.timeUs = 0;
    units.push_back(conf);
    for (size_t i = 0; i < s.units.size(); ++i) {
        Unit u;
        u.data = s.units[i];
        u.timeUs = u.decTimeUs = 100000 + (int64_t)i * 33333;
        u.sync = s.sync[i];
        units.push_back(std::move(u));
    }
    return units;
}

std::string frameHashes(const std::string& input, const char* format) {
    CmdResult r = runCommand(std::string("ffmpeg -nostdin -v error ") + format + " -i '" + input +
                             "' -map 0:v -fps_mode passthrough -f framemd5 -");
    std::string hashes;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        hashes += line.substr(line.rfind(',') + 1) + "\n";  // the frame's md5
    }
    return hashes;
}

class WriterAccessUnits : public ::testing::TestWithParam<AccessUnitCase> {};

TEST_P(WriterAccessUnits, OneSampleOfLengthPrefixedNalUnitsEach) {
    const AccessUnitCase& c = GetParam();
    AccessUnitStream s = makeStream(c);
    ASSERT_EQ(45u, s.units.size());
    size_t most = 0;
    for (const auto& t : s.types) most = std::max(most, t.size());
    ASSERT_GT(most, 2u) << "the encoder put one NAL unit into each access unit";

    std::string path = tempPath(std::string(c.name) + ".mp4");
    Recording r = record(path, c.withAudio ? audioUnits(65) : std::vector<Unit>(), videoUnitsOf(s));
    ASSERT_EQ(0, r.stopResult);

    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    const TrackTables* v = f.track("vide");
    ASSERT_NE(nullptr, v);
    ASSERT_EQ(s.units.size(), v->sizes.size());
    for (size_t i = 0; i < s.units.size(); ++i) {
        Bytes sample = f.sampleBytes(*v, i);
        std::vector<int> want;
        for (int t : s.types[i]) {
            if (t != 7 && t != 8) want.push_back(t);
        }
        std::vector<int> got;
        size_t pos = 0;
        while (pos + 4 <= sample.size()) {
            const uint32_t len = be32(&sample[pos]);
            ASSERT_GT(len, 0u) << "sample " << i;
            ASSERT_LE(pos + 4 + len, sample.size()) << "sample " << i;
            got.push_back(sample[pos + 4] & 0x1F);
            pos += 4 + len;
        }
        EXPECT_EQ(sample.size(), pos) << "sample " << i;
        EXPECT_EQ(want, got) << "sample " << i;
    }

    EXPECT_EQ("", decodeErrors(path));
    auto probe = probeStreams(path);
    for (auto& st : probe) {
        if (st["codec_name"] == "h264") {
            EXPECT_EQ("45", st["nb_read_frames"]);
        }
    }
    // Every frame as the raw stream decodes it, in order.
    std::string raw = tempPath(std::string(c.name) + "_raw.h264");
    {
        std::ofstream out(raw, std::ios::binary);
        out.write((const char*)s.annexB.data(), (std::streamsize)s.annexB.size());
    }
    std::string want = frameHashes(raw, "-f h264");
    EXPECT_EQ(45, std::count(want.begin(), want.end(), '\n'));
    EXPECT_EQ(want, frameHashes(path, ""));
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, WriterAccessUnits,
    ::testing::Values(AccessUnitCase{"slices_aud_headers", "slices=4:aud=1:repeat-headers=1", false},
                      AccessUnitCase{"slices_aud_headers_av", "slices=4:aud=1:repeat-headers=1", true},
                      AccessUnitCase{"slices", "slices=3:aud=0", false}),
    [](const ::testing::TestParamInfo<AccessUnitCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wtest
