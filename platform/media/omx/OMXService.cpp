/*
 * The in-process OpenMAX IL service. Nodes are component instances made by
 * name from the device profile's codec list; buffers are OpenMAX buffer
 * headers known to the client by id. Messages reach each node's observer on
 * a callback thread of that node (never inside the caller's call), in the
 * order the component produced them: one message per onMessage call on
 * levels 18 and 21, every queued message in one onMessages call on level 23.
 * As binder would, the service holds every message until the process has
 * started its thread pool (ProcessState::startThreadPool).
 *
 * Faults a profile can switch on per codec (codec.N.fault.*):
 *   allocnode=1     allocateNode is refused
 *   fillbuffer=N    the N-th and every later fillBuffer call is refused
 *   emptybuffer=N   likewise for emptyBuffer
 *   errorafter=N    the component reports an error event instead of its
 *                   (N+1)-th frame (handled by the component)
 */
#define LOG_TAG "OMXService"
#include <host/omx_service.h>

#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <binder/IMemory.h>
#include <binder/ProcessState.h>
#include <host/device_profile.h>
#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

#include "omx/AacEncoderComponent.h"
#include "omx/AvcEncoderComponent.h"

namespace android {
namespace {

#if PLATFORM_LEVEL >= 21
inline uintptr_t idValue(uint32_t id) { return id; }
template <typename T>
inline T idFrom(uintptr_t v) { return (T)v; }
#else
inline uintptr_t idValue(void* id) { return (uintptr_t)id; }
template <typename T>
inline T idFrom(uintptr_t v) { return (T)(void*)v; }
#endif

// Delivers one node's messages to its observer on a thread of its own,
// once the process's thread pool is started. The thread is detached: a node
// can be freed from inside a callback (the observer's owner may go away
// there), so nobody waits for it.
class MessageDispatcher : public std::enable_shared_from_this<MessageDispatcher> {
public:
    explicit MessageDispatcher(const sp<IOMXObserver>& observer) : mObserver(observer) {}

    void start() {
        std::shared_ptr<MessageDispatcher> self = shared_from_this();
        std::thread([self] { self->loop(); }).detach();
        std::weak_ptr<MessageDispatcher> weak = self;
        ProcessState::self()->whenThreadPoolStarted([weak] {
            std::shared_ptr<MessageDispatcher> dispatcher = weak.lock();
            if (dispatcher) dispatcher->poolStarted();
        });
    }

    void post(const omx_message& msg) {
        std::lock_guard<std::mutex> guard(mLock);
        if (mClosed) return;
        mQueue.push_back(msg);
        mCond.notify_one();
    }

    // Drops undelivered messages; a delivery under way still completes.
    void close() {
        sp<IOMXObserver> observer;
        {
            std::lock_guard<std::mutex> guard(mLock);
            mClosed = true;
            mQueue.clear();
            observer = mObserver;
            mObserver.clear();
            mCond.notify_one();
        }
        observer.clear();  // outside the lock: this may be the last reference
    }

private:
    void poolStarted() {
        std::lock_guard<std::mutex> guard(mLock);
        mPoolStarted = true;
        mCond.notify_one();
    }

    void loop() {
        std::unique_lock<std::mutex> lock(mLock);
        while (true) {
            mCond.wait(lock, [this] { return mClosed || (mPoolStarted && !mQueue.empty()); });
            if (mClosed) break;
            sp<IOMXObserver> observer = mObserver;
#if PLATFORM_LEVEL >= 23
            std::list<omx_message> batch(mQueue.begin(), mQueue.end());
            mQueue.clear();
            lock.unlock();
            observer->onMessages(batch);
#else
            omx_message msg = mQueue.front();
            mQueue.pop_front();
            lock.unlock();
            observer->onMessage(msg);
#endif
            observer.clear();
            lock.lock();
        }
    }

