// Unity render-event bridge: on the engine's render thread, a render event
// with the agreed identifier binds the framebuffer that the game's scripts
// chose and remembers the one that was bound.
#include <GLES2/gl2.h>

#define UNITY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// Plain aligned words: the scripts set them before issuing the event and
// read the saved binding after it has run.
int g_renderEventId = 9898;
int g_targetFbo = 0;
int g_savedScreenFbo = 0;
}  // namespace

UNITY_EXPORT void UnitySetGraphicsDevice(void* /*device*/, int /*deviceType*/, int /*eventType*/) {}

UNITY_EXPORT void UnityRenderEvent(int eventId) {
    if (eventId != g_renderEventId) return;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &g_savedScreenFbo);
    glBindFramebuffer(GL_FRAMEBUFFER, (GLuint)g_targetFbo);
}

UNITY_EXPORT void setFBOInfo(int fbo) { g_targetFbo = fbo; }

UNITY_EXPORT void setRenderEventID(int eventId) { g_renderEventId = eventId; }

UNITY_EXPORT int getScreenFbo() { return g_savedScreenFbo; }
