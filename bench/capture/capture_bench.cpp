// Per-frame cost of capturing a 1280x720 frame on Mesa (llvmpipe): each
// iteration is one game frame (draw into the capture FBO, copy it to the
// screen) followed by the capture path under test. BM_FrameWithoutCapture
// is the frame alone; the capture's own cost is the difference.
//
// Counter allocs_per_frame: heap allocations made inside the capture calls
// (ours and the GL driver's), per frame. The GraphicBuffer path includes the
// GPU sync before its lock. BM_UnbineStateSaving* time the state saving and
// restoring of one unbineFbo in microseconds, with its state queries.
#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchHost.h"

#include <GLES2/gl2.h>

#include "headless_gl.h"
#include "lumokast_egl.h"
#include "lumokast_gles.h"
#include "lumokast_glesoes.h"
#include "lumokast_glstate.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
}  // namespace

// Counts allocations while a capture call runs.
extern "C" void* malloc(size_t size) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t n, size_t size) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t size) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}

using namespace qor::test;

namespace {

const int kW = 1280, kH = 720;

struct Scene {
    std::unique_ptr<HeadlessGl> gl;
    int version = 0;
    GLuint screen = 0;
    jint fbo = 0;
    std::vector<uint8_t> frame = std::vector<uint8_t>(kW * kH * 2);
};

Scene gScene;

// The GL context of `version` with a screen and a capture FBO of 1280x720.
Scene& scene(int version) {
    if (gScene.version != version) {
        nativeStopCapturer(nullptr, nullptr);
        nativeDeleteAllFbo(nullptr, nullptr);
        nativeDeleteAllFboOES(nullptr, nullptr);
        gScene.gl.reset(new HeadlessGl());
        gScene.gl->create(version);
        gScene.version = version;
        gScene.screen = makeScreenFbo(version, kW, kH);
        gScene.fbo = version == 1 ? nativePrepareFboOES(nullptr, nullptr, kW, kH, 16, 9)
                                  : nativePrepareFbo(nullptr, nullptr, kW, kH, 16, 9);
    }
    return gScene;
}

// One game frame: redirected drawing, then the copy to the screen.
void gameFrame(Scene& s, int n) {
    bool oes = s.version == 1;
    if (oes) {
        nativeBineFboOES(nullptr, nullptr, s.fbo);
    } else {
        nativeBineFbo(nullptr, nullptr, s.fbo);
    }
    glViewport(0, 0, kW, kH);
    glClearColor((n % 64) / 63.0f, 0.5f, 0.25f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(kW / 4, kH / 4, kW / 2, kH / 2);
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    if (oes) {
        nativeUnbineFboOES(nullptr, nullptr, s.fbo, s.screen);
    } else {
        nativeUnbineFbo(nullptr, nullptr, s.fbo, s.screen);
    }
}

template <typename Capture>
void runFrames(benchmark::State& state, Scene& s, Capture capture) {
    long frames = 0;
    gAllocations = 0;
    for (auto _ : state) {
        gameFrame(s, (int)frames);
        gCounting = true;
        capture();
        gCounting = false;
        benchmark::DoNotOptimize(s.frame.data());
        ++frames;
    }
    state.counters["allocs_per_frame"] = frames ? (double)gAllocations / frames : 0.0;
}

void BM_FrameWithoutCapture(benchmark::State& state) {
    Scene& s = scene(3);
    runFrames(state, s, [] { glFinish(); });
}

void BM_BareReadPixels(benchmark::State& state) {
    Scene& s = scene(3);
    runFrames(state, s, [&s] {
        GLint saved = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved);
        nativeBineFbo(nullptr, nullptr, s.fbo);
        glReadPixels(0, 0, kW, kH, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, s.frame.data());
        glBindFramebuffer(GL_FRAMEBUFFER, saved);
    });
}

// Runs before any readPixels: the GLES 3 path is not detected yet.
void BM_GraphicBufferPath(benchmark::State& state) {
    Scene& s = scene(3);
    const bool writeLock = state.range(0) != 0;
    nativeStopCapturer(nullptr, nullptr);
    DirectBuffer dst{s.frame.data(), (int64_t)s.frame.size()};
    captureFrameByfboInto(s.fbo, writeLock, dst);  // attaches the buffer
    runFrames(state, s, [&] { captureFrameByfboInto(s.fbo, writeLock, dst); });
    if (!g_capturerReady || g_isOpenglES3) state.SkipWithError("not the GraphicBuffer path");
}

void BM_PixelPackPath(benchmark::State& state) {
    Scene& s = scene(3);
    DirectBuffer dst{s.frame.data(), (int64_t)s.frame.size()};
    runFrames(state, s, [&] {
        nativeReadPixels(nullptr, nullptr, kW, kH, s.fbo);
        captureFrameByfboInto(s.fbo, false, dst);
    });
    if (!g_isOpenglES3) state.SkipWithError("no GLES 3 context");
}

void BM_OesPath(benchmark::State& state) {
    Scene& s = scene(1);
    DirectBuffer dst{s.frame.data(), (int64_t)s.frame.size()};
    captureFrameByfboOESInto(s.fbo, false, dst);  // attaches the buffer
    runFrames(state, s, [&] { captureFrameByfboOESInto(s.fbo, false, dst); });
    if (!g_capturerReady) state.SkipWithError("capturer not ready");
}

void BM_OesBareReadPixels(benchmark::State& state) {
    Scene& s = scene(1);
    runFrames(state, s, [&s] {
        GLint saved = 0;
        glGetIntegerv(0x8CA6 /* GL_FRAMEBUFFER_BINDING_OES */, &saved);
        nativeBineFboOES(nullptr, nullptr, s.fbo);
        glReadPixels(0, 0, kW, kH, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, s.frame.data());
        bindFramebuffer(1, saved);
    });
}

// The state saving and restoring of one unbineFbo, on its own: the copy of a
// 1x1 FBO draws next to nothing, so the call is the queries, the state
// changes and their restoring. Counter gl_queries: state queries per call.
void unbineStateSaving(benchmark::State& state, int version) {
    Scene& s = scene(version);
    const bool oes = version == 1;
    jint tiny = oes ? nativePrepareFboOES(nullptr, nullptr, 1, 1, 1, 1)
                    : nativePrepareFbo(nullptr, nullptr, 1, 1, 1, 1);
    bindFramebuffer(version, s.screen);
    auto unbine = [&] {
        if (oes) {
            nativeUnbineFboOES(nullptr, nullptr, tiny, s.screen);
        } else {
            nativeUnbineFbo(nullptr, nullptr, tiny, s.screen);
        }
    };
    unbine();  // builds the copy's program
    glFinish();
    const unsigned long before = qor::g_glStateQueries;
    long calls = 0;
    for (auto _ : state) {
        unbine();
        ++calls;
    }
    glFinish();
    state.counters["gl_queries"] = calls ? (double)(qor::g_glStateQueries - before) / calls : 0.0;
    if (oes) {
        nativeDeleteFboOES(nullptr, nullptr, tiny);
    } else {
        nativeDeleteFbo(nullptr, nullptr, tiny);
    }
}

void BM_UnbineStateSavingGles3(benchmark::State& state) { unbineStateSaving(state, 3); }
void BM_UnbineStateSavingOes(benchmark::State& state) { unbineStateSaving(state, 1); }

}  // namespace

// Registration order matters: GLES 3 detection happens once per process, at
// the first readPixels.
BENCHMARK(BM_FrameWithoutCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareReadPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GraphicBufferPath)->Arg(0)->Arg(1)->ArgName("writeLock")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelPackPath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnbineStateSavingGles3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OesBareReadPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OesPath)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnbineStateSavingOes)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    if (qor::benchRunsEmulated()) return 0;
    setenv("EGL_PLATFORM", "surfaceless", 1);
    setenv("LUMOKAST_LOG_QUIET", "1", 0);
    if (getenv("LIBEGL") == nullptr) setenv("LIBEGL", QOR_HOST_EGL, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