    std::mutex mLock;
    std::condition_variable mCond;
    std::deque<omx_message> mQueue;
    sp<IOMXObserver> mObserver;
    bool mClosed = false;
    bool mPoolStarted = false;
};

struct BufferRecord {
    uintptr_t mId;
    OMX_U32 mPort;
    OMX_BUFFERHEADERTYPE* mHeader = nullptr;
    sp<IMemory> mBackup;  // allocateBufferWithBackup: the client's copy
    std::atomic<bool> mWithComponent{false};
};

class Node : public OmxComponent::Listener {
public:
    Node(uintptr_t id, const host::CodecEntry& entry, const sp<IOMXObserver>& observer)
        : mId(id), mEntry(entry), mDispatcher(std::make_shared<MessageDispatcher>(observer)) {
        mDispatcher->start();
    }
    ~Node() override { mDispatcher->close(); }

    void onEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) override {
        omx_message msg = newMessage(omx_message::EVENT);
        msg.u.event_data.event = event;
        msg.u.event_data.data1 = data1;
        msg.u.event_data.data2 = data2;
        mDispatcher->post(msg);
    }

    void onEmptyBufferDone(OMX_BUFFERHEADERTYPE* header) override {
        auto* rec = static_cast<BufferRecord*>(header->pAppPrivate);
        rec->mWithComponent = false;
        omx_message msg = newMessage(omx_message::EMPTY_BUFFER_DONE);
        msg.u.buffer_data.buffer = idFrom<IOMX::buffer_id>(rec->mId);
        mDispatcher->post(msg);
    }

    void onFillBufferDone(OMX_BUFFERHEADERTYPE* header) override {
        auto* rec = static_cast<BufferRecord*>(header->pAppPrivate);
        if (rec->mBackup != nullptr && header->nFilledLen > 0) {
            size_t room = rec->mBackup->size();
            if ((size_t)header->nOffset + header->nFilledLen <= room) {
                memcpy((uint8_t*)rec->mBackup->pointer() + header->nOffset,
                       header->pBuffer + header->nOffset, header->nFilledLen);
            }
        }
        rec->mWithComponent = false;
        omx_message msg = newMessage(omx_message::FILL_BUFFER_DONE);
        msg.u.extended_buffer_data.buffer = idFrom<IOMX::buffer_id>(rec->mId);
        msg.u.extended_buffer_data.range_offset = header->nOffset;
        msg.u.extended_buffer_data.range_length = header->nFilledLen;
        msg.u.extended_buffer_data.flags = header->nFlags;
        msg.u.extended_buffer_data.timestamp = header->nTimeStamp;
        msg.u.extended_buffer_data.platform_private = header->pPlatformPrivate;
        msg.u.extended_buffer_data.data_ptr = header->pBuffer;
        mDispatcher->post(msg);
    }

    const uintptr_t mId;
    const host::CodecEntry mEntry;
    std::unique_ptr<OmxComponent> mComponent;
    std::mutex mLock;  // guards mBuffers
    std::map<uintptr_t, std::unique_ptr<BufferRecord>> mBuffers;
    std::atomic<long long> mFillCalls{0};
    std::atomic<long long> mEmptyCalls{0};

private:
    omx_message newMessage(decltype(omx_message::EVENT) type) {
        omx_message msg;
        memset(&msg, 0, sizeof(msg));
        msg.type = type;
        msg.node = idFrom<IOMX::node_id>(mId);
#if PLATFORM_LEVEL >= 23
        msg.fenceFd = -1;
#endif
        return msg;
    }

    std::shared_ptr<MessageDispatcher> mDispatcher;
};

class OMXService : public IOMX {
public:
    // In-process; a profile can say otherwise ("omx.liveslocally=0") so that
    // clients take their remote-service paths (allocateBufferWithBackup).
    bool livesLocally(node_id, pid_t) override {
        return host::currentDeviceProfile()->get("omx.liveslocally", "1") != "0";
    }

    status_t listNodes(std::list<ComponentInfo>* list) override {
        list->clear();
        for (const host::CodecEntry& c : host::currentDeviceProfile()->codecs) {
            const char* role = roleOf(c);
            if (role == nullptr) continue;
            ComponentInfo info;
            info.mName = c.name.c_str();
            info.mRoles.push_back(String8(role));
            list->push_back(info);
        }
        return OK;
    }

