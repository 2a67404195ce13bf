// The system's own OpenMAX IL client against the host service's real
// encoder components: creation and fallbacks, data flow and time stamps,
// injected component faults, and the per-level buffer metadata.
#include "omx_codec/OMXCodec.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <atomic>
#include <list>
#include <thread>
#include <string>
#include <vector>

#include <host/log_record.h>
#include <host/platform_level.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/OMXClient.h>

#include <gtest/gtest.h>

namespace {

using android::MediaBuffer;
using android::MetaData;
using android::sp;
using android::status_t;
using qor::OMXCodec;

// Raw I420 frames (or PCM blocks) with increasing time stamps, then the end.
class RawSource : public android::MediaSource {
public:
    RawSource(size_t bytes, int count, int64_t stepUs) : mBytes(bytes), mCount(count), mStepUs(stepUs) {
        mFormat = new MetaData;
        mFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_RAW);
    }
    status_t start(MetaData*) override { return android::OK; }
    status_t stop() override { return android::OK; }
    sp<MetaData> getFormat() override { return mFormat; }
    status_t read(MediaBuffer** out, const ReadOptions*) override {
        if (mRead >= mCount) return android::ERROR_END_OF_STREAM;
        MediaBuffer* b = new MediaBuffer(mBytes);
        memset(b->data(), (mRead * 37) & 0xFF, mBytes);
        b->meta_data()->setInt64(android::kKeyTime, 1000 + mRead * mStepUs);
        ++mRead;
        *out = b;
        return android::OK;
    }

private:
    size_t mBytes;
    int mCount, mRead = 0;
    int64_t mStepUs;
    sp<MetaData> mFormat;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::logClear();
        ASSERT_EQ(android::OK, mClient.connect());
    }
    void TearDown() override {
        mClient.disconnect();
        unsetenv("DEVICE_PROFILE");
    }

    void useCodecs(const std::string& codecs) {
        static int serial = 0;
        std::string path = ::testing::TempDir() + "driver_profile_" + std::to_string(getpid()) +
                           "_" + std::to_string(++serial);
        std::ofstream(path) << "ro.board.platform=msm8960\n" << codecs;
        setenv("DEVICE_PROFILE", path.c_str(), 1);
    }

    static sp<MetaData> videoFormat(int w, int h, int32_t color = 19, int iFrameInterval = 1) {
        sp<MetaData> meta = new MetaData;
        meta->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_AVC);
        meta->setInt32(android::kKeyColorFormat, color);
        meta->setInt32(android::kKeyWidth, w);
        meta->setInt32(android::kKeyHeight, h);
        meta->setInt32(android::kKeyFrameRate, 30);
        meta->setInt32(android::kKeyBitRate, 500000);
        meta->setInt32(android::kKeyStride, w);
        meta->setInt32(android::kKeySliceHeight, h);
        meta->setInt32(android::kKeyIFramesInterval, iFrameInterval);
        return meta;
    }

    sp<android::MediaSource> create(const sp<MetaData>& meta, const sp<android::MediaSource>& source,
                                    const char* name = nullptr, uint32_t flags = 0) {
        return OMXCodec::Create(mClient.interface(), meta, true, source, name, flags);
    }

    android::OMXClient mClient;
};

const char kAvc[] = "codec.%d.name=%s\ncodec.%d.type=video/avc\ncodec.%d.colorformats=19,21\n";

std::string avc(int n, const char* name, const std::string& extra = "") {
    char line[512];
    snprintf(line, sizeof(line), kAvc, n, name, n, n);
    std::string s = line;
    if (!extra.empty()) s += "codec." + std::to_string(n) + "." + extra + "\n";
    return s;
}

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
                                                     "[OMX.faulty.avc] fillBuffer failed w/ error 0x"}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

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


// Forwards every call to the host service, and lets a test slip messages of
// its own in front of a command the driver sends.
class ProxyOMX : public android::IOMX {
public:
    explicit ProxyOMX(const sp<android::IOMX>& real) : mReal(real) {}
    ~ProxyOMX() override {
        for (std::thread& t : mThreads) t.join();
    }

    // Before forwarding the next flush of `port`, deliver `msg` (on a thread
    // of its own, as the service would) and wait until it was handled.
    void injectBeforeFlush(OMX_U32 port, const android::omx_message& msg) {
        mInjectPort = port;
        mInject = msg;
        mArmed = true;
    }
    bool injected() const { return mInjected; }

