#include "gl_state_snapshot.h"

#include <sstream>

#include "gl3stub.h"

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
    NAMED(GL_CURRENT_PROGRAM, 1),        NAMED(GL_ARRAY_BUFFER_BINDING, 1),
    NAMED(GL_ELEMENT_ARRAY_BUFFER_BINDING, 1), NAMED(GL_ACTIVE_TEXTURE, 1),
    NAMED(GL_RENDERBUFFER_BINDING, 1),   NAMED(GL_FRAMEBUFFER_BINDING, 1),
    NAMED(GL_VIEWPORT, 4),               NAMED(GL_SCISSOR_BOX, 4),
    NAMED(GL_BLEND_SRC_RGB, 1),          NAMED(GL_BLEND_DST_RGB, 1),
    NAMED(GL_BLEND_SRC_ALPHA, 1),        NAMED(GL_BLEND_DST_ALPHA, 1),
    NAMED(GL_BLEND_EQUATION_RGB, 1),     NAMED(GL_DEPTH_FUNC, 1),
    NAMED(GL_STENCIL_FUNC, 1),           NAMED(GL_STENCIL_REF, 1),
    NAMED(GL_STENCIL_VALUE_MASK, 1),     NAMED(GL_STENCIL_WRITEMASK, 1),
    NAMED(GL_STENCIL_FAIL, 1),           NAMED(GL_CULL_FACE_MODE, 1),
    NAMED(GL_FRONT_FACE, 1),             NAMED(GL_PACK_ALIGNMENT, 1),
    NAMED(GL_UNPACK_ALIGNMENT, 1),       NAMED(GL_COLOR_WRITEMASK, 4),
    NAMED(GL_DEPTH_WRITEMASK, 1),        NAMED(GL_GENERATE_MIPMAP_HINT, 1),
};
const Named kInts3[] = {
    NAMED(GL_VERTEX_ARRAY_BINDING, 1),       NAMED(GL_PIXEL_PACK_BUFFER_BINDING, 1),
    NAMED(GL_PIXEL_UNPACK_BUFFER_BINDING, 1), NAMED(GL_PACK_ROW_LENGTH, 1),
    NAMED(GL_PACK_SKIP_PIXELS, 1),           NAMED(GL_PACK_SKIP_ROWS, 1),
    NAMED(GL_UNPACK_ROW_LENGTH, 1),          NAMED(GL_READ_FRAMEBUFFER_BINDING, 1),
    NAMED(GL_UNIFORM_BUFFER_BINDING, 1),     NAMED(GL_COPY_READ_BUFFER_BINDING, 1),
    NAMED(GL_TRANSFORM_FEEDBACK_BINDING, 1),
};
const Named kFloats[] = {
    NAMED(GL_COLOR_CLEAR_VALUE, 4), NAMED(GL_BLEND_COLOR, 4), NAMED(GL_DEPTH_CLEAR_VALUE, 1),
    NAMED(GL_DEPTH_RANGE, 2),       NAMED(GL_LINE_WIDTH, 1),  NAMED(GL_POLYGON_OFFSET_FACTOR, 1),
};
const Named kCaps[] = {
    NAMED(GL_SCISSOR_TEST, 1),     NAMED(GL_BLEND, 1),
    NAMED(GL_DEPTH_TEST, 1),       NAMED(GL_STENCIL_TEST, 1),
    NAMED(GL_CULL_FACE, 1),        NAMED(GL_DITHER, 1),
    NAMED(GL_POLYGON_OFFSET_FILL, 1), NAMED(GL_SAMPLE_ALPHA_TO_COVERAGE, 1),
    NAMED(GL_SAMPLE_COVERAGE, 1),
};
const Named kCaps3[] = {NAMED(GL_RASTERIZER_DISCARD, 1), NAMED(GL_PRIMITIVE_RESTART_FIXED_INDEX, 1)};

template <typename T>
std::string join(const T* values, int count) {
    std::ostringstream out;
    for (int i = 0; i < count; ++i) out << (i ? "," : "") << values[i];
    return out.str();
}

template <size_t N>
void addInts(GlSnapshot* s, const Named (&names)[N]) {
    for (const Named& n : names) {
        GLint v[4] = {0};
        glGetIntegerv(n.pname, v);
        (*s)[n.name] = join(v, n.count);
    }
}

void addAttribs(GlSnapshot* s, const std::string& prefix, bool es3) {
    for (GLuint loc = 0; loc < 4; ++loc) {
        const GLenum names[] = {GL_VERTEX_ATTRIB_ARRAY_ENABLED, GL_VERTEX_ATTRIB_ARRAY_SIZE,
                                GL_VERTEX_ATTRIB_ARRAY_TYPE, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED,
                                GL_VERTEX_ATTRIB_ARRAY_STRIDE,
                                GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING,
                                GL_VERTEX_ATTRIB_ARRAY_INTEGER, GL_VERTEX_ATTRIB_ARRAY_DIVISOR};
        GLint v[8] = {0};
        for (int i = 0; i < (es3 ? 8 : 6); ++i) glGetVertexAttribiv(loc, names[i], &v[i]);
        void* pointer = nullptr;
        glGetVertexAttribPointerv(loc, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
        std::ostringstream out;
        out << join(v, 8) << " @" << pointer;
        (*s)[prefix + "attrib" + std::to_string(loc)] = out.str();
    }
}

void addUnits(GlSnapshot* s, bool es3) {
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    for (GLenum unit = 0; unit < 4; ++unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        GLint texture = 0, sampler = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        if (es3) glGetIntegerv(GL_SAMPLER_BINDING, &sampler);
        (*s)["unit" + std::to_string(unit)] =
            std::to_string(texture) + " sampler " + std::to_string(sampler);
    }
    glActiveTexture((GLenum)active);
}

}  // namespace

GlSnapshot snapshotGles(bool es3) {
    GlSnapshot s;
    addInts(&s, kInts);
    for (const Named& n : kFloats) {
        GLfloat v[4] = {0};
        glGetFloatv(n.pname, v);
        s[n.name] = join(v, n.count);
    }
    for (const Named& n : kCaps) s[n.name] = glIsEnabled(n.pname) ? "on" : "off";
    addAttribs(&s, "", es3);
    addUnits(&s, es3);
    if (es3) {
        addInts(&s, kInts3);
        for (const Named& n : kCaps3) s[n.name] = glIsEnabled(n.pname) ? "on" : "off";
        GLint vertexArray = 0;
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
        glBindVertexArray(0);
        addAttribs(&s, "vao0.", true);
        GLint elements = 0;
        glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &elements);
        s["vao0.elements"] = std::to_string(elements);
        glBindVertexArray((GLuint)vertexArray);
    }
    return s;
}

std::string snapshotDiff(const GlSnapshot& before, const GlSnapshot& after,
                         const std::set<std::string>& ignore) {
    std::string out;
    for (const auto& entry : before) {
        if (ignore.count(entry.first)) continue;
        auto it = after.find(entry.first);
        std::string now = it == after.end() ? "(missing)" : it->second;
        if (now != entry.second) out += entry.first + ": " + entry.second + " -> " + now + "\n";
    }
    return out;
}

}  // namespace test
}  // namespace qor
