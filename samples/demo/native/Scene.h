// The demo game's picture, drawn with OpenGL ES 2 into whatever framebuffer
// is bound: a colour-cycling background, shapes that spin and travel, a
// sweeping light bar, equaliser bars, a seven-segment clock and frame
// counter, and a progress bar along the bottom.
#ifndef QOR_DEMO_SCENE_H
#define QOR_DEMO_SCENE_H

#include <stdint.h>

#include <vector>

namespace qor {
namespace demo {

struct Rgba {
    float r, g, b, a;
};

class Scene {
public:
    ~Scene();

    // Builds the program; needs a current context. False when it fails.
    bool init(int width, int height);
    // Draws frame `frame` at `seconds` into the bound framebuffer; `progress`
    // (0..1) fills the progress bar.
    void draw(int frame, float seconds, float progress);
    void release();

private:
    // Geometry is gathered in pixels (origin top left) and drawn in one call.
    void vertex(float x, float y, const Rgba& c);
    void triangle(float x0, float y0, const Rgba& c0, float x1, float y1, const Rgba& c1,
                  float x2, float y2, const Rgba& c2);
    void rect(float x, float y, float w, float h, const Rgba& c);
    void gradientRect(float x, float y, float w, float h, const Rgba& top, const Rgba& bottom);
    void disc(float cx, float cy, float radius, float angle, int segments);
    void star(float cx, float cy, float outer, float inner, float angle, const Rgba& rim);
    void square(float cx, float cy, float half, float angle, float hue);
    void digit(float x, float y, float size, int value, const Rgba& on, const Rgba& off);
    void number(float x, float y, float size, int value, int digits, int pointAfter,
                const Rgba& on, const Rgba& off);
    void flush();

    int mWidth = 0;
    int mHeight = 0;
    uint32_t mProgram = 0;
    std::vector<float> mVertices;  // x, y (clip space), r, g, b, a
};

}  // namespace demo
}  // namespace qor

#endif  // QOR_DEMO_SCENE_H
