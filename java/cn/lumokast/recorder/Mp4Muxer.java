package cn.lumokast.recorder;

import java.nio.ByteBuffer;

/**
 * Managed face of the muxer front end (liblumokast): records RGB565 frames and
 * 16-bit PCM into an MP4 file.
 */
public final class Mp4Muxer {
    static {
        System.loadLibrary("lumokast");
    }

    private Mp4Muxer() {}

    /** Creates the facade once per process and binds the encoder library. */
    public static native int init(String packageName);

    /** 1 when this device can record, 0 otherwise. */
    public static native int isAvailable();

    /** Starts a recording into {@code path}; the outcome shows in {@link #getStatus()}. */
    public static native void start(String path);

    public static native int stop();

    /**
     * Pauses the recording (0), e.g. while the game shows its menu; pushes are
     * refused until {@link #resume(int)}. -1 when not recording or already paused.
     */
    public static native int pause(int ignored);

    /**
     * Goes on with a paused recording (0); the file leaves the pause out.
     * -1 when nothing is paused, or when the recording could not go on (it is
     * then stopped and its file keeps what was recorded).
     */
    public static native int resume(int ignored);

    /** 1 while recording, 0 otherwise. */
    public static native int getStatus();

    public static native int setVideoParameter(int width, int height, int frameRate, int bitRate,
            int iFrameInterval, int invert);

    public static native int setAudioParameter(int sampleRate, int channels, int bitRate);

    /** {@code frame} is a direct buffer holding one RGB565 frame, width x height x 2 bytes. */
    public static native int pushVideo(ByteBuffer frame, int length, int unused);

    /** 16-bit PCM, cut into blocks of at most 8192 bytes. */
    public static native void pushAudio(byte[] data, int offset, int length);

    /**
     * Makes a recording that a crash or a full disk cut short playable from the
     * journal kept next to it. Needs no {@link #init}. 0 when the file was
     * recovered or had nothing to recover (a complete file is left unchanged),
     * -1 when nothing playable can be made of it.
     */
    public static native int recover(String path);
}
