/*
 * Trims an encoder's delay and padding from a stream of PCM-like buffers:
 * drops the first `skip` bytes that pass through and always holds back the
 * last `cut` bytes (which are dropped when the stream ends).
 */
#ifndef SKIP_CUT_BUFFER_H_
#define SKIP_CUT_BUFFER_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <utils/RefBase.h>

namespace android {

class SkipCutBuffer : public RefBase {
public:
    SkipCutBuffer(int32_t skip, int32_t cut);

    // Replaces the buffer's valid range by the bytes that leave the delay line.
    void submit(MediaBuffer* buffer);
    // Forgets the held bytes and starts skipping again.
    void clear();
    // Bytes held back now.
    size_t size() const { return mHeld.size(); }

private:
    size_t mSkip, mCut, mSkipLeft;
    std::vector<uint8_t> mHeld;
};

}  // namespace android

#endif  // SKIP_CUT_BUFFER_H_
