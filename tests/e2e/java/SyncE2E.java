import cn.lumokast.recorder.Mp4Muxer;

import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;

/**
 * Sound against picture, judged by ffmpeg: each case records a white frame
 * and a loud click pushed at the same instant, between black frames and
 * quiet noise, on a clock the test sets (libsyncclock), so a minute of
 * recording takes seconds and an audio clock can run fast or slow. In the
 * decoded file the click must sound within 20 ms of the flash, the sound must
 * last from the recording's start to its end, and silence the kit put in for
 * the game's silent time must decode as silence of that length.
 *
 * Usage: SyncE2E outPrefix case...  (continuous, gap1s, gap5s, late2s,
 * ends1s, stall, bursts, fast, slow)
 */
public final class SyncE2E {
    static {
        System.loadLibrary("syncclock");
    }

    static native void setClockUs(long timeUs);

    static native void releaseClock();

    static final int W = 320, H = 240, FPS = 30, RATE = 44100, CH = 2;
    static final int CLICK_SAMPLES = 441;  // 10 ms
    static final double MAX_OFFSET_S = 0.020;
    static final int AAC_FRAME = 1024;
    static final int SILENT = 33;  // -60 dBFS of 16-bit samples
    static int failures = 0;

    /** One recording: frames at 30 fps; sound pushed per frame (or per burst). */
    static final class Case {
        String name;
        int frames = 120, flash = 75;
        int gapFrom = -1, gapTo = -1;  // frames without sound
        int audioFrom = 0;             // first frame with sound
        int audioTo = -1;              // frame the sound ends at (-1: the end)
        int burst = 1;                 // frames of sound per push
        int stallAt = -1, stallFrames = 0;  // frames not drawn; their sound pushed late, 3 ms apart
        double clock = 1.0;            // the game's audio clock against the wall clock
        long baseUs;

        long timeUs(int frame) { return baseUs + (long) frame * 1_000_000L / FPS; }

        /** When the game pushes a frame: late while it catches up on a stall. */
        long pushUs(int frame) {
            int end = stallAt + stallFrames;
            return frame >= stallAt && frame < end ? timeUs(end) - (end - frame) * 3000L : timeUs(frame);
        }

        /** First sample the game produces for a frame, on its own clock. */
        long sampleAt(int frame) { return (long) Math.floor(frame * (double) RATE * clock / FPS); }

        int soundEnd() { return audioTo < 0 ? frames : audioTo; }

        boolean pushesAudio(int n) {
            return n >= audioFrom && n < soundEnd() && !(n >= gapFrom && n < gapTo)
                    && (n - audioFrom) % burst == 0;
        }
    }

    static Case caseNamed(String name, int index) {
        Case c = new Case();
        c.name = name;
        c.baseUs = 1_700_000_000_000_000L + index * 10_000_000_000L;
        switch (name) {
            case "continuous":
                break;
            case "gap1s":  // frames 15 to 45 without sound
                c.gapFrom = 15;
                c.gapTo = 45;
                break;
            case "gap5s":
                c.frames = 240;
                c.flash = 200;
                c.gapFrom = 15;
                c.gapTo = 165;
                break;
            case "late2s":
                c.audioFrom = 60;
                c.flash = 90;
                break;
            case "ends1s":  // the sound ends a second before the picture
                c.audioTo = 90;
                break;
            case "stall":  // the game's thread held up for 300 ms, then catching up
                c.stallAt = 30;
                c.stallFrames = 9;
                break;
            case "bursts":  // 23520 bytes a push: three blocks stamped at once
                c.burst = 4;
                c.flash = 76;
                break;
            case "fast":
            case "slow":
                c.frames = 60 * FPS + 30;
                c.flash = 60 * FPS;
                c.clock = name.equals("fast") ? 1.005 : 0.995;
                break;
            default:
                throw new IllegalArgumentException("unknown case " + name);
        }
        return c;
    }

    public static void main(String[] args) throws Exception {
        Files.deleteIfExists(java.nio.file.Path.of(System.getenv("LUMOKAST_LOG_FILE")));
        check(Mp4Muxer.init(null) == 0, "init");
        check(Mp4Muxer.isAvailable() == 1, "isAvailable");
        for (int i = 1; i < args.length; i++) {
            Case c = caseNamed(args[i], i);
            String path = args[0] + "_" + c.name + ".mp4";
            long start = System.nanoTime();
            record(path, c);
            verify(path, c);
            System.out.printf("%s: %.1f s%n", c.name, (System.nanoTime() - start) / 1e9);
        }
        releaseClock();
        if (failures > 0) {
            System.err.println(failures + " check(s) failed");
            System.exit(1);
        }
        System.out.println("passed");
    }

