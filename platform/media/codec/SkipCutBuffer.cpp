#include <media/stagefright/SkipCutBuffer.h>

#include <string.h>

namespace android {

SkipCutBuffer::SkipCutBuffer(int32_t skip, int32_t cut)
    : mSkip(skip > 0 ? skip : 0), mCut(cut > 0 ? cut : 0), mSkipLeft(mSkip) {}

void SkipCutBuffer::submit(MediaBuffer* buffer) {
    uint8_t* data = static_cast<uint8_t*>(buffer->data());
    size_t offset = buffer->range_offset();
    size_t length = buffer->range_length();
    size_t skipped = length < mSkipLeft ? length : mSkipLeft;
    mSkipLeft -= skipped;
    mHeld.insert(mHeld.end(), data + offset + skipped, data + offset + length);
    // Everything beyond the last mCut bytes leaves; it is never longer than
    // what came in, so it fits the buffer's own range.
    size_t out = mHeld.size() > mCut ? mHeld.size() - mCut : 0;
    memcpy(data + offset, mHeld.data(), out);
    mHeld.erase(mHeld.begin(), mHeld.begin() + out);
    buffer->set_range(offset, out);
}

void SkipCutBuffer::clear() {
    mHeld.clear();
    mSkipLeft = mSkip;
}

}  // namespace android
