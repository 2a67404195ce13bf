// An encoder's output or format that the file cannot describe: the track
// ends in order at its last good sample (or is not taken at all), its
// encoder is stopped at once so that nothing waits for a reader, the other
// track records on, and the file plays.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include <host/log_record.h>
#include <media/stagefright/MediaErrors.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

const size_t kVideoFrames = 20, kAudioFrames = 40;
// Units before it (the configuration and five frames) are good.
const size_t kBadUnit = 6;
const int kGoodBefore = 5;
const int kLeftOut = -1;

using Units = std::function<std::vector<Unit>()>;
using Format = std::function<sp<android::MetaData>()>;

struct BadOutputCase {
    const char* name;
    Units video, audio;
    Format videoFmt, audioFmt;
    bool twoByteNalLengths;
    status_t addResult;  // of the bad track's addSource
    status_t stopResult;
    int videoKept, audioKept;  // samples in the file, or kLeftOut
    const char* logLine;
};

std::vector<Unit> video() { return videoUnits(kVideoFrames); }
std::vector<Unit> audio() { return audioUnits(kAudioFrames); }
sp<android::MetaData> defaultVideoFormat() { return videoFormat(); }
sp<android::MetaData> defaultAudioFormat() { return audioFormat(); }

Units changed(Units units, std::function<void(std::vector<Unit>*)> change) {
    return [units, change] {
        std::vector<Unit> u = units();
        change(&u);
        return u;
    };
}

Units withUnitAt(Units units, std::function<Unit()> unit) {
    return changed(units, [unit](std::vector<Unit>* u) { u->insert(u->begin() + kBadUnit, unit()); });
}

Unit configUnit(Bytes data) {
    Unit u;
    u.data = std::move(data);
    u.config = true;
    u.timeUs = 0;
    return u;
}

// A slice of 70000 bytes: more than a 2-byte NAL length holds.
Unit longSlice() {
    Unit u;
    u.data = {0, 0, 0, 1, 0x01};
    u.data.resize(u.data.size() + 70000, 0x55);
    u.timeUs = u.decTimeUs = 100000 + (int64_t)(kBadUnit - 1) * 33333;
    return u;
}

Format without(Format format, uint32_t key) {
    return [format, key] {
        sp<android::MetaData> m = format();
        m->remove(key);
        return m;
    };
}

// Test names show the case, not its bytes.
void PrintTo(const BadOutputCase& c, std::ostream* os) { *os << c.name; }

const status_t kMalformed = android::ERROR_MALFORMED;

