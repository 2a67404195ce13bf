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
    bool empty() const { return mStorage.empty(); }
    size_t slotBytes() const { return mSlotBytes; }

    // The slot to write now; the call after returns the one after it.
    uint8_t* next() {
        uint8_t* slot = mStorage.data() + mSlotBytes * mNext;
        mNext = (mNext + 1) % kSlots;
        return slot;
    }

    // The slot next() returned last comes again: the encoder refused it, so
    // the two it may still hold stay untouched.
    void reuseLast() { mNext = (mNext + kSlots - 1) % kSlots; }

private:
    std::vector<uint8_t> mStorage;
    size_t mSlotBytes = 0;
    unsigned mNext = 0;
};

}  // namespace qor

#endif  // QOR_SLOT_RING_H_