    bool livesLocally(node_id node, pid_t pid) override { return mReal->livesLocally(node, pid); }
    status_t listNodes(std::list<ComponentInfo>* list) override { return mReal->listNodes(list); }
    status_t allocateNode(const char* name, const sp<android::IOMXObserver>& observer,
                          node_id* node) override {
        mObserver = observer;
        return mReal->allocateNode(name, observer, node);
    }
    status_t freeNode(node_id node) override { return mReal->freeNode(node); }
    status_t sendCommand(node_id node, OMX_COMMANDTYPE cmd, OMX_S32 param) override {
        if (mArmed && cmd == OMX_CommandFlush && (OMX_U32)param == mInjectPort) {
            mArmed = false;
            // The driver holds its lock here: deliver from another thread,
            // then let the flush go on.
            mThreads.emplace_back([this, node, cmd, param] {
#if PLATFORM_LEVEL >= 23
                mObserver->onMessages({mInject});
#else
                mObserver->onMessage(mInject);
#endif
                mInjected = true;
                mReal->sendCommand(node, cmd, param);
            });
            return android::OK;
        }
        return mReal->sendCommand(node, cmd, param);
    }
    status_t getParameter(node_id n, OMX_INDEXTYPE i, void* p, size_t s) override {
        return mReal->getParameter(n, i, p, s);
    }
    status_t setParameter(node_id n, OMX_INDEXTYPE i, const void* p, size_t s) override {
        return mReal->setParameter(n, i, p, s);
    }
    status_t getConfig(node_id n, OMX_INDEXTYPE i, void* p, size_t s) override {
        return mReal->getConfig(n, i, p, s);
    }
    status_t setConfig(node_id n, OMX_INDEXTYPE i, const void* p, size_t s) override {
        return mReal->setConfig(n, i, p, s);
    }
    status_t getState(node_id n, OMX_STATETYPE* state) override { return mReal->getState(n, state); }
    status_t storeMetaDataInBuffers(node_id n, port_index_t port, OMX_BOOL enable) override {
        return mReal->storeMetaDataInBuffers(n, port, enable);
    }
#if PLATFORM_LEVEL >= 23
    status_t useBuffer(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                       buffer_id* buffer, OMX_U32 size) override {
        return mReal->useBuffer(n, port, mem, buffer, size);
    }
    status_t allocateBufferWithBackup(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                                      buffer_id* buffer, OMX_U32 size) override {
        return mReal->allocateBufferWithBackup(n, port, mem, buffer, size);
    }
    status_t fillBuffer(node_id n, buffer_id buffer, int fence) override {
        return mReal->fillBuffer(n, buffer, fence);
    }
    status_t emptyBuffer(node_id n, buffer_id buffer, OMX_U32 offset, OMX_U32 length, OMX_U32 flags,
                         OMX_TICKS timestamp, int fence) override {
        return mReal->emptyBuffer(n, buffer, offset, length, flags, timestamp, fence);
    }
#else
    status_t useBuffer(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                       buffer_id* buffer) override {
        return mReal->useBuffer(n, port, mem, buffer);
    }
    status_t allocateBufferWithBackup(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                                      buffer_id* buffer) override {
        return mReal->allocateBufferWithBackup(n, port, mem, buffer);
    }
    status_t fillBuffer(node_id n, buffer_id buffer) override { return mReal->fillBuffer(n, buffer); }
    status_t emptyBuffer(node_id n, buffer_id buffer, OMX_U32 offset, OMX_U32 length, OMX_U32 flags,
                         OMX_TICKS timestamp) override {
        return mReal->emptyBuffer(n, buffer, offset, length, flags, timestamp);
    }
#endif
    status_t allocateBuffer(node_id n, port_index_t port, size_t size, buffer_id* buffer,
                            void** data) override {
        return mReal->allocateBuffer(n, port, size, buffer, data);
    }
    status_t freeBuffer(node_id n, port_index_t port, buffer_id buffer) override {
        return mReal->freeBuffer(n, port, buffer);
    }
    status_t getExtensionIndex(node_id n, const char* name, OMX_INDEXTYPE* index) override {
        return mReal->getExtensionIndex(n, name, index);
    }

private:
    sp<android::IOMX> mReal;
    sp<android::IOMXObserver> mObserver;
    std::vector<std::thread> mThreads;
    std::atomic<bool> mArmed{false};
    std::atomic<bool> mInjected{false};
    OMX_U32 mInjectPort = 0;
    android::omx_message mInject;
};

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
