// The front end's buffer ring and push gate: slots come in turn and the one
// being written is never one the encoder still holds, even when the encoder
// is slow; stop's wait for pushes ends only when the last push has left.
#include "icodec/PushGate.h"
#include "icodec/SlotRing.h"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using qor::PushGate;
using qor::SlotRing;

class SlotRingTest : public ::testing::TestWithParam<size_t> {};

TEST_P(SlotRingTest, SlotsComeInTurnAndDoNotOverlap) {
    const size_t bytes = GetParam();
    SlotRing ring;
    EXPECT_TRUE(ring.empty());
    ring.allocate(bytes);
    ASSERT_FALSE(ring.empty());
    EXPECT_EQ(bytes, ring.slotBytes());
    uint8_t* first = ring.next();
    uint8_t* second = ring.next();
    uint8_t* third = ring.next();
    EXPECT_EQ(first + bytes, second);
    EXPECT_EQ(second + bytes, third);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(first, ring.next());
        EXPECT_EQ(second, ring.next());
        EXPECT_EQ(third, ring.next());
    }
    // A whole slot can be written without touching the next one.
    memset(first, 0x11, bytes);
    memset(second, 0x22, bytes);
    memset(third, 0x33, bytes);
    EXPECT_EQ(bytes, (size_t)std::count(first, first + bytes, 0x11));
    EXPECT_EQ(bytes, (size_t)std::count(third, third + bytes, 0x33));

    // A new recording starts again at the first slot.
    ring.next();
    ring.allocate(bytes);
    uint8_t* restart = ring.next();
    EXPECT_EQ(restart + bytes, ring.next());
    EXPECT_EQ(restart + 2 * bytes, ring.next());
    ring.release();
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(0u, ring.slotBytes());
}

// The recorder's push source holds two buffers of the front end: one waiting
// and one being encoded. The slot written next is neither.
TEST_P(SlotRingTest, TheSlotWrittenIsNeverOneTheEncoderHolds) {
    SlotRing ring;
    ring.allocate(GetParam());
    uint8_t* encoding = nullptr;
    uint8_t* waiting = nullptr;
    for (int i = 0; i < 50; ++i) {
        uint8_t* writing = ring.next();
        ASSERT_NE(writing, encoding) << "push " << i;
        ASSERT_NE(writing, waiting) << "push " << i;
        encoding = waiting;
        waiting = writing;
    }
}

INSTANTIATE_TEST_SUITE_P(SlotSizes, SlotRingTest,
                         ::testing::Values((size_t)1, (size_t)8320, (size_t)64 * 32 * 3 / 2 + 128));

// The encoder's side of the push source, with its depth: one buffer waiting,
// one being read. Taking the next buffer gives the previous one back.
class SlowEncoder {
public:
    void push(uint8_t* slot) {
        std::unique_lock<std::mutex> lock(mLock);
        mFree.wait(lock, [this] { return mWaiting == nullptr; });
        mWaiting = slot;
        mReady.notify_one();
    }
    uint8_t* take() {
        std::unique_lock<std::mutex> lock(mLock);
        mReady.wait(lock, [this] { return mWaiting != nullptr; });
        uint8_t* slot = mWaiting;
        mWaiting = nullptr;
        mFree.notify_one();
        return slot;
    }

private:
    std::mutex mLock;
    std::condition_variable mReady, mFree;
    uint8_t* mWaiting = nullptr;
};

TEST(SlotRingSlowConsumerTest, AFrameIsNotRewrittenWhileTheEncoderReadsIt) {
    const size_t kBytes = 4096;
    const int kFrames = 30;
    SlotRing ring;
    ring.allocate(kBytes);
    SlowEncoder encoder;
    std::atomic<int> rewritten{0};
    std::thread reader([&] {
        for (int i = 0; i < kFrames; ++i) {
            uint8_t* frame = encoder.take();
            const uint8_t mark = frame[0];
            // Encoding takes a while; the producer goes on meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (std::count(frame, frame + kBytes, mark) != (long)kBytes) rewritten++;
        }
    });
    for (int i = 0; i < kFrames; ++i) {
        uint8_t* slot = ring.next();
        memset(slot, i + 1, kBytes);
        encoder.push(slot);
    }
    reader.join();
    EXPECT_EQ(0, rewritten.load());
}

TEST(PushGateTest, WaitEndsOnlyWhenTheLastPushHasLeft) {
    PushGate gate;
    gate.waitUntilIdle();  // nothing under way: returns at once

    gate.enter();
    gate.enter();
    std::atomic<bool> idle{false};
    std::thread stopper([&] {
        gate.waitUntilIdle();
        idle = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(idle.load());
    gate.leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(idle.load());
    gate.leave();
    stopper.join();
    EXPECT_TRUE(idle.load());
}

TEST(PushGateTest, ScopeCountsOnePushFromConstructionToDestruction) {
    PushGate gate;
    std::atomic<bool> idle{false};
    std::thread stopper;
    {
        PushGate::Scope push(gate);
        stopper = std::thread([&] {
            gate.waitUntilIdle();
            idle = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(idle.load());
    }
    stopper.join();
    EXPECT_TRUE(idle.load());
}

}  // namespace
