// Encodes a tone through the AAC component and decodes it with ffmpeg.
#include <math.h>
#include <stdio.h>

#include <gtest/gtest.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using android::OK;

struct ToneCase {
    uint32_t mRate, mChannels;
    double mFrequency;
};

const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                           22050, 16000, 12000, 11025, 8000,  7350};

int rateIndex(uint32_t rate) {
    for (int i = 0; i < 13; ++i) {
        if (kRates[i] == rate) return i;
    }
    return -1;
}

// One ADTS frame around a raw AAC-LC frame.
void appendAdts(std::vector<uint8_t>* out, const std::vector<uint8_t>& frame, int rateIdx,
                int channels) {
    size_t len = frame.size() + 7;
    uint8_t h[7] = {0xFF, 0xF1, (uint8_t)((1 << 6) | (rateIdx << 2) | (channels >> 2)),
                    (uint8_t)(((channels & 3) << 6) | (len >> 11)), (uint8_t)((len >> 3) & 0xFF),
                    (uint8_t)(((len & 7) << 5) | 0x1F), 0xFC};
    out->insert(out->end(), h, h + 7);
    out->insert(out->end(), frame.begin(), frame.end());
}

class AudioEncodeTest : public testing::TestWithParam<ToneCase> {};

TEST_P(AudioEncodeTest, DecodesToTheToneThatWentIn) {
    const ToneCase& p = GetParam();
    const size_t kSeconds = 2, total = p.mRate * kSeconds;
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode("OMX.google.aac.encoder"));
    ASSERT_EQ(OK, c.configureAudio(p.mRate, p.mChannels, 64000 * p.mChannels));
    ASSERT_TRUE(c.start());
    size_t blockSamples = c.portDef(0).nBufferSize / (2 * p.mChannels);
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<int64_t> times;  // from the sample count
    for (size_t s = 0; s < total; s += blockSamples) {
        times.push_back(5000 + (int64_t)s * 1000000 / p.mRate);
        size_t n = std::min(blockSamples, total - s);
        std::vector<uint8_t> b(n * 2 * p.mChannels);
        for (size_t i = 0; i < n; ++i) {
            int16_t v = (int16_t)(12000 * sin(2 * M_PI * p.mFrequency * (s + i) / p.mRate));
            for (uint32_t ch = 0; ch < p.mChannels; ++ch) {
                b[(i * p.mChannels + ch) * 2] = v & 0xFF;
                b[(i * p.mChannels + ch) * 2 + 1] = (v >> 8) & 0xFF;
            }
        }
        blocks.push_back(b);
    }
    ASSERT_TRUE(c.encode(blocks, times, 5000 + (int64_t)total * 1000000 / p.mRate));
    ASSERT_TRUE(c.stop());

    ASSERT_GE(c.mOutputs.size(), 3u);
    const Output& config = c.mOutputs[0];
    EXPECT_TRUE(config.mFlags & OMX_BUFFERFLAG_CODECCONFIG);
    ASSERT_EQ(2u, config.mData.size());
    EXPECT_EQ(2, config.mData[0] >> 3);  // AAC-LC
    EXPECT_EQ(rateIndex(p.mRate), ((config.mData[0] & 7) << 1) | (config.mData[1] >> 7));
    EXPECT_EQ((int)p.mChannels, (config.mData[1] >> 3) & 0xF);

    size_t frames = c.mOutputs.size() - 2;
    size_t minFrames = (total + 1023) / 1024;
    EXPECT_GE(frames, minFrames);
    EXPECT_LE(frames, minFrames + 2);
    std::vector<uint8_t> adts;
    for (size_t k = 0; k < frames; ++k) {
        const Output& o = c.mOutputs[k + 1];
        EXPECT_EQ((uint32_t)OMX_BUFFERFLAG_ENDOFFRAME, o.mFlags);
        int64_t expected = 5000 + (int64_t)k * 1024 * 1000000 / p.mRate;
        EXPECT_NEAR((double)expected, (double)o.mTimeUs, 2.0) << "frame " << k;
        appendAdts(&adts, o.mData, rateIndex(p.mRate), p.mChannels);
    }
    EXPECT_TRUE(c.mOutputs.back().mFlags & OMX_BUFFERFLAG_EOS);

    std::string in = writeTemp(".aac", adts);
    std::string out = in + ".pcm";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -f aac -i " + in + " -f s16le -ac 1 " + out));
    std::vector<uint8_t> pcm = readFile(out);
    remove(in.c_str());
    remove(out.c_str());
    size_t decoded = pcm.size() / 2;
    EXPECT_GE(decoded, total);
    EXPECT_LE(decoded, total + 3 * 1024);
    // Frequency from the zero crossings of the middle second, and the level.
    const int16_t* s = (const int16_t*)pcm.data();
    size_t from = total / 4, to = from + p.mRate;
    ASSERT_LE(to, decoded);
    int crossings = 0;
    double energy = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0)) ++crossings;
        energy += (double)s[i] * s[i];
    }
    EXPECT_NEAR(p.mFrequency, crossings / 2.0, p.mFrequency * 0.02);
    EXPECT_NEAR(12000 / sqrt(2.0), sqrt(energy / (to - from)), 12000 * 0.15);
}

