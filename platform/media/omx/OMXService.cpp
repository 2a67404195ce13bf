// The in-process OpenMAX IL service. (Placeholder until the components
// arrive: it lists no nodes and refuses every allocation.)
#include <host/omx_service.h>

#include <mutex>

namespace android {
namespace {

class OMXService : public IOMX {
public:
    bool livesLocally(node_id, pid_t) override { return true; }
    status_t listNodes(std::list<ComponentInfo>* list) override {
        list->clear();
        return OK;
    }
    status_t allocateNode(const char*, const sp<IOMXObserver>&, node_id*) override {
        return NAME_NOT_FOUND;
    }
    status_t freeNode(node_id) override { return NAME_NOT_FOUND; }
    status_t sendCommand(node_id, OMX_COMMANDTYPE, OMX_S32) override { return NAME_NOT_FOUND; }
    status_t getParameter(node_id, OMX_INDEXTYPE, void*, size_t) override { return NAME_NOT_FOUND; }
    status_t setParameter(node_id, OMX_INDEXTYPE, const void*, size_t) override {
        return NAME_NOT_FOUND;
    }
    status_t getConfig(node_id, OMX_INDEXTYPE, void*, size_t) override { return NAME_NOT_FOUND; }
    status_t setConfig(node_id, OMX_INDEXTYPE, const void*, size_t) override {
        return NAME_NOT_FOUND;
    }
    status_t getState(node_id, OMX_STATETYPE*) override { return NAME_NOT_FOUND; }
    status_t storeMetaDataInBuffers(node_id, port_index_t, OMX_BOOL) override {
        return NAME_NOT_FOUND;
    }
#if PLATFORM_LEVEL >= 23
    status_t useBuffer(node_id, port_index_t, const sp<IMemory>&, buffer_id*, OMX_U32) override {
        return NAME_NOT_FOUND;
    }
    status_t allocateBufferWithBackup(node_id, port_index_t, const sp<IMemory>&, buffer_id*,
                                      OMX_U32) override {
        return NAME_NOT_FOUND;
    }
    status_t fillBuffer(node_id, buffer_id, int) override { return NAME_NOT_FOUND; }
    status_t emptyBuffer(node_id, buffer_id, OMX_U32, OMX_U32, OMX_U32, OMX_TICKS, int) override {
        return NAME_NOT_FOUND;
    }
#else
    status_t useBuffer(node_id, port_index_t, const sp<IMemory>&, buffer_id*) override {
        return NAME_NOT_FOUND;
    }
    status_t allocateBufferWithBackup(node_id, port_index_t, const sp<IMemory>&,
                                      buffer_id*) override {
        return NAME_NOT_FOUND;
    }
    status_t fillBuffer(node_id, buffer_id) override { return NAME_NOT_FOUND; }
    status_t emptyBuffer(node_id, buffer_id, OMX_U32, OMX_U32, OMX_U32, OMX_TICKS) override {
        return NAME_NOT_FOUND;
    }
#endif
    status_t allocateBuffer(node_id, port_index_t, size_t, buffer_id*, void**) override {
        return NAME_NOT_FOUND;
    }
    status_t freeBuffer(node_id, port_index_t, buffer_id) override { return NAME_NOT_FOUND; }
    status_t getExtensionIndex(node_id, const char*, OMX_INDEXTYPE*) override {
        return NAME_NOT_FOUND;
    }
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
