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
    if (mNativeWindow != nullptr && portIndex == kPortIndexOutput) return -1;
    if ((mFlags & kEnableGrallocUsageProtected) && portIndex == kPortIndexOutput) {
        ALOGE("protected output buffers must be stent to an ANativeWindow");
        return -1;
    }

    status_t err = OK;
    if ((mFlags & kStoreMetaDataInVideoBuffers) && portIndex == kPortIndexInput) {
        err = mOMX->storeMetaDataInBuffers(mNode, kPortIndexInput, OMX_TRUE);
        if (err != OK) {
            ALOGE("Storing meta data in video buffers is not supported");
            return err;
        }
    }

    OMX_PARAM_PORTDEFINITIONTYPE def;
    InitOMXParams(&def);
    def.nPortIndex = portIndex;
    err = mOMX->getParameter(mNode, OMX_IndexParamPortDefinition, &def, sizeof(def));
    if (err != OK) return err;

    ALOGI("[%s] qor allocating %lu buffers of size %lu on %s port", mComponentName,
          (unsigned long)def.nBufferCountActual, (unsigned long)def.nBufferSize,
          portIndex == kPortIndexInput ? "input" : "output");

    const size_t totalSize = (size_t)def.nBufferCountActual * def.nBufferSize;
#if PLATFORM_LEVEL >= 21
    mDealer[portIndex] = new android::MemoryDealer(totalSize, "OMXCodec", 0);
#else
    mDealer[portIndex] = new android::MemoryDealer(totalSize, "OMXCodec");
#endif

    for (OMX_U32 i = 0; i < def.nBufferCountActual; ++i) {
        sp<android::IMemory> mem = mDealer[portIndex]->allocate(def.nBufferSize);
        CHECK(mem.get() != nullptr);

        BufferInfo info;
        info.mData = nullptr;
        info.mSize = def.nBufferSize;

        // Components with the quirk for a port (and secure input) give out
        // their own memory on it.
        const bool componentAllocates =
                portIndex == kPortIndexInput
                        ? (mQuirks & kRequiresAllocateBufferOnInputPorts) ||
                                  (mFlags & kUseSecureInputBuffers)
                        : (mQuirks & kRequiresAllocateBufferOnOutputPorts) != 0;
        IOMX::buffer_id buffer;
        if (componentAllocates && mOMXLivesLocally) {
            mem.clear();
            err = mOMX->allocateBuffer(mNode, portIndex, def.nBufferSize, &buffer, &info.mData);
        } else if (componentAllocates) {
#if PLATFORM_LEVEL >= 23
            err = mOMX->allocateBufferWithBackup(mNode, portIndex, mem, &buffer, mem->size());
#else
            err = mOMX->allocateBufferWithBackup(mNode, portIndex, mem, &buffer);
#endif
        } else {
#if PLATFORM_LEVEL >= 23
            err = mOMX->useBuffer(mNode, portIndex, mem, &buffer, mem->size());
#else
            err = mOMX->useBuffer(mNode, portIndex, mem, &buffer);
#endif
        }

        if (err != OK) {
            ALOGE("allocate_buffer_with_backup failed");
            return err;
        }

        if (mem != nullptr) info.mData = mem->pointer();
        info.mBuffer = buffer;
        info.mStatus = OWNED_BY_US;
        info.mMem = mem;
        info.mMediaBuffer = nullptr;

        if (portIndex == kPortIndexOutput) {
            info.mMediaBuffer = new MediaBuffer(info.mData, info.mSize);
            info.mMediaBuffer->setObserver(this);
        }
        mPortBuffers[portIndex].push_back(info);
    }

    if (portIndex == kPortIndexOutput) {
        sp<android::MetaData> meta = mSource->getFormat();
        int32_t delay = 0;
        if (!meta->findInt32(android::kKeyEncoderDelay, &delay)) delay = 0;
        int32_t padding = 0;
        if (!meta->findInt32(android::kKeyEncoderPadding, &padding)) padding = 0;
        int32_t numchannels = 0;
        if (delay + padding) {
            if (mOutputFormat->findInt32(android::kKeyChannelCount, &numchannels)) {
                const size_t frameSize = numchannels * sizeof(int16_t);
                if (mSkipCutBuffer != nullptr) {
                    const size_t prevbuffersize = mSkipCutBuffer->size();
                    if (prevbuffersize != 0) {
                        ALOGW("Replacing SkipCutBuffer holding %d bytes", (int)prevbuffersize);
                    }
                }
                mSkipCutBuffer = new android::SkipCutBuffer(delay * frameSize, padding * frameSize);
            }
        }
    }

    if (portIndex == kPortIndexInput && (mFlags & kUseSecureInputBuffers)) {
        std::vector<MediaBuffer*> buffers;
        for (BufferInfo& info : mPortBuffers[portIndex]) {
            buffers.push_back(new MediaBuffer(info.mData, info.mSize));
        }
        err = mSource->setBuffers(buffers);
        if (err != OK) {
            for (MediaBuffer* buffer : buffers) buffer->release();
            ALOGE("[%s] Codec requested to use secure input buffers but upstream source didn't "
                  "support that.",
                  mComponentName);
            return err;
        }
    }
    return OK;
}

status_t OMXCodec::freeBuffer(OMX_U32 portIndex, size_t bufIndex) {
    std::vector<BufferInfo>* buffers = &mPortBuffers[portIndex];
    BufferInfo* info = &(*buffers)[bufIndex];
    status_t err = mOMX->freeBuffer(mNode, portIndex, info->mBuffer);
    if (err == OK && info->mMediaBuffer != nullptr) {
        CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
        info->mMediaBuffer->setObserver(nullptr);
        CHECK_EQ(info->mMediaBuffer->refcount(), 0);
        info->mMediaBuffer->release();
        info->mMediaBuffer = nullptr;
    }
    if (err == OK) buffers->erase(buffers->begin() + bufIndex);
    return err;
}

status_t OMXCodec::freeBuffersOnPort(OMX_U32 portIndex, bool onlyThoseWeOwn) {
    std::vector<BufferInfo>* buffers = &mPortBuffers[portIndex];
    status_t stickyErr = OK;
    for (size_t i = buffers->size(); i > 0;) {
        --i;
        BufferInfo* info = &(*buffers)[i];
        if (onlyThoseWeOwn && info->mStatus == OWNED_BY_COMPONENT) continue;
        CHECK(info->mStatus == OWNED_BY_US || info->mStatus == OWNED_BY_NATIVE_WINDOW);
        status_t err = freeBuffer(portIndex, i);
        if (err != OK) stickyErr = err;
    }
    CHECK(onlyThoseWeOwn || buffers->empty());
    return stickyErr;
}

bool OMXCodec::flushPortAsync(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING || mState == EXECUTING_TO_IDLE);
    CHECK_EQ((int)mPortStatus[portIndex], (int)ENABLED);
    mPortStatus[portIndex] = SHUTTING_DOWN;
    status_t err = mOMX->sendCommand(mNode, OMX_CommandFlush, portIndex);
    CHECK_EQ(err, (status_t)OK);
    return true;
}

void OMXCodec::disablePortAsync(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING);
    CHECK_EQ((int)mPortStatus[portIndex], (int)ENABLED);
    mPortStatus[portIndex] = DISABLING;
    status_t err = mOMX->sendCommand(mNode, OMX_CommandPortDisable, portIndex);
    CHECK_EQ(err, (status_t)OK);
    freeBuffersOnPort(portIndex, true);
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
