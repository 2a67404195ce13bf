// The component's state machine as the driver mirrors it, and the handling
// of the service's messages (always with mLock held).
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

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

// True when the two formats differ in a way the consumer must hear about.
bool formatHasNotablyChanged(const sp<MetaData>& from, const sp<MetaData>& to) {
    if (from == nullptr && to == nullptr) return false;
    if ((from != nullptr && to == nullptr) || (from == nullptr && to != nullptr)) return true;
    const char *mime_from, *mime_to;
    CHECK(from->findCString(android::kKeyMIMEType, &mime_from));
    CHECK(to->findCString(android::kKeyMIMEType, &mime_to));
    if (strcasecmp(mime_from, mime_to)) return true;

    if (!strcasecmp(mime_from, android::MEDIA_MIMETYPE_VIDEO_RAW)) {
        int32_t colorFormat_from, colorFormat_to;
        CHECK(from->findInt32(android::kKeyColorFormat, &colorFormat_from));
        CHECK(to->findInt32(android::kKeyColorFormat, &colorFormat_to));
        if (colorFormat_from != colorFormat_to) return true;
        int32_t width_from, width_to;
        CHECK(from->findInt32(android::kKeyWidth, &width_from));
        CHECK(to->findInt32(android::kKeyWidth, &width_to));
        if (width_from != width_to) return true;
        int32_t height_from, height_to;
        CHECK(from->findInt32(android::kKeyHeight, &height_from));
        CHECK(to->findInt32(android::kKeyHeight, &height_to));
        if (height_from != height_to) return true;
        int32_t left_from, top_from, right_from, bottom_from;
        CHECK(from->findRect(android::kKeyCropRect, &left_from, &top_from, &right_from, &bottom_from));
        int32_t left_to, top_to, right_to, bottom_to;
        CHECK(to->findRect(android::kKeyCropRect, &left_to, &top_to, &right_to, &bottom_to));
        if (left_to != left_from || top_to != top_from || right_to != right_from ||
            bottom_to != bottom_from) {
            return true;
        }
    } else if (!strcasecmp(mime_from, android::MEDIA_MIMETYPE_AUDIO_RAW)) {
        int32_t numChannels_from, numChannels_to;
        CHECK(from->findInt32(android::kKeyChannelCount, &numChannels_from));
        CHECK(to->findInt32(android::kKeyChannelCount, &numChannels_to));
        if (numChannels_from != numChannels_to) return true;
        int32_t sampleRate_from, sampleRate_to;
        CHECK(from->findInt32(android::kKeySampleRate, &sampleRate_from));
        CHECK(to->findInt32(android::kKeySampleRate, &sampleRate_to));
        if (sampleRate_from != sampleRate_to) return true;
    }
    return false;
}

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
            CHECK(!"should not be here.");
            break;
    }
}

size_t OMXCodec::findBufferIndex(OMX_U32 portIndex, android::IOMX::buffer_id buffer) {
    const std::vector<BufferInfo>& buffers = mPortBuffers[portIndex];
    size_t i = 0;
    while (i < buffers.size() && buffers[i].mBuffer != buffer) ++i;
    CHECK(i < buffers.size());  // a buffer of this component
    return i;
}

void OMXCodec::onEmptyBufferDone(android::IOMX::buffer_id buffer) {
    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexInput];
    const size_t i = findBufferIndex(kPortIndexInput, buffer);
    BufferInfo* info = &(*buffers)[i];
    if (info->mStatus != OWNED_BY_COMPONENT) {
        ALOGW("We already own input buffer %u, yet received an EMPTY_BUFFER_DONE.",
              (unsigned)(uintptr_t)buffer);
    }
    info->mStatus = OWNED_BY_US;

    if (info->mMediaBuffer != nullptr) {
        info->mMediaBuffer->release();
        info->mMediaBuffer = nullptr;
    }

    if (mPortStatus[kPortIndexInput] == DISABLING) {
        status_t err = freeBuffer(kPortIndexInput, i);
        CHECK_EQ(err, (status_t)OK);
    } else if (mState != ERROR && mPortStatus[kPortIndexInput] != SHUTTING_DOWN) {
        CHECK_EQ((int)mPortStatus[kPortIndexInput], (int)ENABLED);
        if (mFlags & kUseSecureInputBuffers) {
            drainAnyInputBuffer();
        } else {
            drainInputBuffer(&(*buffers)[i]);
        }
    }
}

void OMXCodec::onFillBufferDone(const omx_message& msg) {
    const android::IOMX::buffer_id buffer = msg.u.extended_buffer_data.buffer;
    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexOutput];
    const size_t i = findBufferIndex(kPortIndexOutput, buffer);
    BufferInfo* info = &(*buffers)[i];
    if (info->mStatus != OWNED_BY_COMPONENT) {
        ALOGW("We already own output buffer %u, yet received a FILL_BUFFER_DONE.",
              (unsigned)(uintptr_t)buffer);
    }
    info->mStatus = OWNED_BY_US;

    if (mPortStatus[kPortIndexOutput] == DISABLING) {
        status_t err = freeBuffer(kPortIndexOutput, i);
        CHECK_EQ(err, (status_t)OK);
    } else if (mPortStatus[kPortIndexOutput] != SHUTTING_DOWN) {
        CHECK_EQ((int)mPortStatus[kPortIndexOutput], (int)ENABLED);
        deliverFilledBuffer(info, msg);
    }
}

