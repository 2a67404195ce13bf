// The sample tables on their own: runs of times, composition offsets and
// chunks, sync samples, sizes and chunk offsets, as their boxes read back.
#include <gtest/gtest.h>

#include <stdint.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "mpeg4_writer/BoxWriter.h"
#include "mpeg4_writer/ByteSink.h"
#include "mpeg4_writer/SampleTable.h"

namespace {

using qor::BoxWriter;
using qor::MemoryByteSink;
using qor::SampleTable;
using Runs = std::vector<std::pair<uint32_t, uint32_t>>;

uint32_t be32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// One box as written: its type and the 32-bit words after version/flags.
struct WrittenBox {
    std::string type;
    std::vector<uint32_t> words;
};

template <typename WRITE>
WrittenBox writeBox(WRITE write) {
    MemoryByteSink sink;
    BoxWriter out(&sink);
    write(&out);
    WrittenBox box;
    const std::vector<uint8_t>& b = sink.bytes();
    if (b.empty()) return box;
    EXPECT_EQ(b.size(), be32(&b[0])) << "box size";
    box.type.assign(b.begin() + 4, b.begin() + 8);
    EXPECT_EQ(0u, be32(&b[8])) << "version and flags";
    for (size_t i = 12; i + 4 <= b.size(); i += 4) box.words.push_back(be32(&b[i]));
    return box;
}

// Pairs after the entry count, which must match.
Runs pairsOf(const WrittenBox& box) {
    Runs runs;
    EXPECT_FALSE(box.words.empty());
    if (box.words.empty()) return runs;
    EXPECT_EQ(box.words[0] * 2 + 1, box.words.size());
    for (size_t i = 1; i + 1 < box.words.size(); i += 2) {
        runs.push_back({box.words[i], box.words[i + 1]});
    }
    return runs;
}

struct TimeCase {
    const char* name;
    std::vector<int64_t> deltas;  // ticks since the previous sample
    uint32_t startOffsetTicks;
    Runs stts;
};

class SampleTableTimes : public ::testing::TestWithParam<TimeCase> {};

TEST_P(SampleTableTimes, SttsRuns) {
    SampleTable table(false);
    for (int64_t delta : GetParam().deltas) table.addSample(10, delta, 0, true);
    table.finishSamples();
    WrittenBox box = writeBox([&](BoxWriter* out) {
        table.writeSttsBox(out, GetParam().startOffsetTicks);
    });
    EXPECT_EQ("stts", box.type);
    EXPECT_EQ(GetParam().stts, pairsOf(box));
}

// The first delta is the first sample's distance from time zero and is not
// a duration; the last sample lasts as long as the one before it.
INSTANTIATE_TEST_SUITE_P(
    Runs, SampleTableTimes,
    ::testing::Values(
        TimeCase{"lone_sample", {500}, 0, {{1, 0}}},
        TimeCase{"two_samples", {500, 100}, 0, {{1, 100}, {1, 100}}},
        TimeCase{"equal_deltas", {500, 100, 100, 100}, 0, {{1, 100}, {3, 100}}},
        TimeCase{"changing_deltas", {7, 100, 100, 200, 200}, 0, {{1, 100}, {1, 100}, {3, 200}}},
        TimeCase{"alternating", {7, 30, 40, 30}, 0, {{1, 30}, {1, 40}, {2, 30}}},
        TimeCase{"later_start_delays_the_first", {7, 100, 100, 100}, 25, {{1, 125}, {3, 100}}},
        TimeCase{"later_start_of_a_lone_sample", {7}, 25, {{1, 25}}}),
    [](const ::testing::TestParamInfo<TimeCase>& info) { return info.param.name; });

struct OffsetCase {
    const char* name;
    bool hasCompositionOffsets;
    std::vector<int64_t> offsets;  // biased ticks, one per sample
    uint32_t startOffsetTicks;
    Runs ctts;  // empty: no box
};

class SampleTableOffsets : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(SampleTableOffsets, CttsRunsLessTheSmallestOffset) {
    SampleTable table(GetParam().hasCompositionOffsets);
    for (int64_t offset : GetParam().offsets) table.addSample(10, 100, offset, true);
    table.finishSamples();
    WrittenBox box = writeBox([&](BoxWriter* out) {
        table.writeCttsBox(out, GetParam().startOffsetTicks);
    });
    if (GetParam().ctts.empty()) {
        EXPECT_EQ("", box.type);
        return;
    }
    EXPECT_EQ("ctts", box.type);
    EXPECT_EQ(GetParam().ctts, pairsOf(box));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SampleTableOffsets,
    ::testing::Values(
        OffsetCase{"reordered", true, {900, 910, 910, 900}, 0, {{1, 0}, {2, 10}, {1, 0}}},
        OffsetCase{"first_sample_keeps_its_own_run", true, {900, 900, 930}, 0,
                   {{1, 0}, {1, 0}, {1, 30}}},
        OffsetCase{"later_start_moves_the_first", true, {900, 910}, 5, {{1, 5}, {1, 10}}},
        OffsetCase{"smallest_offset_later", true, {950, 900, 950}, 0,
                   {{1, 50}, {1, 0}, {1, 50}}},
        OffsetCase{"equal_offsets_need_no_box", true, {900, 900, 900}, 0, {}},
        OffsetCase{"audio_has_none", false, {900, 910, 900}, 0, {}}),
    [](const ::testing::TestParamInfo<OffsetCase>& info) { return info.param.name; });

struct ChunkCase {
    const char* name;
    std::vector<uint32_t> chunks;  // samples per chunk
    bool ownEntryForLast;
    std::vector<std::array<uint32_t, 3>> stsc;
};

class SampleTableChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(SampleTableChunks, StscRuns) {
    SampleTable table(false);
    const std::vector<uint32_t>& chunks = GetParam().chunks;
    for (size_t i = 0; i < chunks.size(); ++i) {
        bool last = i + 1 == chunks.size();
        if (last && GetParam().ownEntryForLast) {
            table.addChunkWithOwnEntry(chunks[i]);
        } else {
            table.addChunk(chunks[i]);
        }
    }
    WrittenBox box = writeBox([&](BoxWriter* out) { table.writeStscBox(out); });
    EXPECT_EQ("stsc", box.type);
    ASSERT_FALSE(box.words.empty());
    ASSERT_EQ(box.words[0] * 3 + 1, box.words.size());
    std::vector<std::array<uint32_t, 3>> stsc;
    for (size_t i = 1; i + 2 < box.words.size(); i += 3) {
        stsc.push_back({box.words[i], box.words[i + 1], box.words[i + 2]});
    }
    EXPECT_EQ(GetParam().stsc, stsc);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SampleTableChunks,
    ::testing::Values(
        ChunkCase{"equal_chunks_share_an_entry", {3, 3, 3}, false, {{{1, 3, 1}}}},
        ChunkCase{"changes_start_entries", {3, 3, 2, 2, 5}, false,
                  {{{1, 3, 1}, {3, 2, 1}, {5, 5, 1}}}},
        ChunkCase{"last_chunk_has_its_own_entry", {3, 3, 3}, true,
                  {{{1, 3, 1}, {3, 3, 1}}}},
        ChunkCase{"one_chunk_for_a_lone_track", {42}, true, {{{1, 42, 1}}}}),
    [](const ::testing::TestParamInfo<ChunkCase>& info) { return info.param.name; });

TEST(SampleTable, SizesSyncSamplesAndChunkOffsets) {
    SampleTable table(true);
    const uint32_t sizes[] = {700, 20, 20, 650, 25};
    const bool sync[] = {true, false, false, true, false};
    for (size_t i = 0; i < 5; ++i) table.addSample(sizes[i], 100, 900, sync[i]);
    table.finishSamples();
    EXPECT_EQ(5u, table.sampleCount());
    EXPECT_EQ(2u, table.syncSampleCount());
    EXPECT_FALSE(table.sameSizeSamples());

    WrittenBox stsz = writeBox([&](BoxWriter* out) { table.writeStszBox(out); });
    EXPECT_EQ("stsz", stsz.type);
    EXPECT_EQ((std::vector<uint32_t>{0, 5, 700, 20, 20, 650, 25}), stsz.words);
    WrittenBox stss = writeBox([&](BoxWriter* out) { table.writeStssBox(out); });
    EXPECT_EQ("stss", stss.type);
    EXPECT_EQ((std::vector<uint32_t>{2, 1, 4}), stss.words);

    table.addChunkOffset(48, true);
    table.addChunkOffset(0xFFFFFFF0LL, true);
    EXPECT_EQ(2u, table.chunkOffsetCount());
    WrittenBox stco = writeBox([&](BoxWriter* out) { table.writeStcoBox(out, true); });
    EXPECT_EQ("stco", stco.type);
    EXPECT_EQ((std::vector<uint32_t>{2, 48, 0xFFFFFFF0u}), stco.words);
}

TEST(SampleTable, SixtyFourBitChunkOffsets) {
    SampleTable table(false);
    table.addChunkOffset(0x123456789ALL, false);
    table.addChunkOffset(16, false);
    WrittenBox co64 = writeBox([&](BoxWriter* out) { table.writeStcoBox(out, false); });
    EXPECT_EQ("co64", co64.type);
    EXPECT_EQ((std::vector<uint32_t>{2, 0x12, 0x3456789A, 0, 16}), co64.words);
}

TEST(SampleTable, SameSizeSamplesAndSizeEstimate) {
    SampleTable table(false);
    EXPECT_EQ(4, table.estimatedBoxBytes());  // stsz of same-size samples
    for (int i = 0; i < 4; ++i) table.addSample(300, 100, 0, true);
    EXPECT_TRUE(table.sameSizeSamples());
    table.addChunk(4);
    table.addChunkOffset(100, true);
    // stsc 12 + stss 4 x 4 + one stts entry 8 (the open run is not counted
    // yet) + stco 4 + stsz 4.
    EXPECT_EQ(12 + 16 + 8 + 4 + 4, table.estimatedBoxBytes());
    table.addSample(301, 100, 0, false);
    EXPECT_FALSE(table.sameSizeSamples());
    EXPECT_EQ(12 + 16 + 8 + 4 + 5 * 4, table.estimatedBoxBytes());
}

// Writing the boxes twice gives the same bytes, across table blocks too.
TEST(SampleTable, WritingLeavesTheTablesAsTheyAre) {
    SampleTable table(true);
    for (uint32_t i = 0; i < 2500; ++i) {
        table.addSample(100 + i % 7, i % 2 ? 3000 : 3003, 90000 + (i % 3) * 3003, i % 30 == 0);
    }
    table.finishSamples();
    table.addChunkWithOwnEntry(2500);
    table.addChunkOffset(1024, true);
    auto writeAll = [&] {
        MemoryByteSink sink;
        BoxWriter out(&sink);
        table.writeSttsBox(&out, 17);
        table.writeCttsBox(&out, 17);
        table.writeStssBox(&out);
        table.writeStszBox(&out);
        table.writeStscBox(&out);
        table.writeStcoBox(&out, true);
        return sink.bytes();
    };
    std::vector<uint8_t> first = writeAll();
    EXPECT_EQ(first, writeAll());

    WrittenBox stts = writeBox([&](BoxWriter* out) { table.writeSttsBox(out, 17); });
    Runs runs = pairsOf(stts);
    // Every delta differs from the one before; the last two samples share
    // the last one.
    ASSERT_EQ(2499u, runs.size());
    EXPECT_EQ(std::make_pair(1u, 3000u + 17u), runs[0]);
    EXPECT_EQ(std::make_pair(1u, 3003u), runs[1]);
    EXPECT_EQ(std::make_pair(2u, 3000u), runs[2498]);
}

}  // namespace
