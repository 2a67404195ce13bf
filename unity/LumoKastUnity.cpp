// Unity render-event bridge: on the engine's render thread, a render event
// with the agreed identifier binds the framebuffer that the game's scripts
// chose and remembers the one that was bound. Scripts reach it through
// GetRenderEventFunc (GL.IssuePluginEvent(IntPtr, int), Unity 5.2 and
// later); engines that still call UnityRenderEvent by name get the same.
#include <GLES2/gl2.h>

#include <atomic>

#define UNITY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// Shared between the scripts' thread, which sets them before issuing the
// event and reads the saved binding after it has run, and Unity's render
// thread, which runs the event.
std::atomic<int> g_renderEventId{9898};
std::atomic<int> g_targetFbo{0};
std::atomic<int> g_savedScreenFbo{0};
}  // namespace

UNITY_EXPORT void UnitySetGraphicsDevice(void* /*device*/, int /*deviceType*/, int /*eventType*/) {}

UNITY_EXPORT void UnityRenderEvent(int eventId) {
    if (eventId != g_renderEventId) return;
    GLint screen = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &screen);
    g_savedScreenFbo.store(screen);
    glBindFramebuffer(GL_FRAMEBUFFER, (GLuint)g_targetFbo.load());
}

UNITY_EXPORT void setFBOInfo(int fbo) { g_targetFbo.store(fbo); }

UNITY_EXPORT void setRenderEventID(int eventId) { g_renderEventId.store(eventId); }

UNITY_EXPORT int getScreenFbo() { return g_savedScreenFbo.load(); }

// The render-event callback type of Unity's native plug-in interface.
typedef void (*UnityRenderingEvent)(int eventId);

UNITY_EXPORT UnityRenderingEvent GetRenderEventFunc() { return &UnityRenderEvent; }
