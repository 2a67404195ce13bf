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

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "common/MonotonicClock.h"
#include "omx_codec/OMXFormatChange.h"

namespace qor {

using android::MetaData;
using android::OK;

template <typename Done>
bool OMXCodec::waitForCompletion(Done done, int64_t timeoutNs, const char* what) {
    const int64_t deadline = monotonicNs() + timeoutNs;
    while (!done()) {
        const int64_t left = deadline - monotonicNs();
        if (left <= 0) {
            ALOGE("[%s] no answer to %s within %lld ms (state %d)", mComponentName.c_str(), what,
                  (long long)(timeoutNs / 1000000), (int)mState);
            mUnresponsive = true;
            fail(what);
            return false;
        }
        mAsyncCompletion.waitRelative(mLock, left);
    }
    return true;
}

void OMXCodec::fail(const char* why) {
    if (mState != ERROR) ALOGE("[%s] failed: %s", mComponentName.c_str(), why);
    setState(ERROR);
}

void OMXCodec::noteProgress() { mLastProgressNs = monotonicNs(); }

bool OMXCodec::componentHoldsInput() {
    for (const BufferInfo& info : mPortBuffers[kPortIndexInput]) {
        if (info.mStatus == OWNED_BY_COMPONENT) return true;
    }
    return false;
}

bool OMXCodec::componentStalled() {
    return mState == EXECUTING && componentHoldsInput() &&
           monotonicNs() - mLastProgressNs > kStallTimeoutNs;
}

// After a failure on our side (a refused call) the component may still
// hand back frames it took: they are waited for while it keeps giving.
void OMXCodec::waitForHeldOutput() {
    while (mFilledBuffers.empty() && !mUnresponsive &&
           (componentHoldsInput() || mFramesInFlight > 0)) {
        const int64_t left = mLastProgressNs + kHeldOutputWaitNs - monotonicNs();
        if (left <= 0) return;
        mBufferFilled.waitRelative(mLock, left);
    }
}

status_t OMXCodec::init() {
    CHECK_EQ((int)mState, (int)LOADED);
    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
    if (err != OK) {
        ALOGE("[%s] the component refused to go to Idle: %d", mComponentName.c_str(), err);
        return err;
    }
    setState(LOADED_TO_IDLE);

    err = allocateBuffers();
    if (err != OK) return err;

    auto started = [this]() REQUIRES(mLock) { return mState == EXECUTING || mState == ERROR; };
    if (!waitForCompletion(started, kStartTimeoutNs, "the start")) return android::TIMED_OUT;
    noteProgress();
    return mState == ERROR ? android::UNKNOWN_ERROR : OK;
}

void OMXCodec::setState(State newState) {
    const bool failing = newState == ERROR && mState != ERROR;
    mState = newState;
    mAsyncCompletion.signal();
    // A reader waiting for output must learn of an error, too.
    mBufferFilled.signal();
    // Nothing reads the source after a failure: its producer must not wait
    // for a reader.
    if (failing && mSource != nullptr) mSource->stop();
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
                if (err != OK) {
                    fail("the component refused to go to Executing");
                    break;
                }
                setState(IDLE_TO_EXECUTING);
            } else if (mState == EXECUTING_TO_IDLE) {
                onIdleReached();
            } else {
                fail("Idle reached unasked");
            }
            break;
        case OMX_StateExecuting:
            if (mState != IDLE_TO_EXECUTING) {
                fail("Executing reached unasked");
                break;
            }
            mOutputPortSettingsChangedPending = false;
            setState(EXECUTING);
            break;
        case OMX_StateLoaded:
            if (mState != IDLE_TO_LOADED) {
                fail("Loaded reached unasked");
                break;
            }
            setState(LOADED);
            break;
        default:
            // Invalid, or a state this driver never asks for.
            fail("an unexpected component state");
            break;
    }
}

// On the way down: every buffer must be back before they are all freed.
void OMXCodec::onIdleReached() {
    if (!checkAllBuffersReturned(kPortIndexInput) || !checkAllBuffersReturned(kPortIndexOutput)) {
        fail("Idle reached with buffers still out");
        return;
    }
    if (readerHoldsOutput()) {
        // Its memory must outlive the reader's use: the buffers stay, and
        // freeing the node at destruction takes them back.
        fail("Idle reached while the reader holds an output buffer");
        return;
    }
    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateLoaded);
    if (err != OK) {
        fail("the component refused to go to Loaded");
        return;
    }
    err = freeBuffersOnPort(kPortIndexInput);
    if (err == OK) err = freeBuffersOnPort(kPortIndexOutput);
    if (err != OK) {
        fail("the component refused to free a buffer");
        return;
    }
    mPortStatus[kPortIndexInput] = ENABLED;
    mPortStatus[kPortIndexOutput] = ENABLED;
    setState(IDLE_TO_LOADED);
}

