// The avcC builder on its own: records from parameter sets, records taken
// as they are, and the buffers it refuses.
#include <gtest/gtest.h>

#include <vector>

#include <host/log_record.h>
#include <media/stagefright/MediaErrors.h>

#include "mpeg4_writer/AvcDecoderConfigRecord.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kSps = {0x67, 0x42, 0xC0, 0x1E, 0xDA};
const Bytes kSps2 = {0x67, 0x42, 0xC0, 0x1E, 0x77, 0x66};
const Bytes kSpsOtherLevel = {0x67, 0x42, 0xC0, 0x28, 0xDA};
const Bytes kPps = {0x68, 0xCE, 0x38, 0x80};
const Bytes kSei = {0x06, 0x05, 0x01};

Bytes annexB(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

Bytes withLength(const Bytes& unit) {
    Bytes out = {(uint8_t)(unit.size() >> 8), (uint8_t)unit.size()};
    out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

Bytes record(const std::vector<Bytes>& sps, const std::vector<Bytes>& pps) {
    Bytes out = {1, sps[0][1], sps[0][2], sps[0][3], 0xFF, (uint8_t)(0xE0 | sps.size())};
    for (const Bytes& s : sps) {
        Bytes l = withLength(s);
        out.insert(out.end(), l.begin(), l.end());
    }
    out.push_back((uint8_t)pps.size());
    for (const Bytes& p : pps) {
        Bytes l = withLength(p);
        out.insert(out.end(), l.begin(), l.end());
    }
    return out;
}

struct BuildCase {
    const char* name;
    Bytes input;
    android::status_t status;
    Bytes record;     // when OK
    const char* log;  // the reason logged for a refusal
};

class AvcRecordBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(AvcRecordBuild, RecordOrRefusal) {
    host::logClear();
    Bytes out = {0xEE};
    const Bytes& in = GetParam().input;
    EXPECT_EQ(GetParam().status, qor::buildAvcDecoderConfigRecord(in.data(), in.size(), &out));
    if (GetParam().status == android::OK) {
        EXPECT_EQ(GetParam().record, out);
    } else {
        EXPECT_EQ(Bytes{0xEE}, out);  // untouched
        EXPECT_EQ(1, host::logCount(GetParam().log, "MPEG4Writer"));
    }
}

const Bytes kRecord = record({kSps}, {kPps});

INSTANTIATE_TEST_SUITE_P(
    Buffers, AvcRecordBuild,
    ::testing::Values(
        BuildCase{"sps_pps", annexB({kSps, kPps}), android::OK, record({kSps}, {kPps}), ""},
        BuildCase{"two_sps_two_pps", annexB({kSps, kSps2, kPps, kPps}), android::OK,
                  record({kSps, kSps2}, {kPps, kPps}), ""},
        BuildCase{"other_units_skipped", annexB({kSei, kSps, kPps}), android::OK,
                  record({kSps}, {kPps}), ""},
        BuildCase{"record_taken_as_is", kRecord, android::OK, kRecord, ""},
        BuildCase{"too_short", Bytes{0, 0, 1}, android::ERROR_MALFORMED, {},
                  "Codec specific data length too short: 3"},
        BuildCase{"short_record", Bytes(kRecord.begin(), kRecord.begin() + 10),
                  android::ERROR_MALFORMED, {}, "Codec specific data length too short: 10"},
        BuildCase{"pps_first", annexB({kPps, kSps}), android::ERROR_MALFORMED, {},
                  "SPS must come before PPS, comming type is 0x8(NalUnitTypePicParamSet)"},
        BuildCase{"sps_after_pps", annexB({kSps, kPps, kSps}), android::ERROR_MALFORMED, {},
                  "SPS must come before PPS, comming type is 0x7(NalUnitTypeSeqParamSet)"},
        BuildCase{"no_pps", annexB({kSps}), android::ERROR_MALFORMED, {},
                  "Cound not find picture parameter set"},
        BuildCase{"short_sps", annexB({{0x67, 0x42}, kPps}), android::ERROR_MALFORMED, {},
                  "Seq parameter set malformed"},
        BuildCase{"inconsistent_levels", annexB({kSps, kSpsOtherLevel, kPps}),
                  android::ERROR_MALFORMED, {},
                  "Inconsistent profile/level found in seq parameter sets"}),
    [](const ::testing::TestParamInfo<BuildCase>& info) { return info.param.name; });

}  // namespace
