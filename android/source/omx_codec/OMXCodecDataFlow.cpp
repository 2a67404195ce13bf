// The MediaSource face of the driver, and the two pumps behind it: raw
// buffers from the source into the component's input buffers, encoded
// output buffers from the component to read().
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

#include <sched.h>
#include <string.h>
#include <strings.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

namespace qor {

namespace {
const OMX_U32 kBufferFlagCodecConfig = 0x80;
}  // namespace

using android::MediaBuffer;
using android::MetaData;
using android::Mutex;
using android::OK;

status_t OMXCodec::emptyBuffer_l(android::IOMX::buffer_id buffer, OMX_U32 offset, OMX_U32 length,
                                 OMX_U32 flags, OMX_TICKS timestamp) {
#if PLATFORM_LEVEL >= 23
    return mOMX->emptyBuffer(mNode, buffer, offset, length, flags, timestamp, -1);
#else
    return mOMX->emptyBuffer(mNode, buffer, offset, length, flags, timestamp);
#endif
}

status_t OMXCodec::fillBuffer_l(android::IOMX::buffer_id buffer) {
#if PLATFORM_LEVEL >= 23
    return mOMX->fillBuffer(mNode, buffer, -1);
#else
    return mOMX->fillBuffer(mNode, buffer);
#endif
}

status_t OMXCodec::start(MetaData* meta) {
    Mutex::Autolock autoLock(mLock);
    if (mState != LOADED) {
        ALOGE("[%s] called start in the unexpected state: %d", mComponentName, mState);
        return android::UNKNOWN_ERROR;
    }

    sp<MetaData> params = new MetaData;
    int64_t startTimeUs;
    if (meta != nullptr && meta->findInt64(android::kKeyTime, &startTimeUs)) {
        params->setInt64(android::kKeyTime, startTimeUs);
    }

    mCodecSpecificDataIndex = 0;
    mInitialBufferSubmit = true;
    mSignalledEOS = false;
    mNoMoreOutputData = false;
    mOutputPortSettingsHaveChanged = false;
    mSeekTimeUs = -1;
    mSeekMode = ReadOptions::SEEK_CLOSEST_SYNC;
    mTargetTimeUs = -1;
    mFilledBuffers.clear();
    mPaused = false;

    status_t err;
    if (mIsEncoder) {
        // Bring the component to Executing before the source starts, so the
        // source's first buffer has somewhere to go.
        if ((err = init()) != OK) {
            ALOGE("[%s] init failed: %d", mComponentName, err);
            return err;
        }
        params->setInt32(android::kKeyNumBuffers, mPortBuffers[kPortIndexInput].size());
        err = mSource->start(params.get());
        if (err != OK) {
            ALOGE("[%s] source failed to start: %d", mComponentName, err);
            stopOmxComponent_l();
        }
        return err;
    }

    err = mSource->start(params.get());
    if (err != OK) {
        ALOGE("[%s] source failed to start: %d", mComponentName, err);
        return err;
    }
    return init();
}

status_t OMXCodec::stop() {
    Mutex::Autolock autoLock(mLock);
    status_t err = stopOmxComponent_l();
    status_t sourceErr = mSource->stop();
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

    if (mState != EXECUTING && mState != RECONFIGURING) return android::UNKNOWN_ERROR;

    bool seeking = false;
    int64_t seekTimeUs;
    ReadOptions::SeekMode seekMode;
    if (options && options->getSeekTo(&seekTimeUs, &seekMode)) seeking = true;

    if (mInitialBufferSubmit) {
        mInitialBufferSubmit = false;
        if (seeking) {
            CHECK(seekTimeUs >= 0);
            mSeekTimeUs = seekTimeUs;
            mSeekMode = seekMode;
            // Nothing was submitted yet, so there is nothing to flush.
            seeking = false;
            mPaused = false;
        }
        drainInputBuffers();
        // While reconfiguring, the output buffers go out once the port is
        // enabled again.
        if (mState == EXECUTING) fillOutputBuffers();
    }

    if (seeking) {
        while (mState == RECONFIGURING) {
            if ((err = mBufferFilled.wait(mLock)) != OK) return err;
        }
        if (mState != EXECUTING) return android::UNKNOWN_ERROR;

        mSignalledEOS = false;
        CHECK(seekTimeUs >= 0);
        mSeekTimeUs = seekTimeUs;
        mSeekMode = seekMode;
        mFilledBuffers.clear();
        CHECK_EQ((int)mState, (int)EXECUTING);
        bool emulateInputFlushCompletion = !flushPortAsync(kPortIndexInput);
        bool emulateOutputFlushCompletion = !flushPortAsync(kPortIndexOutput);
        if (emulateInputFlushCompletion) onCmdComplete(OMX_CommandFlush, kPortIndexInput);
        if (emulateOutputFlushCompletion) onCmdComplete(OMX_CommandFlush, kPortIndexOutput);
        while (mSeekTimeUs >= 0) {
            if ((err = mBufferFilled.wait(mLock)) != OK) return err;
        }
    }

    while (mState != ERROR && !mNoMoreOutputData && mFilledBuffers.empty()) {
        if ((err = mBufferFilled.wait(mLock)) != OK) return err;
    }

    if (mState == ERROR) return android::UNKNOWN_ERROR;

    if (mFilledBuffers.empty()) {
        return mSignalledEOS ? mFinalStatus : android::ERROR_END_OF_STREAM;
    }

    if (mOutputPortSettingsHaveChanged) {
        mOutputPortSettingsHaveChanged = false;
        return android::INFO_FORMAT_CHANGED;
    }

    size_t index = *mFilledBuffers.begin();
    mFilledBuffers.erase(mFilledBuffers.begin());

    BufferInfo* info = &mPortBuffers[kPortIndexOutput][index];
    CHECK_EQ((int)info->mStatus, (int)OWNED_BY_US);
    info->mStatus = OWNED_BY_CLIENT;
    info->mMediaBuffer->add_ref();
    if (mSkipCutBuffer != nullptr) mSkipCutBuffer->submit(info->mMediaBuffer);
    *buffer = info->mMediaBuffer;
    return OK;
}

void OMXCodec::drainInputBuffers() {
    CHECK(mState == EXECUTING || mState == RECONFIGURING);
    if (mFlags & kUseSecureInputBuffers) {
        for (size_t i = 0; i < mPortBuffers[kPortIndexInput].size(); ++i) {
            if (!drainAnyInputBuffer() || (mFlags & kOnlySubmitOneInputBufferAtOneTime)) break;
        }
        return;
    }
    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexInput];
    for (size_t i = 0; i < buffers->size(); ++i) {
        BufferInfo* info = &(*buffers)[i];
        if (info->mStatus != OWNED_BY_US) continue;
        if (!drainInputBuffer(info)) break;
        if (mFlags & kOnlySubmitOneInputBufferAtOneTime) break;
    }
}

