// The component's buffers on both ports: allocation, ownership, freeing,
// flushing, disabling and enabling a port.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

#include <unistd.h>

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "omx_codec/OMXParams.h"

namespace qor {

using android::IOMX;
using android::MediaBuffer;
using android::OK;

status_t OMXCodec::allocateBuffers() {
    status_t err = allocateBuffersOnPort(kPortIndexInput);
    if (err != OK) return err;
    return allocateBuffersOnPort(kPortIndexOutput);
}

status_t OMXCodec::allocateBuffersOnPort(OMX_U32 portIndex) {
    status_t err = checkPortMayAllocate(portIndex);
    if (err != OK) return err;

    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = portIndex;
    err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return err;

    ALOGI("[%s] qor allocating %lu buffers of size %lu on %s port", mComponentName.c_str(),
          (unsigned long)def.nBufferCountActual, (unsigned long)def.nBufferSize,
          portIndex == kPortIndexInput ? "input" : "output");

    const size_t totalSize = (size_t)def.nBufferCountActual * def.nBufferSize;
#if PLATFORM_LEVEL >= 21
    mDealer[portIndex] = new android::MemoryDealer(totalSize, "OMXCodec", 0);
#else
    mDealer[portIndex] = new android::MemoryDealer(totalSize, "OMXCodec");
#endif
    for (OMX_U32 i = 0; i < def.nBufferCountActual; ++i) {
        err = allocateBuffer(portIndex, def);
        if (err != OK) return err;
    }

    if (portIndex == kPortIndexOutput) setUpSkipCutBuffer();
    if (portIndex == kPortIndexInput && (mFlags & kUseSecureInputBuffers)) {
        return shareInputBuffersWithSource();
    }
    return OK;
}

// Output buffers for a native window, or protected ones, are not ours to
// allocate; input buffers that carry meta data need the component's consent.
status_t OMXCodec::checkPortMayAllocate(OMX_U32 portIndex) {
    if (mNativeWindow != nullptr && portIndex == kPortIndexOutput) return -1;
    if ((mFlags & kEnableGrallocUsageProtected) && portIndex == kPortIndexOutput) {
        ALOGE("protected output buffers must be stent to an ANativeWindow");
        return -1;
    }
    if ((mFlags & kStoreMetaDataInVideoBuffers) && portIndex == kPortIndexInput) {
        status_t err = mOMX->storeMetaDataInBuffers(mNode, kPortIndexInput, OMX_TRUE);
        if (err != OK) {
            ALOGE("Storing meta data in video buffers is not supported");
            return err;
        }
    }
    return OK;
}

// Components with the quirk for a port (and secure input) give out their
// own memory on it.
bool OMXCodec::componentAllocatesOn(OMX_U32 portIndex) {
    if (portIndex == kPortIndexInput) {
        return (mQuirks & kRequiresAllocateBufferOnInputPorts) || (mFlags & kUseSecureInputBuffers);
    }
    return (mQuirks & kRequiresAllocateBufferOnOutputPorts) != 0;
}

// One buffer of `def`'s size from the port's dealer, registered with the
// component; output buffers get the MediaBuffer that read() hands out.
status_t OMXCodec::allocateBuffer(OMX_U32 portIndex, const OMX_PARAM_PORTDEFINITIONTYPE& def) {
    sp<android::IMemory> mem = mDealer[portIndex]->allocate(def.nBufferSize);
    if (mem == nullptr) {
        // The component asked for buffers no shared memory can hold.
        ALOGE("[%s] no shared memory for a buffer of %lu bytes on %s port", mComponentName.c_str(),
              (unsigned long)def.nBufferSize, portName(portIndex));
        return android::NO_MEMORY;
    }

    BufferInfo info;
    info.mSize = def.nBufferSize;
    const bool componentAllocates = componentAllocatesOn(portIndex);
    status_t err;
    if (componentAllocates && mOMXLivesLocally) {
        mem.clear();
        err = mOMX->allocateBuffer(mNode, portIndex, def.nBufferSize, &info.mBuffer, &info.mData);
    } else if (componentAllocates) {
#if PLATFORM_LEVEL >= 23
        err = mOMX->allocateBufferWithBackup(mNode, portIndex, mem, &info.mBuffer, mem->size());
#else
        err = mOMX->allocateBufferWithBackup(mNode, portIndex, mem, &info.mBuffer);
#endif
    } else {
#if PLATFORM_LEVEL >= 23
        err = mOMX->useBuffer(mNode, portIndex, mem, &info.mBuffer, mem->size());
#else
        err = mOMX->useBuffer(mNode, portIndex, mem, &info.mBuffer);
#endif
    }
    if (err != OK) {
        ALOGE("allocate_buffer_with_backup failed");
        return err;
    }

    if (mem != nullptr) info.mData = mem->pointer();
    info.mStatus = OWNED_BY_US;
    info.mMem = mem;
    if (portIndex == kPortIndexOutput) {
        info.mOutputBuffer.reset(new MediaBuffer(info.mData, info.mSize));
        info.mOutputBuffer->setObserver(this);
    }
    mPortBuffers[portIndex].push_back(std::move(info));
    return OK;
}

// An encoder delay or padding of the source trims the PCM output.
void OMXCodec::setUpSkipCutBuffer() {
    sp<android::MetaData> meta = mSource->getFormat();
    int32_t delay = 0;
    if (!meta->findInt32(android::kKeyEncoderDelay, &delay)) delay = 0;
    int32_t padding = 0;
    if (!meta->findInt32(android::kKeyEncoderPadding, &padding)) padding = 0;
    if (delay + padding == 0) return;
    int32_t numchannels = 0;
    if (!mOutputFormat->findInt32(android::kKeyChannelCount, &numchannels)) return;
    const size_t frameSize = numchannels * sizeof(int16_t);
    if (mSkipCutBuffer != nullptr) {
        const size_t prevbuffersize = mSkipCutBuffer->size();
        if (prevbuffersize != 0) {
            ALOGW("Replacing SkipCutBuffer holding %d bytes", (int)prevbuffersize);
        }
    }
    mSkipCutBuffer = new android::SkipCutBuffer(delay * frameSize, padding * frameSize);
}

// Secure input: the source writes straight into the component's buffers.
status_t OMXCodec::shareInputBuffersWithSource() {
    std::vector<MediaBufferRef> refs;
    std::vector<MediaBuffer*> buffers;
    for (BufferInfo& info : mPortBuffers[kPortIndexInput]) {
        refs.emplace_back(new MediaBuffer(info.mData, info.mSize));
        buffers.push_back(refs.back().get());
    }
    status_t err = mSource->setBuffers(buffers);
    if (err != OK) {
        ALOGE(
            "[%s] Codec requested to use secure input buffers but upstream source didn't "
            "support that.",
            mComponentName.c_str());
        return err;
    }
    for (MediaBufferRef& ref : refs) ref.detach();  // the source owns them now
    return OK;
}

const char* OMXCodec::portName(OMX_U32 portIndex) {
    return portIndex == kPortIndexInput ? "input" : "output";
}

// A buffer the reader still holds is never freed: its memory goes with it.
status_t OMXCodec::freeBuffer(OMX_U32 portIndex, size_t bufIndex) {
    std::vector<BufferInfo>* buffers = &mPortBuffers[portIndex];
    BufferInfo* info = &(*buffers)[bufIndex];
    if (info->mStatus == OWNED_BY_CLIENT) {
        ALOGE("[%s] output buffer %u is still held by the reader: not freed",
              mComponentName.c_str(), (unsigned)(uintptr_t)info->mBuffer);
        return android::INVALID_OPERATION;
    }
    status_t err = mOMX->freeBuffer(mNode, portIndex, info->mBuffer);
    if (err != OK) {
        ALOGE("[%s] the component refused to free %s buffer %u: %d", mComponentName.c_str(),
              portName(portIndex), (unsigned)(uintptr_t)info->mBuffer, err);
        return err;
    }
    if (info->mOutputBuffer != nullptr) {
        CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
        CHECK_EQ(info->mOutputBuffer->refcount(), 0);
    }
    buffers->erase(buffers->begin() + bufIndex);
    return OK;
}

void OMXCodec::OutputBufferDeleter::operator()(MediaBuffer* buffer) const {
    // A client still holding it would hand it back to a codec that is gone:
    // such a buffer is left alone rather than freed under the client.
    if (buffer->refcount() != 0) return;
    buffer->setObserver(nullptr);
    buffer->release();
}

status_t OMXCodec::freeBuffersOnPort(OMX_U32 portIndex, bool onlyThoseWeOwn) {
    std::vector<BufferInfo>* buffers = &mPortBuffers[portIndex];
    status_t stickyErr = OK;
    for (size_t i = buffers->size(); i > 0;) {
        --i;
        const BufferStatus status = (*buffers)[i].mStatus;
        if (onlyThoseWeOwn && status == OWNED_BY_COMPONENT) continue;
        // Callers free all of a port only once the component gave it back.
        CHECK(status != OWNED_BY_COMPONENT);
        status_t err = freeBuffer(portIndex, i);
        if (err != OK) stickyErr = err;
    }
    // A buffer that could not be freed keeps its entry; the caller fails.
    return stickyErr;
}

// A refused command leaves the port as it was on the component's side
// (its buffers stay with it) and fails the codec.
bool OMXCodec::sendPortCommand(OMX_COMMANDTYPE cmd, OMX_U32 portIndex, PortStatus during) {
    const PortStatus before = mPortStatus[portIndex];
    mPortStatus[portIndex] = during;
    status_t err = mOMX->sendCommand(mNode, cmd, portIndex);
    if (err == OK) return true;
    ALOGE("[%s] the component refused to %s the %s port: %d", mComponentName.c_str(),
          cmd == OMX_CommandFlush ? "flush" : "disable", portName(portIndex), err);
    mPortStatus[portIndex] = before;
    fail("a port command refused");
    return false;
}

bool OMXCodec::flushPortAsync(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING || mState == EXECUTING_TO_IDLE);
    CHECK_EQ((int)mPortStatus[portIndex], (int)ENABLED);
    return sendPortCommand(OMX_CommandFlush, portIndex, SHUTTING_DOWN);
}

