// The driver's state machine under scripted conversations with a real
// component: each case puts messages of its own into the conversation (in
// place of one the component sends, or as the service would, after start)
// or has a command refused, and checks where start(), read() and stop()
// leave the driver and which commands reached the component.
#include <chrono>

#include <host/log_record.h>

#include "DriverTestSupport.h"

namespace {

using namespace qor_driver_test;

const OMX_U32 kOutput = 1;
const OMX_U32 kOutputCropConfig = 0x0700000F;  // OMX_IndexConfigCommonOutputCrop
const OMX_U32 kScaleConfig = 0x07000005;       // OMX_IndexConfigCommonScale

android::omx_message error() { return event(OMX_EventError, (OMX_U32)OMX_ErrorHardware, 0); }
android::omx_message stateReached(OMX_STATETYPE state) {
    return event(OMX_EventCmdComplete, OMX_CommandStateSet, state);
}
android::omx_message outputSettingsChanged(OMX_U32 index) {
    return event(OMX_EventPortSettingsChanged, kOutput, index);
}

android::omx_message emptyBufferDoneOfNoBuffer() {
    android::omx_message msg;
    memset(&msg, 0, sizeof(msg));
    msg.type = android::omx_message::EMPTY_BUFFER_DONE;
    msg.u.buffer_data.buffer = (android::IOMX::buffer_id)0xBEEF;
    return msg;
}

struct Replacement {
    bool active;
    OMX_EVENTTYPE event;
    OMX_U32 data1, data2;
    android::omx_message with;
};
const Replacement kNoReplacement{};

struct StateScript {
    const char* name;
    int frames;                 // the source's frames, then its end
    status_t sourceEnd;         // what the source's read returns at its end
    Replacement replace;        // a component message the driver gets in another form
    OMX_COMMANDTYPE refusedCmd;  // a command the service refuses (OMX_CommandMax: none)
    bool enableWaitsForInput;   // the output port's enabling is reported late
    std::vector<android::omx_message> afterStart;  // handed over once start() returned
    status_t startResult;
    OMX_U32 readsWanted;        // successful reads before the script stops reading
    status_t readEnd;           // what ends reading (OK: the wanted reads succeeded)
    OMXCodec::State afterReads;
    OMXCodec::State afterStop;
    const char* commands;       // every command the component was sent
    const char* logLine;        // a line the driver logs exactly once ("" for none)
};

const status_t kUnknown = android::UNKNOWN_ERROR;
const OMX_COMMANDTYPE kNone = OMX_CommandMax;

const StateScript kScripts[] = {
    // Start-up: the awaited state never comes and start() fails; stop()
    // brings down a component that reached Executing all the same.
    {"ErrorInsteadOfIdle", 1000, android::ERROR_END_OF_STREAM,
     {true, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle, error()}, kNone, false, {},
     kUnknown, 1, kUnknown, OMXCodec::ERROR, OMXCodec::ERROR, "Idle",
     "[OMX.vendor.avc] init failed"},
    {"InvalidInsteadOfExecuting", 1000, android::ERROR_END_OF_STREAM,
     {true, OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateExecuting,
      stateReached(OMX_StateInvalid)},
     kNone, false, {}, kUnknown, 1, kUnknown, OMXCodec::ERROR, OMXCodec::ERROR,
     "Idle Executing Idle Loaded", "[OMX.vendor.avc] init failed"},
    // Executing: an error or an invalid component wakes the reader; stop()
    // still brings the component to Loaded and the driver stays in ERROR.
    {"ErrorWhileExecuting", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false, {error()},
     android::OK, 1, kUnknown, OMXCodec::ERROR, OMXCodec::ERROR, "Idle Executing Idle Loaded",
     "[OMX.vendor.avc] ERROR(0x"},
    {"InvalidWhileExecuting", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {stateReached(OMX_StateInvalid)}, android::OK, 1, kUnknown, OMXCodec::ERROR, OMXCodec::ERROR,
     "Idle Executing Idle Loaded", ""},
    // In ERROR, events are dropped: a completion for a command never sent
    // would otherwise break the port bookkeeping.
    {"EventsAfterAnErrorAreDropped", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {error(), event(OMX_EventCmdComplete, OMX_CommandPortDisable, kOutput)}, android::OK, 1,
     kUnknown, OMXCodec::ERROR, OMXCodec::ERROR, "Idle Executing Idle Loaded",
     "Dropping OMX EVENT message - we're in ERROR state."},
    // New output port settings: the port goes down, comes back with new
    // buffers, and encoding goes on.
    {"OutputSettingsChanged", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, true,
     {outputSettingsChanged(OMX_IndexParamPortDefinition)}, android::OK, 5, android::OK,
     OMXCodec::EXECUTING, OMXCodec::LOADED, "Idle Executing Disable1 Enable1 Idle Loaded", ""},
    {"OutputSettingsChangedWithoutIndex", 1000, android::ERROR_END_OF_STREAM, kNoReplacement,
     kNone, true, {outputSettingsChanged(0)}, android::OK, 5, android::OK, OMXCodec::EXECUTING,
     OMXCodec::LOADED, "Idle Executing Disable1 Enable1 Idle Loaded", ""},
    // A crop change or a change of anything else needs no reconfiguration.
    {"OutputCropChanged", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {outputSettingsChanged(kOutputCropConfig)}, android::OK, 5, android::OK, OMXCodec::EXECUTING,
     OMXCodec::LOADED, "Idle Executing Idle Loaded", ""},
    {"UnrelatedSettingChanged", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {outputSettingsChanged(OMX_IndexParamVideoAvc)}, android::OK, 5, android::OK,
     OMXCodec::EXECUTING, OMXCodec::LOADED, "Idle Executing Idle Loaded", ""},
    // The output port refused back: ERROR; stop() frees what the driver
    // holds without a state command to the component, which, still
    // running, reports its emptied input port as an error.
    {"PortEnableRefused", 1000, android::ERROR_END_OF_STREAM, kNoReplacement,
     OMX_CommandPortEnable, false, {outputSettingsChanged(OMX_IndexParamPortDefinition)}, android::OK, 1,
     kUnknown, OMXCodec::ERROR, OMXCodec::ERROR, "Idle Executing Disable1 Enable1",
     "[OMX.vendor.avc] enablePortAsync(1) failed"},
    // The end of the source is the end of the stream; a source's error is
    // what the last read returns.
    {"EndOfStream", 3, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false, {}, android::OK, 1000,
     android::ERROR_END_OF_STREAM, OMXCodec::EXECUTING, OMXCodec::LOADED,
     "Idle Executing Idle Loaded", ""},
    // What a component may say but an encoder never should: no abort. A
    // scale event has no picture to scale (ignored); a new input port, a
    // state or a port change nobody asked for end the codec; a buffer the
    // component never had is ignored.
    {"ScaleEventOnAnEncoder", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {outputSettingsChanged(kScaleConfig)}, android::OK, 5, android::OK, OMXCodec::EXECUTING,
     OMXCodec::LOADED, "Idle Executing Idle Loaded",
     "[OMX.vendor.avc] scale event without a crop rectangle: ignored"},
    {"InputPortSettingsChanged", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {event(OMX_EventPortSettingsChanged, 0, OMX_IndexParamPortDefinition)}, android::OK, 1,
     kUnknown, OMXCodec::ERROR, OMXCodec::ERROR, "Idle Executing Idle Loaded",
     "[OMX.vendor.avc] port 0 settings changed while busy"},
    {"IdleReachedUnasked", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {stateReached(OMX_StateIdle)}, android::OK, 1, kUnknown, OMXCodec::ERROR, OMXCodec::ERROR,
     "Idle Executing Idle Loaded", "[OMX.vendor.avc] failed: Idle reached unasked"},
    {"PauseReachedUnasked", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {stateReached(OMX_StatePause)}, android::OK, 1, kUnknown, OMXCodec::ERROR, OMXCodec::ERROR,
     "Idle Executing Idle Loaded", "[OMX.vendor.avc] failed: an unexpected component state"},
    {"PortDisabledUnasked", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {event(OMX_EventCmdComplete, OMX_CommandPortDisable, kOutput)}, android::OK, 1, kUnknown,
     OMXCodec::ERROR, OMXCodec::ERROR, "Idle Executing Idle Loaded",
     "[OMX.vendor.avc] failed: a port disabled unasked"},
    {"BufferOfNoPort", 1000, android::ERROR_END_OF_STREAM, kNoReplacement, kNone, false,
     {emptyBufferDoneOfNoBuffer()}, android::OK, 5, android::OK,
     OMXCodec::EXECUTING, OMXCodec::LOADED, "Idle Executing Idle Loaded",
     "[OMX.vendor.avc] a message for buffer 48879, not one of port 0's"},
    {"SourceErrorEndsTheStream", 3, android::ERROR_IO, kNoReplacement, kNone, false, {}, android::OK,
     1000, android::ERROR_IO, OMXCodec::EXECUTING, OMXCodec::LOADED, "Idle Executing Idle Loaded",
     ""},
};

class DriverStateTest : public DriverTest, public ::testing::WithParamInterface<StateScript> {
protected:
    // The component's own messages come on the service's threads: give an
    // expected state a moment to arrive.
    static OMXCodec::State settle(OMXCodec* codec, OMXCodec::State wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (codec->state() != wanted && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return codec->state();
    }

    // Reads until `wanted` reads succeeded or one fails; returns the failure
    // (OK when all succeeded).
    static status_t readSome(OMXCodec* codec, OMX_U32 wanted) {
        for (OMX_U32 done = 0; done < wanted;) {
            MediaBuffer* buffer = nullptr;
            status_t err = codec->read(&buffer);
            if (buffer != nullptr) buffer->release();
            if (err == android::INFO_FORMAT_CHANGED) continue;
            if (err != android::OK) return err;
            ++done;
        }
        return android::OK;
    }
};

TEST_P(DriverStateTest, ReachesTheScriptedStateAndOutcome) {
    const StateScript& script = GetParam();
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    if (script.replace.active) {
        proxy->replaceEvent(script.replace.event, script.replace.data1, script.replace.data2,
                            script.replace.with);
    }
    if (script.refusedCmd != kNone) {
        proxy->refuseCommand(script.refusedCmd, kOutput, android::UNKNOWN_ERROR);
    }
    // A reconfiguration that ends before the first read would let the
    // component's first output be handed out twice: the first read comes
    // while the driver still waits for the port.
    if (script.enableWaitsForInput) {
        proxy->holdEventUntilInput(OMX_EventCmdComplete, OMX_CommandPortEnable, kOutput);
    }
    sp<android::MediaSource> source =
            OMXCodec::Create(proxy, videoFormat(w, h), true,
                             new RawSource(w * h * 3 / 2, script.frames, 33333, script.sourceEnd));
    ASSERT_NE(nullptr, source.get());
    sp<OMXCodec> codec = static_cast<OMXCodec*>(source.get());

    EXPECT_EQ(script.startResult, codec->start());
    for (const android::omx_message& msg : script.afterStart) proxy->deliver(msg);
    if (script.afterReads == OMXCodec::ERROR) settle(codec.get(), OMXCodec::ERROR);

    EXPECT_EQ(script.readEnd, readSome(codec.get(), script.readsWanted));
    EXPECT_EQ(script.afterReads, settle(codec.get(), script.afterReads));
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(script.afterStop, settle(codec.get(), script.afterStop));
    EXPECT_EQ(script.commands, proxy->commands());
    if (*script.logLine) {
        EXPECT_EQ(1, host::logCount(script.logLine, "OMXCodec"));
    }
    // Nothing was refused that the script did not refuse.
    EXPECT_EQ(0, host::logCount("allocateBuffersOnPort", "OMXCodec"));
}

INSTANTIATE_TEST_SUITE_P(Scripts, DriverStateTest, ::testing::ValuesIn(kScripts),
                         [](const ::testing::TestParamInfo<StateScript>& info) {
                             return info.param.name;
                         });

// A seek flushes both ports; a stop after it still finds every buffer home
// and brings the component to Loaded.
TEST_F(DriverTest, StopAfterASeekBringsTheComponentToLoaded) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<android::MediaSource> source = OMXCodec::Create(proxy, videoFormat(w, h), true,
                                                       new RawSource(w * h * 3 / 2, 1000, 33333));
    ASSERT_NE(nullptr, source.get());
    sp<OMXCodec> codec = static_cast<OMXCodec*>(source.get());
    ASSERT_EQ(android::OK, codec->start());
    MediaBuffer* buffer = nullptr;
    ASSERT_EQ(android::OK, codec->read(&buffer));
    buffer->release();
    android::MediaSource::ReadOptions options;
    options.setSeekTo(0);
    ASSERT_EQ(android::OK, codec->read(&buffer, &options));
    buffer->release();
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ(OMXCodec::LOADED, codec->state());
    EXPECT_EQ("Idle Executing Flush0 Flush1 Idle Loaded", proxy->commands());
}

// The writer holds an encoded buffer when the component changes its output
// port: the buffer's memory would go with the port, so the codec ends
// instead, and the buffer still comes home.
TEST_F(DriverTest, OutputSettingsChangeWhileTheReaderHoldsABufferEndsTheCodec) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<android::MediaSource> source = OMXCodec::Create(proxy, videoFormat(w, h), true,
                                                       new RawSource(w * h * 3 / 2, 1000, 33333));
    ASSERT_NE(nullptr, source.get());
    sp<OMXCodec> codec = static_cast<OMXCodec*>(source.get());
    ASSERT_EQ(android::OK, codec->start());
    MediaBuffer* held = nullptr;
    ASSERT_EQ(android::OK, codec->read(&held));
    proxy->deliver(outputSettingsChanged(OMX_IndexParamPortDefinition));
    EXPECT_EQ(OMXCodec::ERROR, codec->state());
    EXPECT_EQ(1, host::logCount("[OMX.vendor.avc] port 1 settings changed while encoded buffers "
                                "are out",
                                "OMXCodec"));
    held->release();
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_EQ("Idle Executing Idle Loaded", proxy->commands());
}

