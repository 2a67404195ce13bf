import cn.lumokast.recorder.Mp4Muxer;

import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * A game that pauses its recording for its menu and resumes it, through the
 * Mp4Muxer natives in a real JVM, judged by ffprobe and ffmpeg: the file
 * leaves every pause out, holds every accepted frame in order (the frame
 * number is drawn into each frame) and none pushed while paused, its sound
 * runs on without a gap and without the paused sound, and a white flash and
 * a loud click pushed at the same moment in each recorded stretch come out
 * within 20 ms of each other.
 *
 * The game draws and sounds on all along, paused or not, one frame and its
 * sound per tick: a 440 Hz tone while recording, a 1 kHz one while paused.
 *
 * Usage: PauseResumeE2E out.mp4 key=value...   (cycles: pauses, record and
 * pause: seconds of each stretch, width, height, fps, rate, channels,
 * refusals=1: also check the refused calls)
 */
public final class PauseResumeE2E {
    private static int failures = 0;
    private static final int TONE = 3000, CLICK = 30000;
    private static final double MAX_SYNC_S = 0.020;

    public static void main(String[] args) throws Exception {
        String out = args[0];
        java.nio.file.Files.deleteIfExists(java.nio.file.Path.of(System.getenv("LUMOKAST_LOG_FILE")));
        Map<String, String> opt = new HashMap<>();
        for (int i = 1; i < args.length; i++) {
            String[] kv = args[i].split("=", 2);
            opt.put(kv[0], kv[1]);
        }
        Game g = new Game(opt);
        expect(0, Mp4Muxer.init(null), "init");
        expect(1, Mp4Muxer.isAvailable(), "isAvailable");
        if (g.refusals) expect(-1, Mp4Muxer.resume(0), "resume before any recording");
        g.record(out);
        if (g.refusals) {
            expect(-1, Mp4Muxer.resume(0), "resume after stop");
            expect(0, Mp4Muxer.getStatus(), "still stopped");
        }
        verify(out, g);
        if (failures > 0) {
            System.err.println(failures + " check(s) failed");
            System.exit(1);
        }
        System.out.println("passed: " + out);
    }

