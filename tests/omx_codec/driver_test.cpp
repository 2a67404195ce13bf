// The system's own OpenMAX IL client against the host service's real
// encoder components: creation and fallbacks, data flow and time stamps,
// injected component faults, and the per-level buffer metadata.
#include <host/log_record.h>
#include <host/platform_level.h>

#include "DriverTestSupport.h"

namespace {

using namespace qor_driver_test;

TEST_F(DriverTest, EncodesFramesWithConfigFirstAndDecodingTimesInOrder) {
    useCodecs(avc(0, "OMX.vendor.avc.enc", "quirks=requires-allocate-on-input-ports"));
    const int w = 176, h = 144, frames = 12;
    sp<RawSource> source = new RawSource(w * h * 3 / 2, frames, 33333);
    sp<android::MediaSource> codec = create(videoFormat(w, h), source);
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    int outputs = 0, syncs = 0;
    int64_t lastDecodingTime = -1;
    for (;;) {
        MediaBuffer* buffer = nullptr;
        status_t err = codec->read(&buffer);
        if (err != android::OK) {
            EXPECT_EQ(android::ERROR_END_OF_STREAM, err);
            break;
        }
        sp<MetaData> meta = buffer->meta_data();
        int32_t isConfig = 0, isSync = 0;
        meta->findInt32(android::kKeyIsCodecConfig, &isConfig);
        meta->findInt32(android::kKeyIsSyncFrame, &isSync);
        int64_t timeUs = -1, decodingTimeUs = -1;
        EXPECT_TRUE(meta->findInt64(android::kKeyTime, &timeUs));
        EXPECT_TRUE(meta->findInt64(android::kKeyDecodingTime, &decodingTimeUs));
        if (outputs == 0) {
            EXPECT_EQ(1, isConfig) << "the configuration comes first";
            EXPECT_EQ(0, decodingTimeUs);
            const uint8_t* p = (const uint8_t*)buffer->data() + buffer->range_offset();
            EXPECT_EQ(0, memcmp(p, "\x00\x00\x00\x01", 4));
        } else if (buffer->range_length() > 0) {
            EXPECT_EQ(0, isConfig);
            EXPECT_GT(decodingTimeUs, lastDecodingTime);
            lastDecodingTime = decodingTimeUs;
            syncs += isSync;
        }
#if PLATFORM_LEVEL >= 21
        int32_t id;
        void* ptr;
        EXPECT_TRUE(meta->findInt32(android::kKeyBufferID, &id));
        EXPECT_FALSE(meta->findPointer(android::kKeyPlatformPrivate, &ptr));
#else
        void* id;
        void* priv;
        EXPECT_TRUE(meta->findPointer(android::kKeyBufferID, &id));
        EXPECT_TRUE(meta->findPointer(android::kKeyPlatformPrivate, &priv));
#endif
        if (buffer->range_length() > 0) ++outputs;  // the end-of-stream buffer is empty
        buffer->release();
    }
    EXPECT_EQ(frames + 1, outputs);  // configuration + one unit per frame
    EXPECT_GE(syncs, 1);
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(1, host::logCount("Successfully allocated OMX node 'OMX.vendor.avc.enc'", "OMXCodec"));
}

TEST_F(DriverTest, RefusedNodeAllocationMovesToTheNextCandidate) {
    useCodecs(avc(0, "OMX.first.avc", "fault.allocnode=1") + avc(1, "OMX.second.avc"));
    sp<android::MediaSource> codec = create(videoFormat(176, 144), new RawSource(176 * 144 * 3 / 2, 1, 33333));
    ASSERT_NE(nullptr, codec.get());
    EXPECT_EQ(0, host::logCount("Successfully allocated OMX node 'OMX.first.avc'"));
    EXPECT_EQ(1, host::logCount("Successfully allocated OMX node 'OMX.second.avc'"));
}

TEST_F(DriverTest, UnsupportedConfigurationFailsInAnOrderlyWay) {
    // Baseline not listed, then a GOP too short to encode: each candidate is
    // refused and the next tried; with none left nothing is created.
    useCodecs(avc(0, "OMX.main.only", "profilelevels=2:0x2000"));
    EXPECT_EQ(nullptr, create(videoFormat(176, 144), new RawSource(1, 1, 1)).get());
    EXPECT_EQ(1, host::logCount("Target profile (1) and level"));

    useCodecs(avc(0, "OMX.main.only", "profilelevels=2:0x2000") + avc(1, "OMX.baseline"));
    EXPECT_NE(nullptr, create(videoFormat(176, 144), new RawSource(1, 1, 1)).get());

    sp<MetaData> meta = videoFormat(176, 144);
    meta->setInt32(android::kKeyFrameRate, 2);
    EXPECT_EQ(nullptr, create(meta, new RawSource(1, 1, 1)).get());
    EXPECT_EQ(2, host::logCount("is too short for AVC recording"));
}

TEST_F(DriverTest, SoftwareAndHardwareFlagsFilterAndOrderCandidates) {
    useCodecs(avc(0, "OMX.hw.avc") + avc(1, "OMX.google.h264.encoder") + avc(2, "plain.avc"));
    std::vector<qor::CodecNameAndQuirks> matches;
    OMXCodec::findMatchingCodecs("video/avc", true, nullptr, 0, &matches);
    ASSERT_EQ(3u, matches.size());
    EXPECT_STREQ("OMX.hw.avc", matches[0].mName.string());
    OMXCodec::findMatchingCodecs("video/avc", true, nullptr, OMXCodec::kPreferSoftwareCodecs, &matches);
    ASSERT_EQ(3u, matches.size());
    EXPECT_STREQ("OMX.google.h264.encoder", matches[0].mName.string());
    EXPECT_STREQ("plain.avc", matches[1].mName.string());
    EXPECT_STREQ("OMX.hw.avc", matches[2].mName.string());
    OMXCodec::findMatchingCodecs("video/avc", true, nullptr, OMXCodec::kSoftwareCodecsOnly, &matches);
    EXPECT_EQ(2u, matches.size());
    OMXCodec::findMatchingCodecs("video/avc", true, nullptr, OMXCodec::kHardwareCodecsOnly, &matches);
    ASSERT_EQ(1u, matches.size());
    EXPECT_STREQ("OMX.hw.avc", matches[0].mName.string());
    OMXCodec::findMatchingCodecs("video/avc", true, "plain.avc", 0, &matches);
    EXPECT_EQ(1u, matches.size());
}

struct FaultCase {
    const char* name;
    const char* fault;
    const char* logLine;
};

class DriverFaultTest : public DriverTest, public ::testing::WithParamInterface<FaultCase> {};

// A component failing mid-stream: the blocked read wakes with the error,
// and stop brings the still running component back down.
TEST_P(DriverFaultTest, FailureWakesTheReaderAndStopStillWorks) {
    useCodecs(avc(0, "OMX.faulty.avc", GetParam().fault));
    const int w = 176, h = 144;
    sp<android::MediaSource> codec = create(videoFormat(w, h), new RawSource(w * h * 3 / 2, 1000, 33333));
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    status_t err = android::OK;
    int reads = 0;
    while (err == android::OK && reads < 1000) {
        MediaBuffer* buffer = nullptr;
        err = codec->read(&buffer);
        if (buffer) buffer->release();
        ++reads;
    }
    EXPECT_EQ(android::UNKNOWN_ERROR, err);
    EXPECT_EQ(1, host::logCount(GetParam().logLine, "OMXCodec"));
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(OMXCodec::ERROR, static_cast<OMXCodec*>(codec.get())->state());
}

INSTANTIATE_TEST_SUITE_P(Faults, DriverFaultTest,
                         ::testing::Values(FaultCase{"ErrorEvent", "fault.errorafter=5", "[OMX.faulty.avc] ERROR(0x"},
                                           FaultCase{"FillRefused", "fault.fillbuffer=4",
                                                     "[OMX.faulty.avc] fillBuffer failed w/ error 0x"},
                                           FaultCase{"Stall", "fault.stallafter=5",
                                                     "[OMX.faulty.avc] the component holds input but gave nothing back"},
                                           FaultCase{"EmptyRefused", "fault.emptybuffer=4",
                                                     "[OMX.faulty.avc] emptyBuffer failed w/ error 0x"}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// A component that does not list the colour format asked for refuses it in
// an orderly way; the next candidate that lists it records.
TEST_F(DriverTest, ColourFormatNotListedMovesToTheNextCandidate) {
    const int32_t kTi = qor::kColorFormatTiYUV420PackedSemiPlanar;
    useCodecs(avc(0, "OMX.without.ti") + avc(1, "OMX.with.ti", "colorformats=0x7F000100"));
    const int w = 176, h = 144;
    sp<android::MediaSource> codec = create(videoFormat(w, h, kTi), new RawSource(w * h * 3 / 2, 2, 33333));
    ASSERT_NE(nullptr, codec.get());
    const std::string refused = "[OMX.without.ti] color format " + std::to_string(kTi) + " is not supported";
    EXPECT_EQ(1, host::logCount(refused.c_str(), "OMXCodec"));
    EXPECT_EQ(1, host::logCount("Successfully allocated OMX node 'OMX.with.ti'", "OMXCodec"));

    useCodecs(avc(0, "OMX.without.ti"));
    EXPECT_EQ(nullptr, create(videoFormat(w, h, kTi), new RawSource(w * h * 3 / 2, 2, 33333)).get());
}

TEST_F(DriverTest, SourceLargerThanTheInputBufferIsAnError) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<android::MediaSource> codec = create(videoFormat(w, h), new RawSource(w * h * 4, 3, 33333));
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    MediaBuffer* buffer = nullptr;
    status_t err;
    while ((err = codec->read(&buffer)) == android::OK) buffer->release();
    EXPECT_EQ(android::UNKNOWN_ERROR, err);
    EXPECT_EQ(1, host::logCount("Codec's input buffers are too small"));
    EXPECT_EQ(android::OK, codec->stop());
}

TEST_F(DriverTest, StartTwiceIsRefusedAndAacGetsItsOwnRole) {
    useCodecs("codec.0.name=OMX.google.aac.encoder\ncodec.0.type=audio/mp4a-latm\n");
    sp<MetaData> meta = new MetaData;
    meta->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_AUDIO_AAC);
    meta->setInt32(android::kKeySampleRate, 44100);
    meta->setInt32(android::kKeyChannelCount, 1);
    meta->setInt32(android::kKeyBitRate, 64000);
    meta->setInt32(android::kKeyMaxInputSize, 8192);
    sp<android::MediaSource> codec = create(meta, new RawSource(4096, 20, 46439));
    ASSERT_NE(nullptr, codec.get());
    int32_t rate = 0;
    EXPECT_TRUE(codec->getFormat()->findInt32(android::kKeySampleRate, &rate));
    EXPECT_EQ(44100, rate);
    ASSERT_EQ(android::OK, codec->start());
    EXPECT_EQ(android::UNKNOWN_ERROR, codec->start());
    EXPECT_EQ(1, host::logCount("called start in the unexpected state: 4"));
    int units = 0;
    MediaBuffer* buffer = nullptr;
    while (codec->read(&buffer) == android::OK) {
        ++units;
        buffer->release();
    }
    EXPECT_GE(units, 20 * 2048 / 1024);
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(0, host::logCount("Failed to set standard component role"));
}


// A port-settings change that arrives while the output port is flushing (a
// seek) waits for the flush, then the output port is disabled, re-enabled
// with new buffers, and encoding goes on.
TEST_F(DriverTest, PortSettingsChangeDuringAFlushIsHandledAfterIt) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<android::MediaSource> codec = OMXCodec::Create(proxy, videoFormat(w, h), true,
                                                      new RawSource(w * h * 3 / 2, 1000, 33333));
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    MediaBuffer* buffer = nullptr;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(android::OK, codec->read(&buffer));
        buffer->release();
    }
    host::logClear();

    android::omx_message msg;
    memset(&msg, 0, sizeof(msg));
    msg.type = android::omx_message::EVENT;
    msg.u.event_data.event = OMX_EventPortSettingsChanged;
    msg.u.event_data.data1 = 1;  // output port
    msg.u.event_data.data2 = OMX_IndexParamPortDefinition;
    proxy->injectBeforeFlush(1, msg);

    android::MediaSource::ReadOptions options;
    options.setSeekTo(0);
    status_t err = codec->read(&buffer, &options);
    EXPECT_TRUE(proxy->injected());
    int more = 0;
    while (err == android::OK || err == android::INFO_FORMAT_CHANGED) {
        if (buffer != nullptr) {
            buffer->release();
            buffer = nullptr;
        }
        if (++more == 5) break;
        err = codec->read(&buffer);
    }
    EXPECT_EQ(5, more) << "encoding goes on after the reconfiguration";
    // The output buffers were freed and allocated again.
    EXPECT_EQ(1, host::logCount("qor allocating", "OMXCodec"));
    EXPECT_EQ(android::OK, codec->stop());
    proxy.clear();
}

