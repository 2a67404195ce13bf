import cn.lumokast.recorder.Mp4Muxer;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * Records through the Mp4Muxer natives from a real JVM, the way a game does
 * (frames and PCM in real time), then checks the file with ffprobe and
 * ffmpeg, which nobody here wrote: the tracks, exactly the accepted frames in
 * order (a frame number is drawn into each frame), every decoded frame close
 * to the pushed one (PSNR of each of Y, U and V, over the whole picture and
 * over its bottom and right 16-pixel bands, where aligned layouts go wrong),
 * the audio length and the tracks' alignment.
 *
 * Usage: RecordingE2E out.mp4 key=value...   (width, height, fps, seconds,
 * frames=N (instead of seconds), rate, channels, video=0, audio=0, invert=1,
 * pauseAt=N, second=1, lib=file, node=component: the encoder library build
 * and video encoder to expect, minPsnr=dB, devices=dir formats=a,b,...: one
 * recording per colour format, each on dir/fmt_<format>.prop copied over
 * the file DEVICE_PROFILE names)
 */
public final class RecordingE2E {
    private static int failures = 0;
    private static final double MIN_PSNR = 30.0;
    private static final int BITS = 12;

    public static void main(String[] args) throws Exception {
        String out = args[0];
        java.nio.file.Files.deleteIfExists(java.nio.file.Path.of(System.getenv("LUMOKAST_LOG_FILE")));
        Map<String, String> opt = new HashMap<>();
        for (int i = 1; i < args.length; i++) {
            String[] kv = args[i].split("=", 2);
            opt.put(kv[0], kv[1]);
        }
        Spec spec = new Spec(opt);
        String[] formats = opt.containsKey("formats") ? opt.get("formats").split(",") : null;
        if (formats != null) useDevice(opt.get("devices"), formats[0]);
        expect(0, Mp4Muxer.init(null), "init");
        expect(1, Mp4Muxer.isAvailable(), "isAvailable");
        if (opt.containsKey("formats")) {
            recordEachFormat(out, spec, opt.get("devices"), formats);
            finish(out);
            return;
        }
        if (spec.secondRecording) {
            Spec small = new Spec(opt);
            small.width = spec.width / 2;
            small.height = spec.height / 2;
            Result first = record(out.replace(".mp4", "_first.mp4"), small);
            verify(first, small);
        }
        Result result = record(out, spec);
        verify(result, spec);
        // Which build of the encoder library and which encoder the device got.
        if (opt.containsKey("lib")) expectLogged("qor_icodec", "using <" + opt.get("lib") + "> lib.");
        if (opt.containsKey("node")) expectLogged("qor_codec", "using OMX node " + opt.get("node") + " - color ");
        finish(out);
    }

    static void finish(String out) {
        if (failures > 0) {
            System.err.println(failures + " check(s) failed");
            System.exit(1);
        }
        System.out.println("passed: " + out);
    }

    /**
     * Puts the device whose encoder takes {@code format} where DEVICE_PROFILE
     * points; the profile is read again when its file changes (recordings
     * are far longer apart than a file time stamp's step).
     */
    static void useDevice(String devices, String format) throws Exception {
        java.nio.file.Files.copy(java.nio.file.Path.of(devices, "fmt_" + format + ".prop"),
                                 java.nio.file.Path.of(System.getenv("DEVICE_PROFILE")),
                                 java.nio.file.StandardCopyOption.REPLACE_EXISTING);
    }

    /** One recording per colour format in this JVM, each on its own device. */
    static void recordEachFormat(String out, Spec spec, String devices, String[] formats) throws Exception {
        for (String format : formats) {
            useDevice(devices, format);
            int before = failures;
            String path = out.replace(".mp4", "_" + format + ".mp4");
            verify(record(path, spec), spec);
            check(failures == before, "format " + format);
        }
    }

    static final class Spec {
        int width, height, fps, seconds, frames, rate, channels, pauseAt;
        boolean video, audio, invert, secondRecording;
        double minPsnr;

