package cn.lumokast.test;

import cn.lumokast.recorder.LumoKastNative;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;

/**
 * Runs one capture path from the JVM on a headless Mesa context:
 * "graphicbuffer" (GLES 2), "pixelpack" (GLES 3) or "oes" (GLES 1.1).
 * Exits with 0 and prints PASS when every check holds.
 */
public final class CaptureJvmTest {
    private static int failures = 0;

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.out.println("FAIL: " + what);
        }
    }

    private static ByteBuffer filled(ByteBuffer b) {
        for (int i = 0; i < b.capacity(); i++) b.put(i, (byte) 0x5A);
        return b.order(ByteOrder.nativeOrder());
    }

    private static boolean untouched(ByteBuffer b) {
        for (int i = 0; i < b.capacity(); i++) if (b.get(i) != (byte) 0x5A) return false;
        return true;
    }

    private static void graphicBuffer() {
        final int w = 64, h = 48;
        check(GlHelper.makeCurrent(2), "GLES 2 context");
        check(GlHelper.glVersion().startsWith("OpenGL ES 2.0"), "version " + GlHelper.glVersion());
        int screen = GlHelper.makeScreenFbo(w, h);
        int fbo = LumoKastNative.prepareFbo(w, h, 1f, 1f);
        check(fbo > 0, "prepareFbo");
        check(LumoKastNative.getTextureByFbo(fbo) > 0, "getTextureByFbo");
        check(LumoKastNative.getTextureByFbo(fbo + 50) == -1, "unregistered name");
        ByteBuffer frame = filled(ByteBuffer.allocateDirect(w * h * 2));
        LumoKastNative.captureFrameByfbo(fbo, false, frame);  // attaches the GraphicBuffer

        LumoKastNative.bineFbo(fbo);
        GlHelper.drawPicture(w, h);
        LumoKastNative.unbineFbo(fbo, screen);
        check(GlHelper.framebufferBinding() == screen, "screen bound after unbineFbo");
        check(GlHelper.screenMismatches(w, h, false) == 0, "picture on the screen");

        LumoKastNative.captureFrameByfbo(fbo, false, frame);
        check(GlHelper.frameMismatches(frame, w, h) == 0, "captured frame");

        ByteBuffer heap = filled(ByteBuffer.allocate(w * h * 2));
        LumoKastNative.captureFrameByfbo(fbo, false, heap);
        check(untouched(heap), "a heap buffer gets nothing");
        ByteBuffer small = filled(ByteBuffer.allocateDirect(w * h * 2 - 1));
        LumoKastNative.captureFrameByfbo(fbo, false, small);
        check(untouched(small), "a small direct buffer gets nothing");
        wideBuffers(fbo, w, h);

        // The rest of the table: another screen, drawTexture, and the
        // texture-based capture.
        int other = GlHelper.makeScreenFbo(w, h);
        LumoKastNative.setScreenFbo(other);
        LumoKastNative.setScreenRbo(0);
        LumoKastNative.unbineFbo(fbo, other);
        check(GlHelper.framebufferBinding() == other && GlHelper.screenMismatches(w, h, false) == 0,
                "setScreenFbo makes unbineFbo draw there");
        int copy = LumoKastNative.prepareFbo(w, h, 1f, 1f);
        LumoKastNative.drawTexture(copy, LumoKastNative.getTextureByFbo(fbo));
        check(GlHelper.framebufferBinding() == other, "drawTexture rebinds the screen");
        LumoKastNative.bineFbo(copy);
        check(GlHelper.screenMismatches(w, h, false) == 0, "drawTexture copies the texture");

        LumoKastNative.stopCapturer();
        int texture = LumoKastNative.getTextureByFbo(copy);
        LumoKastNative.initCapturer(w, h, texture, false);
        LumoKastNative.reBindGraphicBuffer();
        LumoKastNative.bineFbo(copy);
        GlHelper.drawPicture(w, h);
        ByteBuffer byTexture = filled(ByteBuffer.allocateDirect(w * h * 2));
        LumoKastNative.captureFrame(w, h, texture, false, byTexture);
        check(GlHelper.frameMismatches(byTexture, w, h) == 0, "captureFrame after initCapturer");

        LumoKastNative.stopCapturer();
        LumoKastNative.deleteAllFbo();
        check(LumoKastNative.getTextureByFbo(fbo) == -1, "deleteAllFbo");
    }

    /** Capacities of wider buffers count elements: w * h shorts hold a frame. */
    private static void wideBuffers(int fbo, int w, int h) {
        ByteBuffer shorts = filled(ByteBuffer.allocateDirect(w * h * 2));
        LumoKastNative.captureFrameByfbo(fbo, false, shorts.asShortBuffer());
        check(GlHelper.frameMismatches(shorts, w, h) == 0, "a ShortBuffer of w * h is filled");
        ByteBuffer ints = filled(ByteBuffer.allocateDirect(w * h * 2));
        LumoKastNative.captureFrameByfbo(fbo, false, ints.asIntBuffer());
        check(GlHelper.frameMismatches(ints, w, h) == 0, "an IntBuffer of w * h / 2 is filled");
        ByteBuffer fewer = filled(ByteBuffer.allocateDirect(w * h * 2));
        fewer.limit(w * h * 2 - 2);
        java.nio.ShortBuffer oneShort = fewer.slice().asShortBuffer();
        fewer.clear();
        LumoKastNative.captureFrameByfbo(fbo, false, oneShort);
        check(untouched(fewer), "a ShortBuffer of w * h - 1 gets nothing");
    }

    private static void pixelPack() {
        final int w = 64, h = 48;
        check(GlHelper.makeCurrent(3), "GLES 3 context");
        check(GlHelper.glVersion().startsWith("OpenGL ES 3."), "version " + GlHelper.glVersion());
        int screen = GlHelper.makeScreenFbo(w, h);
        int fbo = LumoKastNative.prepareFbo(w, h, 1f, 1f);
        LumoKastNative.bineFbo(fbo);
        GlHelper.drawPicture(w, h);
        LumoKastNative.unbineFbo(fbo, screen);
        LumoKastNative.readPixels(w, h, fbo);
        check(GlHelper.framebufferBinding() == screen, "binding kept by readPixels");
        ByteBuffer frame = filled(ByteBuffer.allocateDirect(w * h * 2));
        LumoKastNative.captureFrameByfbo(fbo, false, frame);
        check(GlHelper.frameMismatches(frame, w, h) == 0, "frame from the pixel-pack buffer");
        ByteBuffer small = filled(ByteBuffer.allocateDirect(w * h));
        LumoKastNative.captureFrameByfbo(fbo, false, small);
        check(untouched(small), "a small direct buffer gets nothing");
        LumoKastNative.deleteFbo(fbo);
    }

    private static void oes() {
        final int size = 64;
        check(GlHelper.makeCurrent(1), "GLES 1 context");
        check(GlHelper.glVersion().startsWith("OpenGL ES-CM 1.1"), "version " + GlHelper.glVersion());
        int screen = GlHelper.makeScreenFbo(size, size);
        int fbo = LumoKastNative.prepareFboOES(size, size, 1f, 1f);
        check(fbo > 0, "prepareFboOES");
        check(LumoKastNative.getTextureByFbo(fbo) == -1, "the GLES 2 records are separate");
        ByteBuffer frame = filled(ByteBuffer.allocateDirect(size * size * 2));
        LumoKastNative.captureFrameByfboOES(fbo, true, frame);
        LumoKastNative.bineFboOES(fbo);
        GlHelper.drawPicture(size, size);
        LumoKastNative.unbineFboOES(fbo, screen);
        check(GlHelper.screenMismatches(size, size, true) == 0, "picture mirrored on the screen");
        LumoKastNative.captureFrameByfboOES(fbo, true, frame);
        check(GlHelper.frameMismatches(frame, size, size) == 0, "captured frame");
        check(LumoKastNative.getTextureByFboOES(fbo) > 0, "getTextureByFboOES");
        int other = GlHelper.makeScreenFbo(size, size);
        LumoKastNative.setScreenFboOES(other);
        LumoKastNative.setScreenRboOES(0);
        LumoKastNative.unbineFboOES(fbo, other);
        check(GlHelper.framebufferBinding() == other && GlHelper.screenMismatches(size, size, true) == 0,
                "setScreenFboOES makes unbineFboOES draw there");
        LumoKastNative.stopCapturer();
        LumoKastNative.deleteFboOES(fbo);
        check(LumoKastNative.getTextureByFboOES(fbo) == -1, "deleteFboOES");
        LumoKastNative.deleteAllFboOES();
    }

    public static void main(String[] args) {
        switch (args.length > 0 ? args[0] : "") {
            case "graphicbuffer": graphicBuffer(); break;
            case "pixelpack": pixelPack(); break;
            case "oes": oes(); break;
            default:
                System.out.println("usage: CaptureJvmTest graphicbuffer|pixelpack|oes");
                System.exit(2);
        }
        System.out.println(failures == 0 ? "PASS" : failures + " checks failed");
        System.exit(failures == 0 ? 0 : 1);
    }
}