bool OMXCodec::drainAnyInputBuffer() { return drainInputBuffer((BufferInfo*)nullptr); }

bool OMXCodec::drainInputBuffer(BufferInfo* info) {
    if (info != nullptr) CHECK_EQ((int)info->mStatus, (int)OWNED_BY_US);
    if (mSignalledEOS) return false;

    if (mCodecSpecificDataIndex < mCodecSpecificData.size()) {
        CHECK(!(mFlags & kUseSecureInputBuffers));
        const CodecSpecificData* specific = &mCodecSpecificData[mCodecSpecificDataIndex];
        size_t size = specific->mSize;
        if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_AVC, mMIME)) {
            static const uint8_t kNALStartCode[4] = {0x00, 0x00, 0x00, 0x01};
            CHECK(info->mSize >= specific->mSize + 4);
            size += 4;
            memcpy(info->mData, kNALStartCode, 4);
            memcpy((uint8_t*)info->mData + 4, specific->mData, specific->mSize);
        } else {
            CHECK(info->mSize >= specific->mSize);
            memcpy(info->mData, specific->mData, specific->mSize);
        }
        mNoMoreOutputData = false;
        status_t err = emptyBuffer_l(info->mBuffer, 0, size,
                                     OMX_BUFFERFLAG_ENDOFFRAME | kBufferFlagCodecConfig, 0);
        CHECK_EQ(err, (status_t)OK);
        info->mStatus = OWNED_BY_COMPONENT;
        ++mCodecSpecificDataIndex;
        return true;
    }

    if (mPaused) return false;

    // A pending seek goes to the source with the first read after the
    // flush; the reader waiting for it is woken.
    ReadOptions options;
    if (mSeekTimeUs >= 0) {
        options.setSeekTo(mSeekTimeUs, mSeekMode);
        mSeekTimeUs = -1;
        mSeekMode = ReadOptions::SEEK_CLOSEST_SYNC;
        mBufferFilled.signal();
    }
    MediaBuffer* srcBuffer = nullptr;
    status_t err = mSource->read(&srcBuffer, &options);
    if (err != OK) {
        // The source's end (or error) is the end of the stream.
        mFinalStatus = err;
        mSignalledEOS = true;
        mBufferFilled.signal();
        if (info == nullptr) info = findEmptyInputBuffer();
        err = emptyBuffer_l(info->mBuffer, 0, 0, OMX_BUFFERFLAG_EOS | OMX_BUFFERFLAG_ENDOFFRAME,
                            0);
        if (err != OK) {
            setState(ERROR);
            return false;
        }
        info->mStatus = OWNED_BY_COMPONENT;
        return true;
    }

    if (mFlags & kUseSecureInputBuffers) {
        info = findInputBufferByDataPointer(srcBuffer->data());
        CHECK(info != nullptr);
    }

    const size_t remainingBytes = info->mSize;
    if (srcBuffer->range_length() > remainingBytes) {
        ALOGE("[%s] Codec's input buffers are too small to accomodate buffer read from source "
              "(info->mSize = %d, srcLength = %d)",
              mComponentName, (int)info->mSize, (int)srcBuffer->range_length());
        srcBuffer->release();
        setState(ERROR);
        return false;
    }

    bool releaseBuffer = true;
    const size_t offset = 0;
    if (mFlags & kStoreMetaDataInVideoBuffers) {
        releaseBuffer = false;
        info->mMediaBuffer = srcBuffer;
    }
    if (mFlags & kUseSecureInputBuffers) {
        // The source wrote straight into the component's buffer.
        releaseBuffer = false;
        CHECK(info->mMediaBuffer == nullptr);
        info->mMediaBuffer = srcBuffer;
    } else {
        memcpy((uint8_t*)info->mData + offset,
               (const uint8_t*)srcBuffer->data() + srcBuffer->range_offset(),
               srcBuffer->range_length());
    }

    int64_t lastBufferTimeUs;
    CHECK(srcBuffer->meta_data()->findInt64(android::kKeyTime, &lastBufferTimeUs));
    CHECK(lastBufferTimeUs >= 0);
    if (mIsEncoder && mIsVideo) mDecodingTimeList.push_back(lastBufferTimeUs);
    const size_t length = srcBuffer->range_length();
    if (releaseBuffer) srcBuffer->release();

    mNoMoreOutputData = false;
    err = emptyBuffer_l(info->mBuffer, 0, length, OMX_BUFFERFLAG_ENDOFFRAME, lastBufferTimeUs);
    if (err != OK) {
        setState(ERROR);
        return false;
    }
    info->mStatus = OWNED_BY_COMPONENT;
    return true;
}

