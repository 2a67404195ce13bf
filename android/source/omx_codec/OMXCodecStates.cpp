// The component's state machine as the driver mirrors it (always with mLock
// held). The driver's states and what moves it on:
//
//   state              trigger                                   next
//   -----------------  ----------------------------------------  -----------------
//   LOADED             start(): StateSet(Idle) sent, buffers     LOADED_TO_IDLE
//                      allocated
//   LOADED_TO_IDLE     StateSet(Idle) completes: StateSet        IDLE_TO_EXECUTING
//                      (Executing) sent
//   IDLE_TO_EXECUTING  StateSet(Executing) completes             EXECUTING
//   EXECUTING          port settings changed on the output       RECONFIGURING
//                      port: flush (if seeking), disable it
//   RECONFIGURING      PortDisable completes: new output         (RECONFIGURING)
//                      format, PortEnable sent, buffers again
//   RECONFIGURING      PortEnable completes                      EXECUTING
//   EXECUTING          stop(): both ports flushing,              EXECUTING_TO_IDLE
//                      StateSet(Idle) sent
//   EXECUTING_TO_IDLE  StateSet(Idle) completes: every buffer    IDLE_TO_LOADED
//                      back, StateSet(Loaded) sent, all freed
//   IDLE_TO_LOADED     StateSet(Loaded) completes                LOADED
//   any                error event, StateInvalid, a refused      ERROR
//                      buffer or port command
//   ERROR              stop() with the component still in        EXECUTING_TO_IDLE,
//                      Executing: brought down as from           then ERROR again
//                      EXECUTING
//   ERROR              stop() with the output port never         LOADED
//                      re-enabled: what we own is freed
//   LOADED, ERROR,     the destructor, after the node is freed   DEAD
//   LOADED_TO_IDLE
//
// In ERROR, further events are dropped (on_message); buffer messages are
// still taken so the buffers come home.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"
#include "omx_codec/OMXFormatChange.h"

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

