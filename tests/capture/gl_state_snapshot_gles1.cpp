// The GLES 1.1 snapshot: fixed-function state, matrices and client arrays.
#include <GLES/gl.h>
#include <GLES/glext.h>

#include <sstream>

#include "gl_state_snapshot.h"

namespace qor {
namespace test {

namespace {

struct Named {
    const char* name;
    GLenum pname;
    int count;
};

#define NAMED(e, n) {#e, e, n}

const Named kInts[] = {
    NAMED(GL_ARRAY_BUFFER_BINDING, 1),   NAMED(GL_ELEMENT_ARRAY_BUFFER_BINDING, 1),
    NAMED(GL_ACTIVE_TEXTURE, 1),         NAMED(GL_CLIENT_ACTIVE_TEXTURE, 1),
    NAMED(GL_MATRIX_MODE, 1),            NAMED(GL_VIEWPORT, 4),
    NAMED(GL_SCISSOR_BOX, 4),            NAMED(GL_BLEND_SRC, 1),
    NAMED(GL_BLEND_DST, 1),              NAMED(GL_DEPTH_FUNC, 1),
    NAMED(GL_ALPHA_TEST_FUNC, 1),        NAMED(GL_STENCIL_FUNC, 1),
    NAMED(GL_CULL_FACE_MODE, 1),         NAMED(GL_FRONT_FACE, 1),
    NAMED(GL_PACK_ALIGNMENT, 1),         NAMED(GL_UNPACK_ALIGNMENT, 1),
    NAMED(GL_COLOR_WRITEMASK, 4),        NAMED(GL_DEPTH_WRITEMASK, 1),
    NAMED(GL_MODELVIEW_STACK_DEPTH, 1),  NAMED(GL_PROJECTION_STACK_DEPTH, 1),
    NAMED(GL_TEXTURE_STACK_DEPTH, 1),    NAMED(GL_SHADE_MODEL, 1),
    NAMED(GL_RENDERBUFFER_BINDING_OES, 1), NAMED(GL_FRAMEBUFFER_BINDING_OES, 1),
};
const Named kFloats[] = {
    NAMED(GL_COLOR_CLEAR_VALUE, 4), NAMED(GL_CURRENT_COLOR, 4),    NAMED(GL_MODELVIEW_MATRIX, 16),
    NAMED(GL_PROJECTION_MATRIX, 16), NAMED(GL_FOG_COLOR, 4),
};
const Named kCaps[] = {
    NAMED(GL_SCISSOR_TEST, 1), NAMED(GL_BLEND, 1),      NAMED(GL_DEPTH_TEST, 1),
    NAMED(GL_STENCIL_TEST, 1), NAMED(GL_CULL_FACE, 1),  NAMED(GL_ALPHA_TEST, 1),
    NAMED(GL_FOG, 1),          NAMED(GL_DITHER, 1),     NAMED(GL_COLOR_LOGIC_OP, 1),
    NAMED(GL_LIGHTING, 1),     NAMED(GL_VERTEX_ARRAY, 1), NAMED(GL_COLOR_ARRAY, 1),
    NAMED(GL_NORMAL_ARRAY, 1),
};

template <typename T>
std::string join(const T* values, int count) {
    std::ostringstream out;
    for (int i = 0; i < count; ++i) out << (i ? "," : "") << values[i];
    return out.str();
}

std::string clientArray(GLenum size, GLenum type, GLenum stride, GLenum buffer, GLenum pointer) {
    GLint v[4] = {0};
    glGetIntegerv(size, &v[0]);
    glGetIntegerv(type, &v[1]);
    glGetIntegerv(stride, &v[2]);
    glGetIntegerv(buffer, &v[3]);
    void* p = nullptr;
    glGetPointerv(pointer, &p);
    std::ostringstream out;
    out << join(v, 4) << " @" << p;
    return out.str();
}

// Per texture unit 0 and 1: binding, 2D enable, environment, texture matrix
// and the client texture-coordinate array.
void addUnits(GlSnapshot* s) {
    GLint active = 0, client = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &client);
    for (GLenum unit = 0; unit < 2; ++unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glClientActiveTexture(GL_TEXTURE0 + unit);
        GLint texture = 0, env = 0;
        GLfloat matrix[16];
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
        glGetFloatv(GL_TEXTURE_MATRIX, matrix);
        std::string key = "unit" + std::to_string(unit);
        (*s)[key] = std::to_string(texture) + (glIsEnabled(GL_TEXTURE_2D) ? " on" : " off") +
                    " env " + std::to_string(env) + " matrix " + join(matrix, 16);
        (*s)[key + ".coords"] =
            std::string(glIsEnabled(GL_TEXTURE_COORD_ARRAY) ? "on " : "off ") +
            clientArray(GL_TEXTURE_COORD_ARRAY_SIZE, GL_TEXTURE_COORD_ARRAY_TYPE,
                        GL_TEXTURE_COORD_ARRAY_STRIDE, GL_TEXTURE_COORD_ARRAY_BUFFER_BINDING,
                        GL_TEXTURE_COORD_ARRAY_POINTER);
    }
    glActiveTexture((GLenum)active);
    glClientActiveTexture((GLenum)client);
}

}  // namespace

GlSnapshot snapshotGles1() {
    GlSnapshot s;
    for (const Named& n : kInts) {
        GLint v[4] = {0};
        glGetIntegerv(n.pname, v);
        s[n.name] = join(v, n.count);
    }
    for (const Named& n : kFloats) {
        GLfloat v[16] = {0};
        glGetFloatv(n.pname, v);
        s[n.name] = join(v, n.count);
    }
    for (const Named& n : kCaps) s[n.name] = glIsEnabled(n.pname) ? "on" : "off";
    s["vertices"] = clientArray(GL_VERTEX_ARRAY_SIZE, GL_VERTEX_ARRAY_TYPE, GL_VERTEX_ARRAY_STRIDE,
                                GL_VERTEX_ARRAY_BUFFER_BINDING, GL_VERTEX_ARRAY_POINTER);
    addUnits(&s);
    return s;
}

}  // namespace test
}  // namespace qor