    static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
        }
    }

    /** Quiet noise (-20 dBFS), the same for a sample index in every run. */
    static short noise(long i) {
        long x = i * 0x9E3779B97F4A7C15L;
        x ^= x >>> 29;
        x *= 0xBF58476D1CE4E5B9L;
        x ^= x >>> 32;
        return (short) (((int) (x & 0xFFFF) - 32768) / 10);
    }

    static byte[] pcm(Case c, long from, long to, long clickAt) {
        byte[] b = new byte[(int) (to - from) * CH * 2];
        for (long s = from; s < to; s++) {
            short v = noise(s);
            if (s >= clickAt && s < clickAt + CLICK_SAMPLES) v = (short) (((s - clickAt) / 22) % 2 == 0 ? 30000 : -30000);
            for (int ch = 0; ch < CH; ch++) {
                int at = (int) ((s - from) * CH + ch) * 2;
                b[at] = (byte) v;
                b[at + 1] = (byte) (v >> 8);
            }
        }
        return b;
    }

    static void record(String path, Case c) throws Exception {
        new File(path).delete();
        check(Mp4Muxer.setVideoParameter(W, H, FPS, 1000000, 1, 0) == 0, c.name + ": video parameters");
        check(Mp4Muxer.setAudioParameter(RATE, CH, 96000) == 0, c.name + ": audio parameters");
        setClockUs(c.baseUs - 1000);
        Mp4Muxer.start(path);
        check(Mp4Muxer.getStatus() == 1, c.name + ": recording started");
        ByteBuffer black = ByteBuffer.allocateDirect(W * H * 2).order(ByteOrder.LITTLE_ENDIAN);
        ByteBuffer white = ByteBuffer.allocateDirect(W * H * 2).order(ByteOrder.LITTLE_ENDIAN);
        for (int i = 0; i < W * H; i++) white.putShort(i * 2, (short) 0xFFFF);
        long clickAt = c.sampleAt(c.flash);
        for (int n = 0; n < c.frames; n++) {
            setClockUs(c.pushUs(n));
            if (n < c.stallAt || n >= c.stallAt + c.stallFrames) {  // no frames drawn while stalled
                int r = Mp4Muxer.pushVideo(n == c.flash ? white : black, W * H * 2, 0);
                // The pushes are not paced: on a busy machine the encoder may
                // not have taken the previous frame within the push's wait.
                // The flash must be in the file: it is pushed again, at the
                // same (simulated) time.
                for (int retry = 0; r == -1 && n == c.flash && retry < 10; retry++) {
                    Thread.sleep(20);
                    r = Mp4Muxer.pushVideo(white, W * H * 2, 0);
                }
                if (n > 0) check(r == 0 || (r == -1 && n != c.flash), c.name + ": pushVideo " + n + " returned " + r);
            }
            if (c.pushesAudio(n)) {
                int end = Math.min(n + c.burst, c.soundEnd());
                byte[] b = pcm(c, c.sampleAt(n), c.sampleAt(end), clickAt);
                Mp4Muxer.pushAudio(b, 0, b.length);
            }
        }
        setClockUs(c.timeUs(c.frames));
        check(Mp4Muxer.stop() == 0, c.name + ": stop");
    }

    /** Runs ffmpeg; its stdout, with anything it says on stderr a failure. */
    static byte[] ffmpeg(String what, String... args) throws Exception {
        File said = File.createTempFile("sync", ".txt");
        String[] cmd = new String[args.length + 3];
        cmd[0] = "ffmpeg";
        cmd[1] = "-v";
        cmd[2] = "warning";
        System.arraycopy(args, 0, cmd, 3, args.length);
        Process p = new ProcessBuilder(cmd).redirectError(said).start();
        byte[] out = p.getInputStream().readAllBytes();
        p.waitFor();
        String text = new String(Files.readAllBytes(said.toPath()), StandardCharsets.UTF_8).trim();
        said.delete();
        check(p.exitValue() == 0 && text.isEmpty(), what + " decodes without a message: " + text);
        return out;
    }

    /** Decoded time of the first white frame, or -1. */
    static double flashTime(String path, Case c) throws Exception {
        String text = new String(ffmpeg(c.name + " video", "-copyts", "-i", path, "-map", "0:v:0", "-vf",
                "signalstats,metadata=mode=print:key=lavfi.signalstats.YAVG:file=-", "-f", "null", "-"),
                StandardCharsets.UTF_8);
        double pts = -1;
        for (String line : text.split("\n")) {
            int at = line.indexOf("pts_time:");
            if (at >= 0) pts = Double.parseDouble(line.substring(at + 9).trim().split("\\s+")[0]);
            if (line.startsWith("lavfi.signalstats.YAVG=")
                    && Double.parseDouble(line.substring(line.indexOf('=') + 1)) > 128) {
                return pts;
            }
        }
        return -1;
    }

    /** The left channel of the decoded sound. */
    static short[] decodedSound(String path, Case c) throws Exception {
        byte[] b = ffmpeg(c.name + " audio", "-i", path, "-map", "0:a:0", "-f", "s16le", "-acodec", "pcm_s16le", "-");
        ByteBuffer bb = ByteBuffer.wrap(b).order(ByteOrder.LITTLE_ENDIAN);
        short[] left = new short[b.length / (2 * CH)];
        for (int i = 0; i < left.length; i++) left[i] = bb.getShort(i * 2 * CH);
        return left;
    }

    static int firstLoud(short[] s) {
        for (int i = 0; i < s.length; i++) {
            if (Math.abs(s[i]) > 16000) return i;
        }
        return -1;
    }

    /** Start and length of the longest run of silent samples. */
    static int[] longestSilence(short[] s) {
        int bestAt = 0, best = 0, run = 0;
        for (int i = 0; i < s.length; i++) {
            run = Math.abs(s[i]) < SILENT ? run + 1 : 0;
            if (run > best) {
                best = run;
                bestAt = i - run + 1;
            }
        }
        return new int[] {bestAt, best};
    }

    /** The shift (in samples) that best lines the decoded noise up with the pushed. */
    static int lag(short[] s, long pushedAt, int decodedAt) {
        int bestLag = Integer.MIN_VALUE;
        double best = -1;
        for (int lag = -64; lag <= 64; lag++) {
            double sum = 0;
            for (int i = 0; i < 2048; i++) {
                int at = decodedAt + lag + i;
                if (at >= 0 && at < s.length) sum += (double) s[at] * noise(pushedAt + i);
            }
            if (sum > best) {
                best = sum;
                bestLag = lag;
            }
        }
        return bestLag;
    }

    static void verify(String path, Case c) throws Exception {
        double flash = flashTime(path, c);
        short[] sound = decodedSound(path, c);
        int click = firstLoud(sound);
        check(flash >= 0, c.name + ": the white frame is in the file");
        check(click >= 0, c.name + ": the click is in the file");
        double offset = click / (double) RATE - flash;
        System.out.printf("%s: flash %.4f s, click %.4f s, offset %+.1f ms, sound %.4f s%n", c.name, flash,
                click / (double) RATE, offset * 1000, sound.length / (double) RATE);
        check(Math.abs(offset) <= MAX_OFFSET_S, c.name + ": click " + offset * 1000 + " ms from the flash");

        // The file starts at the first push (the front end drops the first
        // frame), and the sound runs from there to the end.
        long originUs = c.audioFrom == 0 ? c.timeUs(0) : c.timeUs(1);
        long expected = (c.timeUs(c.soundEnd()) - originUs) * RATE / 1_000_000L;
        long slack = AAC_FRAME + (c.clock != 1.0 ? (long) (MAX_OFFSET_S * RATE) : 0);
        check(Math.abs(sound.length - expected) <= slack,
              c.name + ": " + sound.length + " samples of sound for " + expected);

        if (c.gapFrom >= 0 || c.audioFrom > 0) {
            long gapUs = c.gapFrom >= 0 ? c.timeUs(c.gapTo) - c.timeUs(c.gapFrom) : c.timeUs(c.audioFrom) - originUs;
            long gap = gapUs * RATE / 1_000_000L;
            int[] silence = longestSilence(sound);
            check(Math.abs(silence[1] - gap) <= AAC_FRAME,
                  c.name + ": " + silence[1] + " silent samples for a gap of " + gap);
            int peak = 0;
            for (int i = silence[0]; i < silence[0] + silence[1]; i++) peak = Math.max(peak, Math.abs(sound[i]));
            check(peak < SILENT, c.name + ": silence peaks at " + peak);
        }
        if (c.name.equals("continuous") || c.name.equals("stall")) {
            // Every sample kept: the noise before the click sits where it was pushed.
            long at = c.sampleAt(c.flash - 10);
            check(lag(sound, at, (int) at) == 0, c.name + ": samples moved by " + lag(sound, at, (int) at));
            check(Math.abs(sound.length - c.sampleAt(c.frames)) < AAC_FRAME,
                  c.name + ": " + sound.length + " samples decoded for " + c.sampleAt(c.frames) + " pushed");
        }
    }
}
