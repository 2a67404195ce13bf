package cn.lumokast.demo;

import cn.lumokast.recorder.LumoKastNative;
import cn.lumokast.recorder.Mp4Muxer;

import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Locale;

/**
 * A tiny "game" that records itself the way a game's Java layer uses the kit:
 * it redirects its drawing into a capture FBO (prepareFbo, bineFbo,
 * unbineFbo), reads every frame back into a direct buffer (readPixels and
 * captureFrameByfbo), hands it to Mp4Muxer.pushVideo and feeds its
 * soundtrack to Mp4Muxer.pushAudio from an audio thread, in real time.
 * Half-way through, its pause menu opens for a while (Mp4Muxer.pause): the
 * game stands still, the frames drawn meanwhile are refused, and the file
 * leaves that time out (Mp4Muxer.resume when play goes on).
 *
 * Usage: DemoGame [--seconds S] [--pause P] [--fps F] [--size WxH] [out.mp4]
 * (S: the time recorded; P: seconds the menu stays open, 0 for none)
 */
public final class DemoGame {
    private static final int SAMPLE_RATE = 44100;
    private static final int CHANNELS = 2;
    private static final int AUDIO_BIT_RATE = 128000;
    private static final int I_FRAME_INTERVAL = 1; // seconds between sync frames

    private String out = "out/demo.mp4";
    private double seconds = 10;
    private double pauseSeconds = 1;
    private int fps = 30;
    private int width = 1280;
    private int height = 720;

    public static void main(String[] args) throws Exception {
        DemoGame game = new DemoGame();
        try {
            game.parse(args);
        } catch (IllegalArgumentException e) {
            System.err.println("demo: " + e.getMessage());
            System.err.println("usage: DemoGame [--seconds S] [--pause P] [--fps F] [--size WxH] [out.mp4]");
            System.exit(2);
        }
        try {
            System.exit(game.run());
        } catch (IllegalStateException e) {
            System.err.println("demo: " + e.getMessage());
            System.exit(1);
        }
    }

