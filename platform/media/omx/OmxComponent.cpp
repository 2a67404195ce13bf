#define LOG_TAG "OMXComponent"
#include "omx/OmxComponent.h"

#include <stdlib.h>
#include <string.h>

#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

namespace android {

int32_t statusFromOMXError(OMX_ERRORTYPE err) {
    switch (err) {
        case OMX_ErrorNone:
            return OK;
        case OMX_ErrorUnsupportedIndex:
        case OMX_ErrorUnsupportedSetting:
        case OMX_ErrorNotImplemented:
            return ERROR_UNSUPPORTED;
        case OMX_ErrorBadParameter:
        case OMX_ErrorBadPortIndex:
        case OMX_ErrorVersionMismatch:
            return BAD_VALUE;
        case OMX_ErrorIncorrectStateOperation:
        case OMX_ErrorIncorrectStateTransition:
        case OMX_ErrorSameState:
        case OMX_ErrorInvalidState:
            return INVALID_OPERATION;
        case OMX_ErrorNoMore:
            return NOT_ENOUGH_DATA;
        case OMX_ErrorInsufficientResources:
            return NO_MEMORY;
        default:
            return UNKNOWN_ERROR;
    }
}

OmxComponent::OmxComponent(const host::CodecEntry& entry, Listener* listener)
    : mEntry(entry),
      mState(OMX_StateLoaded),
      mFailed(false),
      mWorkPending(false),
      mListener(listener),
      mPendingState(OMX_StateLoaded),
      mStatePending(false),
      mFramesEncoded(0),
      mQuit(false) {
    for (int i = 0; i < kNumPorts; ++i) {
        OMX_PARAM_PORTDEFINITIONTYPE& def = mPorts[i].mDef;
        initHeader(&def, sizeof(def));
        def.nPortIndex = i;
        def.eDir = i == kInputPort ? OMX_DirInput : OMX_DirOutput;
        def.nBufferCountMin = 1;
        def.nBufferCountActual = 4;
        def.bEnabled = OMX_TRUE;
        def.bPopulated = OMX_FALSE;
        def.nBufferAlignment = 1;
    }
}

OmxComponent::~OmxComponent() {
    stopWorker();
    for (Port& port : mPorts) {
        for (Port::Buffer& b : port.mBuffers) {
            if (b.mOwnsData) free(b.mHeader->pBuffer);
            delete b.mHeader;
        }
        port.mBuffers.clear();
    }
}

void OmxComponent::startWorker() {
    if (!mRole.empty() || mWorker.joinable()) return;
    mRole = role();
    mWorker = std::thread([this] { workerLoop(); });
}

void OmxComponent::stopWorker() {
    {
        std::lock_guard<std::mutex> guard(mLock);
        mQuit = true;
    }
    mCond.notify_all();
    if (mWorker.joinable()) mWorker.join();
}

bool OmxComponent::checkStruct(const void* params, size_t size, size_t expected) {
    if (params == nullptr || size != expected) return false;
    const OMX_U32* nSize = static_cast<const OMX_U32*>(params);
    // nVersion follows nSize, whose width is OMX_U32's (8 bytes on LP64 hosts).
    const OMX_VERSIONTYPE* version = reinterpret_cast<const OMX_VERSIONTYPE*>(
        static_cast<const uint8_t*>(params) + sizeof(OMX_U32));
    return *nSize == expected && version->s.nVersionMajor == 1;
}

void OmxComponent::initHeader(void* params, size_t size) {
    memset(params, 0, size);
    *static_cast<OMX_U32*>(params) = size;
    OMX_VERSIONTYPE* version =
        reinterpret_cast<OMX_VERSIONTYPE*>(static_cast<uint8_t*>(params) + sizeof(OMX_U32));
    version->s.nVersionMajor = 1;
    version->s.nVersionMinor = 0;
}

// Port parameters may change in Loaded (before Idle was asked for) or while
// the port is disabled.
bool OmxComponent::portWritable(OMX_U32 port) const {
    if (port >= kNumPorts) return false;
    if (mState == OMX_StateLoaded && !mStatePending) return true;
    return !mPorts[port].mDef.bEnabled && mPorts[port].mBuffers.empty();
}

// ---- commands ---------------------------------------------------------

OMX_ERRORTYPE OmxComponent::sendCommand(OMX_COMMANDTYPE cmd, OMX_U32 param) {
    Lock lock(mLock);
    if (mState == OMX_StateInvalid) return OMX_ErrorInvalidState;
    if (mStalled) {
        // Accepted, never carried out.
        ALOGW("[%s] stalled: command %d ignored", mEntry.name.c_str(), (int)cmd);
        return OMX_ErrorNone;
    }
    switch (cmd) {
        case OMX_CommandStateSet: {
            OMX_STATETYPE target = (OMX_STATETYPE)param;
            if (mStatePending) return OMX_ErrorIncorrectStateOperation;
            if (target == mState) return OMX_ErrorSameState;
            bool legal = false;
            switch (mState) {
                case OMX_StateLoaded:
                    legal = target == OMX_StateIdle;
                    break;
                case OMX_StateIdle:
                    legal = target == OMX_StateLoaded || target == OMX_StateExecuting ||
                            target == OMX_StatePause;
                    break;
                case OMX_StateExecuting:
                    legal = target == OMX_StateIdle || target == OMX_StatePause;
                    break;
                case OMX_StatePause:
                    legal = target == OMX_StateIdle || target == OMX_StateExecuting;
                    break;
                default:
                    break;
            }
            if (target == OMX_StateInvalid) legal = true;
            if (!legal) {
                ALOGW("[%s] refused state transition %d -> %d", mEntry.name.c_str(), mState,
                      target);
                return OMX_ErrorIncorrectStateTransition;
            }
            mStatePending = true;
            mPendingState = target;
            if ((mState == OMX_StateLoaded && target == OMX_StateIdle) ||
                (mState == OMX_StateIdle && target == OMX_StateLoaded)) {
                // Completed by the buffer calls (or at once when none are needed).
                checkTransitions();
                return OMX_ErrorNone;
            }
            break;
        }
        case OMX_CommandFlush:
            if (mState != OMX_StateIdle && mState != OMX_StateExecuting &&
                mState != OMX_StatePause) {
                return OMX_ErrorIncorrectStateOperation;
            }
            if (param >= kNumPorts && param != OMX_ALL) return OMX_ErrorBadPortIndex;
            break;
        case OMX_CommandPortDisable:
        case OMX_CommandPortEnable:
            if (param >= kNumPorts && param != OMX_ALL) return OMX_ErrorBadPortIndex;
            // Takes effect at once: the client frees or allocates the port's
            // buffers right after sending it.
            for (OMX_U32 p = 0; p < kNumPorts; ++p) {
                if (param != OMX_ALL && param != p) continue;
                if (cmd == OMX_CommandPortDisable) {
                    disablePort(p, lock);
                } else {
                    enablePort(p);
                }
            }
            return OMX_ErrorNone;
        default:
            return OMX_ErrorNotImplemented;
    }
    mCommands.push_back({cmd, param});
    mCond.notify_all();
    return OMX_ErrorNone;
}

void OmxComponent::workerLoop() {
    Lock lock(mLock);
    while (true) {
        mCond.wait(lock, [this] { return mQuit || !mCommands.empty() || hasWork(); });
        if (mQuit) break;
        if (!mCommands.empty()) {
            Command cmd = mCommands.front();
            mCommands.pop_front();
            processCommand(cmd, lock);
            continue;
        }
        mWorkPending = false;
        onQueueFilled(lock);
    }
}

bool OmxComponent::hasWork() const {
    return mWorkPending && mState == OMX_StateExecuting && !mFailed && !mStalled;
}

void OmxComponent::processCommand(const Command& cmd, Lock& lock) {
    switch (cmd.mCmd) {
        case OMX_CommandStateSet:
            processStateSet((OMX_STATETYPE)cmd.mParam, lock);
            break;
        case OMX_CommandFlush:
            for (OMX_U32 p = 0; p < kNumPorts; ++p) {
                if (cmd.mParam != OMX_ALL && cmd.mParam != p) continue;
                flushPort(p);
                onPortFlushed(p, lock);
                mListener->onEvent(OMX_EventCmdComplete, OMX_CommandFlush, p);
            }
            break;
        default:
            break;
    }
}

void OmxComponent::disablePort(OMX_U32 p, Lock& lock) {
    Port& port = mPorts[p];
    flushPort(p);
    onPortFlushed(p, lock);
    port.mDef.bEnabled = OMX_FALSE;
    port.mTransition = Port::DISABLING;  // until its last buffer is freed
    checkTransitions();
}

void OmxComponent::enablePort(OMX_U32 p) {
    Port& port = mPorts[p];
    port.mDef.bEnabled = OMX_TRUE;
    if (mState == OMX_StateLoaded && !mStatePending) {
        port.mTransition = Port::NONE;
        mListener->onEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, p);
    } else {
        port.mTransition = Port::ENABLING;  // until it is populated
        checkTransitions();
    }
}

