// The MediaSource face of the driver: start and stop, and read(), which
// hands out the encoded buffers the component filled.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

namespace qor {

using android::MediaBuffer;
using android::MetaData;
using android::Mutex;
using android::OK;

status_t OMXCodec::start(MetaData* meta) {
    Mutex::Autolock autoLock(mLock);
    if (mState != LOADED) {
        ALOGE("[%s] called start in the unexpected state: %d", mComponentName.c_str(), mState);
        return android::UNKNOWN_ERROR;
    }

    sp<MetaData> params = new MetaData;
    int64_t startTimeUs;
    if (meta != nullptr && meta->findInt64(android::kKeyTime, &startTimeUs)) {
        params->setInt64(android::kKeyTime, startTimeUs);
    }
    resetStreamState();
    status_t err;
    if (mIsEncoder) {
        err = startEncoder(params);
    } else if ((err = mSource->start(params.get())) != OK) {
        ALOGE("[%s] source failed to start: %d", mComponentName.c_str(), err);
    } else {
        err = init();
    }
    if (err == OK) startFeeder();
    return err;
}

void OMXCodec::resetStreamState() {
    mCodecSpecificDataIndex = 0;
    mInitialBufferSubmit = true;
    mSignalledEOS = false;
    mNoMoreOutputData = false;
    mOutputPortSettingsHaveChanged = false;
    mSeekTimeUs = -1;
    mSeekMode = ReadOptions::SEEK_CLOSEST_SYNC;
    mTargetTimeUs = -1;
    mFilledBuffers.clear();
    // Times of frames a previous run left in the encoder are not this one's.
    mDecodingTimeList.clear();
    mLastDecodingTimeUs = 0;
    mLastOutputTimeUs = -1;
    mFramesInFlight = 0;
    mOutputLost = false;
    mPaused = false;
}

// The component reaches Executing before the source starts, so the
// source's first buffer has somewhere to go.
status_t OMXCodec::startEncoder(const sp<MetaData>& params) {
    status_t err = init();
    if (err != OK) {
        ALOGE("[%s] init failed: %d", mComponentName.c_str(), err);
        return err;
    }
    params->setInt32(android::kKeyNumBuffers, mPortBuffers[kPortIndexInput].size());
    err = mSource->start(params.get());
    if (err != OK) {
        ALOGE("[%s] source failed to start: %d", mComponentName.c_str(), err);
        stopOmxComponent_l();
    }
    return err;
}

// The source's stop also ends a read the feeder is blocked in.
status_t OMXCodec::stop() {
    status_t err, sourceErr;
    {
        Mutex::Autolock autoLock(mLock);
        err = stopOmxComponent_l();
        sourceErr = mSource->stop();
    }
    stopFeeder();
    return err != OK ? err : sourceErr;
}

sp<MetaData> OMXCodec::getFormat() {
    Mutex::Autolock autoLock(mLock);
    return mOutputFormat;
}

status_t OMXCodec::pause() {
    Mutex::Autolock autoLock(mLock);
    mPaused = true;
    return OK;
}

status_t OMXCodec::read(MediaBuffer** buffer, const ReadOptions* options) {
    status_t err = OK;
    *buffer = nullptr;
    Mutex::Autolock autoLock(mLock);

    // After a failure, what the component encoded before it is still read.
    if (mState == ERROR) {
        if (waitForOutput() != OK || takeFilledBuffer(buffer) != OK) return android::UNKNOWN_ERROR;
        return OK;
    }
    if (mState != EXECUTING && mState != RECONFIGURING) return android::UNKNOWN_ERROR;

    bool seeking = false;
    int64_t seekTimeUs = -1;
    ReadOptions::SeekMode seekMode = ReadOptions::SEEK_CLOSEST_SYNC;
    if (options && options->getSeekTo(&seekTimeUs, &seekMode)) seeking = true;

    if (mInitialBufferSubmit) submitInitialBuffers(&seeking, seekTimeUs, seekMode);
    if (seeking && (err = seek_l(seekTimeUs, seekMode)) != OK) return err;

    do {
        if ((err = waitForOutput()) != OK) return err;
        if (mFilledBuffers.empty()) {
            return mSignalledEOS ? mFinalStatus : android::ERROR_END_OF_STREAM;
        }
        if (mOutputPortSettingsHaveChanged) {
            mOutputPortSettingsHaveChanged = false;
            return android::INFO_FORMAT_CHANGED;
        }
    } while (takeFilledBuffer(buffer) != OK);
    return OK;
}

// Waits for output, the end of the stream or an error. A component that
// holds input and gives nothing back for kStallTimeoutNs has stalled: the
// codec fails rather than wait for ever.
status_t OMXCodec::waitForOutput() {
    const int64_t kPollNs = 100000000LL;
    while (mState != ERROR && !mNoMoreOutputData && mFilledBuffers.empty()) {
        if (mState != EXECUTING && mState != RECONFIGURING) {
            ALOGW("[%s] read while stopping", mComponentName.c_str());
            return android::ERROR_END_OF_STREAM;
        }
        mBufferFilled.waitRelative(mLock, kPollNs);
        if (componentStalled()) {
            ALOGE("[%s] the component holds input but gave nothing back for %lld ms: stalled",
                  mComponentName.c_str(), (long long)(kStallTimeoutNs / 1000000));
            mUnresponsive = true;
            setState(ERROR);
        }
    }
    // What the component encoded before the failure still goes to the reader.
    if (mState == ERROR) waitForHeldOutput();
    return mState == ERROR && mFilledBuffers.empty() ? android::UNKNOWN_ERROR : OK;
}

// The first read() starts the pumps. A seek with it needs no flush:
// nothing was submitted yet.
void OMXCodec::submitInitialBuffers(bool* seeking, int64_t seekTimeUs,
                                    ReadOptions::SeekMode seekMode) {
    mInitialBufferSubmit = false;
    if (*seeking) {
        CHECK(seekTimeUs >= 0);
        mSeekTimeUs = seekTimeUs;
        mSeekMode = seekMode;
        *seeking = false;
        mPaused = false;
    }
    drainInputBuffers();
    // While reconfiguring, the output buffers go out once the port is
    // enabled again.
    if (mState == EXECUTING) fillOutputBuffers();
}

// Flushes both ports and waits until the seek went to the source.
status_t OMXCodec::seek_l(int64_t seekTimeUs, ReadOptions::SeekMode seekMode) {
    status_t err = OK;
    while (mState == RECONFIGURING) {
        if ((err = mBufferFilled.wait(mLock)) != OK) return err;
    }
    if (mState != EXECUTING) return android::UNKNOWN_ERROR;

    mSignalledEOS = false;
    CHECK(seekTimeUs >= 0);
    mSeekTimeUs = seekTimeUs;
    mSeekMode = seekMode;
    mFilledBuffers.clear();
    // The flush drops the frames these times belong to, and a buffer the
    // feeder reads meanwhile.
    mDecodingTimeList.clear();
    mLastOutputTimeUs = -1;
    ++mFeedGeneration;
    if (!flushPortAsync(kPortIndexInput) || !flushPortAsync(kPortIndexOutput)) {
        mSeekTimeUs = -1;
        return android::UNKNOWN_ERROR;
    }
    // A failure meanwhile means no feeder will take the seek.
    while (mSeekTimeUs >= 0 && mState != ERROR) {
        if ((err = mBufferFilled.wait(mLock)) != OK) return err;
    }
    if (mState != ERROR) return OK;
    mSeekTimeUs = -1;
    return android::UNKNOWN_ERROR;
}

// The oldest filled buffer goes to the client, with a reference for it.
status_t OMXCodec::takeFilledBuffer(MediaBuffer** buffer) {
    size_t index = *mFilledBuffers.begin();
    mFilledBuffers.erase(mFilledBuffers.begin());

    // An entry left from before a port reconfiguration names a buffer that
    // is no longer (or not yet again) ours: it is dropped.
    if (index >= mPortBuffers[kPortIndexOutput].size() ||
        mPortBuffers[kPortIndexOutput][index].mStatus != OWNED_BY_US) {
        ALOGW("[%s] dropping a stale filled buffer entry", mComponentName.c_str());
        return android::WOULD_BLOCK;
    }
    BufferInfo* info = &mPortBuffers[kPortIndexOutput][index];
    info->mStatus = OWNED_BY_CLIENT;
    info->mOutputBuffer->add_ref();
    if (mSkipCutBuffer != nullptr) mSkipCutBuffer->submit(info->mOutputBuffer.get());
    *buffer = info->mOutputBuffer.get();
    return OK;
}

void OMXCodec::signalBufferReturned(MediaBuffer* buffer) {
    Mutex::Autolock autoLock(mLock);
    for (BufferInfo& info : mPortBuffers[kPortIndexOutput]) {
        if (info.mOutputBuffer.get() == buffer) {
            CHECK_EQ((int)info.mStatus, (int)OWNED_BY_CLIENT);
            info.mStatus = OWNED_BY_US;
            CHECK(buffer->graphicBuffer() == nullptr);
            // While the port goes down it stays home; after a failure too,
            // unless the component may still hand back frames it took.
            const bool draining = mState == ERROR && !mUnresponsive && mFramesInFlight > 0;
            if ((mState == EXECUTING || draining) && mPortStatus[kPortIndexOutput] == ENABLED) {
                fillOutputBuffer(&info);
            }
            return;
        }
    }
    CHECK(!"should not be here.");
}

}  // namespace qor
