// What the service may refuse or decide that the driver cannot take back: a
// port command, a buffer to free at stop, a reader still holding a buffer
// when the component is down in Idle, an output format it will not describe,
// a message on the service's thread while the driver is being made. Each case
// ends in order (no abort): reads end, stop returns, and the commands the
// component got are the ones the case expects.
#include <chrono>

#include <host/log_record.h>

#include "DriverTestSupport.h"

namespace {

using namespace qor_driver_test;

const OMX_U32 kInput = 0, kOutput = 1;
const int kWidth = 176, kHeight = 144;

class DriverRefusalTest : public DriverTest {
protected:
    sp<OMXCodec> makeCodec(const sp<ProxyOMX>& proxy) {
        useCodecs(avc(0, "OMX.vendor.avc"));
        sp<android::MediaSource> source =
            OMXCodec::Create(proxy, videoFormat(kWidth, kHeight), true,
                             new RawSource(kWidth * kHeight * 3 / 2, 1000, 33333));
        return static_cast<OMXCodec*>(source.get());
    }

    static void readOne(OMXCodec* codec, const android::MediaSource::ReadOptions* options = nullptr) {
        MediaBuffer* buffer = nullptr;
        ASSERT_EQ(android::OK, codec->read(&buffer, options));
        buffer->release();
    }

    // Reads until one fails (what the component encoded before a failure
    // still comes); returns that failure.
    static status_t readUntilFailure(OMXCodec* codec,
                                     const android::MediaSource::ReadOptions* options) {
        for (int i = 0; i < 100; ++i) {
            MediaBuffer* buffer = nullptr;
            status_t err = codec->read(&buffer, i == 0 ? options : nullptr);
            if (buffer != nullptr) buffer->release();
            if (err != android::OK && err != android::INFO_FORMAT_CHANGED) return err;
        }
        return android::OK;
    }