void OMXCodec::onEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) {
    switch (event) {
        case OMX_EventCmdComplete:
            onCmdComplete((OMX_COMMANDTYPE)data1, data2);
            break;
        case OMX_EventError:
            ALOGE("[%s] ERROR(0x%08x, %u)", mComponentName, (unsigned)data1, (unsigned)data2);
            setState(ERROR);
            break;
        case OMX_EventPortSettingsChanged:
            if (data2 == 0 || data2 == OMX_IndexParamPortDefinition) {
                if (data1 == kPortIndexOutput) CHECK(mFilledBuffers.empty());
                onPortSettingsChanged(data1);
            } else if (data1 == kPortIndexOutput &&
                       (data2 == kOutputCropConfigIndex || data2 == kScaleConfigIndex)) {
                sp<MetaData> oldOutputFormat = mOutputFormat;
                initOutputFormat(mSource->getFormat());
                if (data2 == kOutputCropConfigIndex &&
                    formatHasNotablyChanged(oldOutputFormat, mOutputFormat)) {
                    mOutputPortSettingsHaveChanged = true;
                } else if (data2 == kScaleConfigIndex) {
                    OMX_CONFIG_SCALEFACTORTYPE scale;
                    InitOMXParams(&scale);
                    scale.nPortIndex = kPortIndexOutput;
                    if (mOMX->getConfig(mNode, OMX_IndexConfigCommonScale, &scale,
                                        sizeof(scale)) == OK) {
                        int32_t left, top, right, bottom;
                        CHECK(mOutputFormat->findRect(android::kKeyCropRect, &left, &top, &right,
                                                      &bottom));
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
                }
            }
            break;
        default:
            break;
    }
}

void OMXCodec::onCmdComplete(OMX_COMMANDTYPE cmd, OMX_U32 data) {
    switch (cmd) {
        case OMX_CommandStateSet:
            onStateChange((OMX_STATETYPE)data);
            break;

        case OMX_CommandPortDisable: {
            const OMX_U32 portIndex = data;
            CHECK(mState == EXECUTING || mState == RECONFIGURING);
            CHECK_EQ((int)mPortStatus[portIndex], (int)DISABLING);
            CHECK_EQ(mPortBuffers[portIndex].size(), 0u);
            mPortStatus[portIndex] = DISABLED;
            if (mState == RECONFIGURING) {
                CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
                sp<MetaData> oldOutputFormat = mOutputFormat;
                initOutputFormat(mSource->getFormat());
                if (!mOutputPortSettingsHaveChanged) {
                    mOutputPortSettingsHaveChanged =
                            formatHasNotablyChanged(oldOutputFormat, mOutputFormat);
                }
                status_t err = enablePortAsync(portIndex);
                if (err != OK) {
                    ALOGE("[%s] enablePortAsync(%u) failed (err = %d)", mComponentName,
                          (unsigned)portIndex, err);
                    setState(ERROR);
                } else {
                    err = allocateBuffersOnPort(portIndex);
                    if (err != OK) {
                        ALOGE("[%s] allocateBuffersOnPort (%s) failed (err = %d)",
                              mComponentName, portIndex == kPortIndexInput ? "input" : "output",
                              err);
                        setState(ERROR);
                    }
                }
            }
            break;
        }

        case OMX_CommandPortEnable: {
            const OMX_U32 portIndex = data;
            CHECK(mState == EXECUTING || mState == RECONFIGURING);
            CHECK_EQ((int)mPortStatus[portIndex], (int)ENABLING);
            mPortStatus[portIndex] = ENABLED;
            if (mState == RECONFIGURING) {
                CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
                setState(EXECUTING);
                fillOutputBuffers();
            }
            break;
        }

        case OMX_CommandFlush: {
            const OMX_U32 portIndex = data;
            CHECK_EQ((int)mPortStatus[portIndex], (int)SHUTTING_DOWN);
            mPortStatus[portIndex] = ENABLED;
            CHECK_EQ(countBuffersWeOwn(mPortBuffers[portIndex]), mPortBuffers[portIndex].size());

            if (mSkipCutBuffer != nullptr && mPortStatus[kPortIndexOutput] == ENABLED) {
                mSkipCutBuffer->clear();
            }

            if (mState == RECONFIGURING) {
                CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
                disablePortAsync(portIndex);
            } else if (mState == EXECUTING_TO_IDLE) {
                if (mPortStatus[kPortIndexInput] == ENABLED &&
                    mPortStatus[kPortIndexOutput] == ENABLED) {
                    mPortStatus[kPortIndexInput] = SHUTTING_DOWN;
                    mPortStatus[kPortIndexOutput] = SHUTTING_DOWN;
                    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
                    CHECK_EQ(err, (status_t)OK);
                }
            } else {
                // Both ports flushed for a seek: start over.
                if (mPortStatus[kPortIndexInput] == ENABLED &&
                    mPortStatus[kPortIndexOutput] == ENABLED) {
                    mPaused = false;
                    drainInputBuffers();
                    fillOutputBuffers();
                }
                if (mOutputPortSettingsChangedPending) {
                    mOutputPortSettingsChangedPending = false;
                    onPortSettingsChanged(kPortIndexOutput);
                }
            }
            break;
        }

        default:
            break;
    }
}

void OMXCodec::onStateChange(OMX_STATETYPE newState) {
    switch (newState) {
        case OMX_StateIdle: {
            if (mState == LOADED_TO_IDLE) {
                status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateExecuting);
                CHECK_EQ(err, (status_t)OK);
                setState(IDLE_TO_EXECUTING);
            } else {
                CHECK_EQ((int)mState, (int)EXECUTING_TO_IDLE);
                if (countBuffersWeOwn(mPortBuffers[kPortIndexInput]) !=
                    mPortBuffers[kPortIndexInput].size()) {
                    ALOGE("Codec did not return all input buffers (received %d / %d)",
                          (int)countBuffersWeOwn(mPortBuffers[kPortIndexInput]),
                          (int)mPortBuffers[kPortIndexInput].size());
                    TRESPASS();
                }
                if (countBuffersWeOwn(mPortBuffers[kPortIndexOutput]) !=
                    mPortBuffers[kPortIndexOutput].size()) {
                    ALOGE("Codec did not return all output buffers (received %d / %d)",
                          (int)countBuffersWeOwn(mPortBuffers[kPortIndexOutput]),
                          (int)mPortBuffers[kPortIndexOutput].size());
                    TRESPASS();
                }
                status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateLoaded);
                CHECK_EQ(err, (status_t)OK);
                err = freeBuffersOnPort(kPortIndexInput);
                CHECK_EQ(err, (status_t)OK);
                err = freeBuffersOnPort(kPortIndexOutput);
                CHECK_EQ(err, (status_t)OK);
                mPortStatus[kPortIndexInput] = ENABLED;
                mPortStatus[kPortIndexOutput] = ENABLED;
                setState(IDLE_TO_LOADED);
            }
            break;
        }
        case OMX_StateExecuting:
            CHECK_EQ((int)mState, (int)IDLE_TO_EXECUTING);
            mOutputPortSettingsChangedPending = false;
            setState(EXECUTING);
            break;
        case OMX_StateLoaded:
            CHECK_EQ((int)mState, (int)IDLE_TO_LOADED);
            setState(LOADED);
            break;
        case OMX_StateInvalid:
            setState(ERROR);
            break;
        default:
            CHECK(!"should not be here.");
            break;
    }
}