// The component's answer to the stop never comes (a port change arrives
// in its place, and is ignored while stopping): stop gives up within its
// limit and leaves the codec failed.
TEST_F(DriverTest, StopWithoutAnAnswerEndsWithinItsLimit) {
    useCodecs(avc(0, "OMX.vendor.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    sp<android::MediaSource> source = OMXCodec::Create(proxy, videoFormat(w, h), true,
                                                       new RawSource(w * h * 3 / 2, 1000, 33333));
    ASSERT_NE(nullptr, source.get());
    sp<OMXCodec> codec = static_cast<OMXCodec*>(source.get());
    ASSERT_EQ(android::OK, codec->start());
    MediaBuffer* buffer = nullptr;
    ASSERT_EQ(android::OK, codec->read(&buffer));
    buffer->release();
    proxy->replaceEvent(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle,
                        outputSettingsChanged(OMX_IndexParamPortDefinition));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(android::OK, codec->stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(OMXCodec::ERROR, codec->state());
    EXPECT_EQ(1, host::logCount("[OMX.vendor.avc] port 1 settings changed in state 5: ignored",
                                "OMXCodec"));
    EXPECT_EQ(1, host::logCount("[OMX.vendor.avc] no answer to the stop", "OMXCodec"));
}

struct RefusedSetting {
    const char* name;
    OMX_INDEXTYPE index;
    const char* logLine;
};

class DriverConfigurationTest : public DriverTest,
                                public ::testing::WithParamInterface<RefusedSetting> {};

// A component refusing a setting it should take fails its configuration in
// an orderly way: the lookup goes on to the next candidate.
TEST_P(DriverConfigurationTest, RefusedSettingMakesTheLookupTryTheNextComponent) {
    useCodecs(avc(0, "OMX.first.avc") + avc(1, "OMX.second.avc"));
    const int w = 176, h = 144;
    sp<ProxyOMX> proxy = new ProxyOMX(mClient.interface());
    proxy->refuseSetParameter(GetParam().index, android::UNKNOWN_ERROR);
    sp<android::MediaSource> source =
        OMXCodec::Create(proxy, videoFormat(w, h), true, new RawSource(w * h * 3 / 2, 10, 33333));
    ASSERT_NE(nullptr, source.get());
    EXPECT_EQ(1, host::logCount(GetParam().logLine, "OMXCodec"));
    EXPECT_EQ(android::OK, source->start());
    MediaBuffer* buffer = nullptr;
    ASSERT_EQ(android::OK, source->read(&buffer));
    buffer->release();
    EXPECT_EQ(android::OK, source->stop());
    EXPECT_EQ(1, host::logCount("Successfully allocated OMX node 'OMX.second.avc'", "OMXCodec"));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DriverConfigurationTest,
    ::testing::Values(
        RefusedSetting{"InputPortDefinition", OMX_IndexParamPortDefinition,
                       "[OMX.first.avc] the component refused the input port definition"},
        RefusedSetting{"AvcParameters", OMX_IndexParamVideoAvc,
                       "[OMX.first.avc] the component refused the AVC parameters"},
        RefusedSetting{"BitRate", OMX_IndexParamVideoBitrate,
                       "[OMX.first.avc] the component refused the bit rate"}),
    [](const ::testing::TestParamInfo<RefusedSetting>& info) { return info.param.name; });

}  // namespace