void OMXCodec::fillOutputBuffers() {
    CHECK_EQ((int)mState, (int)EXECUTING);

    // Every buffer is back after the end of input: the stream is over even
    // if the component never returned a buffer with the EOS flag.
    if (mSignalledEOS &&
        countBuffersWeOwn(mPortBuffers[kPortIndexInput]) == mPortBuffers[kPortIndexInput].size() &&
        countBuffersWeOwn(mPortBuffers[kPortIndexOutput]) == mPortBuffers[kPortIndexOutput].size()) {
        mNoMoreOutputData = true;
        mBufferFilled.signal();
        return;
    }

    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexOutput];
    for (size_t i = 0; i < buffers->size(); ++i) {
        BufferInfo* info = &(*buffers)[i];
        if (info->mStatus == OWNED_BY_US) fillOutputBuffer(info);
    }
}

void OMXCodec::fillOutputBuffer(BufferInfo* info) {
    CHECK_EQ((int)info->mStatus, (int)OWNED_BY_US);
    if (mNoMoreOutputData) return;
    status_t err = fillBuffer_l(info->mBuffer);
    if (err != OK) {
        ALOGE("[%s] fillBuffer failed w/ error 0x%08x", mComponentName, err);
        setState(ERROR);
        return;
    }
    info->mStatus = OWNED_BY_COMPONENT;
}

