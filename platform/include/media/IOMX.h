/*
 * The OpenMAX IL service interface and its observer (host stand-in for the
 * platform's binder interface). Parameter and config structures are the
 * OpenMAX IL 1.1 ones of the Khronos headers, passed with their byte size.
 * Forms differ by platform level (PLATFORM_LEVEL, set by the build).
 */
#ifndef ANDROID_IOMX_H_
#define ANDROID_IOMX_H_

#include <stdint.h>
#include <sys/types.h>

#include <list>

#include <OMX_Core.h>
#include <OMX_Video.h>

#include <utils/Errors.h>
#include <utils/RefBase.h>
#include <utils/String8.h>

#ifndef PLATFORM_LEVEL
#error "PLATFORM_LEVEL comes from the platform target of the build's level"
#endif

namespace android {

class IMemory;
class IOMXObserver;

class IOMX : public RefBase {
public:
#if PLATFORM_LEVEL >= 21
    typedef uint32_t node_id;
    typedef uint32_t buffer_id;
    typedef OMX_U32 port_index_t;
#else
    typedef void* node_id;
    typedef void* buffer_id;
    typedef unsigned long port_index_t;
#endif

    struct ComponentInfo {
        String8 mName;
        std::list<String8> mRoles;
    };

    // True when the node lives in the calling process, so that buffers
    // allocated by the component are directly addressable.
    virtual bool livesLocally(node_id node, pid_t pid) = 0;
    virtual status_t listNodes(std::list<ComponentInfo>* list) = 0;

    virtual status_t allocateNode(const char* name, const sp<IOMXObserver>& observer,
                                  node_id* node) = 0;
    virtual status_t freeNode(node_id node) = 0;

    virtual status_t sendCommand(node_id node, OMX_COMMANDTYPE cmd, OMX_S32 param) = 0;
    virtual status_t getParameter(node_id node, OMX_INDEXTYPE index, void* params,
                                  size_t size) = 0;
    virtual status_t setParameter(node_id node, OMX_INDEXTYPE index, const void* params,
                                  size_t size) = 0;
    virtual status_t getConfig(node_id node, OMX_INDEXTYPE index, void* params,
                               size_t size) = 0;
    virtual status_t setConfig(node_id node, OMX_INDEXTYPE index, const void* params,
                               size_t size) = 0;
    virtual status_t getState(node_id node, OMX_STATETYPE* state) = 0;

    virtual status_t storeMetaDataInBuffers(node_id node, port_index_t port_index,
                                            OMX_BOOL enable) = 0;

#if PLATFORM_LEVEL >= 23
    virtual status_t useBuffer(node_id node, port_index_t port_index, const sp<IMemory>& params,
                               buffer_id* buffer, OMX_U32 allottedSize) = 0;
    virtual status_t allocateBufferWithBackup(node_id node, port_index_t port_index,
                                              const sp<IMemory>& params, buffer_id* buffer,
                                              OMX_U32 allottedSize) = 0;
#else
    virtual status_t useBuffer(node_id node, port_index_t port_index, const sp<IMemory>& params,
                               buffer_id* buffer) = 0;
    virtual status_t allocateBufferWithBackup(node_id node, port_index_t port_index,
                                              const sp<IMemory>& params,
                                              buffer_id* buffer) = 0;
#endif
    virtual status_t allocateBuffer(node_id node, port_index_t port_index, size_t size,
                                    buffer_id* buffer, void** buffer_data) = 0;
    virtual status_t freeBuffer(node_id node, port_index_t port_index, buffer_id buffer) = 0;

#if PLATFORM_LEVEL >= 23
    virtual status_t fillBuffer(node_id node, buffer_id buffer, int fenceFd) = 0;
    virtual status_t emptyBuffer(node_id node, buffer_id buffer, OMX_U32 range_offset,
                                 OMX_U32 range_length, OMX_U32 flags, OMX_TICKS timestamp,
                                 int fenceFd) = 0;
#else
    virtual status_t fillBuffer(node_id node, buffer_id buffer) = 0;
    virtual status_t emptyBuffer(node_id node, buffer_id buffer, OMX_U32 range_offset,
                                 OMX_U32 range_length, OMX_U32 flags, OMX_TICKS timestamp) = 0;
#endif

    virtual status_t getExtensionIndex(node_id node, const char* parameter_name,
                                       OMX_INDEXTYPE* index) = 0;
};

struct omx_message {
    enum {
        EVENT,
        EMPTY_BUFFER_DONE,
        FILL_BUFFER_DONE,
    } type;

    IOMX::node_id node;
#if PLATFORM_LEVEL >= 23
    int fenceFd;  // -1: no fence
#endif

    union {
        // if type == EVENT
        struct {
            OMX_EVENTTYPE event;
            OMX_U32 data1;
            OMX_U32 data2;
        } event_data;

        // if type == EMPTY_BUFFER_DONE
        struct {
            IOMX::buffer_id buffer;
        } buffer_data;

        // if type == FILL_BUFFER_DONE
        struct {
            IOMX::buffer_id buffer;
            OMX_U32 range_offset;
            OMX_U32 range_length;
            OMX_U32 flags;
            OMX_TICKS timestamp;
            OMX_PTR platform_private;
            OMX_PTR data_ptr;
        } extended_buffer_data;
    } u;
};

// Receives the service's messages on a callback thread of the service.
class IOMXObserver : public RefBase {
public:
#if PLATFORM_LEVEL >= 23
    // An ordered list of messages, handled in order.
    virtual void onMessages(const std::list<omx_message>& messages) = 0;
#else
    virtual void onMessage(const omx_message& msg) = 0;
#endif
};

typedef IOMXObserver BnOMXObserver;

}  // namespace android

#endif  // ANDROID_IOMX_H_