// Messages of one callback are handled in their order under one hold of the
// codec's lock: a list on level 23, one message per callback before.
TEST_F(DriverTest, ObserverHandsMessagesOverInOrder) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<android::MediaSource> source = create(videoFormat(w, h), new RawSource(w * h * 3 / 2, 1000, 33333));
    ASSERT_NE(nullptr, source.get());
    sp<OMXCodec> codec = static_cast<OMXCodec*>(source.get());
    ASSERT_EQ(android::OK, codec->start());
    host::logClear();

    std::list<android::omx_message> messages;
    for (OMX_U32 i = 0; i < 3; ++i) {
        android::omx_message msg;
        memset(&msg, 0, sizeof(msg));
        msg.type = android::omx_message::EVENT;
        msg.u.event_data.event = OMX_EventError;
        msg.u.event_data.data1 = 0x80001000 + i;
        msg.u.event_data.data2 = i;
        messages.push_back(msg);
    }
    sp<qor::OMXCodecObserver> observer = new qor::OMXCodecObserver;
    observer->setCodec(codec);
#if PLATFORM_LEVEL >= 23
    observer->onMessages(messages);
#else
    for (const android::omx_message& msg : messages) observer->onMessage(msg);
#endif
    // The first error puts the codec in ERROR; the two after it are dropped.
    std::vector<host::LogLine> lines = host::logSnapshot();
    int error = -1, firstDrop = -1, drops = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].msg.find("] ERROR(0x80001000, 0)") != std::string::npos) error = (int)i;
        if (lines[i].msg == "Dropping OMX EVENT message - we're in ERROR state.") {
            if (firstDrop < 0) firstDrop = (int)i;
            ++drops;
        }
    }
    EXPECT_GE(error, 0);
    EXPECT_GT(firstDrop, error);
    EXPECT_GE(drops, 2);
    EXPECT_EQ(0, host::logCount("ERROR(0x80001001"));
    MediaBuffer* buffer = nullptr;
    EXPECT_EQ(android::UNKNOWN_ERROR, codec->read(&buffer));
    EXPECT_EQ(android::OK, codec->stop());
}

}  // namespace