void OmxComponent::processStateSet(OMX_STATETYPE target, Lock& lock) {
    OMX_ERRORTYPE err = OMX_ErrorNone;
    if (target == OMX_StateInvalid) {
        for (OMX_U32 p = 0; p < kNumPorts; ++p) flushPort(p);
        mState = OMX_StateInvalid;
        mStatePending = false;
        mListener->onEvent(OMX_EventError, (OMX_U32)OMX_ErrorInvalidState, 0);
        return;
    }
    if (mState == OMX_StateIdle && target == OMX_StateExecuting) {
        err = onStart(lock);
        if (err == OMX_ErrorNone) mWorkPending = true;
    } else if (target == OMX_StateIdle) {
        // Every buffer goes back before Idle is reported.
        for (OMX_U32 p = 0; p < kNumPorts; ++p) flushPort(p);
        if (mState != OMX_StateIdle) onStop(lock);
        mFailed = false;
        mFramesEncoded = 0;
    } else if (target == OMX_StateExecuting) {
        mWorkPending = true;  // resumed from Pause
    }
    mStatePending = false;
    if (err != OMX_ErrorNone) {
        ALOGE("[%s] cannot enter state %d (0x%08x)", mEntry.name.c_str(), target, err);
        mListener->onEvent(OMX_EventError, (OMX_U32)err, 0);
        return;
    }
    mState = target;
    mListener->onEvent(OMX_EventCmdComplete, OMX_CommandStateSet, target);
}