void OMXCodec::onPortSettingsChanged(OMX_U32 portIndex) {
    CHECK_EQ((int)mState, (int)EXECUTING);
    CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
    CHECK(!mOutputPortSettingsChangedPending);

    if (mPortStatus[kPortIndexOutput] != ENABLED) {
        // A flush is under way; the change is handled once it completes.
        mOutputPortSettingsChangedPending = true;
        return;
    }
    setState(RECONFIGURING);
    disablePortAsync(portIndex);
}

status_t OMXCodec::stopOmxComponent_l() {
    bool isError = false;
    while (mState == LOADED_TO_IDLE || mState == IDLE_TO_EXECUTING ||
           mState == EXECUTING_TO_IDLE || mState == IDLE_TO_LOADED ||
           mState == RECONFIGURING) {
        mAsyncCompletion.wait(mLock);
    }

    switch (mState) {
        case LOADED:
            break;
        case ERROR: {
            if (mPortStatus[kPortIndexOutput] == ENABLING) {
                // The output port never came back after a reconfiguration;
                // no more buffers will return from the component.
                freeBuffersOnPort(kPortIndexInput, true);
                freeBuffersOnPort(kPortIndexOutput, true);
                setState(LOADED);
                break;
            }
            OMX_STATETYPE state = OMX_StateInvalid;
            status_t err = mOMX->getState(mNode, &state);
            CHECK_EQ(err, (status_t)OK);
            if (state != OMX_StateExecuting) break;
            // The component still runs: bring it down as from EXECUTING.
            isError = true;
            [[fallthrough]];
        }
        case EXECUTING: {
            setState(EXECUTING_TO_IDLE);
            mPortStatus[kPortIndexInput] = SHUTTING_DOWN;
            mPortStatus[kPortIndexOutput] = SHUTTING_DOWN;
            status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
            CHECK_EQ(err, (status_t)OK);
            while (mState != LOADED && mState != ERROR) mAsyncCompletion.wait(mLock);
            if (isError) setState(ERROR);
            break;
        }
        default:
            CHECK(!"should not be here.");
            break;
    }
    return OK;
}

}  // namespace qor
