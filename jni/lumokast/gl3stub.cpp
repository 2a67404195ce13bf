// The OpenGL ES 3.0 entry-point variables and their run-time lookup.
#include "gl3stub.h"

#include "lumokast_egl.h"

#define LUMOKAST_GL3_DEFINE(name, type) __attribute__((visibility("default"))) type name;
extern "C" {
LUMOKAST_GL3_ENTRY_POINTS(LUMOKAST_GL3_DEFINE)
}
#undef LUMOKAST_GL3_DEFINE

extern "C" __attribute__((visibility("default"))) GLboolean gl3stubInit(void) {
    // Every lookup is made before any result is tested.
#define LUMOKAST_GL3_LOOKUP(name, type) name = (type)lumokastGetProcAddress(#name);
    LUMOKAST_GL3_ENTRY_POINTS(LUMOKAST_GL3_LOOKUP)
#undef LUMOKAST_GL3_LOOKUP
    bool all = true;
#define LUMOKAST_GL3_TEST(name, type) all = all && name != nullptr;
    LUMOKAST_GL3_ENTRY_POINTS(LUMOKAST_GL3_TEST)
#undef LUMOKAST_GL3_TEST
    return all ? GL_TRUE : GL_FALSE;
}