void OmxComponent::flushPort(OMX_U32 port) {
    Port& p = mPorts[port];
    while (!p.mQueue.empty()) {
        OMX_BUFFERHEADERTYPE* h = p.mQueue.front();
        p.mQueue.pop_front();
        if (port == kOutputPort) {
            h->nFilledLen = 0;
            h->nOffset = 0;
            h->nFlags = 0;
        }
        returnBuffer(port, h);
    }
}

bool OmxComponent::allEnabledPortsPopulated() const {
    for (const Port& p : mPorts) {
        if (p.mDef.bEnabled && p.mBuffers.size() < p.mDef.nBufferCountActual) return false;
    }
    return true;
}

bool OmxComponent::noBuffersLeft() const {
    for (const Port& p : mPorts) {
        if (!p.mBuffers.empty()) return false;
    }
    return true;
}

void OmxComponent::checkTransitions() {
    if (mStatePending && mState == OMX_StateLoaded && mPendingState == OMX_StateIdle &&
        allEnabledPortsPopulated()) {
        mState = OMX_StateIdle;
        mStatePending = false;
        mListener->onEvent(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle);
    }
    if (mStatePending && mState == OMX_StateIdle && mPendingState == OMX_StateLoaded &&
        noBuffersLeft()) {
        mState = OMX_StateLoaded;
        mStatePending = false;
        mListener->onEvent(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded);
    }
    for (OMX_U32 i = 0; i < kNumPorts; ++i) {
        Port& p = mPorts[i];
        if (p.mTransition == Port::DISABLING && p.mBuffers.empty()) {
            p.mTransition = Port::NONE;
            mListener->onEvent(OMX_EventCmdComplete, OMX_CommandPortDisable, i);
        } else if (p.mTransition == Port::ENABLING &&
                   p.mBuffers.size() >= p.mDef.nBufferCountActual) {
            p.mTransition = Port::NONE;
            mListener->onEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, i);
            mWorkPending = true;
            mCond.notify_all();
        }
    }
}