// As a device's encoder: the priming stays in front of the sound (the file
// skips it, so its length is measured here), and every frame is timed from
// the input buffer that holds its first sample, so a jump in the input's
// time stamps shows in the output's.
TEST(AacPrimingTest, KeepsItsPrimingAndTimesFramesFromTheInput) {
    const uint32_t rate = 44100, channels = 2;
    const size_t kBlock = 2048, kBlocks = 16, kClickAt = 5 * kBlock + 300;
    const int64_t kJumpUs = 500000;  // stamps of blocks 8 on
    OmxTestClient c;
    ASSERT_EQ(OK, c.allocateNode("OMX.google.aac.encoder"));
    ASSERT_EQ(OK, c.configureAudio(rate, channels, 128000));
    ASSERT_TRUE(c.start());
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<int64_t> times;
    for (size_t b = 0; b < kBlocks; ++b) {
        times.push_back(1000 + (int64_t)(b * kBlock) * 1000000 / rate + (b >= 8 ? kJumpUs : 0));
        std::vector<uint8_t> pcm(kBlock * 2 * channels, 0);
        for (size_t i = 0; i < kBlock; ++i) {
            size_t s = b * kBlock + i;
            if (s < kClickAt || s >= kClickAt + 200) continue;
            int16_t v = ((s - kClickAt) / 10) % 2 ? -30000 : 30000;
            for (uint32_t ch = 0; ch < channels; ++ch) {
                pcm[(i * channels + ch) * 2] = v & 0xFF;
                pcm[(i * channels + ch) * 2 + 1] = (v >> 8) & 0xFF;
            }
        }
        blocks.push_back(pcm);
    }
    ASSERT_TRUE(c.encode(blocks, times, times.back() + (int64_t)kBlock * 1000000 / rate));
    ASSERT_TRUE(c.stop());
    ASSERT_GE(c.mOutputs.size(), 2 * kBlocks + 2);

    std::vector<uint8_t> adts;
    for (size_t k = 0; k + 2 < c.mOutputs.size(); ++k) {
        const Output& o = c.mOutputs[k + 1];
        size_t block = k * 1024 / kBlock;
        if (block < kBlocks) {
            int64_t expected = times[block] + (int64_t)(k * 1024 % kBlock) * 1000000 / rate;
            EXPECT_NEAR((double)expected, (double)o.mTimeUs, 2.0) << "frame " << k;
        }
        appendAdts(&adts, o.mData, rateIndex(rate), channels);
    }
    std::string in = writeTemp(".aac", adts);
    std::string out = in + ".pcm";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -f aac -i " + in + " -f s16le -ac 1 " + out));
    std::vector<uint8_t> pcm = readFile(out);
    remove(in.c_str());
    remove(out.c_str());
    const int16_t* s = (const int16_t*)pcm.data();
    long decodedAt = -1;
    for (size_t i = 0; i < pcm.size() / 2 && decodedAt < 0; ++i) {
        if (abs(s[i]) > 15000) decodedAt = (long)i;
    }
    ASSERT_GE(decodedAt, 0);
    const long delay = decodedAt - (long)kClickAt;
    printf("encoder delay: %ld samples\n", delay);
    EXPECT_NEAR(1024, delay, 16);
}

INSTANTIATE_TEST_SUITE_P(Tones, AudioEncodeTest,
                         testing::Values(ToneCase{44100, 2, 1000}, ToneCase{48000, 1, 440},
                                         ToneCase{16000, 1, 300}),
                         [](const testing::TestParamInfo<ToneCase>& info) {
                             return std::to_string(info.param.mRate) + "Hz_" +
                                    std::to_string(info.param.mChannels) + "ch";
                         });

}  // namespace
}  // namespace qor_test