        Spec(Map<String, String> o) {
            width = Integer.parseInt(o.getOrDefault("width", "320"));
            height = Integer.parseInt(o.getOrDefault("height", "240"));
            fps = Integer.parseInt(o.getOrDefault("fps", "30"));
            seconds = Integer.parseInt(o.getOrDefault("seconds", "2"));
            rate = Integer.parseInt(o.getOrDefault("rate", "44100"));
            channels = Integer.parseInt(o.getOrDefault("channels", "2"));
            video = !"0".equals(o.get("video"));
            audio = !"0".equals(o.get("audio"));
            invert = "1".equals(o.get("invert"));
            pauseAt = Integer.parseInt(o.getOrDefault("pauseAt", "-1"));
            secondRecording = "1".equals(o.get("second"));
            frames = Integer.parseInt(o.getOrDefault("frames", String.valueOf(fps * seconds + 1)));
            minPsnr = Double.parseDouble(o.getOrDefault("minPsnr", String.valueOf(MIN_PSNR)));
        }
    }

    static final class Result {
        String path;
        List<Integer> acceptedFrames = new ArrayList<>();
        int refusedFrames;  // dropped because the encoder had not taken the one before
        long pcmBytes;
        long maxLateNs;  // how far the PCM pushes fell behind their time
    }

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
        }
    }

    private static void expect(long want, long got, String what) {
        check(want == got, what + ": want " + want + ", got " + got);
    }

    /** The picture of frame {@code n}: a moving gradient, the number in the top band. */
    static int rgbAt(int n, int x, int y, int w, int h) {
        int band = Math.max(h / 12, 8);
        if (y < band) {
            int block = x * 16 / w;
            if (block < BITS) {
                int bx = x - block * w / 16;
                int edge = Math.max(w / 64, 2);
                boolean inner = bx > edge && bx < w / 16 - edge && y > band / 4 && y < band * 3 / 4;
                if (!inner) return 0x808080;
                return ((n >> block) & 1) != 0 ? 0xFFFFFF : 0x000000;
            }
            return 0x808080;
        }
        int r = (x * 255 / w + n * 3) & 255;
        int g = (y * 255 / h) & 255;
        int b = ((x + y) * 128 / (w + h) + n * 5) & 255;
        return (r << 16) | (g << 8) | b;
    }

    static short rgb565(int rgb) {
        int r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
        return (short) (((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    }

    static void fillFrame(ByteBuffer buf, int n, int w, int h, boolean invert) {
        buf.clear();
        for (int row = 0; row < h; row++) {
            int y = invert ? h - 1 - row : row;
            for (int x = 0; x < w; x++) buf.putShort(rgb565(rgbAt(n, x, y, w, h)));
        }
        buf.flip();
    }

    static Result record(String path, Spec s) throws Exception {
        Result result = new Result();
        result.path = path;
        new java.io.File(path).delete();
        if (s.video) expect(0, Mp4Muxer.setVideoParameter(s.width, s.height, s.fps, 4000000, 1, s.invert ? 1 : 0), "video parameters");
        if (s.audio) expect(0, Mp4Muxer.setAudioParameter(s.rate, s.channels, 96000), "audio parameters");
        Mp4Muxer.start(path);
        expect(1, Mp4Muxer.getStatus(), "recording started");

        ByteBuffer frame = ByteBuffer.allocateDirect(s.width * s.height * 2).order(ByteOrder.LITTLE_ENDIAN);
        int framesTotal = s.frames;
        int samplesPerFrame = s.rate / s.fps;
        byte[] pcm = new byte[samplesPerFrame * s.channels * 2];
        long sample = 0;
        long t0 = System.nanoTime();
        boolean paused = false;
        for (int n = 0; n < framesTotal; n++) {
            if (n == s.pauseAt) {
                expect(0, Mp4Muxer.pause(1), "pause");
                paused = true;
            }
            if (s.video) {
                fillFrame(frame, n, s.width, s.height, s.invert);
                int r = Mp4Muxer.pushVideo(frame, s.width * s.height * 2, 0);
                if (paused) {
                    expect(-1, r, "push while paused");
                } else if (n > 0) {
                    // A busy machine may keep the encoder from the previous
                    // frame past the push's wait: that frame is dropped (-1).
                    check(r == 0 || r == -1, "pushVideo " + n + " returned " + r);
                    if (r == 0) result.acceptedFrames.add(n);
                    else result.refusedFrames++;
                }
            }
            if (s.audio) {
                for (int i = 0; i < samplesPerFrame; i++, sample++) {
                    short v = (short) (6000 * Math.sin(2 * Math.PI * 440 * sample / s.rate));
                    for (int c = 0; c < s.channels; c++) {
                        pcm[(i * s.channels + c) * 2] = (byte) v;
                        pcm[(i * s.channels + c) * 2 + 1] = (byte) (v >> 8);
                    }
                }
                long late = System.nanoTime() - (t0 + (long) n * 1_000_000_000L / s.fps);
                Mp4Muxer.pushAudio(pcm, 0, pcm.length);
                if (!paused) {
                    result.pcmBytes += pcm.length;
                    result.maxLateNs = Math.max(result.maxLateNs, late);
                }
            }
            long due = t0 + (long) (n + 1) * 1_000_000_000L / s.fps;
            long wait = due - System.nanoTime();
            if (wait > 0) Thread.sleep(wait / 1_000_000, (int) (wait % 1_000_000));
        }
        expect(0, Mp4Muxer.stop(), "stop");
        expect(0, Mp4Muxer.getStatus(), "stopped");
        return result;
    }

    static void expectLogged(String tag, String text) throws Exception {
        boolean found = false;
        for (String line : java.nio.file.Files.readAllLines(java.nio.file.Path.of(System.getenv("LUMOKAST_LOG_FILE")),
                                                            StandardCharsets.ISO_8859_1)) {
            if (line.contains(" " + tag + ": ") && line.contains(text)) found = true;
        }
        check(found, "log line [" + tag + "] " + text);
    }

    static String run(String... cmd) throws Exception {
        Process p = new ProcessBuilder(cmd).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        String text = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        p.waitFor();
        return text;
    }

    /** stream index -> key -> value, from ffprobe's flat output. */
    static Map<String, String> probe(String path) throws Exception {
        String text = run("ffprobe", "-v", "error", "-count_frames", "-show_entries",
                "stream=codec_type,codec_name,codec_tag_string,nb_read_frames,duration,start_time,width,height",
                "-of", "flat", path);
        Map<String, String> m = new HashMap<>();
        for (String line : text.split("\n")) {
            int eq = line.indexOf('=');
            if (eq > 0) m.put(line.substring(0, eq), line.substring(eq + 1).replace("\"", ""));
        }
        return m;
    }

    static String streamOf(Map<String, String> m, String type) {
        for (int i = 0; i < 4; i++) {
            if (type.equals(m.get("streams.stream." + i + ".codec_type"))) return "streams.stream." + i + ".";
        }
        return null;
    }

    static void verify(Result r, Spec s) throws Exception {
        // A few drops on a busy machine; an encoder that cannot keep up at all
        // is a fault.
        check(r.refusedFrames <= Math.max(2, s.frames / 10), "frames refused: " + r.refusedFrames);
        Map<String, String> m = probe(r.path);
        String v = streamOf(m, "video"), a = streamOf(m, "audio");
        check((v != null) == s.video, "video track present: " + (v != null));
        check((a != null) == s.audio, "audio track present: " + (a != null));
        if (v != null) {
            check("avc1".equals(m.get(v + "codec_tag_string")), "avc1 track");
            expect(s.width, Long.parseLong(m.get(v + "width")), "width");
            expect(s.height, Long.parseLong(m.get(v + "height")), "height");
            long frames = Long.parseLong(m.get(v + "nb_read_frames"));
            // Frames still inside the encoder when the recording pauses are
            // in the file too: every accepted frame is.
            expect(r.acceptedFrames.size(), frames, "video frames");
            verifyPictures(r, s);
        }
        if (a != null) {
            check("mp4a".equals(m.get(a + "codec_tag_string")), "mp4a track");
            double pushed = (double) r.pcmBytes / (s.rate * s.channels * 2);
            double got = Double.parseDouble(m.get(a + "duration"));
            double slack = 1024.0 / s.rate + 1e-3;
            // The sound keeps time with the picture: when a busy machine held
            // the pushes up, the kit may fill the time they fell behind with
            // silence (and drops no more than 1%).
            double late = r.maxLateNs / 1e9;
            check(got >= pushed * 0.99 - slack && got <= pushed + late + slack,
                  "audio lasts " + got + " s for " + pushed + " s of PCM pushed up to " + late + " s late");
        }
        if (v != null && a != null) {
            double vs = Double.parseDouble(m.get(v + "start_time"));
            double as = Double.parseDouble(m.get(a + "start_time"));
            check(Math.abs(vs - as) <= 1.0 / s.fps, "tracks start together: " + vs + " vs " + as);
        }
    }

    static void verifyPictures(Result r, Spec s) throws Exception {
        // Planar 4:2:0 as the encoder produced it, compared without any range
        // or colour conversion; every message of ffmpeg's decoder about the
        // stream (a warning included) is a fault. (The raw output's own muxer
        // complains of frames closer together than its time base.)
        java.io.File messages = new java.io.File(r.path + ".ffmpeg.txt");
        Process p = new ProcessBuilder("ffmpeg", "-v", "warning", "-i", r.path, "-fps_mode", "passthrough", "-f", "rawvideo",
                "-pix_fmt", "yuv420p", "-").redirectError(messages).start();
        InputStream in = p.getInputStream();
        int w = s.width, h = s.height;
        byte[] y = new byte[w * h];
        byte[] chroma = new byte[2 * ((w + 1) / 2) * ((h + 1) / 2)];
        int k = 0;
        PlaneErrors worst = new PlaneErrors();
        while (true) {
            int got = in.readNBytes(y, 0, y.length);
            if (got < y.length || in.readNBytes(chroma, 0, chroma.length) < chroma.length) break;
            int expectedN = k < r.acceptedFrames.size() ? r.acceptedFrames.get(k) : -1;
            int decodedN = readNumber(y, w, h);
            expect(expectedN, decodedN, "frame " + k + " number");
            worst.keepWorst(PlaneErrors.of(y, chroma, expectedN, w, h));
            k++;
        }
        p.waitFor();
        StringBuilder said = new StringBuilder();
        for (String line : java.nio.file.Files.readAllLines(messages.toPath())) {
            if (!line.contains("[rawvideo @") && !line.contains("Last message repeated")) said.append(line).append('\n');
        }
        check(said.length() == 0, "ffmpeg decodes without a message: " + said);
        expect(r.acceptedFrames.size(), k, "decoded frames");
        for (int plane = 0; plane < 3; plane++) {
            for (int region = 0; region < 3; region++) {
                double db = worst.db[plane][region];
                check(db >= s.minPsnr, "worst " + PlaneErrors.NAMES[plane] + " PSNR " + PlaneErrors.REGIONS[region]
                        + " " + db + " dB");
            }
        }
        System.out.printf("%s: %d frames, worst PSNR (whole/bottom/right) Y %.1f/%.1f/%.1f U %.1f/%.1f/%.1f V %.1f/%.1f/%.1f dB%n",
                r.path, k, worst.db[0][0], worst.db[0][1], worst.db[0][2], worst.db[1][0], worst.db[1][1],
                worst.db[1][2], worst.db[2][0], worst.db[2][1], worst.db[2][2]);
    }

    /** PSNR of each plane over the whole picture, its bottom 16 rows and its right 16 columns. */
    static final class PlaneErrors {
        static final String[] NAMES = {"Y", "U", "V"};
        static final String[] REGIONS = {"overall", "over the bottom 16 rows", "over the right 16 columns"};
        static final int EDGE = 16;
        final double[][] db = {{99, 99, 99}, {99, 99, 99}, {99, 99, 99}};

        void keepWorst(PlaneErrors o) {
            for (int i = 0; i < 3; i++) {
                for (int j = 0; j < 3; j++) db[i][j] = Math.min(db[i][j], o.db[i][j]);
            }
        }

        static PlaneErrors of(byte[] y, byte[] chroma, int n, int w, int h) {
            int cw = (w + 1) / 2, ch = (h + 1) / 2;
            int[] rgb = new int[w * h];
            for (int row = 0; row < h; row++) {
                for (int x = 0; x < w; x++) rgb[row * w + x] = expand565(rgb565(rgbAt(n, x, row, w, h)));
            }
            PlaneErrors e = new PlaneErrors();
            double[][] se = new double[3][3];
            long[][] count = new long[3][3];
            for (int row = 0; row < h; row++) {
                for (int x = 0; x < w; x++) {
                    int c = rgb[row * w + x];
                    add(se[0], count[0], (y[row * w + x] & 255) - lumaOf(c), row >= h - EDGE, x >= w - EDGE);
                }
            }
            for (int row = 0; row < ch; row++) {
                for (int x = 0; x < cw; x++) {
                    int c = average(rgb, w, h, 2 * x, 2 * row);
                    boolean bottom = row >= (h - EDGE) / 2, right = x >= (w - EDGE) / 2;
                    add(se[1], count[1], (chroma[row * cw + x] & 255) - uOf(c), bottom, right);
                    add(se[2], count[2], (chroma[cw * ch + row * cw + x] & 255) - vOf(c), bottom, right);
                }
            }
            for (int i = 0; i < 3; i++) {
                for (int j = 0; j < 3; j++) {
                    double mse = count[i][j] == 0 ? 0 : se[i][j] / count[i][j];
                    e.db[i][j] = mse == 0 ? 99 : 10 * Math.log10(255.0 * 255.0 / mse);
                }
            }
            return e;
        }

        static void add(double[] se, long[] count, int d, boolean bottom, boolean right) {
            se[0] += d * d;
            count[0]++;
            if (bottom) {
                se[1] += d * d;
                count[1]++;
            }
            if (right) {
                se[2] += d * d;
                count[2]++;
            }
        }

        /** RGB565 to 8-bit RGB, the low bits repeating the high ones. */
        static int expand565(short p) {
            int v = p & 0xFFFF;
            int r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
            return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
        }

        /** The mean colour of the 2x2 block at (x, y), an edge pixel standing in past the picture. */
        static int average(int[] rgb, int w, int h, int x, int y) {
            int x1 = Math.min(x + 1, w - 1), y1 = Math.min(y + 1, h - 1);
            int[] px = {rgb[y * w + x], rgb[y * w + x1], rgb[y1 * w + x], rgb[y1 * w + x1]};
            int r = 0, g = 0, b = 0;
            for (int c : px) {
                r += (c >> 16) & 255;
                g += (c >> 8) & 255;
                b += c & 255;
            }
            return (((r + 2) / 4) << 16) | (((g + 2) / 4) << 8) | ((b + 2) / 4);
        }

        // BT.601, limited range.
        static int lumaOf(int c) {
            int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
            return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
        }

        static int uOf(int c) {
            int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
            return ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
        }

        static int vOf(int c) {
            int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
            return ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
        }
    }

    static int readNumber(byte[] y, int w, int h) {
        int band = Math.max(h / 12, 8);
        int n = 0;
        for (int bit = 0; bit < BITS; bit++) {
            int cx = bit * w / 16 + w / 32, cy = band / 2;
            if ((y[cy * w + cx] & 255) > 128) n |= 1 << bit;
        }
        return n;
    }
}
