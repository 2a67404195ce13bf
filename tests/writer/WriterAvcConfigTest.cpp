// The avcC record built from the encoder's codec-configuration buffer, and
// the configurations that end the video track as malformed.
#include <gtest/gtest.h>

#include <host/log_record.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

Bytes startCode() { return {0, 0, 0, 1}; }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes withLength(const Bytes& nal) {
    return cat({{(uint8_t)(nal.size() >> 8), (uint8_t)nal.size()}, nal});
}

// The record for one SPS and one PPS, as ISO/IEC 14496-15 lays it out.
Bytes expectedRecord(const std::vector<Bytes>& spss, const std::vector<Bytes>& ppss,
                     uint8_t lengthByte = 0xFF) {
    const Bytes& sps = spss[0];
    Bytes r = {1, sps[1], sps[2], sps[3], lengthByte, (uint8_t)(0xE0 | spss.size())};
    for (const Bytes& s : spss) r = cat({r, withLength(s)});
    r.push_back((uint8_t)ppss.size());
    for (const Bytes& p : ppss) r = cat({r, withLength(p)});
    return r;
}

std::vector<Unit> videoWithConfig(const Bytes& config, size_t frames = 30) {
    auto units = videoUnits(frames);
    units[0].data = config;
    return units;
}

struct GoodConfig {
    const char* name;
    std::function<Bytes()> config;
    std::function<Bytes()> record;
    const char* warning;
};

class WriterAvcConfigGood : public ::testing::TestWithParam<GoodConfig> {};

TEST_P(WriterAvcConfigGood, BuildsTheDecoderConfigurationRecord) {
    host::logClear();
    std::string path = tempPath(std::string("avcc_") + GetParam().name + ".mp4");
    Recording r = record(path, {}, videoWithConfig(GetParam().config()));
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    EXPECT_EQ(GetParam().record(), f.tracks[0].avcC);
    if (GetParam().warning) {
        EXPECT_EQ(1, host::logCount(GetParam().warning, "MPEG4Writer"));
    }
    EXPECT_EQ("", decodeErrors(path));
}

const char* kSeiWarning =
    "Only SPS and PPS Nal units are expected, comming type is 6(See ISO/IEC 14496-15,AVC "
    "elementary streams and sample definitions)";

INSTANTIATE_TEST_SUITE_P(
    Configs, WriterAvcConfigGood,
    ::testing::Values(
        GoodConfig{"plain", [] { return avcConfigBuffer(); },
                   [] { return expectedRecord({streams().sps}, {streams().pps}); }, nullptr},
        GoodConfig{"sei_skipped",
                   [] {
                       return cat({startCode(), streams().sps, startCode(),
                                   {0x06, 0x05, 0x01, 0x00, 0x80}, startCode(), streams().pps});
                   },
                   [] { return expectedRecord({streams().sps}, {streams().pps}); }, kSeiWarning},
        GoodConfig{"ready_record",
                   [] { return expectedRecord({streams().sps}, {streams().pps}, 0xFD); },
                   // Taken as it is, apart from the NAL length size.
                   [] { return expectedRecord({streams().sps}, {streams().pps}, 0xFF); },
                   nullptr},
        // 105 bytes and more: the avcC box has a 32-bit size.
        GoodConfig{"large_record",
                   [] {
                       Bytes b;
                       for (int i = 0; i < 2; ++i) b = cat({b, startCode(), streams().sps});
                       for (int i = 0; i < 10; ++i) b = cat({b, startCode(), streams().pps});
                       return b;
                   },
                   [] {
                       const Streams& s = streams();
                       Bytes r = expectedRecord({s.sps, s.sps}, std::vector<Bytes>(10, s.pps));
                       EXPECT_GE(r.size(), 105u);
                       return r;
                   },
                   nullptr}),
    [](const ::testing::TestParamInfo<GoodConfig>& info) { return info.param.name; });

struct BadConfig {
    const char* name;
    std::function<Bytes()> config;
    const char* error;
};

class WriterAvcConfigBad : public ::testing::TestWithParam<BadConfig> {};

// The video track is left out of the file; the sound beside it is kept and
// plays; stop reports the loss.
TEST_P(WriterAvcConfigBad, EndsTheTrackAsMalformed) {
    host::logClear();
    std::string path = tempPath(std::string("bad_") + GetParam().name + ".mp4");
    Recording r = record(path, audioUnits(40), videoWithConfig(GetParam().config()));
    EXPECT_EQ(android::ERROR_MALFORMED, r.stopResult);
    EXPECT_EQ(1, host::logCount(GetParam().error, "MPEG4Writer")) << GetParam().error;
    std::vector<std::map<std::string, std::string>> streams = probeStreams(path);
    ASSERT_EQ(1u, streams.size());
    EXPECT_EQ("aac", streams[0]["codec_name"]);
    EXPECT_EQ("40", streams[0]["nb_read_packets"]);
    EXPECT_EQ("", decodeErrors(path));
}

Bytes otherLevelSps() {
    Bytes sps = streams().sps;
    sps[3] ^= 0x01;
    return sps;
}

INSTANTIATE_TEST_SUITE_P(
    Configs, WriterAvcConfigBad,
    ::testing::Values(
        BadConfig{"pps_first",
                  [] { return cat({startCode(), streams().pps, startCode(), streams().sps}); },
                  "SPS must come before PPS, comming type is 0x8(NalUnitTypePicParamSet)"},
        BadConfig{"sps_after_pps",
                  [] {
                      return cat({startCode(), streams().sps, startCode(), streams().pps,
                                  startCode(), streams().sps});
                  },
                  "SPS must come before PPS, comming type is 0x7(NalUnitTypeSeqParamSet)"},
        BadConfig{"inconsistent_profile",
                  [] {
                      return cat({startCode(), streams().sps, startCode(), otherLevelSps(),
                                  startCode(), streams().pps});
                  },
                  "Inconsistent profile/level found in seq parameter sets"},
        BadConfig{"short_record", [] { return Bytes(10, 0x01); },
                  "Codec specific data length too short: 10"},
        BadConfig{"three_bytes", [] { return Bytes{0, 0, 1}; },
                  "Codec specific data length too short: 3"},
        BadConfig{"start_code_only", [] { return startCode(); },
                  "Cound not find sequence parameter set"},
        BadConfig{"no_pps", [] { return cat({startCode(), streams().sps}); },
                  "Cound not find picture parameter set"},
        BadConfig{"short_sps", [] { return cat({startCode(), {0x67, 0x42, 0x00}}); },
                  "Seq parameter set malformed"}),
    [](const ::testing::TestParamInfo<BadConfig>& info) { return info.param.name; });

TEST(WriterAvcConfig, TwoByteNalLengths) {
    std::string path = tempPath("nal2.mp4");
    sp<android::MetaData> meta = new android::MetaData;
    meta->setInt32(android::kKey2ByteNalLength, 1);
    auto video = videoUnits(30);
    Recording r = record(path, {}, video, nullptr, meta.get());
    ASSERT_EQ(0, r.stopResult);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    const TrackTables& t = f.tracks[0];
    EXPECT_EQ(expectedRecord({streams().sps}, {streams().pps}, 0xFD), t.avcC);
    for (size_t i = 0; i < 30; ++i) {
        Bytes sample = f.sampleBytes(t, i);
        Bytes nal(video[i + 1].data.begin() + 4, video[i + 1].data.end());
        ASSERT_EQ(cat({{(uint8_t)(nal.size() >> 8), (uint8_t)nal.size()}, nal}), sample) << i;
    }
    EXPECT_EQ("", decodeErrors(path));
}

}  // namespace
}  // namespace wtest