namespace qor {

using android::MetaData;
using android::OK;

status_t OMXCodec::init() {
    CHECK_EQ((int)mState, (int)LOADED);
    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
    CHECK_EQ(err, (status_t)OK);
    setState(LOADED_TO_IDLE);

    err = allocateBuffers();
    if (err != OK) return err;

    while (mState != EXECUTING && mState != ERROR) mAsyncCompletion.wait(mLock);
    return mState == ERROR ? android::UNKNOWN_ERROR : OK;
}

void OMXCodec::setState(State newState) {
    mState = newState;
    mAsyncCompletion.signal();
    // A reader waiting for output must learn of an error, too.
    mBufferFilled.signal();
}

void OMXCodec::onCmdComplete(OMX_COMMANDTYPE cmd, OMX_U32 data) {
    switch (cmd) {
        case OMX_CommandStateSet:
            onStateChange((OMX_STATETYPE)data);
            break;
        case OMX_CommandPortDisable:
            onPortDisabled(data);
            break;
        case OMX_CommandPortEnable:
            onPortEnabled(data);
            break;
        case OMX_CommandFlush:
            onFlushComplete(data);
            break;
        default:
            break;
    }
}

void OMXCodec::onStateChange(OMX_STATETYPE newState) {
    switch (newState) {
        case OMX_StateIdle:
            if (mState == LOADED_TO_IDLE) {
                status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateExecuting);
                CHECK_EQ(err, (status_t)OK);
                setState(IDLE_TO_EXECUTING);
            } else {
                onIdleReached();
            }
            break;
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

// On the way down: every buffer must be back before they are all freed.
void OMXCodec::onIdleReached() {
    CHECK_EQ((int)mState, (int)EXECUTING_TO_IDLE);
    checkAllBuffersReturned(kPortIndexInput);
    checkAllBuffersReturned(kPortIndexOutput);
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

void OMXCodec::checkAllBuffersReturned(OMX_U32 portIndex) {
    if (weOwnAllBuffersOn(portIndex)) return;
    ALOGE("Codec did not return all %s buffers (received %d / %d)",
          portIndex == kPortIndexInput ? "input" : "output",
          (int)countBuffersWeOwn(mPortBuffers[portIndex]), (int)mPortBuffers[portIndex].size());
    TRESPASS();
}

void OMXCodec::onPortDisabled(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING);
    CHECK_EQ((int)mPortStatus[portIndex], (int)DISABLING);
    CHECK_EQ(mPortBuffers[portIndex].size(), 0u);
    mPortStatus[portIndex] = DISABLED;
    if (mState == RECONFIGURING) {
        CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
        reenableOutputPort(portIndex);
    }
}

// The output port is disabled for a reconfiguration: take the new format,
// then enable the port again with buffers of the new size.
void OMXCodec::reenableOutputPort(OMX_U32 portIndex) {
    sp<MetaData> oldOutputFormat = mOutputFormat;
    initOutputFormat(mSource->getFormat());
    if (!mOutputPortSettingsHaveChanged) {
        mOutputPortSettingsHaveChanged = formatHasNotablyChanged(oldOutputFormat, mOutputFormat);
    }
    status_t err = enablePortAsync(portIndex);
    if (err != OK) {
        ALOGE("[%s] enablePortAsync(%u) failed (err = %d)", mComponentName.c_str(),
              (unsigned)portIndex, err);
        setState(ERROR);
        return;
    }
    err = allocateBuffersOnPort(portIndex);
    if (err != OK) {
        ALOGE("[%s] allocateBuffersOnPort (%s) failed (err = %d)", mComponentName.c_str(),
              portIndex == kPortIndexInput ? "input" : "output", err);
        setState(ERROR);
    }
}

void OMXCodec::onPortEnabled(OMX_U32 portIndex) {
    CHECK(mState == EXECUTING || mState == RECONFIGURING);
    CHECK_EQ((int)mPortStatus[portIndex], (int)ENABLING);
    mPortStatus[portIndex] = ENABLED;
    if (mState == RECONFIGURING) {
        CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
        setState(EXECUTING);
        fillOutputBuffers();
    }
}

void OMXCodec::onFlushComplete(OMX_U32 portIndex) {
    CHECK_EQ((int)mPortStatus[portIndex], (int)SHUTTING_DOWN);
    mPortStatus[portIndex] = ENABLED;
    CHECK_EQ(countBuffersWeOwn(mPortBuffers[portIndex]), mPortBuffers[portIndex].size());

    if (mSkipCutBuffer != nullptr && mPortStatus[kPortIndexOutput] == ENABLED) {
        mSkipCutBuffer->clear();
    }
    const bool bothPortsEnabled =
        mPortStatus[kPortIndexInput] == ENABLED && mPortStatus[kPortIndexOutput] == ENABLED;

    if (mState == RECONFIGURING) {
        CHECK_EQ(portIndex, (OMX_U32)kPortIndexOutput);
        disablePortAsync(portIndex);
    } else if (mState == EXECUTING_TO_IDLE) {
        if (bothPortsEnabled) {
            mPortStatus[kPortIndexInput] = SHUTTING_DOWN;
            mPortStatus[kPortIndexOutput] = SHUTTING_DOWN;
            status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
            CHECK_EQ(err, (status_t)OK);
        }
    } else {
        // Both ports flushed for a seek: start over.
        if (bothPortsEnabled) {
            mPaused = false;
            drainInputBuffers();
            fillOutputBuffers();
        }
        if (mOutputPortSettingsChangedPending) {
            mOutputPortSettingsChangedPending = false;
            onPortSettingsChanged(kPortIndexOutput);
        }
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
    waitWhileInTransition();
    switch (mState) {
        case LOADED:
            break;
        case ERROR:
            // A component that still runs is brought down as from EXECUTING.
            if (stillRunningAfterError()) stopFromExecuting(true);
            break;
        case EXECUTING:
            stopFromExecuting(false);
            break;
        default:
            CHECK(!"should not be here.");
            break;
    }
    return OK;
}

void OMXCodec::waitWhileInTransition() {
    while (mState == LOADED_TO_IDLE || mState == IDLE_TO_EXECUTING || mState == EXECUTING_TO_IDLE ||
           mState == IDLE_TO_LOADED || mState == RECONFIGURING) {
        mAsyncCompletion.wait(mLock);
    }
}

// What stop() finds after an error: true when the component still runs.
bool OMXCodec::stillRunningAfterError() {
    if (mPortStatus[kPortIndexOutput] == ENABLING) {
        // The output port never came back after a reconfiguration; no more
        // buffers will return from the component.
        freeBuffersOnPort(kPortIndexInput, true);
        freeBuffersOnPort(kPortIndexOutput, true);
        setState(LOADED);
        return false;
    }
    OMX_STATETYPE state = OMX_StateInvalid;
    status_t err = mOMX->getState(mNode, &state);
    CHECK_EQ(err, (status_t)OK);
    return state == OMX_StateExecuting;
}

// Brings the component down to Loaded through Idle; waits for it.
void OMXCodec::stopFromExecuting(bool backToError) {
    setState(EXECUTING_TO_IDLE);
    mPortStatus[kPortIndexInput] = SHUTTING_DOWN;
    mPortStatus[kPortIndexOutput] = SHUTTING_DOWN;
    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
    CHECK_EQ(err, (status_t)OK);
    while (mState != LOADED && mState != ERROR) mAsyncCompletion.wait(mLock);
    if (backToError) setState(ERROR);
}

}  // namespace qor