    static OMXCodec::State settle(OMXCodec* codec, OMXCodec::State wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (codec->state() != wanted && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return codec->state();
    }
};

struct PortCommandCase {
    const char* name;
    OMX_COMMANDTYPE refused;
    OMX_U32 port;
    bool seek;  // the command comes with a seek; otherwise with new output settings
    const char* commands;
    const char* logLine;
};

// Test names show the case, not its bytes.
void PrintTo(const PortCommandCase& c, std::ostream* os) { *os << c.name; }

class DriverPortCommandTest : public DriverRefusalTest,
                              public ::testing::WithParamInterface<PortCommandCase> {};

// A port command the component refuses: the codec fails, the reader learns
// it, and stop still brings the component down through Idle.
TEST_P(DriverPortCommandTest, ARefusedPortCommandFailsTheCodecInOrder) {
    const PortCommandCase& c = GetParam();
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<OMXCodec> codec = makeCodec(proxy);
    ASSERT_NE(nullptr, codec.get());
    proxy->refuseCommand(c.refused, c.port, android::UNKNOWN_ERROR);
    ASSERT_EQ(android::OK, codec->start());

    android::MediaSource::ReadOptions seek;
    if (c.seek) {
        readOne(codec.get());
        seek.setSeekTo(0);
    } else {
        proxy->deliver(event(OMX_EventPortSettingsChanged, kOutput, OMX_IndexParamPortDefinition));
    }
    EXPECT_EQ(android::UNKNOWN_ERROR, readUntilFailure(codec.get(), c.seek ? &seek : nullptr));
    EXPECT_EQ(OMXCodec::ERROR, codec->state());
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(OMXCodec::ERROR, settle(codec.get(), OMXCodec::ERROR));
    EXPECT_EQ(c.commands, proxy->commands());
    EXPECT_EQ(1, host::logCount(c.logLine, "OMXCodec"));
    EXPECT_EQ(1, host::logCount("[OMX.vendor.avc] failed: a port command refused", "OMXCodec"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DriverPortCommandTest,
    ::testing::Values(
        PortCommandCase{"PortDisableForNewOutputSettings", OMX_CommandPortDisable, kOutput, false,
                        "Idle Executing Disable1 Idle Loaded",
                        "[OMX.vendor.avc] the component refused to disable the output port"},
        PortCommandCase{"InputFlushForASeek", OMX_CommandFlush, kInput, true,
                        "Idle Executing Flush0 Idle Loaded",
                        "[OMX.vendor.avc] the component refused to flush the input port"},
        PortCommandCase{"OutputFlushForASeek", OMX_CommandFlush, kOutput, true,
                        "Idle Executing Flush0 Flush1 Idle Loaded",
                        "[OMX.vendor.avc] the component refused to flush the output port"}),
    [](const ::testing::TestParamInfo<PortCommandCase>& info) { return info.param.name; });

struct StopCase {
    const char* name;
    int refusedFreePort;  // -1: none
    bool readerHolds;     // the reader keeps a buffer until stop returned
    const char* commands;
    const char* logLine;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class DriverStopBuffersTest : public DriverRefusalTest,
                              public ::testing::WithParamInterface<StopCase> {};

// At stop a buffer cannot be freed: the component refuses, or the reader
// still holds it (its memory must outlive the reader's use). Stop returns,
// the codec is failed, and the buffer comes home afterwards.
TEST_P(DriverStopBuffersTest, ABufferThatCannotBeFreedFailsTheStopInOrder) {
    const StopCase& c = GetParam();
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<OMXCodec> codec = makeCodec(proxy);
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    for (int i = 0; i < 3; ++i) readOne(codec.get());
    MediaBuffer* held = nullptr;
    if (c.readerHolds) {
        ASSERT_EQ(android::OK, codec->read(&held));
    }
    if (c.refusedFreePort >= 0) {
        proxy->refuseFreeBuffer((OMX_U32)c.refusedFreePort, android::UNKNOWN_ERROR);
    }

    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(OMXCodec::ERROR, codec->state());
    if (held != nullptr) held->release();
    EXPECT_EQ(c.commands, proxy->commands());
    EXPECT_EQ(1, host::logCount(c.logLine, "OMXCodec"));
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, DriverStopBuffersTest,
    ::testing::Values(
        StopCase{"InputBufferFreeRefused", (int)kInput, false, "Idle Executing Idle Loaded",
                 "[OMX.vendor.avc] failed: the component refused to free a buffer"},
        StopCase{"OutputBufferFreeRefused", (int)kOutput, false, "Idle Executing Idle Loaded",
                 "[OMX.vendor.avc] failed: the component refused to free a buffer"},
        StopCase{"ReaderHoldsAnOutputBuffer", -1, true, "Idle Executing Idle",
                 "[OMX.vendor.avc] failed: Idle reached while the reader holds an output buffer"}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

struct AnswerCase {
    const char* name;
    bool refuseOutputDefinition;  // during a reconfiguration; else raw output, crop changes
    status_t readEnd;             // what ends five reads (OK: they all succeeded)
    OMXCodec::State afterStop;
    const char* commands;
    const char* logLine;  // "" for none
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class DriverAnswerTest : public DriverRefusalTest,
                         public ::testing::WithParamInterface<AnswerCase> {};

// What the component answers about its output, however odd, never aborts:
// a format the driver cannot rebuild fails the codec; a format without the
// details an encoder's output never has is compared as it is.
TEST_P(DriverAnswerTest, AnAnswerAboutTheOutputIsTakenInOrder) {
    const AnswerCase& c = GetParam();
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<OMXCodec> codec = makeCodec(proxy);
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    if (c.refuseOutputDefinition) {
        proxy->refuseGetParameter(OMX_IndexParamPortDefinition, android::UNKNOWN_ERROR);
        proxy->deliver(event(OMX_EventPortSettingsChanged, kOutput, OMX_IndexParamPortDefinition));
    } else {
        const OMX_U32 kOutputCropConfig = 0x0700000F;  // OMX_IndexConfigCommonOutputCrop
        proxy->reportRawOutput();
        proxy->deliver(event(OMX_EventPortSettingsChanged, kOutput, kOutputCropConfig));
        proxy->deliver(event(OMX_EventPortSettingsChanged, kOutput, kOutputCropConfig));
    }
    status_t err = android::OK;
    for (int done = 0; done < 5 && err == android::OK;) {
        MediaBuffer* buffer = nullptr;
        err = codec->read(&buffer);
        if (buffer != nullptr) buffer->release();
        if (err == android::INFO_FORMAT_CHANGED) {
            err = android::OK;
        } else if (err == android::OK) {
            ++done;
        }
    }
    EXPECT_EQ(c.readEnd, err);
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(c.afterStop, settle(codec.get(), c.afterStop));
    EXPECT_EQ(c.commands, proxy->commands());
    if (*c.logLine) {
        EXPECT_EQ(1, host::logCount(c.logLine, "OMXCodec"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DriverAnswerTest,
    ::testing::Values(
        AnswerCase{"OutputDefinitionRefusedWhenReconfigured", true, android::UNKNOWN_ERROR,
                   OMXCodec::ERROR, "Idle Executing Disable1 Idle Loaded",
                   "[OMX.vendor.avc] failed: no output format after the reconfiguration"},
        AnswerCase{"RawOutputWithoutACropRectangle", false, android::OK, OMXCodec::LOADED,
                   "Idle Executing Idle Loaded", ""}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

// The service may talk to a node as soon as it exists, on its own thread,
// while the driver is still being made and hands the observer its codec
// (under ThreadSanitizer a race there shows). Whatever the message finds, the
// codec then records as usual.
TEST_F(DriverRefusalTest, AMessageWhileTheDriverIsMadeIsHandledSafely) {
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    proxy->sendOnAllocation(event(OMX_EventMark, 0, 0));
    sp<OMXCodec> codec = makeCodec(proxy);
    ASSERT_NE(nullptr, codec.get());
    ASSERT_EQ(android::OK, codec->start());
    for (int i = 0; i < 3; ++i) readOne(codec.get());
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(OMXCodec::LOADED, codec->state());
    EXPECT_EQ("Idle Executing Idle Loaded", proxy->commands());
}

}  // namespace
