// Annex B access units to length-prefixed samples, byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "mpeg4_writer/AvcSampleFormat.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct SampleCase {
    const char* name;
    Bytes accessUnit;
    size_t prefixBytes;
    Bytes sample;
};

Bytes toSample(const Bytes& au, size_t prefixBytes) {
    auto units = qor::splitAnnexB(au.data(), au.size());
    Bytes out(qor::lengthPrefixedSize(au.data(), units, prefixBytes));
    EXPECT_EQ(out.size(), qor::writeLengthPrefixed(au.data(), units, prefixBytes, out.data()));
    return out;
}

class AvcSampleFormat : public ::testing::TestWithParam<SampleCase> {};

TEST_P(AvcSampleFormat, EachNalUnitBehindItsOwnLength) {
    EXPECT_EQ(GetParam().sample, toSample(GetParam().accessUnit, GetParam().prefixBytes));
}

INSTANTIATE_TEST_SUITE_P(
    AccessUnits, AvcSampleFormat,
    ::testing::Values(
        SampleCase{"one_slice", {0, 0, 0, 1, 0x65, 0x88, 0x84}, 4, {0, 0, 0, 3, 0x65, 0x88, 0x84}},
        SampleCase{"no_start_code", {0x41, 0x9A, 0x02}, 4, {0, 0, 0, 3, 0x41, 0x9A, 0x02}},
        SampleCase{"slices_three_byte_codes",
                   {0, 0, 0, 1, 0x65, 0x88, 0, 0, 1, 0x65, 0x11, 0x22, 0, 0, 1, 0x65, 0x33},
                   4,
                   {0, 0, 0, 2, 0x65, 0x88, 0, 0, 0, 3, 0x65, 0x11, 0x22, 0, 0, 0, 2, 0x65, 0x33}},
        SampleCase{"delimiter_sei_headers_slice",
                   {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x06, 0x05, 0x80, 0, 0, 0, 1, 0x67,
                    0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88},
                   4,
                   {0, 0, 0, 2, 0x09, 0xF0, 0, 0, 0, 3, 0x06, 0x05, 0x80, 0, 0, 0, 2, 0x65, 0x88}},
        SampleCase{"trailing_zeros_dropped", {0, 0, 1, 0x41, 0x9A, 0, 0, 0, 0, 1, 0x41, 0x9B, 0},
                   2, {0, 2, 0x41, 0x9A, 0, 2, 0x41, 0x9B}},
        SampleCase{"headers_only", {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE}, 4, {}}),
    [](const ::testing::TestParamInfo<SampleCase>& info) { return std::string(info.param.name); });

}  // namespace
