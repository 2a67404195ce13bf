/*
 * Three buffers used in turn for the converted frames (or PCM blocks) of one
 * stream. The encoder library takes them by reference: its push source keeps
 * one waiting and one being encoded, so the third is always free for the
 * next write.
 *
 * One producer per ring: next() is called by one thread at a time (the
 * capture thread for video, the audio thread for audio). The consumer never
 * calls into the ring; it only reads the slots it was handed.
 */
#ifndef QOR_SLOT_RING_H_
#define QOR_SLOT_RING_H_

#include <stddef.h>
#include <stdint.h>

#include <utility>
#include <vector>

namespace qor {

class SlotRing {
public:
    static const int kSlots = 3;

    // Gives every slot `slotBytes` bytes; the first slot comes next.
    void allocate(size_t slotBytes) {
        std::vector<uint8_t>(slotBytes * kSlots).swap(mStorage);
        mSlotBytes = slotBytes;
        mNext = 0;
    }
    void release() {
        std::vector<uint8_t>().swap(mStorage);
        mSlotBytes = 0;
        mNext = 0;
    }
    // Like release, for slots an encoder may still read after a stop that
    // went on in the background: they are kept for the life of the process.
    void retire() {
        static std::vector<std::vector<uint8_t>>* const kept =
            new std::vector<std::vector<uint8_t>>();
        kept->push_back(std::move(mStorage));
        release();
    }
    bool empty() const { return mStorage.empty(); }
    size_t slotBytes() const { return mSlotBytes; }

    // The slot to write now; the call after returns the one after it.
    uint8_t* next() {
        uint8_t* slot = mStorage.data() + mSlotBytes * mNext;
        mNext = (mNext + 1) % kSlots;
        return slot;
    }

    // The slot next() returned last was not handed over (the push was
    // refused): the next call returns it again. A refused push must not use
    // up a slot, or the one after it would be one the encoder still holds.
    void giveBack() { mNext = (mNext + kSlots - 1) % kSlots; }

private:
    std::vector<uint8_t> mStorage;
    size_t mSlotBytes = 0;
    unsigned mNext = 0;
};

}  // namespace qor

#endif  // QOR_SLOT_RING_H_