    status_t allocateNode(const char* name, const sp<IOMXObserver>& observer,
                          node_id* node) override {
        if (name == nullptr || observer == nullptr || node == nullptr) return BAD_VALUE;
        std::shared_ptr<const host::DeviceProfile> profile = host::currentDeviceProfile();
        const host::CodecEntry* entry = nullptr;
        for (const host::CodecEntry& c : profile->codecs) {
            if (c.name == name && c.encoder) {
                entry = &c;
                break;
            }
        }
        const char* role = entry != nullptr ? roleOf(*entry) : nullptr;
        if (role == nullptr) {
            ALOGE("no component named '%s' on this device", name);
            return NAME_NOT_FOUND;
        }
        if (entry->intKey("fault.allocnode", 0) != 0) {
            ALOGE("[%s] node allocation refused (injected fault)", name);
            return NO_MEMORY;
        }
        std::lock_guard<std::mutex> guard(mLock);
        uintptr_t id = mNextNode++;
        auto n = std::make_shared<Node>(id, *entry, observer);
        if (strcmp(role, "video_encoder.avc") == 0) {
            n->mComponent.reset(new AvcEncoderComponent(*entry, n.get()));
        } else {
            n->mComponent.reset(new AacEncoderComponent(*entry, n.get()));
        }
        n->mComponent->startWorker();
        mNodes[id] = n;
        *node = idFrom<node_id>(id);
        return OK;
    }

    status_t freeNode(node_id node) override {
        std::shared_ptr<Node> n;
        {
            std::lock_guard<std::mutex> guard(mLock);
            auto it = mNodes.find(idValue(node));
            if (it == mNodes.end()) return BAD_VALUE;
            n = it->second;
            mNodes.erase(it);
        }
        n->mComponent.reset();  // joins the component's worker
        return OK;
    }

    status_t sendCommand(node_id node, OMX_COMMANDTYPE cmd, OMX_S32 param) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->sendCommand(cmd, (OMX_U32)param));
    }

    status_t getParameter(node_id node, OMX_INDEXTYPE index, void* params,
                          size_t size) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->getParameter(index, params, size));
    }

    status_t setParameter(node_id node, OMX_INDEXTYPE index, const void* params,
                          size_t size) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->setParameter(index, params, size));
    }

    status_t getConfig(node_id node, OMX_INDEXTYPE index, void* params, size_t size) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->getConfig(index, params, size));
    }

    status_t setConfig(node_id node, OMX_INDEXTYPE index, const void* params,
                       size_t size) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->setConfig(index, params, size));
    }

    status_t getState(node_id node, OMX_STATETYPE* state) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->getState(state));
    }

    status_t storeMetaDataInBuffers(node_id node, port_index_t, OMX_BOOL enable) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        if (!enable) return OK;
        // The encoders read pixels, not buffer handles.
        ALOGE("[%s] storing meta data in buffers is not supported", n->mEntry.name.c_str());
        return ERROR_UNSUPPORTED;
    }

#if PLATFORM_LEVEL >= 23
    status_t useBuffer(node_id node, port_index_t port, const sp<IMemory>& params,
                       buffer_id* buffer, OMX_U32 allottedSize) override {
        return addBuffer(node, port, params, allottedSize, false, buffer);
    }
    status_t allocateBufferWithBackup(node_id node, port_index_t port, const sp<IMemory>& params,
                                      buffer_id* buffer, OMX_U32 allottedSize) override {
        return addBuffer(node, port, params, allottedSize, true, buffer);
    }
    status_t fillBuffer(node_id node, buffer_id buffer, int fenceFd) override {
        if (fenceFd >= 0) ::close(fenceFd);
        return fill(node, buffer);
    }
    status_t emptyBuffer(node_id node, buffer_id buffer, OMX_U32 offset, OMX_U32 length,
                         OMX_U32 flags, OMX_TICKS timestamp, int fenceFd) override {
        if (fenceFd >= 0) ::close(fenceFd);
        return empty(node, buffer, offset, length, flags, timestamp);
    }
