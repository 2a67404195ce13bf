#include "Scene.h"

#include <math.h>

#include <GLES2/gl2.h>

namespace qor {
namespace demo {

namespace {

const char* const kVertexShader =
        "attribute vec2 a_position;\n"
        "attribute vec4 a_color;\n"
        "varying lowp vec4 v_color;\n"
        "void main() {\n"
        "    gl_Position = vec4(a_position, 0.0, 1.0);\n"
        "    v_color = a_color;\n"
        "}\n";
const char* const kFragmentShader =
        "varying lowp vec4 v_color;\n"
        "void main() {\n"
        "    gl_FragColor = v_color;\n"
        "}\n";
const GLuint kPositionLoc = 0;
const GLuint kColorLoc = 1;
const float kPi = 3.14159265f;

GLuint compile(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    if (shader == 0) return 0;
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Hue in turns (0..1), full saturation, value v.
Rgba hsv(float hue, float s, float v, float a = 1.0f) {
    hue -= floorf(hue);
    float h = hue * 6.0f;
    int i = (int)h;
    float f = h - i;
    float p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i % 6) {
        case 0: return {v, t, p, a};
        case 1: return {q, v, p, a};
        case 2: return {p, v, t, a};
        case 3: return {p, q, v, a};
        case 4: return {t, p, v, a};
        default: return {v, p, q, a};
    }
}

// Segments a..g of the digits 0-9, bit 0 = a (top), clockwise, g = middle.
const uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

}  // namespace

Scene::~Scene() { release(); }

bool Scene::init(int width, int height) {
    mWidth = width;
    mHeight = height;
    GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
    GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
    GLuint program = (vs && fs) ? glCreateProgram() : 0;
    if (program != 0) {
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        // Fixed locations: the capture library's copy pass leaves its own
        // attribute array enabled, so every draw sets both of ours anew.
        glBindAttribLocation(program, kPositionLoc, "a_position");
        glBindAttribLocation(program, kColorLoc, "a_color");
        glLinkProgram(program);
        GLint ok = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vs) glDeleteShader(vs);
    if (fs) glDeleteShader(fs);
    mProgram = program;
    mVertices.reserve(64 * 1024);
    return mProgram != 0;
}

void Scene::release() {
    if (mProgram != 0) glDeleteProgram(mProgram);
    mProgram = 0;
}

void Scene::vertex(float x, float y, const Rgba& c) {
    mVertices.insert(mVertices.end(), {2.0f * x / mWidth - 1.0f, 1.0f - 2.0f * y / mHeight, c.r,
                                       c.g, c.b, c.a});
}

void Scene::triangle(float x0, float y0, const Rgba& c0, float x1, float y1, const Rgba& c1,
                     float x2, float y2, const Rgba& c2) {
    vertex(x0, y0, c0);
    vertex(x1, y1, c1);
    vertex(x2, y2, c2);
}

void Scene::rect(float x, float y, float w, float h, const Rgba& c) { gradientRect(x, y, w, h, c, c); }

void Scene::gradientRect(float x, float y, float w, float h, const Rgba& top, const Rgba& bottom) {
    triangle(x, y, top, x + w, y, top, x, y + h, bottom);
    triangle(x + w, y, top, x + w, y + h, bottom, x, y + h, bottom);
}

void Scene::disc(float cx, float cy, float radius, float angle, int segments) {
    const Rgba centre = {1, 1, 1, 1};
    for (int i = 0; i < segments; ++i) {
        float a0 = angle + 2 * kPi * i / segments, a1 = angle + 2 * kPi * (i + 1) / segments;
        triangle(cx, cy, centre, cx + radius * cosf(a0), cy + radius * sinf(a0),
                 hsv((float)i / segments, 1, 1), cx + radius * cosf(a1), cy + radius * sinf(a1),
                 hsv((float)(i + 1) / segments, 1, 1));
    }
}

void Scene::star(float cx, float cy, float outer, float inner, float angle, const Rgba& rim) {
    const Rgba centre = {1, 1, 0.85f, 1};
    const int points = 5;
    for (int i = 0; i < 2 * points; ++i) {
        float r0 = (i % 2) ? inner : outer, r1 = (i % 2) ? outer : inner;
        float a0 = angle + kPi * i / points, a1 = angle + kPi * (i + 1) / points;
        triangle(cx, cy, centre, cx + r0 * sinf(a0), cy - r0 * cosf(a0), rim,
                 cx + r1 * sinf(a1), cy - r1 * cosf(a1), rim);
    }
}

void Scene::square(float cx, float cy, float half, float angle, float hue) {
    float xs[4], ys[4];
    Rgba cs[4];
    for (int i = 0; i < 4; ++i) {
        float a = angle + kPi / 2 * i;
        xs[i] = cx + half * 1.4142f * cosf(a);
        ys[i] = cy + half * 1.4142f * sinf(a);
        cs[i] = hsv(hue + 0.25f * i, 0.9f, 1.0f);
    }
    triangle(xs[0], ys[0], cs[0], xs[1], ys[1], cs[1], xs[2], ys[2], cs[2]);
    triangle(xs[2], ys[2], cs[2], xs[3], ys[3], cs[3], xs[0], ys[0], cs[0]);
}

void Scene::digit(float x, float y, float size, int value, const Rgba& on, const Rgba& off) {
    // A cell of size wide and 2 * size high; segments t thick.
    const float w = size, h = 2 * size, t = size * 0.18f;
    const float seg[7][4] = {
        {t, 0, w - 2 * t, t},                 // a
        {w - t, t, t, h / 2 - 1.5f * t},      // b
        {w - t, h / 2 + t / 2, t, h / 2 - 1.5f * t},  // c
        {t, h - t, w - 2 * t, t},             // d
        {0, h / 2 + t / 2, t, h / 2 - 1.5f * t},      // e
        {0, t, t, h / 2 - 1.5f * t},          // f
        {t, h / 2 - t / 2, w - 2 * t, t},     // g
    };
    const uint8_t bits = kSegments[value % 10];
    for (int s = 0; s < 7; ++s) {
        rect(x + seg[s][0], y + seg[s][1], seg[s][2], seg[s][3], (bits >> s) & 1 ? on : off);
    }
}

void Scene::number(float x, float y, float size, int value, int digits, int pointAfter,
                   const Rgba& on, const Rgba& off) {
    int divisor = 1;
    for (int i = 1; i < digits; ++i) divisor *= 10;
    for (int i = 0; i < digits; ++i) {
        digit(x, y, size, (value / divisor) % 10, on, off);
        x += size * 1.35f;
        if (i + 1 == pointAfter) {
            rect(x - size * 0.1f, y + 2 * size - size * 0.22f, size * 0.22f, size * 0.22f, on);
            x += size * 0.35f;
        }
        divisor /= 10;
    }
}

void Scene::draw(int frame, float seconds, float progress) {
    if (mProgram == 0) return;
    const float W = (float)mWidth, H = (float)mHeight, t = seconds;
    mVertices.clear();

    // Background: a vertical gradient whose hues drift.
    gradientRect(0, 0, W, H, hsv(0.62f + 0.05f * sinf(t * 0.7f), 0.7f, 0.35f),
                 hsv(0.80f + 0.08f * t, 0.6f, 0.18f));

    // A light bar sweeping across, left to right and back.
    float sweep = (0.5f + 0.5f * sinf(t * 1.3f)) * (W - W / 16);
    gradientRect(sweep, 0, W / 16, H, {1, 1, 1, 0.10f}, {1, 1, 1, 0.02f});

    // Equaliser bars in the lower third, in time with the soundtrack's beat.
    const int bars = 16;
    float beat = t * 2.0f;  // 120 beats a minute
    float pulse = expf(-4.0f * (beat - floorf(beat)));
    for (int i = 0; i < bars; ++i) {
        float level = 0.25f + 0.45f * (0.5f + 0.5f * sinf(t * (2.1f + 0.37f * i) + i)) +
                      0.3f * pulse * (0.5f + 0.5f * cosf(i * 0.9f + floorf(beat)));
        float bw = W / bars * 0.7f, bh = H * 0.3f * level;
        float bx = W / bars * (i + 0.15f), by = H * 0.9f - bh;
        gradientRect(bx, by, bw, bh, hsv((float)i / bars + 0.1f * t, 0.85f, 1.0f),
                     hsv((float)i / bars + 0.1f * t, 0.9f, 0.35f));
    }

    // Shapes: a spinning colour wheel travelling on a figure of eight, a star
    // turning the other way, a square spinning faster.
    float wx = W * 0.5f + W * 0.30f * sinf(t * 0.6f), wy = H * 0.42f + H * 0.16f * sinf(t * 1.2f);
    disc(wx, wy, H * 0.16f, t * 1.5f, 48);
    star(W * 0.20f, H * 0.40f, H * 0.14f, H * 0.06f, -t * 1.1f, hsv(0.08f + 0.03f * t, 1, 1));
    square(W * 0.82f, H * 0.40f, H * 0.08f, t * 2.4f, 0.05f * t);

    // Clock (seconds with tenths) top left, frame counter top right.
    const Rgba on = {1.0f, 0.95f, 0.4f, 1}, off = {1, 1, 1, 0.07f};
    const float size = H * 0.045f;
    int tenths = (int)floorf(t * 10.0f + 0.001f);
    number(W * 0.03f, H * 0.05f, size, tenths, 3, 2, on, off);
    number(W * 0.97f - 4 * size * 1.35f, H * 0.05f, size, frame, 4, 0, {0.5f, 1, 0.9f, 1}, off);

    // Progress bar along the bottom.
    const float px = W * 0.03f, py = H * 0.94f, pw = W * 0.94f, ph = H * 0.025f;
    rect(px, py, pw, ph, {1, 1, 1, 0.15f});
    float fill = progress < 0 ? 0 : progress > 1 ? 1 : progress;
    gradientRect(px, py, pw * fill, ph, {0.4f, 1.0f, 0.5f, 1}, {0.1f, 0.6f, 0.2f, 1});

    flush();
}

void Scene::flush() {
    glViewport(0, 0, mWidth, mHeight);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(mProgram);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    const GLsizei stride = 6 * sizeof(float);
    glEnableVertexAttribArray(kPositionLoc);
    glVertexAttribPointer(kPositionLoc, 2, GL_FLOAT, GL_FALSE, stride, mVertices.data());
    glEnableVertexAttribArray(kColorLoc);
    glVertexAttribPointer(kColorLoc, 4, GL_FLOAT, GL_FALSE, stride, mVertices.data() + 2);
    glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(mVertices.size() / 6));
    glDisableVertexAttribArray(kColorLoc);
    // The capture library's copy pass draws without blending.
    glDisable(GL_BLEND);
}

}  // namespace demo
}  // namespace qor