const BadOutputCase kCases[] = {
    {"VideoSampleWithoutTime",
     changed(video, [](std::vector<Unit>* u) { (*u)[kBadUnit].hasTime = false; }), audio,
     defaultVideoFormat, defaultAudioFormat, false, 0, kMalformed, kGoodBefore, (int)kAudioFrames,
     "The Video encoder's output is unusable (a sample without a time)"},
    {"VideoSampleWithoutDecodingTime",
     changed(video, [](std::vector<Unit>* u) { (*u)[kBadUnit].decTimeUs = -1; }), audio,
     defaultVideoFormat, defaultAudioFormat, false, 0, kMalformed, kGoodBefore, (int)kAudioFrames,
     "The Video encoder's output is unusable (a sample without a decoding time)"},
    {"DecodingTimeAfterThePresentation",
     changed(video,
             [](std::vector<Unit>* u) { (*u)[kBadUnit].decTimeUs = (*u)[kBadUnit].timeUs + 2000000; }),
     audio, defaultVideoFormat, defaultAudioFormat, false, 0, kMalformed, kGoodBefore,
     (int)kAudioFrames,
     "The Video encoder's output is unusable (a decoding time far after the presentation)"},
    {"DifferentConfigurationMidStream", withUnitAt(video, [] {
         Bytes config = avcConfigBuffer();
         config.push_back(0x80);  // one more byte to the PPS
         return configUnit(config);
     }),
     audio, defaultVideoFormat, defaultAudioFormat, false, 0, kMalformed, kGoodBefore,
     (int)kAudioFrames,
     "The Video encoder's output is unusable (a second, different configuration)"},
    {"SameConfigurationRepeated", withUnitAt(video, [] { return configUnit(avcConfigBuffer()); }),
     audio, defaultVideoFormat, defaultAudioFormat, false, 0, 0, (int)kVideoFrames,
     (int)kAudioFrames, "The Video encoder repeated its configuration: ignored"},
    {"NalUnitTooLongForTwoByteLengths",
     changed(video, [](std::vector<Unit>* u) { (*u)[kBadUnit] = longSlice(); }), audio,
     defaultVideoFormat, defaultAudioFormat, true, 0, kMalformed, kGoodBefore, (int)kAudioFrames,
     "The Video encoder's output is unusable (a NAL unit too long for 2-byte lengths)"},
    {"AudioSampleWithoutTime", video,
     changed(audio, [](std::vector<Unit>* u) { (*u)[kBadUnit].hasTime = false; }),
     defaultVideoFormat, defaultAudioFormat, false, 0, kMalformed, (int)kVideoFrames, kGoodBefore,
     "The Audio encoder's output is unusable (a sample without a time)"},
    {"AudioConfigurationTooLongForEsds", video,
     changed(audio, [](std::vector<Unit>* u) { (*u)[0].data.resize(120, 0x11); }),
     defaultVideoFormat, defaultAudioFormat, false, 0, kMalformed, (int)kVideoFrames, kLeftOut,
     "The Audio encoder's configuration (120 bytes) cannot be described"},
    {"VideoFormatWithoutWidth", video, audio, without(defaultVideoFormat, android::kKeyWidth),
     defaultAudioFormat, false, kMalformed, 0, kLeftOut, (int)kAudioFrames,
     "The video/avc track's format lacks a width: not added"},
    {"AudioFormatWithoutSampleRate", video, audio, defaultVideoFormat,
     without(defaultAudioFormat, android::kKeySampleRate), false, kMalformed, 0,
     (int)kVideoFrames, kLeftOut, "The audio/mp4a-latm track's format lacks a sample rate: not added"},
};

class WriterBadOutput : public ::testing::TestWithParam<BadOutputCase> {};

TEST_P(WriterBadOutput, TheTrackEndsInOrderAndTheFilePlays) {
    const BadOutputCase& c = GetParam();
    host::logClear();
    const std::string path = tempPath(std::string("bad_output_") + c.name + ".mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    sp<ReplaySource> a = new ReplaySource(c.audioFmt(), c.audio());
    sp<ReplaySource> v = new ReplaySource(c.videoFmt(), c.video());
    const status_t addAudio = writer->addSource(a);
    const status_t addVideo = writer->addSource(v);
    EXPECT_EQ(c.audioKept == kLeftOut ? c.addResult : 0, addAudio);
    EXPECT_EQ(c.videoKept == kLeftOut ? c.addResult : 0, addVideo);
    sp<android::MetaData> params = new android::MetaData;
    if (c.twoByteNalLengths) params->setInt32(android::kKey2ByteNalLength, 1);
    ASSERT_EQ(0, writer->start(params.get()));
    ASSERT_TRUE(waitForEOS(writer.get()));
    // A track the encoder's output ended stopped its source right away.
    const bool videoEnded = c.stopResult != 0 && c.videoKept != (int)kVideoFrames;
    const bool audioEnded = c.stopResult != 0 && c.audioKept != (int)kAudioFrames;
    EXPECT_EQ(videoEnded && addVideo == 0, v->stopped());
    EXPECT_EQ(audioEnded && addAudio == 0, a->stopped());
    EXPECT_EQ(c.stopResult, writer->stop());
    EXPECT_EQ(1, host::logCount(c.logLine, "MPEG4Writer"));

    std::map<std::string, int> kept;
    for (auto& s : probeStreams(path)) kept[s["codec_name"]] = atoi(s["nb_read_packets"].c_str());
    EXPECT_EQ(c.videoKept, kept.count("h264") ? kept["h264"] : kLeftOut);
    EXPECT_EQ(c.audioKept, kept.count("aac") ? kept["aac"] : kLeftOut);
    EXPECT_EQ("", decodeErrors(path));
}

INSTANTIATE_TEST_SUITE_P(Encoders, WriterBadOutput, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BadOutputCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace wtest