#else
    status_t useBuffer(node_id node, port_index_t port, const sp<IMemory>& params,
                       buffer_id* buffer) override {
        return addBuffer(node, port, params, params != nullptr ? params->size() : 0, false,
                         buffer);
    }
    status_t allocateBufferWithBackup(node_id node, port_index_t port, const sp<IMemory>& params,
                                      buffer_id* buffer) override {
        return addBuffer(node, port, params, params != nullptr ? params->size() : 0, true,
                         buffer);
    }
    status_t fillBuffer(node_id node, buffer_id buffer) override { return fill(node, buffer); }
    status_t emptyBuffer(node_id node, buffer_id buffer, OMX_U32 offset, OMX_U32 length,
                         OMX_U32 flags, OMX_TICKS timestamp) override {
        return empty(node, buffer, offset, length, flags, timestamp);
    }
#endif

    status_t allocateBuffer(node_id node, port_index_t port, size_t size, buffer_id* buffer,
                            void** bufferData) override {
        std::shared_ptr<Node> n = find(node);
        if (!n || buffer == nullptr) return BAD_VALUE;
        auto rec = std::make_unique<BufferRecord>();
        rec->mPort = (OMX_U32)port;
        OMX_ERRORTYPE err =
            n->mComponent->allocateBuffer(&rec->mHeader, (OMX_U32)port, rec.get(), (OMX_U32)size);
        if (err != OMX_ErrorNone) return statusFromOMXError(err);
        if (bufferData != nullptr) *bufferData = rec->mHeader->pBuffer;
        *buffer = idFrom<buffer_id>(registerBuffer(n, std::move(rec)));
        return OK;
    }

    status_t freeBuffer(node_id node, port_index_t port, buffer_id buffer) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        BufferRecord* rec = findBuffer(n, buffer);
        if (rec == nullptr || rec->mPort != (OMX_U32)port) return BAD_VALUE;
        OMX_ERRORTYPE err = n->mComponent->freeBuffer((OMX_U32)port, rec->mHeader);
        if (err != OMX_ErrorNone) return statusFromOMXError(err);
        std::lock_guard<std::mutex> guard(n->mLock);
        n->mBuffers.erase(idValue(buffer));
        return OK;
    }

    status_t getExtensionIndex(node_id node, const char* name, OMX_INDEXTYPE* index) override {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        return statusFromOMXError(n->mComponent->getExtensionIndex(name, index));
    }

