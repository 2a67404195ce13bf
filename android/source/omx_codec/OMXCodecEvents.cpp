// The service's messages: events, and buffers coming back from the
// component (always with mLock held). The state machine the events drive
// is in OMXCodecStates.cpp.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"
#include "omx_codec/OMXFormatChange.h"

#include <strings.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "omx_codec/OMXParams.h"

namespace qor {

using android::MetaData;
using android::OK;
using android::omx_message;

namespace {

const OMX_U32 kOutputCropConfigIndex = 0x0700000F;  // OMX_IndexConfigCommonOutputCrop
const OMX_U32 kScaleConfigIndex = 0x07000005;       // OMX_IndexConfigCommonScale

}  // namespace

void OMXCodec::on_message(const omx_message& msg) {
    if (mState == ERROR && msg.type == omx_message::EVENT) {
        ALOGW("Dropping OMX EVENT message - we're in ERROR state.");
        return;
    }

    switch (msg.type) {
        case omx_message::EVENT:
            onEvent(msg.u.event_data.event, msg.u.event_data.data1, msg.u.event_data.data2);
            break;
        case omx_message::EMPTY_BUFFER_DONE:
            onEmptyBufferDone(msg.u.buffer_data.buffer);
            break;
        case omx_message::FILL_BUFFER_DONE:
            onFillBufferDone(msg);
            break;
        default:
            ALOGW("[%s] unknown message type %d ignored", mComponentName.c_str(), (int)msg.type);
            break;
    }
}

// The buffer's index on the port; the port's size for a buffer the port
// does not have (then the message is ignored).
size_t OMXCodec::findBufferIndex(OMX_U32 portIndex, android::IOMX::buffer_id buffer) {
    const std::vector<BufferInfo>& buffers = mPortBuffers[portIndex];
    size_t i = 0;
    while (i < buffers.size() && buffers[i].mBuffer != buffer) ++i;
    if (i == buffers.size()) {
        ALOGW("[%s] a message for buffer %u, not one of port %u's", mComponentName.c_str(),
              (unsigned)(uintptr_t)buffer, (unsigned)portIndex);
    }
    return i;
}

void OMXCodec::onEmptyBufferDone(android::IOMX::buffer_id buffer) {
    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexInput];
    const size_t i = findBufferIndex(kPortIndexInput, buffer);
    if (i == buffers->size()) return;
    noteProgress();
    BufferInfo* info = &(*buffers)[i];
    if (info->mStatus != OWNED_BY_COMPONENT) {
        ALOGW("We already own input buffer %u, yet received an EMPTY_BUFFER_DONE.",
              (unsigned)(uintptr_t)buffer);
    }
    info->mStatus = OWNED_BY_US;

    // The component is done with the source's buffer it read in place.
    info->mSourceBuffer.reset();

    if (mPortStatus[kPortIndexInput] == DISABLING) {
        if (freeBuffer(kPortIndexInput, i) != OK) fail("an input buffer could not be freed");
    } else if (mState != ERROR && mPortStatus[kPortIndexInput] == ENABLED) {
        drainInputBuffers();
    }
}

void OMXCodec::onFillBufferDone(const omx_message& msg) {
    const android::IOMX::buffer_id buffer = msg.u.extended_buffer_data.buffer;
    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexOutput];
    const size_t i = findBufferIndex(kPortIndexOutput, buffer);
    if (i == buffers->size()) return;
    noteProgress();
    BufferInfo* info = &(*buffers)[i];
    if (info->mStatus != OWNED_BY_COMPONENT) {
        ALOGW("We already own output buffer %u, yet received a FILL_BUFFER_DONE.",
              (unsigned)(uintptr_t)buffer);
    }
    info->mStatus = OWNED_BY_US;

    if (mPortStatus[kPortIndexOutput] == DISABLING) {
        if (freeBuffer(kPortIndexOutput, i) != OK) fail("an output buffer could not be freed");
    } else if (mPortStatus[kPortIndexOutput] == ENABLED) {
        deliverFilledBuffer(info, msg);
    }
}

