package cn.lumokast.test;

import java.nio.ByteBuffer;

/** Test-only: a headless Mesa GL context on the calling thread, and the test picture. */
public final class GlHelper {
    static {
        System.loadLibrary("capture_testgl");
    }

    private GlHelper() {}

    /** Makes a GLES context of version 1, 2 or 3 current on this thread. */
    public static native boolean makeCurrent(int clientVersion);
    public static native String glVersion();
    /** An RGBA8 framebuffer standing in for the screen; left bound. */
    public static native int makeScreenFbo(int width, int height);
    public static native void bindFramebuffer(int fbo);
    public static native int framebufferBinding();
    /** Draws the test picture into the bound framebuffer. */
    public static native void drawPicture(int width, int height);
    /** Pixels of the bound framebuffer more than one 565 step from the picture. */
    public static native int screenMismatches(int width, int height, boolean transposed);
    /** Pixels of an RGB565 frame (bottom row first) more than one step from the picture. */
    public static native int frameMismatches(ByteBuffer frame, int width, int height);
}
