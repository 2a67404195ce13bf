// The Unity bridge's shared values across the scripts' thread and the render
// thread (run under ThreadSanitizer with the threaded tests). No context is
// current: the GL calls of the event do nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

extern "C" {
void UnityRenderEvent(int eventId);
void setFBOInfo(int fbo);
void setRenderEventID(int eventId);
int getScreenFbo();
}

namespace {

TEST(UnityBridgeThreads, ScriptsAndTheRenderThreadShareTheValues) {
    const int kEvent = 4242;
    setRenderEventID(kEvent);
    std::atomic<bool> stop{false};
    std::atomic<int> events{0};
    std::thread render([&] {
        while (!stop.load()) {
            UnityRenderEvent(kEvent);
            events.fetch_add(1);
        }
    });
    for (int i = 0; i < 2000 || events.load() < 10; ++i) {
        setFBOInfo(i);
        setRenderEventID(kEvent);
        EXPECT_EQ(0, getScreenFbo());  // no context: nothing was bound
    }
    stop.store(true);
    render.join();
    setRenderEventID(9898);
}

}  // namespace