int64_t OMXCodec::getDecodingTimeUs() {
    CHECK(mIsEncoder && mIsVideo);
    if (mDecodingTimeList.empty()) {
        CHECK(mSignalledEOS || mNoMoreOutputData);
        return 0;
    }
    int64_t timeUs = mDecodingTimeList.front();
    mDecodingTimeList.pop_front();
    return timeUs;
}

void OMXCodec::deliverFilledBuffer(BufferInfo* info, const android::omx_message& msg) {
    const OMX_U32 flags = msg.u.extended_buffer_data.flags;
    const OMX_U32 rangeOffset = msg.u.extended_buffer_data.range_offset;
    const OMX_U32 rangeLength = msg.u.extended_buffer_data.range_length;

    MediaBuffer* buffer = info->mMediaBuffer;
    if (rangeOffset > buffer->size() || rangeLength > buffer->size() - rangeOffset) {
        ALOGE("[%s] Codec lied about its buffer size requirements, sending a buffer larger than "
              "the originally advertised size in FILL_BUFFER_DONE!",
              mComponentName);
    } else {
        buffer->set_range(rangeOffset, rangeLength);
    }

    buffer->meta_data()->clear();
    buffer->meta_data()->setInt64(android::kKeyTime, msg.u.extended_buffer_data.timestamp);
    if (flags & OMX_BUFFERFLAG_SYNCFRAME) buffer->meta_data()->setInt32(android::kKeyIsSyncFrame, true);
    bool isCodecSpecific = false;
    if (flags & kBufferFlagCodecConfig) {
        buffer->meta_data()->setInt32(android::kKeyIsCodecConfig, true);
        isCodecSpecific = true;
    }
    if (buffer->graphicBuffer() != nullptr || (mQuirks & kOutputBuffersAreUnreadable)) {
        buffer->meta_data()->setInt32(android::kKeyIsUnreadable, true);
    }
#if PLATFORM_LEVEL >= 21
    buffer->meta_data()->setInt32(android::kKeyBufferID, msg.u.extended_buffer_data.buffer);
#else
    buffer->meta_data()->setPointer(android::kKeyPlatformPrivate,
                                    msg.u.extended_buffer_data.platform_private);
    buffer->meta_data()->setPointer(android::kKeyBufferID, msg.u.extended_buffer_data.buffer);
#endif

    if (flags & OMX_BUFFERFLAG_EOS) mNoMoreOutputData = true;

    if (mIsEncoder && mIsVideo) {
        int64_t decodingTimeUs = isCodecSpecific ? 0 : getDecodingTimeUs();
        buffer->meta_data()->setInt64(android::kKeyDecodingTime, decodingTimeUs);
    }

    if (mTargetTimeUs >= 0) {
        CHECK(msg.u.extended_buffer_data.timestamp <= mTargetTimeUs);
        if (msg.u.extended_buffer_data.timestamp < mTargetTimeUs) {
            fillOutputBuffer(info);
            return;
        }
        mTargetTimeUs = -1;
    }

    const size_t index = info - &mPortBuffers[kPortIndexOutput][0];
    mFilledBuffers.push_back(index);
    mBufferFilled.signal();
    if (mIsEncoder) sched_yield();
}

void OMXCodec::signalBufferReturned(MediaBuffer* buffer) {
    Mutex::Autolock autoLock(mLock);
    std::vector<BufferInfo>* buffers = &mPortBuffers[kPortIndexOutput];
    for (size_t i = 0; i < buffers->size(); ++i) {
        BufferInfo* info = &(*buffers)[i];
        if (info->mMediaBuffer == buffer) {
            CHECK_EQ((int)mPortStatus[kPortIndexOutput], (int)ENABLED);
            CHECK_EQ((int)info->mStatus, (int)OWNED_BY_CLIENT);
            info->mStatus = OWNED_BY_US;
            CHECK(buffer->graphicBuffer() == nullptr);
            fillOutputBuffer(info);
            return;
        }
    }
    CHECK(!"should not be here.");
}

}  // namespace qor