// ---- parameters -------------------------------------------------------

OMX_ERRORTYPE OmxComponent::getParameter(OMX_INDEXTYPE index, void* params, size_t size) {
    Lock lock(mLock);
    switch ((int)index) {
        case OMX_IndexParamPortDefinition: {
            if (!checkStruct<OMX_PARAM_PORTDEFINITIONTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* def = static_cast<OMX_PARAM_PORTDEFINITIONTYPE*>(params);
            if (def->nPortIndex >= kNumPorts) return OMX_ErrorBadPortIndex;
            Port& p = mPorts[def->nPortIndex];
            p.mDef.bPopulated = p.mBuffers.size() >= p.mDef.nBufferCountActual ? OMX_TRUE
                                                                             : OMX_FALSE;
            OMX_VERSIONTYPE version = def->nVersion;
            *def = p.mDef;
            def->nVersion = version;
            return OMX_ErrorNone;
        }
        case OMX_IndexParamStandardComponentRole: {
            if (!checkStruct<OMX_PARAM_COMPONENTROLETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            auto* r = static_cast<OMX_PARAM_COMPONENTROLETYPE*>(params);
            strncpy((char*)r->cRole, role(), OMX_MAX_STRINGNAME_SIZE - 1);
            r->cRole[OMX_MAX_STRINGNAME_SIZE - 1] = 0;
            return OMX_ErrorNone;
        }
        default:
            return internalGetParameter(index, params, size);
    }
}

OMX_ERRORTYPE OmxComponent::setParameter(OMX_INDEXTYPE index, const void* params, size_t size) {
    Lock lock(mLock);
    if (mState == OMX_StateInvalid) return OMX_ErrorInvalidState;
    switch ((int)index) {
        case OMX_IndexParamPortDefinition: {
            if (!checkStruct<OMX_PARAM_PORTDEFINITIONTYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            const auto* def = static_cast<const OMX_PARAM_PORTDEFINITIONTYPE*>(params);
            if (def->nPortIndex >= kNumPorts) return OMX_ErrorBadPortIndex;
            if (!portWritable(def->nPortIndex)) return OMX_ErrorIncorrectStateOperation;
            if (def->nBufferCountActual < mPorts[def->nPortIndex].mDef.nBufferCountMin) {
                return OMX_ErrorBadParameter;
            }
            return setPortDefinition(def->nPortIndex, *def);
        }
        case OMX_IndexParamStandardComponentRole: {
            if (!checkStruct<OMX_PARAM_COMPONENTROLETYPE>(params, size)) {
                return OMX_ErrorBadParameter;
            }
            if (mState != OMX_StateLoaded || mStatePending) {
                return OMX_ErrorIncorrectStateOperation;
            }
            const auto* r = static_cast<const OMX_PARAM_COMPONENTROLETYPE*>(params);
            if (strncmp((const char*)r->cRole, role(), OMX_MAX_STRINGNAME_SIZE) != 0) {
                return OMX_ErrorUnsupportedSetting;
            }
            return OMX_ErrorNone;
        }
        default:
            return internalSetParameter(index, params, size);
    }
}

OMX_ERRORTYPE OmxComponent::getConfig(OMX_INDEXTYPE index, void* params, size_t size) {
    Lock lock(mLock);
    return internalGetConfig(index, params, size);
}

OMX_ERRORTYPE OmxComponent::setConfig(OMX_INDEXTYPE index, const void* params, size_t size) {
    Lock lock(mLock);
    if (mState == OMX_StateInvalid) return OMX_ErrorInvalidState;
    return internalSetConfig(index, params, size);
}

OMX_ERRORTYPE OmxComponent::getExtensionIndex(const char* name, OMX_INDEXTYPE* index) {
    if (name == nullptr || index == nullptr) return OMX_ErrorBadParameter;
    Lock lock(mLock);
    return internalGetExtensionIndex(name, index);
}

OMX_ERRORTYPE OmxComponent::getState(OMX_STATETYPE* state) {
    if (state == nullptr) return OMX_ErrorBadParameter;
    Lock lock(mLock);
    *state = mState;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::internalGetParameter(OMX_INDEXTYPE, void*, size_t) {
    return OMX_ErrorUnsupportedIndex;
}
OMX_ERRORTYPE OmxComponent::internalSetParameter(OMX_INDEXTYPE, const void*, size_t) {
    return OMX_ErrorUnsupportedIndex;
}
OMX_ERRORTYPE OmxComponent::internalGetConfig(OMX_INDEXTYPE, void*, size_t) {
    return OMX_ErrorUnsupportedIndex;
}
OMX_ERRORTYPE OmxComponent::internalSetConfig(OMX_INDEXTYPE, const void*, size_t) {
    return OMX_ErrorUnsupportedIndex;
}
OMX_ERRORTYPE OmxComponent::internalGetExtensionIndex(const char*, OMX_INDEXTYPE*) {
    return OMX_ErrorUnsupportedIndex;
}

// ---- buffers ----------------------------------------------------------

OmxComponent::Port::Buffer* OmxComponent::findBuffer(OMX_U32 port,
                                                     OMX_BUFFERHEADERTYPE* header) {
    if (port >= kNumPorts || header == nullptr) return nullptr;
    for (Port::Buffer& b : mPorts[port].mBuffers) {
        if (b.mHeader == header) return &b;
    }
    return nullptr;
}

OMX_ERRORTYPE OmxComponent::useBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port,
                                      OMX_PTR appPrivate, OMX_U32 size, OMX_U8* data) {
    if (data == nullptr) return OMX_ErrorBadParameter;
    // Components with these quirks insist on memory of their own.
    if ((port == kInputPort && mEntry.hasQuirk("requires-allocate-on-input-ports")) ||
        (port == kOutputPort && mEntry.hasQuirk("requires-allocate-on-output-ports"))) {
        ALOGE("[%s] port %u needs buffers allocated by the component", mEntry.name.c_str(),
              (unsigned)port);
        return OMX_ErrorNotImplemented;
    }
    Lock lock(mLock);
    return addBuffer(out, port, appPrivate, size, data);
}

OMX_ERRORTYPE OmxComponent::allocateBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port,
                                           OMX_PTR appPrivate, OMX_U32 size) {
    Lock lock(mLock);
    return addBuffer(out, port, appPrivate, size, nullptr);
}

OMX_ERRORTYPE OmxComponent::addBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port,
                                      OMX_PTR appPrivate, OMX_U32 size, OMX_U8* data) {
    if (out == nullptr) return OMX_ErrorBadParameter;
    if (port >= kNumPorts) return OMX_ErrorBadPortIndex;
    Port& p = mPorts[port];
    bool allowed = (mState == OMX_StateLoaded && mStatePending &&
                    mPendingState == OMX_StateIdle && p.mDef.bEnabled) ||
                   p.mTransition == Port::ENABLING;
    if (!allowed) return OMX_ErrorIncorrectStateOperation;
    if (p.mBuffers.size() >= p.mDef.nBufferCountActual) return OMX_ErrorInsufficientResources;
    if (size < p.mDef.nBufferSize) return OMX_ErrorBadParameter;
    bool owns = data == nullptr;
    if (owns) {
        data = static_cast<OMX_U8*>(calloc(1, size));
        if (data == nullptr) return OMX_ErrorInsufficientResources;
    }
    auto* h = new OMX_BUFFERHEADERTYPE;
    initHeader(h, sizeof(*h));
    h->pBuffer = data;
    h->nAllocLen = size;
    h->pAppPrivate = appPrivate;
    h->nInputPortIndex = port == kInputPort ? kInputPort : OMX_ALL;
    h->nOutputPortIndex = port == kOutputPort ? kOutputPort : OMX_ALL;
    if (port == kInputPort) poison(h);
    p.mBuffers.push_back({h, owns, false});
    if (p.mBuffers.size() >= p.mDef.nBufferCountActual) p.mDef.bPopulated = OMX_TRUE;
    *out = h;
    checkTransitions();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::freeBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header) {
    Lock lock(mLock);
    if (port >= kNumPorts) return OMX_ErrorBadPortIndex;
    Port& p = mPorts[port];
    Port::Buffer* b = findBuffer(port, header);
    if (b == nullptr) return OMX_ErrorBadParameter;
    if (b->mWithComponent) return OMX_ErrorIncorrectStateOperation;
    bool expected = (mStatePending && mPendingState == OMX_StateLoaded) ||
                    p.mTransition == Port::DISABLING || mState == OMX_StateLoaded ||
                    mState == OMX_StateInvalid || !p.mDef.bEnabled;
    if (b->mOwnsData) free(header->pBuffer);
    delete header;
    p.mBuffers.erase(p.mBuffers.begin() + (b - p.mBuffers.data()));
    p.mDef.bPopulated = OMX_FALSE;
    if (!expected) {
        // Taking a buffer from an enabled port of a running component.
        mListener->onEvent(OMX_EventError, (OMX_U32)OMX_ErrorPortUnpopulated, port);
    }
    checkTransitions();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::emptyThisBuffer(OMX_BUFFERHEADERTYPE* header) {
    return queueBuffer(kInputPort, header);
}

OMX_ERRORTYPE OmxComponent::fillThisBuffer(OMX_BUFFERHEADERTYPE* header) {
    return queueBuffer(kOutputPort, header);
}

OMX_ERRORTYPE OmxComponent::queueBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header) {
    Lock lock(mLock);
    if (mState != OMX_StateExecuting && mState != OMX_StatePause) {
        return OMX_ErrorIncorrectStateOperation;
    }
    Port& p = mPorts[port];
    Port::Buffer* b = findBuffer(port, header);
    if (b == nullptr) return OMX_ErrorBadParameter;
    if (!p.mDef.bEnabled || p.mTransition != Port::NONE) {
        return OMX_ErrorIncorrectStateOperation;
    }
    if (b->mWithComponent) return OMX_ErrorIncorrectStateOperation;
    if (port == kInputPort && (uint64_t)header->nOffset + header->nFilledLen > header->nAllocLen) {
        return OMX_ErrorBadParameter;
    }
    b->mWithComponent = true;
    p.mQueue.push_back(header);
    mWorkPending = true;
    mCond.notify_all();
    return OMX_ErrorNone;
}

OMX_BUFFERHEADERTYPE* OmxComponent::peekBuffer(OMX_U32 port) {
    Port& p = mPorts[port];
    return p.mQueue.empty() ? nullptr : p.mQueue.front();
}

OMX_BUFFERHEADERTYPE* OmxComponent::takeBuffer(OMX_U32 port) {
    Port& p = mPorts[port];
    if (p.mQueue.empty()) return nullptr;
    OMX_BUFFERHEADERTYPE* h = p.mQueue.front();
    p.mQueue.pop_front();
    return h;
}

void OmxComponent::returnBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header) {
    Port::Buffer* b = findBuffer(port, header);
    if (b == nullptr) return;
    b->mWithComponent = false;
    if (port == kInputPort) {
        poison(header);
        mListener->onEmptyBufferDone(header);
    } else {
        mListener->onFillBufferDone(header);
    }
}

// An input buffer goes out filled with a pattern no frame has, so that a
// client filling less than it says shows as a wrong picture, not as the
// previous frame's bytes.
void OmxComponent::poison(OMX_BUFFERHEADERTYPE* header) {
    memset(header->pBuffer, kPoisonByte, header->nAllocLen);
}

bool OmxComponent::admitFrame() {
    long long stallAfter = mEntry.intKey("fault.stallafter", -1);
    if (stallAfter >= 0 && mFramesEncoded >= stallAfter) {
        ALOGE("[%s] injected stall after %lld frames", mEntry.name.c_str(), mFramesEncoded);
        mStalled = true;
        return false;
    }
    long long after = mEntry.intKey("fault.errorafter", -1);
    if (after >= 0 && mFramesEncoded >= after) {
        ALOGE("[%s] injected error after %lld frames", mEntry.name.c_str(), mFramesEncoded);
        signalError(OMX_ErrorHardware);
        return false;
    }
    ++mFramesEncoded;
    return true;
}

void OmxComponent::signalError(OMX_ERRORTYPE error) {
    if (mFailed) return;
    mFailed = true;
    mListener->onEvent(OMX_EventError, (OMX_U32)error, 0);
}

}  // namespace android
