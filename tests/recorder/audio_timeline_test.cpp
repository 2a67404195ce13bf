// The audio timeline against push patterns of games: steady, jittery,
// bursty, with silences, late, drifting and paused.
#include <stdlib.h>

#include <atomic>
#include <deque>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <media/stagefright/MediaErrors.h>

#include "android_source/AudioTimeline.h"
#include "android_source/TimedAudioSource.h"

namespace qor {
namespace {

const int32_t kRate = 44100;
const int64_t kBase = 1000000000;  // wall-clock time of the first push

int64_t framesToUs(int64_t frames) { return frames * 1000000 / kRate; }

// Places the blocks of a push the way the front end cuts it (2048 frames a
// block), all stamped at `stampUs`; checks that time never goes back.
struct Player {
    AudioTimeline timeline{kRate};
    int64_t lastTimeUs = -1;
    int64_t silence = 0, adjusted = 0, corrections = 0;
    int32_t largestStep = 0;

    // Offset of the block's first frame in the file from its stamp.
    int64_t push(int64_t stampUs, int64_t frames, int64_t jitterUs = 0) {
        int64_t offsetUs = 0;
        for (int64_t done = 0; done < frames; done += 2048) {
            const int32_t n = (int32_t)(frames - done < 2048 ? frames - done : 2048);
            AudioTimeline::Placement p = timeline.place(stampUs + jitterUs, n);
            EXPECT_GE(p.timeUs, lastTimeUs);
            lastTimeUs = p.timeUs;
            silence += p.silenceFrames;
            adjusted += p.adjustFrames;
            if (p.adjustFrames != 0) ++corrections;
            if (abs(p.adjustFrames) > largestStep) largestStep = abs(p.adjustFrames);
            EXPECT_LE(abs(p.adjustFrames) * AudioTimeline::kStepDivisor, n);
            if (done == 0) offsetUs = p.timeUs + framesToUs(p.silenceFrames) - stampUs;
            stampUs += 1;  // the blocks of one push: microseconds apart
        }
        return offsetUs;
    }
};

// Steady pushes keep every sample where the count puts it, however a game
// groups them into bursts; stamps that jitter on every push (up to a block
// late) move the sound by a few milliseconds at most, in small steps.
TEST(AudioTimelineTest, SteadyJitteryAndBurstyPushesAreCountedUntouched) {
    struct Pattern {
        const char* name;
        int64_t pushFrames;
        int64_t maxJitterUs;
    };
    const Pattern patterns[] = {
        {"per frame of a 30 fps game", 1470, 0},
        {"bursts of 20000 bytes", 5000, 0},
        {"blocks up to one block late", 2048, 46000},
        {"bursts up to 30 ms late", 5000, 30000},
    };
    srand(7);
    for (const Pattern& pattern : patterns) {
        SCOPED_TRACE(pattern.name);
        Player player;
        int64_t frames = 0;
        for (int i = 0; frames < 120 * kRate; ++i) {
            const int64_t jitter = pattern.maxJitterUs && i > 0 ? rand() % pattern.maxJitterUs : 0;
            player.push(kBase + framesToUs(frames), pattern.pushFrames, jitter);
            frames += pattern.pushFrames;
        }
        EXPECT_EQ(0, player.silence);
        if (pattern.maxJitterUs == 0) {
            EXPECT_EQ(0, player.corrections);
            EXPECT_EQ(frames, player.timeline.framesOut());
        } else {
            EXPECT_LE(std::abs(player.adjusted), kRate / 100);  // 10 ms
        }
    }
}

// One late block (the game's audio thread held up for a block) is jitter.
TEST(AudioTimelineTest, OneLateBlockIsNoGapAndNoDrift) {
    Player player;
    for (int64_t i = 0; i < 200; ++i) {
        const int64_t lateUs = i == 100 ? 46000 : 0;
        player.push(kBase + framesToUs(i * 2048), 2048, lateUs);
    }
    EXPECT_EQ(0, player.silence);
    EXPECT_EQ(0, player.corrections);
}

// After a silence of the game's sound the next block plays at its stamp
// and the silence in between is as long as the gap; a silence shorter than
// the gap threshold is absorbed by small steps instead.
TEST(AudioTimelineTest, GapsAreFilledWithSilenceAndShortOnesAbsorbed) {
    const int64_t gaps[] = {5000000, 1000000, 200000};
    for (int64_t gapUs : gaps) {
        SCOPED_TRACE(gapUs);
        Player player;
        int64_t frames = 0;
        for (int i = 0; i < 100; ++i, frames += 2048) player.push(kBase + framesToUs(frames), 2048);
        const int64_t resumeUs = kBase + framesToUs(frames) + gapUs;
        EXPECT_EQ(0, player.push(resumeUs, 2048));
        EXPECT_NEAR(gapUs * kRate / 1000000, player.silence, 1);
    }
    Player shortGap;
    int64_t stampUs = kBase;
    for (int i = 0; i < 600; ++i) {
        if (i == 100) stampUs += 100000;  // 100 ms without sound
        shortGap.push(stampUs, 2048);
        stampUs += framesToUs(2048);
    }
    EXPECT_EQ(0, shortGap.silence);
    EXPECT_NEAR(kRate / 10, shortGap.adjusted, kRate / 50);
}

// A late push whose next pushes catch up is a stall: the sound keeps its
// count, no silence goes in and the catching up is no drift.
TEST(AudioTimelineTest, AStallCaughtUpOnKeepsTheCount) {
    Player player;
    int64_t frames = 0;
    for (int i = 0; i < 100; ++i, frames += 1470) player.push(kBase + framesToUs(frames), 1470);
    // 300 ms held up, then ten pushes 3 ms apart.
    const int64_t resumeUs = kBase + framesToUs(frames) + 300000;
    for (int i = 0; i < 10; ++i, frames += 1470) {
        const int64_t stampUs = resumeUs + i * 3000;
        AudioTimeline::Placement p =
            player.timeline.place(stampUs, 1470, !player.timeline.isLate(stampUs));
        EXPECT_EQ(0, p.silenceFrames);
        EXPECT_EQ(0, p.adjustFrames);
    }
    for (int i = 0; i < 100; ++i, frames += 1470) player.push(kBase + framesToUs(frames), 1470);
    EXPECT_EQ(0, player.silence);
    EXPECT_EQ(0, player.corrections);
}

// Sound starting after the recording did starts at its time.
TEST(AudioTimelineTest, LateSoundStartsAfterSilenceFromTheOrigin) {
    Player player;
    player.timeline.setOrigin(kBase - 2000000);
    EXPECT_EQ(0, player.push(kBase, 2048));
    EXPECT_EQ(2 * kRate, player.silence);
    EXPECT_EQ(kBase - 2000000, player.timeline.nextTimeUs() - framesToUs(2 * kRate + 2048));
}

// An audio clock 0.5% fast or slow, with jittery stamps: the offset
// averaged over each second stays within 20 ms, in steps of at most 1%.
TEST(AudioTimelineTest, DriftIsCorrectedInSmallSteps) {
    const double clocks[] = {1.005, 0.995, 1.002};
    srand(11);
    for (double clock : clocks) {
        SCOPED_TRACE(clock);
        Player player;
        double sum = 0;
        int count = 0;
        for (int64_t i = 0; i < 60 * kRate / 2048; ++i) {
            const int64_t stampUs = kBase + (int64_t)(framesToUs(i * 2048) / clock);
            // The first block is the anchor: its stamp is taken as it is.
            const int64_t jitterUs = i == 0 ? 0 : rand() % 30000;
            const int64_t offsetUs = player.push(stampUs, 2048, jitterUs);
            sum += offsetUs;
            if (++count == kRate / 2048) {
                EXPECT_LT(std::abs(sum / count), 20000.0) << "second " << i * 2048 / kRate;
                sum = 0;
                count = 0;
            }
        }
        EXPECT_EQ(0, player.silence);
        EXPECT_GT(player.corrections, 0);
        EXPECT_LE(player.largestStep, 2048 / AudioTimeline::kStepDivisor);
    }
}

// Pause hook: stamps that jump by the paused time (or do not jump) after a
// resume get neither silence nor a correction.
TEST(AudioTimelineTest, AResumeLeavesThePauseOutAndRestartsTheEstimate) {
    const int64_t shifts[] = {0, 3000000};
    for (int64_t shiftUs : shifts) {
        SCOPED_TRACE(shiftUs);
        Player player;
        int64_t frames = 0;
        for (int i = 0; i < 100; ++i, frames += 2048) player.push(kBase + framesToUs(frames), 2048);
        const int64_t before = player.timeline.nextTimeUs();
        player.timeline.resume(shiftUs);
        // After the resume the game's pushes run 30 ms behind its old pace:
        // a new estimate, not a correction.
        for (int i = 0; i < 200; ++i, frames += 2048) {
            player.push(kBase + framesToUs(frames) + shiftUs + 30000, 2048);
        }
        EXPECT_EQ(0, player.silence);
        EXPECT_EQ(0, player.corrections);
        EXPECT_GE(player.lastTimeUs, before + shiftUs);
    }
}

TEST(AdjustPcmTest, RepeatsOrDropsSpreadFrames) {
    std::vector<uint8_t> in(100 * 4);
    for (size_t i = 0; i < 100; ++i) in[i * 4] = (uint8_t)i;
    std::vector<uint8_t> out;
    adjustPcm(in.data(), 100, 4, 0, &out);
    EXPECT_EQ(in, out);
    adjustPcm(in.data(), 100, 4, -3, &out);
    ASSERT_EQ(97u * 4, out.size());
    // Frames 25, 50 and 75 left out; the rest in order.
    std::vector<int> kept;
    for (size_t i = 0; i < 97; ++i) kept.push_back(out[i * 4]);
    EXPECT_EQ(24, kept[24]);
    EXPECT_EQ(26, kept[25]);
    EXPECT_EQ(99, kept[96]);
    adjustPcm(in.data(), 100, 4, 2, &out);
    ASSERT_EQ(102u * 4, out.size());
    EXPECT_EQ(out[33 * 4], out[34 * 4]);  // frame 33 twice
    EXPECT_EQ(99, out[101 * 4]);
}

// A stand-in for the push source: blocks with their stamps, then the end.
class BlockSource : public android::MediaSource {
public:
    std::deque<std::pair<int64_t, size_t>> blocks;  // stamp, bytes
    status_t start(android::MetaData*) override { return android::OK; }
    status_t stop() override { return android::OK; }
    sp<android::MetaData> getFormat() override { return new android::MetaData; }
    status_t read(android::MediaBuffer** out, const ReadOptions*) override {
        if (blocks.empty()) return android::ERROR_END_OF_STREAM;
        android::MediaBuffer* b = new android::MediaBuffer(blocks.front().second);
        memset(b->data(), 0x11, blocks.front().second);
        b->meta_data()->setInt64(android::kKeyTime, blocks.front().first);
        blocks.pop_front();
        *out = b;
        return android::OK;
    }
};

// What the encoder reads: the silence of a gap in encoder-sized buffers,
// then the block, stamped continuously; the end of the stream passes on.
TEST(TimedAudioSourceTest, HandsTheEncoderSilenceThenTheBlockOnOneTimeline) {
    sp<BlockSource> blocks = new BlockSource;
    blocks->blocks.push_back({kBase, 8192});
    blocks->blocks.push_back({kBase + framesToUs(2048) + 1000000, 8192});  // after 1 s
    sp<RecordingOrigin> origin = new RecordingOrigin;
    origin->note(kBase);
    sp<TimedAudioSource> timed = new TimedAudioSource(blocks, kRate, 2, origin);
    int64_t frames = 0, silent = 0, lastUs = -1;
    android::MediaBuffer* b = nullptr;
    while (timed->read(&b) == android::OK) {
        int64_t timeUs = 0;
        ASSERT_TRUE(b->meta_data()->findInt64(android::kKeyTime, &timeUs));
        EXPECT_NEAR((double)(kBase + framesToUs(frames)), (double)timeUs, 1.0);
        EXPECT_GT(timeUs, lastUs);
        EXPECT_LE(b->range_length(), (size_t)TimedAudioSource::kMaxBufferBytes);
        lastUs = timeUs;
        const uint8_t* d = (const uint8_t*)b->data() + b->range_offset();
        if (d[0] == 0) silent += b->range_length() / 4;
        frames += b->range_length() / 4;
        b->release();
    }
    EXPECT_EQ(kRate, silent);
    EXPECT_EQ(2 * 2048 + kRate, frames);
}

// A late block is a gap when the next push comes at the pace of the sound,
// and a stall when it comes right after (the game catching up).
TEST(TimedAudioSourceTest, ALateBlockIsAGapOnlyWhenTheNextPushKeepsPace) {
    for (bool stall : {false, true}) {
        SCOPED_TRACE(stall ? "stall" : "gap");
        sp<BlockSource> blocks = new BlockSource;
        int64_t stampUs = kBase;
        for (int i = 0; i < 10; ++i, stampUs += framesToUs(2048))
            blocks->blocks.push_back({stampUs, 8192});
        stampUs += 500000;
        for (int i = 0; i < 10; ++i) {
            blocks->blocks.push_back({stampUs, 8192});
            stampUs += stall ? 3000 : framesToUs(2048);
        }
        sp<TimedAudioSource> timed = new TimedAudioSource(blocks, kRate, 2, nullptr);
        int64_t silent = 0, frames = 0;
        android::MediaBuffer* b = nullptr;
        while (timed->read(&b) == android::OK) {
            const uint8_t* d = (const uint8_t*)b->data() + b->range_offset();
            if (d[0] == 0) silent += b->range_length() / 4;
            frames += b->range_length() / 4;
            b->release();
        }
        EXPECT_NEAR(stall ? 0 : kRate / 2, silent, 1);
        EXPECT_EQ(20 * 2048 + silent, frames);
    }
}

// The pause hook comes from the recorder's thread while the encoder's
// thread reads: resumes with the paused time already left out of the
// stamps change nothing in what is read.
TEST(TimedAudioSourceTest, ResumesFromAnotherThreadLeaveTheSoundAlone) {
    sp<BlockSource> blocks = new BlockSource;
    for (int i = 0; i < 400; ++i) blocks->blocks.push_back({kBase + framesToUs(i * 2048), 8192});
    sp<TimedAudioSource> timed = new TimedAudioSource(blocks, kRate, 2, nullptr);
    std::atomic<bool> done{false};
    std::thread resumer([&] {
        while (!done) timed->resumed(0);
    });
    int64_t frames = 0, lastUs = -1;
    android::MediaBuffer* b = nullptr;
    while (timed->read(&b) == android::OK) {
        int64_t timeUs = 0;
        b->meta_data()->findInt64(android::kKeyTime, &timeUs);
        EXPECT_GT(timeUs, lastUs);
        lastUs = timeUs;
        frames += b->range_length() / 4;
        b->release();
    }
    done = true;
    resumer.join();
    EXPECT_EQ(400 * 2048, frames);
}

}  // namespace
}  // namespace qor