private:
    static const char* roleOf(const host::CodecEntry& c) {
        if (!c.encoder) return nullptr;
        if (strcasecmp(c.type.c_str(), "video/avc") == 0) return "video_encoder.avc";
        if (strcasecmp(c.type.c_str(), "audio/mp4a-latm") == 0) return "audio_encoder.aac";
        return nullptr;
    }

    std::shared_ptr<Node> find(node_id node) {
        std::lock_guard<std::mutex> guard(mLock);
        auto it = mNodes.find(idValue(node));
        return it == mNodes.end() ? nullptr : it->second;
    }

    BufferRecord* findBuffer(const std::shared_ptr<Node>& n, buffer_id buffer) {
        std::lock_guard<std::mutex> guard(n->mLock);
        auto it = n->mBuffers.find(idValue(buffer));
        return it == n->mBuffers.end() ? nullptr : it->second.get();
    }

    uintptr_t registerBuffer(const std::shared_ptr<Node>& n, std::unique_ptr<BufferRecord> rec) {
        uintptr_t id = mNextBuffer++;
        rec->mId = id;
        std::lock_guard<std::mutex> guard(n->mLock);
        n->mBuffers[id] = std::move(rec);
        return id;
    }

    status_t addBuffer(node_id node, port_index_t port, const sp<IMemory>& mem, OMX_U32 size,
                       bool withBackup, buffer_id* buffer) {
        std::shared_ptr<Node> n = find(node);
        if (!n || mem == nullptr || buffer == nullptr || mem->pointer() == nullptr ||
            size > mem->size()) {
            return BAD_VALUE;
        }
        auto rec = std::make_unique<BufferRecord>();
        rec->mPort = (OMX_U32)port;
        OMX_ERRORTYPE err;
        if (withBackup) {
            // The component allocates; the block is the client's view of it.
            rec->mBackup = mem;
            err = n->mComponent->allocateBuffer(&rec->mHeader, (OMX_U32)port, rec.get(), size);
        } else {
            err = n->mComponent->useBuffer(&rec->mHeader, (OMX_U32)port, rec.get(), size,
                                           (OMX_U8*)mem->pointer());
        }
        if (err != OMX_ErrorNone) return statusFromOMXError(err);
        *buffer = idFrom<buffer_id>(registerBuffer(n, std::move(rec)));
        return OK;
    }

    status_t fill(node_id node, buffer_id buffer) {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        BufferRecord* rec = findBuffer(n, buffer);
        if (rec == nullptr) return BAD_VALUE;
        long long refuseFrom = n->mEntry.intKey("fault.fillbuffer", 0);
        if (refuseFrom > 0 && ++n->mFillCalls >= refuseFrom) {
            ALOGE("[%s] fillBuffer refused (injected fault)", n->mEntry.name.c_str());
            return UNKNOWN_ERROR;
        }
        if (rec->mWithComponent.exchange(true)) return INVALID_OPERATION;
        rec->mHeader->nFilledLen = 0;
        rec->mHeader->nOffset = 0;
        rec->mHeader->nFlags = 0;
        OMX_ERRORTYPE err = n->mComponent->fillThisBuffer(rec->mHeader);
        if (err != OMX_ErrorNone) rec->mWithComponent = false;
        return statusFromOMXError(err);
    }

    status_t empty(node_id node, buffer_id buffer, OMX_U32 offset, OMX_U32 length, OMX_U32 flags,
                   OMX_TICKS timestamp) {
        std::shared_ptr<Node> n = find(node);
        if (!n) return BAD_VALUE;
        BufferRecord* rec = findBuffer(n, buffer);
        if (rec == nullptr) return BAD_VALUE;
        long long refuseFrom = n->mEntry.intKey("fault.emptybuffer", 0);
        if (refuseFrom > 0 && ++n->mEmptyCalls >= refuseFrom) {
            ALOGE("[%s] emptyBuffer refused (injected fault)", n->mEntry.name.c_str());
            return UNKNOWN_ERROR;
        }
        OMX_BUFFERHEADERTYPE* h = rec->mHeader;
        if ((uint64_t)offset + length > h->nAllocLen ||
            (rec->mBackup != nullptr && (uint64_t)offset + length > rec->mBackup->size())) {
            return BAD_VALUE;
        }
        if (rec->mWithComponent.exchange(true)) return INVALID_OPERATION;
        if (rec->mBackup != nullptr && length > 0) {
            memcpy(h->pBuffer + offset, (const uint8_t*)rec->mBackup->pointer() + offset, length);
        }
        h->nOffset = offset;
        h->nFilledLen = length;
        h->nFlags = flags;
        h->nTimeStamp = timestamp;
        OMX_ERRORTYPE err = n->mComponent->emptyThisBuffer(h);
        if (err != OMX_ErrorNone) rec->mWithComponent = false;
        return statusFromOMXError(err);
    }

    std::mutex mLock;
    std::map<uintptr_t, std::shared_ptr<Node>> mNodes;
    uintptr_t mNextNode = 1;
    std::atomic<uintptr_t> mNextBuffer{1};
};

}  // namespace
}  // namespace android

namespace host {

android::sp<android::IOMX> omxService() {
    static std::mutex lock;
    static android::sp<android::IOMX>* service = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (service == nullptr) service = new android::sp<android::IOMX>(new android::OMXService);
    return *service;
}

}  // namespace host
