// What the driver tests share: a raw source, the fixture that points the
// host service at a device profile, and a forwarding service a test can
// script.
#ifndef QOR_TESTS_DRIVER_TEST_SUPPORT_H_
#define QOR_TESTS_DRIVER_TEST_SUPPORT_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <binder/ProcessState.h>
#include <media/IOMX.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/OMXClient.h>

#include <gtest/gtest.h>

#include "common/ColorFormat.h"
#include "omx_codec/OMXCodec.h"

namespace qor_driver_test {

// An event message as the component's service delivers it.
inline android::omx_message event(OMX_EVENTTYPE type, OMX_U32 data1, OMX_U32 data2) {
    android::omx_message msg;
    memset(&msg, 0, sizeof(msg));
    msg.type = android::omx_message::EVENT;
    msg.u.event_data.event = type;
    msg.u.event_data.data1 = data1;
    msg.u.event_data.data2 = data2;
    return msg;
}

using android::MediaBuffer;
using android::MetaData;
using android::sp;
using android::status_t;
using qor::OMXCodec;

// Raw I420 frames (or PCM blocks) with increasing time stamps, then the end
// (or the error `endStatus`).
class RawSource : public android::MediaSource {
public:
    RawSource(size_t bytes, int count, int64_t stepUs, status_t endStatus = android::ERROR_END_OF_STREAM)
        : mBytes(bytes), mCount(count), mStepUs(stepUs), mEndStatus(endStatus) {
        mFormat = new MetaData;
        mFormat->setCString(android::kKeyMIMEType, android::MEDIA_MIMETYPE_VIDEO_RAW);
    }
    status_t start(MetaData*) override { return android::OK; }
    status_t stop() override { return android::OK; }
    sp<MetaData> getFormat() override { return mFormat; }
    status_t read(MediaBuffer** out, const ReadOptions*) override {
        if (mRead >= mCount) return mEndStatus;
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
    status_t mEndStatus;
    sp<MetaData> mFormat;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::logClear();
        // The service holds its messages until the process takes them.
        android::ProcessState::self()->startThreadPool();
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

    static sp<MetaData> videoFormat(int w, int h, int32_t color = qor::kColorFormatYUV420Planar, int iFrameInterval = 1) {
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

inline const char kAvc[] = "codec.%d.name=%s\ncodec.%d.type=video/avc\ncodec.%d.colorformats=19,21\n";

inline std::string avc(int n, const char* name, const std::string& extra = "") {
    char line[512];
    snprintf(line, sizeof(line), kAvc, n, name, n, n);
    std::string s = line;
    if (!extra.empty()) s += "codec." + std::to_string(n) + "." + extra + "\n";
    return s;
}

// Forwards every call to the host service, and lets a test script the
// conversation: slip messages of its own in front of a command the driver
// sends, deliver messages as the service would, put a message of its own in
// place of one the component sends, refuse a command, overstate a fill or
// split frames over two buffers. It notes every command the driver sends.
class ProxyOMX : public android::IOMX {
public:
    explicit ProxyOMX(const sp<android::IOMX>& real) : mReal(real), mRelay(new Relay(this)) {}
    ~ProxyOMX() override {
        for (std::thread& t : mThreads) t.join();
    }

    // The component's next message that is an event `event` with `data1`
    // and `data2` reaches the driver as `replacement`.
    void replaceEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2,
                      const android::omx_message& replacement) {
        std::lock_guard<std::mutex> guard(mMutex);
        mReplaceEvent = {event, data1, data2, replacement, true};
    }
    // The next setParameter of `index` is refused with `err`, unsent.
    void refuseSetParameter(OMX_INDEXTYPE index, status_t err) {
        std::lock_guard<std::mutex> guard(mMutex);
        mRefuseParam = {(OMX_COMMANDTYPE)0, (OMX_U32)index, err, true};
    }
    // The next command `cmd` on `param` is refused with `err`, unsent.
    void refuseCommand(OMX_COMMANDTYPE cmd, OMX_U32 param, status_t err) {
        std::lock_guard<std::mutex> guard(mMutex);
        mRefuse = {cmd, param, err, true};
    }
    // The next getParameter of `index` is refused with `err`, unsent.
    void refuseGetParameter(OMX_INDEXTYPE index, status_t err) {
        std::lock_guard<std::mutex> guard(mMutex);
        mRefuseGetParam = {(OMX_COMMANDTYPE)0, (OMX_U32)index, err, true};
    }
    // From now on the output port's definition says it carries raw video.
    void reportRawOutput() {
        std::lock_guard<std::mutex> guard(mMutex);
        mRawOutput = true;
    }
    // The next freeBuffer on `port` is refused with `err`, unsent.
    void refuseFreeBuffer(OMX_U32 port, status_t err) {
        std::lock_guard<std::mutex> guard(mMutex);
        mRefuseFree = {OMX_CommandMax, port, err, true};
    }
    // As soon as the next node exists, the service sends `msg` for it from a
    // thread of its own, while the driver is still being made.
    void sendOnAllocation(const android::omx_message& msg) {
        std::lock_guard<std::mutex> guard(mMutex);
        mOnAllocation = {OMX_EventMax, 0, 0, msg, true};
    }
    // The component's next event `event` with `data1` and `data2` reaches
    // the driver no sooner than the driver's next input buffer, as from a
    // slow service.
    void holdEventUntilInput(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) {
        std::lock_guard<std::mutex> guard(mMutex);
        mHold = {event, data1, data2, {}, true};
    }
    // Hands `msg` to the driver on the calling thread, as the service does.
    void deliver(const android::omx_message& msg) {
#if PLATFORM_LEVEL >= 23
        mObserver->onMessages({msg});
#else
        mObserver->onMessage(msg);
#endif
    }
    // The commands sent so far, as "Idle Executing Disable1 ...".
    std::string commands() {
        std::lock_guard<std::mutex> guard(mMutex);
        return mCommands;
    }

    // Before forwarding the next flush of `port`, deliver `msg` (on a thread
    // of its own, as the service would) and wait until it was handled.
    void injectBeforeFlush(OMX_U32 port, const android::omx_message& msg) {
        mInjectPort = port;
        mInject = msg;
        mArmed = true;
    }
    bool injected() const { return mInjected; }

    // The `nth` output the component fills (the configuration counts) reaches
    // the driver claiming far more bytes than its buffer holds.
    void overstateFill(int nth) {
        std::lock_guard<std::mutex> guard(mMutex);
        mOverstate = nth;
    }
    // Each encoded frame reaches the driver in two buffers, split at its last
    // start code, as encoders that put slices in buffers of their own do.
    // The second is a buffer the driver asked to fill that the proxy kept
    // back from the component (and hands back empty before Idle).
    void splitFrames() {
        std::lock_guard<std::mutex> guard(mMutex);
        mSplit = true;
    }
    int splits() {
        std::lock_guard<std::mutex> guard(mMutex);
        return mSplits;
    }

    bool livesLocally(node_id node, pid_t pid) override { return mReal->livesLocally(node, pid); }
    status_t listNodes(std::list<ComponentInfo>* list) override { return mReal->listNodes(list); }
    status_t allocateNode(const char* name, const sp<android::IOMXObserver>& observer,
                          node_id* node) override {
        mObserver = observer;
        status_t err = mReal->allocateNode(name, mRelay, node);
        std::lock_guard<std::mutex> guard(mMutex);
        if (err == android::OK && mOnAllocation.armed) {
            mOnAllocation.armed = false;
            const android::omx_message msg = mOnAllocation.replacement;
            mThreads.emplace_back([observer, msg] {
#if PLATFORM_LEVEL >= 23
                observer->onMessages({msg});
#else
                observer->onMessage(msg);
#endif
            });
        }
        return err;
    }
    status_t freeNode(node_id node) override { return mReal->freeNode(node); }
    status_t sendCommand(node_id node, OMX_COMMANDTYPE cmd, OMX_S32 param) override {
        noteCommand(cmd, param);
        {
            std::lock_guard<std::mutex> guard(mMutex);
            if (mRefuse.armed && mRefuse.cmd == cmd && mRefuse.param == (OMX_U32)param) {
                mRefuse.armed = false;
                return mRefuse.err;
            }
        }
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
        {
            std::lock_guard<std::mutex> guard(mMutex);
            if (mRefuseGetParam.armed && mRefuseGetParam.param == (OMX_U32)i) {
                mRefuseGetParam.armed = false;
                return mRefuseGetParam.err;
            }
        }
        status_t err = mReal->getParameter(n, i, p, s);
        std::lock_guard<std::mutex> guard(mMutex);
        if (err == android::OK && mRawOutput && i == OMX_IndexParamPortDefinition) {
            auto* def = static_cast<OMX_PARAM_PORTDEFINITIONTYPE*>(p);
            if (def->nPortIndex == 1 && def->eDomain == OMX_PortDomainVideo) {
                def->format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
            }
        }
        return err;
    }
    status_t setParameter(node_id n, OMX_INDEXTYPE i, const void* p, size_t s) override {
        {
            std::lock_guard<std::mutex> guard(mMutex);
            if (mRefuseParam.armed && mRefuseParam.param == (OMX_U32)i) {
                mRefuseParam.armed = false;
                return mRefuseParam.err;
            }
        }
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
        return noteData(mReal->useBuffer(n, port, mem, buffer, size), buffer, mem->pointer());
    }
    status_t allocateBufferWithBackup(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                                      buffer_id* buffer, OMX_U32 size) override {
        return mReal->allocateBufferWithBackup(n, port, mem, buffer, size);
    }
    status_t fillBuffer(node_id n, buffer_id buffer, int fence) override {
        if (keepSpare(buffer)) return android::OK;
        return mReal->fillBuffer(n, buffer, fence);
    }
    status_t emptyBuffer(node_id n, buffer_id buffer, OMX_U32 offset, OMX_U32 length, OMX_U32 flags,
                         OMX_TICKS timestamp, int fence) override {
        deliverHeldEvent();
        return mReal->emptyBuffer(n, buffer, offset, length, flags, timestamp, fence);
    }
#else
    status_t useBuffer(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                       buffer_id* buffer) override {
        return noteData(mReal->useBuffer(n, port, mem, buffer), buffer, mem->pointer());
    }
    status_t allocateBufferWithBackup(node_id n, port_index_t port, const sp<android::IMemory>& mem,
                                      buffer_id* buffer) override {
        return mReal->allocateBufferWithBackup(n, port, mem, buffer);
    }
    status_t fillBuffer(node_id n, buffer_id buffer) override {
        if (keepSpare(buffer)) return android::OK;
        return mReal->fillBuffer(n, buffer);
    }
    status_t emptyBuffer(node_id n, buffer_id buffer, OMX_U32 offset, OMX_U32 length, OMX_U32 flags,
                         OMX_TICKS timestamp) override {
        deliverHeldEvent();
        return mReal->emptyBuffer(n, buffer, offset, length, flags, timestamp);
    }
#endif
    status_t allocateBuffer(node_id n, port_index_t port, size_t size, buffer_id* buffer,
                            void** data) override {
        status_t err = mReal->allocateBuffer(n, port, size, buffer, data);
        return noteData(err, buffer, data != nullptr ? *data : nullptr);
    }
    status_t freeBuffer(node_id n, port_index_t port, buffer_id buffer) override {
        {
            std::lock_guard<std::mutex> guard(mMutex);
            if (mRefuseFree.armed && mRefuseFree.param == port) {
                mRefuseFree.armed = false;
                return mRefuseFree.err;
            }
        }
        return mReal->freeBuffer(n, port, buffer);
    }
    status_t getExtensionIndex(node_id n, const char* name, OMX_INDEXTYPE* index) override {
        return mReal->getExtensionIndex(n, name, index);
    }

private:
    // Stands between the service and the driver's observer.
    class Relay : public android::BnOMXObserver {
    public:
        explicit Relay(ProxyOMX* proxy) : mProxy(proxy) {}
#if PLATFORM_LEVEL >= 23
        void onMessages(const std::list<android::omx_message>& messages) override {
            std::list<android::omx_message> relayed;
            for (const android::omx_message& msg : messages) {
                if (mProxy->hold(msg)) continue;
                for (const android::omx_message& m : mProxy->rewrite(mProxy->script(msg)))
                    relayed.push_back(m);
            }
            if (!relayed.empty()) mProxy->mObserver->onMessages(relayed);
        }
#else
        void onMessage(const android::omx_message& msg) override {
            if (mProxy->hold(msg)) return;
            for (const android::omx_message& m : mProxy->rewrite(mProxy->script(msg)))
                mProxy->mObserver->onMessage(m);
        }
#endif
    private:
        ProxyOMX* mProxy;
    };

    struct EventReplacement {
        OMX_EVENTTYPE event;
        OMX_U32 data1, data2;
        android::omx_message replacement;
        bool armed;
    };
    struct Refusal {
        OMX_COMMANDTYPE cmd;
        OMX_U32 param;
        status_t err;
        bool armed;
    };

    static bool matches(const EventReplacement& r, const android::omx_message& msg) {
        return r.armed && msg.type == android::omx_message::EVENT && msg.u.event_data.event == r.event &&
               msg.u.event_data.data1 == r.data1 && msg.u.event_data.data2 == r.data2;
    }

    // The caller holds the driver's lock: the held event goes on a thread of
    // its own, as the service would send it. An input buffer ahead of the
    // event means there is nothing to wait for.
    void deliverHeldEvent() {
        std::lock_guard<std::mutex> guard(mMutex);
        mHold.armed = false;
        if (!mHeld) return;
        mHeld = false;
        const android::omx_message msg = mHold.replacement;
        mThreads.emplace_back([this, msg] { deliver(msg); });
    }

    // False when the message is held back.
    bool hold(const android::omx_message& msg) {
        std::lock_guard<std::mutex> guard(mMutex);
        if (!matches(mHold, msg)) return false;
        mHold.armed = false;
        mHold.replacement = msg;
        mHeld = true;
        return true;
    }

    android::omx_message script(const android::omx_message& msg) {
        std::lock_guard<std::mutex> guard(mMutex);
        if (matches(mReplaceEvent, msg)) {
            mReplaceEvent.armed = false;
            return mReplaceEvent.replacement;
        }
        return msg;
    }

    status_t noteData(status_t err, buffer_id* buffer, void* data) {
        std::lock_guard<std::mutex> guard(mMutex);
        if (err == android::OK) mData[*buffer] = (uint8_t*)data;
        return err;
    }

    // True when `buffer` stays with the proxy as the spare of a split.
    bool keepSpare(buffer_id buffer) {
        std::lock_guard<std::mutex> guard(mMutex);
        if (!mSplit || mHaveSpare || mData[buffer] == nullptr) return false;
        mSpare = buffer;
        mHaveSpare = true;
        return true;
    }

    // The messages the driver gets for one of the component's: an
    // overstated fill, a frame in two buffers, the spare handed back empty
    // in front of the Idle state's completion.
    std::vector<android::omx_message> rewrite(android::omx_message msg) {
        std::lock_guard<std::mutex> guard(mMutex);
        auto& fill = msg.u.extended_buffer_data;
        if (msg.type == android::omx_message::FILL_BUFFER_DONE && fill.range_length > 0 &&
            ++mFills == mOverstate) {
            fill.range_length = 1u << 30;
        }
        if (msg.type == android::omx_message::EVENT && mHaveSpare &&
            msg.u.event_data.event == OMX_EventCmdComplete &&
            msg.u.event_data.data1 == OMX_CommandStateSet && msg.u.event_data.data2 == OMX_StateIdle) {
            android::omx_message empty = msg;
            empty.type = android::omx_message::FILL_BUFFER_DONE;
            memset(&empty.u, 0, sizeof(empty.u));
            empty.u.extended_buffer_data.buffer = mSpare;
            mHaveSpare = false;
            return {empty, msg};
        }
        if (msg.type != android::omx_message::FILL_BUFFER_DONE || !mHaveSpare ||
            fill.range_length <= 4 || (fill.flags & OMX_BUFFERFLAG_CODECCONFIG)) {
            return {msg};
        }
        const uint8_t* unit = mData[fill.buffer] + fill.range_offset;
        size_t cut = fill.range_length - 4;
        while (cut > 0 && memcmp(unit + cut, "\x00\x00\x00\x01", 4) != 0) --cut;
        if (cut == 0) return {msg};
        android::omx_message tail = msg;
        tail.u.extended_buffer_data.buffer = mSpare;
        tail.u.extended_buffer_data.range_offset = 0;
        tail.u.extended_buffer_data.range_length = fill.range_length - cut;
        memcpy(mData[mSpare], unit + cut, fill.range_length - cut);
        fill.range_length = cut;
        fill.flags &= ~(OMX_U32)(OMX_BUFFERFLAG_EOS | OMX_BUFFERFLAG_ENDOFFRAME);
        mHaveSpare = false;
        ++mSplits;
        return {msg, tail};
    }

    void noteCommand(OMX_COMMANDTYPE cmd, OMX_S32 param) {
        std::string name;
        if (cmd == OMX_CommandStateSet) {
            name = param == OMX_StateIdle ? "Idle" : param == OMX_StateExecuting ? "Executing"
                 : param == OMX_StateLoaded ? "Loaded" : "State" + std::to_string(param);
        } else {
            name = (cmd == OMX_CommandFlush ? "Flush" : cmd == OMX_CommandPortDisable ? "Disable"
                    : cmd == OMX_CommandPortEnable ? "Enable" : "Command") + std::to_string(param);
        }
        std::lock_guard<std::mutex> guard(mMutex);
        mCommands += (mCommands.empty() ? "" : " ") + name;
    }

    sp<android::IOMX> mReal;
    sp<android::IOMXObserver> mRelay;
    sp<android::IOMXObserver> mObserver;
    std::mutex mMutex;
    std::string mCommands;
    EventReplacement mReplaceEvent{};
    Refusal mRefuse{};
    Refusal mRefuseParam{};
    Refusal mRefuseFree{};
    Refusal mRefuseGetParam{};
    bool mRawOutput = false;
    EventReplacement mOnAllocation{};  // `replacement` is the message sent
    EventReplacement mHold{};  // `replacement` is the held message
    bool mHeld = false;
    std::vector<std::thread> mThreads;
    std::atomic<bool> mArmed{false};
    std::atomic<bool> mInjected{false};
    OMX_U32 mInjectPort = 0;
    android::omx_message mInject;
    int mOverstate = 0, mFills = 0;
    bool mSplit = false, mHaveSpare = false;
    buffer_id mSpare{};
    int mSplits = 0;
    std::map<buffer_id, uint8_t*> mData;
};

}  // namespace qor_driver_test

#endif  // QOR_TESTS_DRIVER_TEST_SUPPORT_H_
