// Strong and weak references: lifetime, promotion, and promotion racing the
// last release.
#include <utils/RefBase.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using android::RefBase;
using android::sp;
using android::wp;

namespace {

struct Counted : public RefBase {
    explicit Counted(std::atomic<int>* alive) : mAlive(alive) { ++*mAlive; }
    ~Counted() override { --*mAlive; }
    std::atomic<int>* mAlive;
};

TEST(RefBaseTest, LastStrongReferenceDestroysAndWeakNoLongerPromotes) {
    std::atomic<int> alive{0};
    wp<Counted> weak;
    {
        sp<Counted> a = new Counted(&alive);
        sp<Counted> b = a;
        weak = a;
        EXPECT_EQ(2, a->getStrongCount());
        EXPECT_NE(nullptr, weak.promote().get());
        a.clear();
        EXPECT_EQ(1, alive.load());
    }
    EXPECT_EQ(0, alive.load());
    EXPECT_EQ(nullptr, weak.promote().get());
}

TEST(RefBaseTest, PromotionRacingTheLastReleaseNeverRevivesTheObject) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> alive{0};
        sp<Counted> strong = new Counted(&alive);
        wp<Counted> weak = strong;
        std::thread promoter([&] {
            for (int i = 0; i < 50; ++i) {
                sp<Counted> p = weak.promote();
                if (p != nullptr) {
                    EXPECT_EQ(1, alive.load());
                }
            }
        });
        strong.clear();
        promoter.join();
        EXPECT_EQ(0, alive.load());
    }
}

}  // namespace
