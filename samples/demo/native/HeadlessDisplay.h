// The demo game's "display": a headless OpenGL ES context made current on the
// calling thread (Mesa, EGL_PLATFORM=surfaceless) and a framebuffer object of
// the screen's size that plays the part of the window's framebuffer.
#ifndef QOR_DEMO_HEADLESS_DISPLAY_H
#define QOR_DEMO_HEADLESS_DISPLAY_H

#include <stdint.h>

#include <string>

#include <EGL/egl.h>

namespace qor {
namespace demo {

class HeadlessDisplay {
public:
    ~HeadlessDisplay() { close(); }

    // Makes a GLES 3 context current (GLES 2 where 3 is not offered) and
    // creates the screen framebuffer, which is left bound. False on failure,
    // with the reason in error().
    bool open(int width, int height);
    void close();

    uint32_t screenFbo() const { return mScreenFbo; }
    std::string glVersion() const;
    const std::string& error() const { return mError; }

private:
    bool fail(const std::string& what);

    EGLDisplay mDisplay = EGL_NO_DISPLAY;
    EGLContext mContext = EGL_NO_CONTEXT;
    uint32_t mScreenFbo = 0;
    uint32_t mScreenRbo = 0;
    std::string mError;
};

}  // namespace demo
}  // namespace qor

#endif  // QOR_DEMO_HEADLESS_DISPLAY_H