bool OMXCodec::checkAllBuffersReturned(OMX_U32 portIndex) {
    if (weOwnAllBuffersOn(portIndex)) return true;
    ALOGE("Codec did not return all %s buffers (received %d / %d)",
          portIndex == kPortIndexInput ? "input" : "output",
          (int)countBuffersWeOwn(mPortBuffers[portIndex]), (int)mPortBuffers[portIndex].size());
    return false;
}

// A completion the driver did not ask for, or that comes with buffers still
// out, ends the codec (the component's answer, not our bug).
bool OMXCodec::expected(bool condition, const char* what) {
    if (!condition) fail(what);
    return condition;
}

void OMXCodec::onPortDisabled(OMX_U32 portIndex) {
    if (!expected((mState == EXECUTING || mState == RECONFIGURING) &&
                      portIndex <= kPortIndexOutput && mPortStatus[portIndex] == DISABLING &&
                      mPortBuffers[portIndex].empty(),
                  "a port disabled unasked")) {
        return;
    }
    mPortStatus[portIndex] = DISABLED;
    if (mState == RECONFIGURING) {
        if (!expected(portIndex == kPortIndexOutput, "the input port disabled")) return;
        reenableOutputPort(portIndex);
    }
}

// The output port is disabled for a reconfiguration: take the new format,
// then enable the port again with buffers of the new size.
void OMXCodec::reenableOutputPort(OMX_U32 portIndex) {
    sp<MetaData> oldOutputFormat = mOutputFormat;
    initOutputFormat(mSource->getFormat());
    const char* mime = nullptr;
    if (!mOutputFormat->findCString(android::kKeyMIMEType, &mime)) {
        // The component no longer says what it produces.
        fail("no output format after the reconfiguration");
        return;
    }
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
    if (!expected((mState == EXECUTING || mState == RECONFIGURING) &&
                      portIndex <= kPortIndexOutput && mPortStatus[portIndex] == ENABLING,
                  "a port enabled unasked")) {
        return;
    }
    mPortStatus[portIndex] = ENABLED;
    if (mState == RECONFIGURING) {
        if (!expected(portIndex == kPortIndexOutput, "the input port enabled")) return;
        setState(EXECUTING);
        fillOutputBuffers();
    }
}

void OMXCodec::onFlushComplete(OMX_U32 portIndex) {
    if (!expected(portIndex <= kPortIndexOutput && mPortStatus[portIndex] == SHUTTING_DOWN &&
                      weOwnAllBuffersOn(portIndex),
                  "a flush completed unasked or with buffers out")) {
        return;
    }
    mPortStatus[portIndex] = ENABLED;

    if (mSkipCutBuffer != nullptr && mPortStatus[kPortIndexOutput] == ENABLED) {
        mSkipCutBuffer->clear();
    }
    const bool bothPortsEnabled =
        mPortStatus[kPortIndexInput] == ENABLED && mPortStatus[kPortIndexOutput] == ENABLED;

    if (mState == RECONFIGURING) {
        if (!expected(portIndex == kPortIndexOutput, "the input port flushed")) return;
        disablePortAsync(portIndex);
    } else if (mState == EXECUTING_TO_IDLE) {
        if (bothPortsEnabled) {
            mPortStatus[kPortIndexInput] = SHUTTING_DOWN;
            mPortStatus[kPortIndexOutput] = SHUTTING_DOWN;
            status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
            expected(err == OK, "the component refused to go to Idle");
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
            fail("stop in an unexpected state");
            break;
    }
    // A failure was reported to the reader when it happened.
    return OK;
}

void OMXCodec::waitWhileInTransition() {
    auto settled = [this]() REQUIRES(mLock) {
        return mState != LOADED_TO_IDLE && mState != IDLE_TO_EXECUTING &&
               mState != EXECUTING_TO_IDLE && mState != IDLE_TO_LOADED && mState != RECONFIGURING;
    };
    waitForCompletion(settled, kCommandTimeoutNs, "a state change");
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
    // A component that stopped answering is left as it is: freeing the
    // node at destruction takes its buffers back.
    if (mUnresponsive) return false;
    OMX_STATETYPE state = OMX_StateInvalid;
    if (mOMX->getState(mNode, &state) != OK) return false;
    return state == OMX_StateExecuting;
}

// Brings the component down to Loaded through Idle; waits for it.
void OMXCodec::stopFromExecuting(bool backToError) {
    setState(EXECUTING_TO_IDLE);
    mPortStatus[kPortIndexInput] = SHUTTING_DOWN;
    mPortStatus[kPortIndexOutput] = SHUTTING_DOWN;
    status_t err = mOMX->sendCommand(mNode, OMX_CommandStateSet, OMX_StateIdle);
    if (err != OK) {
        fail("the component refused to go to Idle");
        return;
    }
    // Flushes, end of stream and both state changes: one limit for all.
    auto down = [this]() REQUIRES(mLock) { return mState == LOADED || mState == ERROR; };
    waitForCompletion(down, 2 * kCommandTimeoutNs, "the stop");
    if (backToError) setState(ERROR);
}

}  // namespace qor
