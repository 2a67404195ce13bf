import cn.lumokast.recorder.Mp4Muxer;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * Disks that fill up and processes that die, through the Mp4Muxer natives in
 * a real JVM, the files judged by ffprobe and ffmpeg.
 *
 * Usage: DiskFaults SCENARIO out.mp4 [lumokast-recover]
 *   full:    the JVM runs under a small file-size limit (ulimit -f, SIGXFSZ
 *            ignored): pushes never wait, stop returns -1, the file plays with
 *            what fit.
 *   killed:  a child JVM records and is killed (SIGKILL) 3 s in;
 *            Mp4Muxer.recover restores both tracks up to at most 1 s before.
 *   inStop:  a child JVM is killed while it stops a 2 s recording; the tool
 *            restores the whole recording.
 *   killedAfterPause: a child JVM pauses from 1 s to 2 s and is killed 3.5 s
 *            in; the recovered file leaves the pause out.
 *   child SECONDS|forever [pause]: the recording the others run (prints its
 *            progress; with `pause`, paused from 1 s to 2 s).
 */
public final class DiskFaults {
    static final int W = 640, H = 360, FPS = 30, RATE = 44100;
    private static int failures = 0;

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "child" -> child(args[1], args[2], args.length > 3);
            case "full" -> full(args[1]);
            case "killed" -> killed(args[1]);
            case "inStop" -> inStop(args[1], args[2]);
            case "killedAfterPause" -> killedAfterPause(args[1]);
            default -> throw new IllegalArgumentException(args[0]);
        }
        if (failures > 0) {
            System.out.println("FAILED: " + failures + " check(s)");
            System.exit(1);
        }
        System.out.println("PASSED");
    }

    static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.out.println("FAILED: " + what);
        }
    }

    // Records in real time; `pushed <ms>` after every frame, `stopping`
    // before stop, `stopped <result>` after it.
    static int record(String path, double seconds, long[] longestPushNs, int[] refusedVideo) {
        return record(path, seconds, longestPushNs, refusedVideo, false);
    }

    // With `pause`, the recording is paused from 1 s to 2 s of the game's
    // time (the game keeps pushing; the pushes are refused).
    static int record(String path, double seconds, long[] longestPushNs, int[] refusedVideo, boolean pause) {
        check(Mp4Muxer.init(null) == 0, "init");
        check(Mp4Muxer.setVideoParameter(W, H, FPS, 2000000, 1, 0) == 0, "video parameters");
        check(Mp4Muxer.setAudioParameter(RATE, 2, 64000) == 0, "audio parameters");
        Mp4Muxer.start(path);
        check(Mp4Muxer.getStatus() == 1, "recording after start");
        ByteBuffer frame = ByteBuffer.allocateDirect(W * H * 2);
        byte[] pcm = new byte[4096];
        long start = System.nanoTime();
        int frames = 0, blocks = 0;
        int pauseStep = pause ? 0 : 2;
        while (seconds < 0 || frames < seconds * FPS) {
            long now = System.nanoTime() - start;
            if (pauseStep == 0 && now >= 1_000_000_000L) {
                check(Mp4Muxer.pause(0) == 0, "pause");
                pauseStep = 1;
            } else if (pauseStep == 1 && now >= 2_000_000_000L) {
                check(Mp4Muxer.resume(0) == 0, "resume");
                pauseStep = 2;
            }
            if (now >= (long) frames * 1_000_000_000L / FPS) {
                draw(frame, frames);
                long t0 = System.nanoTime();
                int r = Mp4Muxer.pushVideo(frame, W * H * 2, 0);
                long took = System.nanoTime() - t0;
                longestPushNs[0] = Math.max(longestPushNs[0], took);
                if (r != 0) refusedVideo[0]++;
                frames++;
                System.out.println("pushed " + frames * 1000L / FPS);
            }
            if (now >= blocks * 1024L * 1_000_000_000L / RATE) {
                for (int i = 0; i < pcm.length; i += 2) pcm[i + 1] = (byte) (40 * Math.sin((blocks * 1024 + i / 4) * 0.05));
                long t0 = System.nanoTime();
                Mp4Muxer.pushAudio(pcm, 0, pcm.length);
                longestPushNs[0] = Math.max(longestPushNs[0], System.nanoTime() - t0);
                blocks++;
            }
            try { Thread.sleep(2); } catch (InterruptedException e) { break; }
        }
        System.out.println("stopping");
        int result = Mp4Muxer.stop();
        System.out.println("stopped " + result);
        return result;
    }

    // A moving pattern: a different picture every frame.
    static void draw(ByteBuffer frame, int n) {
        frame.clear();
        for (int y = 0; y < H; y++) {
            for (int x = 0; x < W; x++) {
                int v = ((x + n * 4) ^ (y * 3)) & 0xFF;
                frame.putShort((short) (((v >> 3) << 11) | ((v >> 2) << 5) | ((255 - v) >> 3)));
            }
        }
        frame.flip();
    }

    static void child(String path, String seconds, boolean pause) {
        long[] longest = {0};
        int[] refused = {0};
        record(path, seconds.equals("forever") ? -1 : Double.parseDouble(seconds), longest, refused, pause);
    }

    static void full(String path) throws Exception {
        long[] longest = {0};
        int[] refused = {0};
        long t0 = System.nanoTime();
        int result = record(path, 3, longest, refused);
        check(result == -1, "stop reports the full disk: " + result);
        check(Mp4Muxer.getStatus() == 0, "not recording after stop");
        check(longest[0] < 500_000_000L, "pushes never wait for the disk: longest " + longest[0] / 1000000 + " ms");
        check(refused[0] > 0, "video pushes after the disk filled return -1");
        check(System.nanoTime() - t0 < 8_000_000_000L, "3 s recording and stop within 8 s");
        long limit = Long.parseLong(System.getenv("DISK_LIMIT_BYTES"));
        check(new File(path).length() <= limit, "the file fits the disk: " + new File(path).length());
        check(!new File(path + ".journal").exists(), "no journal left");
        Map<String, Map<String, String>> s = probe(path);
        System.out.println("kept: video " + duration(s, "h264") + " s, audio " + duration(s, "aac")
                + " s, " + new File(path).length() + " bytes; longest push " + longest[0] / 1000 + " us");
        check(decodeErrors(path).isEmpty(), "decodes cleanly: " + decodeErrors(path));
        check(packets(s, "h264") > 5, "video kept: " + packets(s, "h264"));
        check(packets(s, "aac") > 5, "sound kept: " + packets(s, "aac"));
        check(packets(s, "h264") < 3 * FPS, "video cut where the disk filled");
    }

    static Process spawn(String path, String seconds, String... more) throws Exception {
        List<String> cmd = new ArrayList<>(Arrays.asList(
                Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                "-cp", System.getProperty("java.class.path"),
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "DiskFaults", "child", path, seconds));
        cmd.addAll(Arrays.asList(more));
        return new ProcessBuilder(cmd).redirectError(ProcessBuilder.Redirect.INHERIT).start();
    }

    // Reads the child's progress until `until` says so; returns the last
    // pushed time in ms.
    static long follow(Process p, java.util.function.Predicate<String> until) throws Exception {
        BufferedReader in = new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8));
        long pushed = 0;
        String line;
        while ((line = in.readLine()) != null) {
            if (line.startsWith("pushed ")) pushed = Long.parseLong(line.substring(7));
            if (until.test(line)) break;
        }
        return pushed;
    }

    static void killed(String path) throws Exception {
        Process p = spawn(path, "forever");
        long pushedMs = follow(p, l -> l.equals("pushed 3000"));
        p.destroyForcibly().waitFor();
        check(new File(path + ".journal").exists(), "a journal beside the killed recording");
        byte[] before = Files.readAllBytes(Path.of(path));
        check(Mp4Muxer.recover(path) == 0, "recover");
        check(!new File(path + ".journal").exists(), "no journal after recover");
        Map<String, Map<String, String>> s = probe(path);
        check(decodeErrors(path).isEmpty(), "decodes cleanly: " + decodeErrors(path));
        double video = duration(s, "h264"), audio = duration(s, "aac");
        double pushed = pushedMs / 1000.0;
        System.out.println("killed after " + pushed + " s pushed: video " + video + " s, audio " + audio + " s");
        check(video >= pushed - 1.0 && video <= pushed + 0.1, "video up to at most 1 s before the kill");
        check(audio >= pushed - 1.0 && audio <= pushed + 0.2, "audio up to at most 1 s before the kill");
        check(before.length > 0, "the cut file was there");
        byte[] mended = Files.readAllBytes(Path.of(path));
        check(Mp4Muxer.recover(path) == 0, "recover again");
        check(Arrays.equals(mended, Files.readAllBytes(Path.of(path))), "a complete file is left unchanged");
        check(Mp4Muxer.recover(null) == -1, "recover without a path");
        check(Mp4Muxer.recover(path + ".absent") == -1, "no file at the path: nothing plays");
    }

    // Killed after a pause of 1 s: the recovered file holds what was recorded
    // before and after it, without the pause.
    static void killedAfterPause(String path) throws Exception {
        Process p = spawn(path, "forever", "pause");
        long pushedMs = follow(p, l -> l.equals("pushed 3500"));
        p.destroyForcibly().waitFor();
        check(Mp4Muxer.recover(path) == 0, "recover");
        Map<String, Map<String, String>> s = probe(path);
        check(decodeErrors(path).isEmpty(), "decodes cleanly: " + decodeErrors(path));
        double video = duration(s, "h264"), audio = duration(s, "aac");
        double recorded = pushedMs / 1000.0 - 1.0;  // the pause left out
        System.out.println("killed after a pause, " + recorded + " s recorded: video " + video + " s, audio " + audio + " s");
        check(video >= recorded - 1.0 && video <= recorded + 0.15, "video without the pause, up to at most 1 s before the kill");
        check(audio >= recorded - 1.0 && audio <= recorded + 0.25, "audio without the pause, up to at most 1 s before the kill");
    }

    static void inStop(String path, String tool) throws Exception {
        Process p = spawn(path, "2");
        follow(p, l -> l.equals("stopping"));
        p.destroyForcibly().waitFor();
        Process t = new ProcessBuilder(tool, path).redirectErrorStream(true).start();
        String said = new String(t.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
        check(t.waitFor() == 0, "the tool: " + said);
        System.out.println("tool: " + said);
        check(!new File(path + ".journal").exists(), "no journal after the tool");
        Map<String, Map<String, String>> s = probe(path);
        check(decodeErrors(path).isEmpty(), "decodes cleanly: " + decodeErrors(path));
        double video = duration(s, "h264"), audio = duration(s, "aac");
        System.out.println("killed in stop: video " + video + " s, audio " + audio + " s");
        check(video >= 1.9 - 0.5, "the whole video: " + video);
        check(audio >= 1.9 - 0.5, "the whole sound: " + audio);
    }

    static String run(String... cmd) throws Exception {
        Process p = new ProcessBuilder(cmd).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        p.waitFor();
        return out;
    }

    static String decodeErrors(String path) throws Exception {
        // Frame times come from the wall clock: passthrough keeps them as they are,
        // at the file's own precision.
        return run("ffmpeg", "-nostdin", "-v", "warning", "-xerror", "-i", path, "-fps_mode", "passthrough",
                "-enc_time_base:v", "1:90000", "-f", "null", "-").trim();
    }

    /** codec name -> key -> value. */
    static Map<String, Map<String, String>> probe(String path) throws Exception {
        String text = run("ffprobe", "-v", "error", "-count_packets", "-show_entries",
                "stream=codec_name,nb_read_packets,duration", "-of", "flat", path);
        Map<Integer, Map<String, String>> byIndex = new HashMap<>();
        for (String line : text.split("\n")) {
            String[] kv = line.split("=", 2);
            if (kv.length != 2 || !kv[0].startsWith("streams.stream.")) continue;
            String[] key = kv[0].split("\\.");
            byIndex.computeIfAbsent(Integer.parseInt(key[2]), k -> new HashMap<>())
                    .put(key[3], kv[1].replace("\"", ""));
        }
        Map<String, Map<String, String>> out = new HashMap<>();
        for (Map<String, String> m : byIndex.values()) out.put(m.get("codec_name"), m);
        return out;
    }

    static int packets(Map<String, Map<String, String>> s, String codec) {
        Map<String, String> m = s.get(codec);
        return m == null ? 0 : Integer.parseInt(m.getOrDefault("nb_read_packets", "0"));
    }

    static double duration(Map<String, Map<String, String>> s, String codec) {
        Map<String, String> m = s.get(codec);
        if (m == null) return 0;
        try {
            return Double.parseDouble(m.getOrDefault("duration", "0"));
        } catch (NumberFormatException e) {
            return 0;
        }
    }
}