    private void parse(String[] args) {
        for (int i = 0; i < args.length; i++) {
            String a = args[i];
            if (a.equals("--seconds") || a.equals("--pause") || a.equals("--fps") || a.equals("--size")) {
                if (i + 1 >= args.length) throw new IllegalArgumentException(a + " needs a value");
                String v = args[++i];
                try {
                    if (a.equals("--seconds")) {
                        seconds = Double.parseDouble(v);
                    } else if (a.equals("--pause")) {
                        pauseSeconds = Double.parseDouble(v);
                    } else if (a.equals("--fps")) {
                        fps = Integer.parseInt(v);
                    } else {
                        String[] wh = v.toLowerCase(Locale.ROOT).split("x");
                        width = Integer.parseInt(wh[0]);
                        height = Integer.parseInt(wh[1]);
                    }
                } catch (RuntimeException e) {
                    throw new IllegalArgumentException("bad value for " + a + ": " + v);
                }
            } else if (a.startsWith("--")) {
                throw new IllegalArgumentException("unknown option " + a);
            } else {
                out = a;
            }
        }
        if (!(seconds > 0) || seconds > 3600) throw new IllegalArgumentException("seconds must be in (0, 3600]");
        if (!(pauseSeconds >= 0) || pauseSeconds > 3600) throw new IllegalArgumentException("pause must be in [0, 3600]");
        if (fps <= 0 || fps > 120) throw new IllegalArgumentException("fps must be in 1..120");
        // Slot 0 is dropped by the muxer: at least one more frame is needed.
        if (Math.round(seconds * fps) < 1) throw new IllegalArgumentException("too short for one frame");
        if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0) {
            throw new IllegalArgumentException("the size must be even and positive");
        }
    }

    private int run() throws Exception {
        File file = new File(out).getAbsoluteFile();
        if (file.getParentFile() != null) file.getParentFile().mkdirs();
        file.delete();

        // 1. The muxer: once per process; null = the encoder library is found
        //    next to liblumokast instead of in an application's data folder.
        Mp4Muxer.init(null);
        if (Mp4Muxer.isAvailable() != 1) {
            System.err.println("demo: this device cannot record (Mp4Muxer.isAvailable() == 0)");
            return 1;
        }

        // 2. The game's GL context and its screen; the capture FBO is made
        //    while the screen is bound, so the kit knows where to draw back.
        int screen = SceneRenderer.open(width, height);
        String version = SceneRenderer.glVersion();
        boolean es3 = version.contains("OpenGL ES 3.");
        int fbo = LumoKastNative.prepareFbo(width, height, 1f, 1f);
        if (fbo < 0) {
            System.err.println("demo: prepareFbo refused " + width + "x" + height);
            SceneRenderer.close();
            return 1;
        }
        ByteBuffer frame = ByteBuffer.allocateDirect(width * height * 2).order(ByteOrder.nativeOrder());
        // Priming read-back: on GLES 3 this sets up the pixel-pack buffer, on
        // GLES 2 it attaches the GraphicBuffer to the FBO's texture (which
        // must happen before the game draws into it).
        LumoKastNative.readPixels(width, height, fbo);
        LumoKastNative.captureFrameByfbo(fbo, false, frame);
        System.out.printf("demo: %s, capture through the %s%n", version,
                es3 ? "GLES 3 pixel-pack buffer" : "GraphicBuffer (EGL image)");

        // 3. Parameters and start. Both read-back paths deliver rows bottom
        //    first (GL's order), so the muxer flips them: invert = 1.
        int bitRate = (int) Math.max(500000L, (long) width * height * fps / 8); // ~3.5 Mbit/s at 720p30
        expect(Mp4Muxer.setVideoParameter(width, height, fps, bitRate, I_FRAME_INTERVAL, 1), "setVideoParameter");
        expect(Mp4Muxer.setAudioParameter(SAMPLE_RATE, CHANNELS, AUDIO_BIT_RATE), "setAudioParameter");
        Mp4Muxer.start(file.getPath());
        if (Mp4Muxer.getStatus() != 1) {
            System.err.println("demo: the recording did not start (see the qor_icodec log lines)");
            LumoKastNative.deleteFbo(fbo);
            LumoKastNative.stopCapturer();
            SceneRenderer.close();
            return 1;
        }
        System.out.printf("demo: recording %dx%d at %d fps for %.1f s into %s%n", width, height, fps,
                seconds, file.getPath());

        // 4. The game loop (this thread holds the GL context) and the audio
        //    thread, both paced by the game's clock: the wall clock, stopped
        //    while the pause menu is open.
        GameClock clock = new GameClock();
        long totalSamples = Math.round(seconds * SAMPLE_RATE);
        AudioThread audio = new AudioThread(new Soundtrack(SAMPLE_RATE, CHANNELS, totalSamples),
                totalSamples, fps, clock);
        audio.start();
        Stats stats = loop(fbo, screen, frame, clock);
        audio.join();
        double elapsed = (System.nanoTime() - clock.t0) / 1e9;

        // 5. Stop: the file is complete when stop returns.
        int stopped = Mp4Muxer.stop();
        LumoKastNative.deleteFbo(fbo);
        LumoKastNative.stopCapturer();
        SceneRenderer.close();

        System.out.printf("demo: %d frames drawn and pushed, %d accepted for the file (the muxer drops the "
                + "first frame of a recording), %d refused while paused, %d refused otherwise, %d frame slots "
                + "skipped to keep up; %.2f s of sound%n", stats.drawn, stats.accepted, stats.refusedPaused,
                stats.refused, stats.skipped, (double) audio.pushed / SAMPLE_RATE);
        System.out.printf("demo: %.1f s, %.1f fps on average%n", elapsed, stats.drawn / elapsed);
        if (stopped != 0 || !file.isFile() || file.length() == 0) {
            System.err.println("demo: the recording failed (stop returned " + stopped + ")");
            return 1;
        }
        System.out.println("demo: wrote " + file.getPath() + " (" + file.length() + " bytes)");
        return 0;
    }

    private static final class Stats {
        int drawn, accepted, refused, refusedPaused, skipped;
        long t0, nextReport;
    }

    /** The game's time: the wall clock less the time its pause menu was open. */
    private static final class GameClock {
        final long t0 = System.nanoTime();
        private long pausedAt = -1, pausedNanos;

        synchronized long nanos() {
            return (pausedAt >= 0 ? pausedAt : System.nanoTime()) - t0 - pausedNanos;
        }

        synchronized void stop() {
            pausedAt = System.nanoTime();
        }

        synchronized void go() {
            pausedNanos += System.nanoTime() - pausedAt;
            pausedAt = -1;
        }

        /**
         * Runs {@code push} if the game's time has reached {@code nanos}; the
         * menu opens and closes under the same lock, so that sound due before
         * the pause is never pushed after it (it would be dropped).
         */
        synchronized boolean pushIfDue(long nanos, Runnable push) {
            if (nanos() < nanos) return false;
            push.run();
            return true;
        }

        /** Sleeps until the game's time reaches {@code nanos} (it may stand still meanwhile). */
        void sleepUntil(long nanos) throws InterruptedException {
            for (long left; (left = nanos - nanos()) > 0; ) {
                long step = Math.min(left, 10_000_000L);
                Thread.sleep(step / 1_000_000, (int) (step % 1_000_000));
            }
        }
    }

    private Stats loop(int fbo, int screen, ByteBuffer frame, GameClock clock) throws InterruptedException {
        Stats stats = new Stats();
        stats.t0 = clock.t0;
        stats.nextReport = clock.t0 + 1_000_000_000L;
        // Frame slots 0..last; slot 0 is the one that the muxer drops.
        final long last = Math.round(seconds * fps);
        // The menu opens half-way, after a few frames are in the file.
        final long menuAt = pauseSeconds > 0 && last / 2 >= 2 ? last / 2 : -1;
        for (long slot = 0; slot <= last; ) {
            if (slot == menuAt) pauseMenu(fbo, screen, frame, clock, slot, stats);
            int r = drawAndPush(fbo, screen, frame, slot, stats);
            if (r == 0) {
                if (stats.drawn > 1) stats.accepted++;
            } else {
                stats.refused++;
            }
            // Next slot on the game's clock; a slow machine skips slots, as a
            // game drops frames, so that picture and sound stay in step (a
            // hiccup of a frame or two is caught up instead).
            long next = slot + 1;
            long current = clock.nanos() * fps / 1_000_000_000L;
            if (current > next + 2 && next <= last) {
                long target = Math.min(current, last);
                stats.skipped += (int) (target - next);
                next = target;
            }
            slot = next;
            if (slot > last) break;
            clock.sleepUntil(slot * 1_000_000_000L / fps);
        }
        return stats;
    }

    /**
     * The pause menu: the recording pauses and the game stands still (its
     * clock stops); the frames drawn while the menu is open are refused at
     * once. The recording resumes right before play goes on.
     */
    private void pauseMenu(int fbo, int screen, ByteBuffer frame, GameClock clock, long slot, Stats stats)
            throws InterruptedException {
        synchronized (clock) {
            clock.stop();
            expect(Mp4Muxer.pause(0), "pause");
        }
        long from = System.nanoTime(), end = from + (long) (pauseSeconds * 1e9);
        System.out.printf("demo: pause menu open at %.2f s of the recording: Mp4Muxer.pause(0)%n",
                (double) slot / fps);
        int drawn = stats.drawn;
        for (long now = from; now < end; now = System.nanoTime()) {
            if (drawAndPush(fbo, screen, frame, slot, stats) == 0) {
                stats.accepted++;  // never while paused: the file would show the menu
            } else {
                stats.refusedPaused++;
            }
            long wait = Math.min(end - System.nanoTime(), 1_000_000_000L / fps);
            if (wait > 0) Thread.sleep(wait / 1_000_000, (int) (wait % 1_000_000));
        }
        synchronized (clock) {
            expect(Mp4Muxer.resume(0), "resume");
            clock.go();
        }
        System.out.printf("demo: pause menu closed after %.2f s (%d frames drawn meanwhile): Mp4Muxer.resume(0)%n",
                (System.nanoTime() - from) / 1e9, stats.drawn - drawn);
    }

    /** One frame of the game at {@code slot}, captured and pushed; pushVideo's result. */
    private int drawAndPush(int fbo, int screen, ByteBuffer frame, long slot, Stats stats) {
        float t = (float) slot / fps;
        LumoKastNative.bineFbo(fbo);                                   // the game draws into the FBO
        SceneRenderer.draw((int) slot, t, (float) (t / seconds));
        LumoKastNative.unbineFbo(fbo, screen);                         // ...and it goes on screen
        LumoKastNative.readPixels(width, height, fbo);                 // GLES 3: start the read
        LumoKastNative.captureFrameByfbo(fbo, false, frame);           // RGB565 into the buffer
        int r = Mp4Muxer.pushVideo(frame, width * height * 2, 0);
        stats.drawn++;
        long now = System.nanoTime();
        if (now >= stats.nextReport) {
            double el = (now - stats.t0) / 1e9;
            System.out.printf("demo: %d frames, %.1f s, %.1f fps%n", stats.drawn, el, stats.drawn / el);
            stats.nextReport += ((now - stats.nextReport) / 1_000_000_000L + 1) * 1_000_000_000L;
        }
        return r;
    }

    /** Feeds the soundtrack in 1/fps chunks, each when its time has come on the game's clock. */
    private static final class AudioThread extends Thread {
        private final Soundtrack track;
        private final long total;
        private final int fps;
        private final GameClock clock;
        volatile long pushed;

        AudioThread(Soundtrack track, long total, int fps, GameClock clock) {
            super("demo-audio");
            this.track = track;
            this.total = total;
            this.fps = fps;
            this.clock = clock;
        }

        @Override
        public void run() {
            byte[] pcm = new byte[(SAMPLE_RATE / fps + 1) * CHANNELS * 2];
            try {
                for (long k = 0; pushed < total; ) {
                    long due = k * 1_000_000_000L / fps;
                    clock.sleepUntil(due);  // nothing while the menu is open
                    // Chunk k ends at sample (k + 1) * rate / fps exactly.
                    long end = Math.min(total, (k + 1) * SAMPLE_RATE / fps);
                    int n = (int) (end - pushed);
                    track.fill(pcm, pushed, n);
                    if (clock.pushIfDue(due, () -> Mp4Muxer.pushAudio(pcm, 0, n * CHANNELS * 2))) {
                        pushed = end;
                        k++;
                    }
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }

    private static void expect(int result, String what) {
        if (result != 0) throw new IllegalStateException(what + " returned " + result);
    }
}
