package cn.lumokast.recorder;

import java.nio.Buffer;

/**
 * Native side of the GL capture: liblumokastcore registers these methods when
 * it is loaded. Every method must be called on the thread that has the game's
 * GL context current.
 */
// Test fixture: lacks drawTexture.
public final class LumoKastNative {
    static {
        System.loadLibrary("lumokastcore");
    }

    private LumoKastNative() {}

    public static native void initCapturer(int width, int height, int texture, boolean writeLock);
    public static native void reBindGraphicBuffer();
    public static native void captureFrame(int width, int height, int texture, boolean writeLock, Buffer buffer);
    public static native void captureFrameByfbo(int fbo, boolean writeLock, Buffer buffer);
    public static native void stopCapturer();
    public static native void readPixels(int width, int height, int fbo);
    public static native int prepareFbo(int width, int height, float ratioA, float ratioB);
    public static native void bineFbo(int fbo);
    public static native void unbineFbo(int fbo, int target);
    public static native void deleteFbo(int fbo);
    public static native void deleteAllFbo();
    public static native int getTextureByFbo(int fbo);
    public static native void setScreenFbo(int fbo);
    public static native void setScreenRbo(int rbo);
    public static native int prepareFboOES(int width, int height, float ratioA, float ratioB);
    public static native void bineFboOES(int fbo);
    public static native void unbineFboOES(int fbo, int target);
    public static native void deleteFboOES(int fbo);
    public static native void deleteAllFboOES();
    public static native int getTextureByFboOES(int fbo);
    public static native void setScreenFboOES(int fbo);
    public static native void setScreenRboOES(int rbo);
    public static native void captureFrameByfboOES(int fbo, boolean writeLock, Buffer buffer);
}