void OMXCodec::disablePortAsync(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING);
    CHECK_EQ((int)mPortStatus[portIndex], (int)ENABLED);
    if (!sendPortCommand(OMX_CommandPortDisable, portIndex, DISABLING)) return;
    if (freeBuffersOnPort(portIndex, true) != OK) fail("a buffer of a disabled port kept");
}

status_t OMXCodec::enablePortAsync(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING);
    CHECK_EQ((int)mPortStatus[portIndex], (int)DISABLED);
    mPortStatus[portIndex] = ENABLING;
    return mOMX->sendCommand(mNode, OMX_CommandPortEnable, portIndex);
}

size_t OMXCodec::countBuffersWeOwn(const std::vector<BufferInfo>& buffers) {
    size_t n = 0;
    for (const BufferInfo& info : buffers) {
        if (info.mStatus != OWNED_BY_COMPONENT) ++n;
    }
    return n;
}

bool OMXCodec::readerHoldsOutput() {
    for (const BufferInfo& info : mPortBuffers[kPortIndexOutput]) {
        if (info.mStatus == OWNED_BY_CLIENT) return true;
    }
    return false;
}

bool OMXCodec::weOwnAllBuffersOn(OMX_U32 portIndex) {
    return countBuffersWeOwn(mPortBuffers[portIndex]) == mPortBuffers[portIndex].size();
}

OMXCodec::BufferInfo* OMXCodec::findInputBufferByDataPointer(void* ptr) {
    for (BufferInfo& info : mPortBuffers[kPortIndexInput]) {
        if (info.mData == ptr) return &info;
    }
    TRESPASS();
    return nullptr;
}

OMXCodec::BufferInfo* OMXCodec::findEmptyInputBuffer() {
    for (BufferInfo& info : mPortBuffers[kPortIndexInput]) {
        if (info.mStatus == OWNED_BY_US) return &info;
    }
    TRESPASS();
    return nullptr;
}

}  // namespace qor