    static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
        }
    }

    static void expect(long want, long got, String what) {
        check(want == got, what + ": want " + want + ", got " + got);
    }

    /** The game: its loop, what it pushed and what was accepted. */
    static final class Game {
        final int width, height, fps, rate, channels, cycles, recordTicks, pauseTicks;
        final boolean refusals;
        final List<Integer> accepted = new ArrayList<>();
        int refused;  // dropped: the encoder had not taken the frame before
        final List<Integer> flashes = new ArrayList<>();
        final List<Long> clickSamples = new ArrayList<>();
        // How late the game pushed (ms behind its schedule): the first sound,
        // each flash, the first frame after each resume.
        double firstLateMs;
        final List<Double> flashLateMs = new ArrayList<>();
        final List<Double> resumeLateMs = new ArrayList<>();
        boolean resumed;
        final List<Integer> lastBeforePause = new ArrayList<>();
        final List<Integer> firstAfterResume = new ArrayList<>();
        long acceptedSamples;  // sound pushed while recording, per channel
        final ByteBuffer frame;
        final byte[] pcm;
        long t0;
        int tick;

        Game(Map<String, String> o) {
            width = Integer.parseInt(o.getOrDefault("width", "320"));
            height = Integer.parseInt(o.getOrDefault("height", "240"));
            fps = Integer.parseInt(o.getOrDefault("fps", "30"));
            rate = Integer.parseInt(o.getOrDefault("rate", "44100"));
            channels = Integer.parseInt(o.getOrDefault("channels", "2"));
            cycles = Integer.parseInt(o.getOrDefault("cycles", "1"));
            recordTicks = (int) Math.round(Double.parseDouble(o.getOrDefault("record", "2")) * fps);
            pauseTicks = (int) Math.round(Double.parseDouble(o.getOrDefault("pause", "3")) * fps);
            refusals = "1".equals(o.get("refusals"));
            frame = ByteBuffer.allocateDirect(width * height * 2).order(ByteOrder.LITTLE_ENDIAN);
            pcm = new byte[rate / fps * channels * 2];
        }

        void record(String path) throws Exception {
            new java.io.File(path).delete();
            expect(0, Mp4Muxer.setVideoParameter(width, height, fps, 4000000, 1, 0), "video parameters");
            expect(0, Mp4Muxer.setAudioParameter(rate, channels, 96000), "audio parameters");
            Mp4Muxer.start(path);
            expect(1, Mp4Muxer.getStatus(), "recording started");
            if (refusals) expect(-1, Mp4Muxer.resume(0), "resume while recording");
            t0 = System.nanoTime();
            for (int stretch = 0; stretch <= cycles; stretch++) {
                if (stretch > 0) resumeFromMenu(stretch == 1);
                for (int i = 0; i < recordTicks; i++) tick(false, i == recordTicks / 2);
                if (stretch == cycles) break;
                lastBeforePause.add(accepted.get(accepted.size() - 1));
                pauseForMenu(stretch == 0);
                for (int i = 0; i < pauseTicks; i++) tick(true, false);
            }
            expect(0, Mp4Muxer.stop(), "stop");
            expect(0, Mp4Muxer.getStatus(), "stopped");
        }

        void pauseForMenu(boolean first) {
            expect(0, Mp4Muxer.pause(0), "pause");
            if (first && refusals) expect(-1, Mp4Muxer.pause(0), "second pause");
            expect(1, Mp4Muxer.getStatus(), "recording while paused");
        }

        void resumeFromMenu(boolean first) {
            expect(0, Mp4Muxer.resume(0), "resume");
            if (first && refusals) expect(-1, Mp4Muxer.resume(0), "second resume");
            firstAfterResume.add(tick);
            resumed = true;
        }

        /** One frame and its sound; while paused both are refused. */
        void tick(boolean paused, boolean flash) throws Exception {
            long due = t0 + (long) tick * 1_000_000_000L / fps;
            long wait = due - System.nanoTime();
            if (wait > 0) Thread.sleep(wait / 1_000_000, (int) (wait % 1_000_000));
            fillFrame(tick, flash);
            long before = System.nanoTime();
            double lateMs = (before - due) / 1e6;
            if (tick == 0) firstLateMs = lateMs;
            if (resumed) resumeLateMs.add(lateMs);
            resumed = false;
            int r = Mp4Muxer.pushVideo(frame, width * height * 2, 0);
            double took = (System.nanoTime() - before) / 1e9;
            if (paused) {
                expect(-1, r, "push while paused, tick " + tick);
                check(took < 0.5, "a refused push returns at once: " + took + " s");
            } else if (tick > 0 && r != 0) {
                // A busy machine may keep the encoder from the previous frame
                // past the push's wait: that frame is dropped (-1).
                expect(-1, r, "push, tick " + tick);
                refused++;
            } else if (tick > 0) {  // the first frame only primes the front end
                accepted.add(tick);
                if (flash) {
                    flashes.add(tick);
                    flashLateMs.add(lateMs);
                    clickSamples.add(acceptedSamples);
                }
            }
            fillSound(paused, flash);
            Mp4Muxer.pushAudio(pcm, 0, pcm.length);
            if (!paused) acceptedSamples += pcm.length / (2 * channels);
            tick++;
        }

        void fillFrame(int n, boolean flash) {
            frame.clear();
            int band = Math.max(height / 12, 8);
            for (int y = 0; y < height; y++) {
                for (int x = 0; x < width; x++) {
                    int rgb = flash && y >= band ? 0xFFFFFF : RecordingE2E.rgbAt(n, x, y, width, height);
                    frame.putShort(RecordingE2E.rgb565(rgb));
                }
            }
            frame.flip();
        }

        /**
         * The recorded tone's phase follows the accepted sound only, so the
         * file's sound is one unbroken sine where nothing is missing or
         * doubled. A click opens the block of a flash.
         */
        void fillSound(boolean paused, boolean click) {
            int samples = pcm.length / (2 * channels);
            for (int i = 0; i < samples; i++) {
                double t = (double) (acceptedSamples + i) / rate;
                short v = (short) (TONE * Math.sin(2 * Math.PI * (paused ? 1000 : 440) * t));
                if (click && i < rate / 500) v = (short) (i < rate / 1000 ? CLICK : -CLICK);
                for (int c = 0; c < channels; c++) {
                    pcm[(i * channels + c) * 2] = (byte) v;
                    pcm[(i * channels + c) * 2 + 1] = (byte) (v >> 8);
                }
            }
        }
    }

    static void verify(String path, Game g) throws Exception {
        Map<String, String> m = RecordingE2E.probe(path);
        String v = RecordingE2E.streamOf(m, "video"), a = RecordingE2E.streamOf(m, "audio");
        check(v != null && a != null, "both tracks");
        if (v == null || a == null) return;
        check(g.refused <= Math.max(2, g.accepted.size() / 10), "frames refused: " + g.refused);
        double recorded = (double) (g.accepted.size() + g.refused) / g.fps;
        double videoS = Double.parseDouble(m.get(v + "duration"));
        double audioS = Double.parseDouble(m.get(a + "duration"));
        System.out.printf("%s: video %.3f s, audio %.3f s, %.3f s recorded, %.3f s paused%n", path, videoS,
                audioS, recorded, (double) g.cycles * g.pauseTicks / g.fps);
        check(Math.abs(videoS - recorded) < 0.15, "video lasts " + videoS + " s for " + recorded + " s recorded");
        check(Math.abs(audioS - recorded) < 0.15, "audio lasts " + audioS + " s for " + recorded + " s recorded");

        List<Double> framePts = framePts(path);
        List<Integer> numbers = frameNumbers(path, g, framePts.size());
        expect(g.accepted.size(), numbers.size(), "decoded frames");
        check(numbers.equals(g.accepted), "the accepted frames, in order: " + firstDifference(numbers, g.accepted));
        for (int n : g.lastBeforePause) check(numbers.contains(n), "the last frame before a pause, " + n);
        for (int n : g.firstAfterResume) check(numbers.contains(n), "the first frame after a resume, " + n);

        short[] sound = decodeSound(path);
        double audioStart = Double.parseDouble(m.get(a + "start_time"));
        checkSound(sound, g);
        checkSync(sound, audioStart, g, numbers, framePts);
    }

    static String firstDifference(List<Integer> got, List<Integer> want) {
        for (int i = 0; i < Math.min(got.size(), want.size()); i++) {
            if (!got.get(i).equals(want.get(i))) return "at " + i + ": " + got.get(i) + " for " + want.get(i);
        }
        return got.size() == want.size() ? "none" : "lengths " + got.size() + " and " + want.size();
    }

    static List<Double> framePts(String path) throws Exception {
        String text = RecordingE2E.run("ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                "frame=pts_time", "-of", "csv=p=0", path);
        List<Double> pts = new ArrayList<>();
        for (String line : text.split("\n")) {
            if (!line.isBlank()) pts.add(Double.parseDouble(line.trim().replace(",", "")));
        }
        return pts;
    }

    /** Each decoded frame's number; a flash frame must come out white below its number. */
    static List<Integer> frameNumbers(String path, Game g, int expected) throws Exception {
        java.io.File messages = new java.io.File(path + ".ffmpeg.txt");
        Process p = new ProcessBuilder("ffmpeg", "-v", "error", "-i", path, "-map", "0:v", "-fps_mode", "passthrough",
                "-f", "rawvideo", "-pix_fmt", "yuv420p", "-").redirectError(messages).start();
        InputStream in = p.getInputStream();
        int w = g.width, h = g.height;
        byte[] y = new byte[w * h];
        byte[] chroma = new byte[2 * ((w + 1) / 2) * ((h + 1) / 2)];
        List<Integer> numbers = new ArrayList<>();
        while (in.readNBytes(y, 0, y.length) == y.length && in.readNBytes(chroma, 0, chroma.length) == chroma.length) {
            int n = RecordingE2E.readNumber(y, w, h);
            numbers.add(n);
            long sum = 0;
            int band = Math.max(h / 12, 8);
            for (int i = band * w; i < w * h; i++) sum += y[i] & 255;
            double mean = (double) sum / (w * (h - band));
            if (g.flashes.contains(n)) check(mean > 220, "frame " + n + " flashes white: luma " + mean);
        }
        p.waitFor();
        // (The raw output's own muxer complains of frames closer together
        // than its time base.)
        StringBuilder said = new StringBuilder();
        for (String line : java.nio.file.Files.readAllLines(messages.toPath())) {
            if (!line.contains("[rawvideo @") && !line.contains("Last message repeated")) said.append(line).append('\n');
        }
        check(said.length() == 0, "ffmpeg decodes the picture without an error: " + said);
        expect(expected, numbers.size(), "decoded frames and their time stamps");
        return numbers;
    }

    /** The sound as mono 16-bit samples at the recording's rate. */
    static short[] decodeSound(String path) throws Exception {
        Process p = new ProcessBuilder("ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "s16le", "-ac", "1",
                "-").redirectError(ProcessBuilder.Redirect.INHERIT).start();
        byte[] bytes = p.getInputStream().readAllBytes();
        p.waitFor();
        short[] s = new short[bytes.length / 2];
        ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN).asShortBuffer().get(s);
        return s;
    }

    /**
     * As much sound as was accepted (nothing doubled or lost), no silent
     * stretch (no gap), and none of the paused tone.
     */
    static void checkSound(short[] s, Game g) {
        long slack = 2048 + g.rate / 100;
        check(Math.abs(s.length - g.acceptedSamples) <= slack,
              "decoded sound " + s.length + " samples for " + g.acceptedSamples + " accepted");
        int window = g.rate / 100;
        double quietest = Double.MAX_VALUE;
        for (int start = window * 5; start + window * 6 < s.length; start += window) {
            double sum = 0;
            for (int i = start; i < start + window; i++) sum += (double) s[i] * s[i];
            quietest = Math.min(quietest, Math.sqrt(sum / window));
        }
        // 50 ms windows hold whole periods of both tones, so the recorded
        // one leaks nothing into the measure of the paused one; the clicks'
        // windows are left out.
        int tones = g.rate / 20;
        double paused = 0;
        for (int start = 0; start + tones <= s.length; start += tones) {
            double re = 0, im = 0, peak = 0;
            for (int i = start; i < start + tones; i++) {
                re += s[i] * Math.cos(2 * Math.PI * 1000 * i / g.rate);
                im += s[i] * Math.sin(2 * Math.PI * 1000 * i / g.rate);
                peak = Math.max(peak, Math.abs(s[i]));
            }
            if (peak < CLICK / 2) paused = Math.max(paused, 2 * Math.hypot(re, im) / tones);
        }
        double toneRms = TONE / Math.sqrt(2);
        check(quietest > toneRms * 0.5, "no gap in the sound: quietest 10 ms at RMS " + quietest);
        check(paused < TONE * 0.1, "none of the paused sound: 1 kHz at amplitude " + paused);
    }

    /** Each click against its flash, from the decoded sound and the frames' times. */
    static void checkSync(short[] s, double audioStart, Game g, List<Integer> numbers, List<Double> pts) {
        List<Double> clicks = new ArrayList<>();
        for (int i = 0; i < s.length; i++) {
            if (Math.abs(s[i]) > CLICK / 2) {
                clicks.add(audioStart + (double) i / g.rate);
                i += g.rate / 4;
            }
        }
        expect(g.flashes.size(), clicks.size(), "clicks heard");
        StringBuilder offsets = new StringBuilder();
        for (int k = 0; k < Math.min(clicks.size(), g.flashes.size()); k++) {
            int index = numbers.indexOf(g.flashes.get(k));
            if (index < 0 || index >= pts.size()) {
                check(false, "flash frame " + g.flashes.get(k) + " in the file");
                continue;
            }
            double offset = clicks.get(k) - pts.get(index);
            // A frame is shown when it was pushed, the sound plays on by its
            // samples: a game running late on a busy machine moves them apart
            // by its own lateness, which widens the bound.
            double anchorLateMs = k == 0 ? g.firstLateMs : g.resumeLateMs.get(k - 1);
            double lateS = (Math.abs(g.flashLateMs.get(k)) + Math.abs(anchorLateMs)) / 1000;
            offsets.append(String.format(" %+.1f (frame at %.3f, click at sample %+.0f of the pushed position, late %.1f ms)",
                    offset * 1000, pts.get(index), (clicks.get(k) - audioStart) * g.rate - g.clickSamples.get(k),
                    lateS * 1000));
            check(Math.abs(offset) <= MAX_SYNC_S + lateS,
                  "click " + k + " within 20 ms of its flash: " + offset + " s (the game late by " + lateS + " s)");
        }
        System.out.println("click - flash (ms):" + offsets);
    }
}
