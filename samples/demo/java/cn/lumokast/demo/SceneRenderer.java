package cn.lumokast.demo;

/**
 * The demo game's own renderer (liblumokastdemo): a headless OpenGL ES
 * context with a framebuffer object that stands in for the window, and an
 * animated scene drawn with OpenGL ES 2 into whatever framebuffer is bound.
 * Every method must be called on the thread that called {@link #open}.
 */
final class SceneRenderer {
    static {
        System.loadLibrary("lumokastdemo");
    }

    private SceneRenderer() {}

    /** Makes the context current; returns the screen framebuffer, left bound. */
    static native int open(int width, int height);

    static native String glVersion();

    /** Draws frame {@code frame} at {@code seconds}; {@code progress} is 0..1. */
    static native void draw(int frame, float seconds, float progress);

    static native void close();
}