void OMXCodec::onEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) {
    switch (event) {
        case OMX_EventCmdComplete:
            onCmdComplete((OMX_COMMANDTYPE)data1, data2);
            break;
        case OMX_EventError:
            ALOGE("[%s] ERROR(0x%08x, %u)", mComponentName.c_str(), (unsigned)data1,
                  (unsigned)data2);
            setState(ERROR);
            break;
        case OMX_EventPortSettingsChanged:
            if (data2 == 0 || data2 == OMX_IndexParamPortDefinition) {
                onPortDefinitionChanged(data1);
            } else if (data1 == kPortIndexOutput &&
                       (data2 == kOutputCropConfigIndex || data2 == kScaleConfigIndex)) {
                onOutputConfigChanged(data2);
            }
            break;
        default:
            break;
    }
}

// Only the output port of a running codec can be reconfigured, and only
// while no encoded buffer waits for or is held by the reader (their memory
// goes with the port's). Anything else ends the codec.
void OMXCodec::onPortDefinitionChanged(OMX_U32 portIndex) {
    if (mState != EXECUTING && mState != RECONFIGURING) {
        ALOGW("[%s] port %u settings changed in state %d: ignored", mComponentName.c_str(),
              (unsigned)portIndex, (int)mState);
        return;
    }
    bool clientHolds = false;
    for (const BufferInfo& info : mPortBuffers[kPortIndexOutput]) {
        if (info.mStatus == OWNED_BY_CLIENT) clientHolds = true;
    }
    if (portIndex != kPortIndexOutput || mState != EXECUTING || mOutputPortSettingsChangedPending ||
        clientHolds || !mFilledBuffers.empty()) {
        ALOGE("[%s] port %u settings changed while %s", mComponentName.c_str(), (unsigned)portIndex,
              clientHolds || !mFilledBuffers.empty() ? "encoded buffers are out" : "busy");
        fail("an unexpected port settings change");
        return;
    }
    onPortSettingsChanged(portIndex);
}

// The output crop or scale changed: no reconfiguration, a new format.
void OMXCodec::onOutputConfigChanged(OMX_U32 configIndex) {
    sp<MetaData> oldOutputFormat = mOutputFormat;
    initOutputFormat(mSource->getFormat());
    if (configIndex == kOutputCropConfigIndex &&
        formatHasNotablyChanged(oldOutputFormat, mOutputFormat)) {
        mOutputPortSettingsHaveChanged = true;
    } else if (configIndex == kScaleConfigIndex) {
        applyOutputScale();
    }
}

// A scale other than 1.0 (16.16 fixed point) gives a display size.
void OMXCodec::applyOutputScale() {
    OMX_CONFIG_SCALEFACTORTYPE scale;
    InitOMXParams(&scale);
    scale.nPortIndex = kPortIndexOutput;
    if (mOMX->getConfig(mNode, OMX_IndexConfigCommonScale, &scale, sizeof(scale)) != OK) return;
    int32_t left, top, right, bottom;
    if (!mOutputFormat->findRect(android::kKeyCropRect, &left, &top, &right, &bottom)) {
        // An encoder's output has no picture to scale.
        ALOGW("[%s] scale event without a crop rectangle: ignored", mComponentName.c_str());
        return;
    }
    if (scale.xWidth != 0x010000) {
        mOutputFormat->setInt32(android::kKeyDisplayWidth,
                                ((right - left + 1) * scale.xWidth) >> 16);
        mOutputPortSettingsHaveChanged = true;
    }
    if (scale.xHeight != 0x010000) {
        mOutputFormat->setInt32(android::kKeyDisplayHeight,
                                ((bottom - top + 1) * scale.xHeight) >> 16);
        mOutputPortSettingsHaveChanged = true;
    }
}

}  // namespace qor
