// The two pumps behind read(): raw buffers from the source into the
// component's input buffers (submitted by the feeder), encoded output
// buffers from the component to the filled list read() takes from.
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
using android::OK;

status_t OMXCodec::emptyBuffer_l(android::IOMX::buffer_id buffer, OMX_U32 offset, OMX_U32 length,
                                 OMX_U32 flags, OMX_TICKS timestamp) {
    noteProgress();
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

// Input buffers are filled by the feeder (OMXCodecFeeder.cpp): wake it.
void OMXCodec::drainInputBuffers() { mInputReady.signal(); }

// The next configuration block goes first, AVC ones behind a start code.
bool OMXCodec::submitCodecSpecificData(BufferInfo* info) {
    CHECK(!(mFlags & kUseSecureInputBuffers));
    const CodecSpecificData& specific = mCodecSpecificData[mCodecSpecificDataIndex];
    const bool avc = !strcasecmp(android::MEDIA_MIMETYPE_VIDEO_AVC, mMIME.c_str());
    const size_t size = specific.size() + (avc ? 4 : 0);
    // The component chose its input buffer size.
    if (info->mSize < size) {
        ALOGE("[%s] a configuration block of %zu bytes does not fit an input buffer of %zu",
              mComponentName.c_str(), size, info->mSize);
        fail("an input buffer too small for the configuration");
        return false;
    }
    uint8_t* out = (uint8_t*)info->mData;
    if (avc) {
        static const uint8_t kNALStartCode[4] = {0x00, 0x00, 0x00, 0x01};
        memcpy(out, kNALStartCode, 4);
        out += 4;
    }
    memcpy(out, specific.data(), specific.size());
    mNoMoreOutputData = false;
    status_t err = emptyBuffer_l(info->mBuffer, 0, size,
                                 OMX_BUFFERFLAG_ENDOFFRAME | kBufferFlagCodecConfig, 0);
    if (err != OK) {
        ALOGE("[%s] emptyBuffer failed w/ error 0x%08x", mComponentName.c_str(), err);
        fail("a configuration block refused");
        return false;
    }
    info->mStatus = OWNED_BY_COMPONENT;
    ++mCodecSpecificDataIndex;
    return true;
}

// A pending seek goes to the source with the first read after the flush;
// the reader waiting for it is woken.
android::MediaSource::ReadOptions OMXCodec::takePendingSeek() {
    ReadOptions options;
    if (mSeekTimeUs >= 0) {
        options.setSeekTo(mSeekTimeUs, mSeekMode);
        mSeekTimeUs = -1;
        mSeekMode = ReadOptions::SEEK_CLOSEST_SYNC;
        mBufferFilled.signal();
    }
    return options;
}

bool OMXCodec::submitEndOfStream(BufferInfo* info, status_t finalStatus) {
    mFinalStatus = finalStatus;
    mSignalledEOS = true;
    mBufferFilled.signal();
    if (info == nullptr) info = findEmptyInputBuffer();
    status_t err =
        emptyBuffer_l(info->mBuffer, 0, 0, OMX_BUFFERFLAG_EOS | OMX_BUFFERFLAG_ENDOFFRAME, 0);
    if (err != OK) {
        setState(ERROR);
        return false;
    }
    info->mStatus = OWNED_BY_COMPONENT;
    return true;
}

bool OMXCodec::submitSourceBuffer(BufferInfo* info, MediaBufferRef srcBuffer) {
    size_t length = 0;
    const int64_t timeUs = copySourceBuffer(info, std::move(srcBuffer), &length);
    mNoMoreOutputData = false;
    status_t err = emptyBuffer_l(info->mBuffer, 0, length, OMX_BUFFERFLAG_ENDOFFRAME, timeUs);
    if (err != OK) {
        ALOGE("[%s] emptyBuffer failed w/ error 0x%08x", mComponentName.c_str(), err);
        setState(ERROR);
        return false;
    }
    info->mStatus = OWNED_BY_COMPONENT;
    ++mFramesInFlight;
    return true;
}

// Puts the source's bytes into the input buffer and returns their time.
// The source's buffer is given back here unless the component reads it in
// place (meta data or secure input); then the input buffer holds it.
int64_t OMXCodec::copySourceBuffer(BufferInfo* info, MediaBufferRef srcBuffer, size_t* length) {
    const bool readInPlace = (mFlags & kStoreMetaDataInVideoBuffers) != 0;
    if (mFlags & kUseSecureInputBuffers) {
        // The source wrote straight into the component's buffer.
        CHECK(!info->mSourceBuffer);
    } else {
        memcpy((uint8_t*)info->mData, (const uint8_t*)srcBuffer->data() + srcBuffer->range_offset(),
               srcBuffer->range_length());
    }
    int64_t timeUs;
    CHECK(srcBuffer->meta_data()->findInt64(android::kKeyTime, &timeUs));
    CHECK(timeUs >= 0);
    if (mIsEncoder && mIsVideo) mDecodingTimeList.push_back(timeUs);
    *length = srcBuffer->range_length();
    if (readInPlace || (mFlags & kUseSecureInputBuffers))
        info->mSourceBuffer = std::move(srcBuffer);
    return timeUs;
}

void OMXCodec::fillOutputBuffers() {
    CHECK_EQ((int)mState, (int)EXECUTING);

    // Every buffer is back after the end of input: the stream is over even
    // if the component never returned a buffer with the EOS flag.
    if (mSignalledEOS &&
        countBuffersWeOwn(mPortBuffers[kPortIndexInput]) == mPortBuffers[kPortIndexInput].size() &&
        countBuffersWeOwn(mPortBuffers[kPortIndexOutput]) ==
            mPortBuffers[kPortIndexOutput].size()) {
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
        if (mState != ERROR) {
            ALOGE("[%s] fillBuffer failed w/ error 0x%08x", mComponentName.c_str(), err);
        }
        setState(ERROR);
        return;
    }
    info->mStatus = OWNED_BY_COMPONENT;
}

// An encoder may hand out a frame in several buffers (one per slice, say):
// they carry the frame's time and share its decoding time. Each new frame
// takes the next input's time, however far outputs trail inputs.
int64_t OMXCodec::getDecodingTimeUs(int64_t timeUs) {
    CHECK(mIsEncoder && mIsVideo);
    if (timeUs == mLastOutputTimeUs || mDecodingTimeList.empty()) return mLastDecodingTimeUs;
    mLastOutputTimeUs = timeUs;
    mLastDecodingTimeUs = mDecodingTimeList.front();
    mDecodingTimeList.pop_front();
    return mLastDecodingTimeUs;
}

// A component that claims more than the buffer holds has lost the unit: no
// bytes of it can be trusted, so the stream ends as a component error.
bool OMXCodec::filledRangeFits(BufferInfo* info, const android::omx_message& msg) {
    const OMX_U32 rangeOffset = msg.u.extended_buffer_data.range_offset;
    const OMX_U32 rangeLength = msg.u.extended_buffer_data.range_length;
    const size_t size = info->mOutputBuffer->size();
    if (mOutputLost) return false;
    if (rangeOffset <= size && rangeLength <= size - rangeOffset) return true;
    ALOGE("[%s] FILL_BUFFER_DONE claims %u bytes at %u of a %zu-byte buffer: component error",
          mComponentName.c_str(), (unsigned)rangeLength, (unsigned)rangeOffset, size);
    mOutputLost = true;
    mFramesInFlight = 0;  // nothing more to wait for
    setState(ERROR);
    return false;
}

void OMXCodec::deliverFilledBuffer(BufferInfo* info, const android::omx_message& msg) {
    if (!filledRangeFits(info, msg)) return;
    const bool isCodecSpecific = describeFilledBuffer(info->mOutputBuffer.get(), msg);
    if (!isCodecSpecific && mFramesInFlight > 0) --mFramesInFlight;
    if (msg.u.extended_buffer_data.flags & OMX_BUFFERFLAG_EOS) mNoMoreOutputData = true;

    if (mIsEncoder && mIsVideo) {
        // The empty end-of-stream buffer belongs to no frame of its own.
        int64_t decodingTimeUs = 0;
        if (!isCodecSpecific) {
            decodingTimeUs = msg.u.extended_buffer_data.range_length > 0
                                 ? getDecodingTimeUs(msg.u.extended_buffer_data.timestamp)
                                 : mLastDecodingTimeUs;
        }
        info->mOutputBuffer->meta_data()->setInt64(android::kKeyDecodingTime, decodingTimeUs);
    }

    if (mTargetTimeUs >= 0) {
        // A component that skipped past the seek's target has reached it.
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

// Range (checked to fit), time and flags of a FILL_BUFFER_DONE on the
// buffer read() hands out. True for a configuration block.
bool OMXCodec::describeFilledBuffer(MediaBuffer* buffer, const android::omx_message& msg) {
    const OMX_U32 flags = msg.u.extended_buffer_data.flags;
    buffer->set_range(msg.u.extended_buffer_data.range_offset,
                      msg.u.extended_buffer_data.range_length);

    buffer->meta_data()->clear();
    buffer->meta_data()->setInt64(android::kKeyTime, msg.u.extended_buffer_data.timestamp);
    if (flags & OMX_BUFFERFLAG_SYNCFRAME)
        buffer->meta_data()->setInt32(android::kKeyIsSyncFrame, true);
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
    return isCodecSpecific;
}

}  // namespace qor
