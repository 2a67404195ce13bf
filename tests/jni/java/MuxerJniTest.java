import cn.lumokast.recorder.Mp4Muxer;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Drives the Mp4Muxer natives from a real JVM, one scenario per process (the
 * facade lives once per process). Log lines are read back from the file
 * named by LUMOKAST_LOG_FILE. Exit status 0 means the scenario passed.
 */
public final class MuxerJniTest {
    private static int failures = 0;

    public static void main(String[] args) throws Exception {
        String scenario = args[0];
        Files.deleteIfExists(Path.of(System.getenv("LUMOKAST_LOG_FILE")));
        switch (scenario) {
            case "level13": level13(); break;
            case "blacklisted": blacklisted(); break;
            case "accepted": accepted(); break;
            case "level22": libraryFor("libvencora_21.so", true); break;
            case "level19": libraryFor("libvencora_19.so", false); break;
            case "level20": noLibrary(); break;
            case "level24": noLibrary(); break;
            case "longPackage": longPackage(); break;
            case "recording": recording(); break;
            case "refusals": refusals(); break;
            default: throw new IllegalArgumentException(scenario);
        }
        if (failures > 0) {
            System.err.println(scenario + ": " + failures + " check(s) failed");
            System.exit(1);
        }
        System.out.println(scenario + ": passed");
    }

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.err.println("FAILED: " + what);
        }
    }

    private static void expect(int want, int got, String what) {
        check(want == got, what + ": want " + want + ", got " + got);
    }

    private static List<String> log() throws Exception {
        Path path = Path.of(System.getenv("LUMOKAST_LOG_FILE"));
        return Files.exists(path) ? Files.readAllLines(path, java.nio.charset.StandardCharsets.ISO_8859_1)
                                  : new ArrayList<>();
    }

    /** Lines that contain {@code text}, with tag {@code tag}. */
    private static int count(String tag, String text) throws Exception {
        int n = 0;
        for (String line : log()) {
            if (line.contains(" " + tag + ": ") && line.contains(text)) n++;
        }
        return n;
    }

    private static void expectLine(String tag, String text) throws Exception {
        check(count(tag, text) > 0, "log line [" + tag + "] " + text);
    }

    private static void level13() throws Exception {
        expect(0, Mp4Muxer.init("cn.lumokast.game"), "init");
        expect(0, Mp4Muxer.isAvailable(), "isAvailable on level 13");
        expect(0, Mp4Muxer.setVideoParameter(320, 240, 30, 1000000, 1, 0), "video parameters");
        Mp4Muxer.start("/tmp/never.mp4");
        expect(0, Mp4Muxer.getStatus(), "status after a refused start");
        expectLine("qor_icodec", "sdk version is 13.");
        expectLine("qor_icodec", "start(/tmp/never.mp4) avilable ? no init ? no.");
        check(count("qor_icodec", "open_symbol.") == 0, "no binding attempt at level 13");
    }

    private static void blacklisted() throws Exception {
        expect(0, Mp4Muxer.init(null), "init");
        expect(0, Mp4Muxer.isAvailable(), "blacklisted model");
        expect(0, Mp4Muxer.isAvailable(), "blacklisted model, asked again");
        check(count("qor_icodec", "isSupported") == 0, "no supported line for a refused model");
    }

    private static void accepted() throws Exception {
        expect(0, Mp4Muxer.init(null), "init");
        expect(0, Mp4Muxer.init(null), "init twice");
        expect(1, Mp4Muxer.isAvailable(), "model shorter than a list entry");
        expect(1, Mp4Muxer.isAvailable(), "asked again");
        expect(1, count("qor_icodec", "product model HTC T52 isSupported ? yes."), "supported line once");
        expect(1, count("qor_icodec", "sdk version is"), "one facade");
    }

    private static void libraryFor(String file, boolean loads) throws Exception {
        expect(0, Mp4Muxer.init(null), "init");
        expectLine("qor_icodec", "using <" + file + "> lib.");
        expectLine("qor_icodec", "dlopen lib is <" + file + ">.");
        if (loads) {
            expectLine("qor_icodec", "symbol is <pushAudioBuffer>.");
            expect(1, Mp4Muxer.isAvailable(), "bound library");
        } else {
            check(count("qor_icodec", "dlopen handle") == 0, "nothing bound");
            expectLine("qor_icodec", file + ": cannot open shared object file");
            expect(0, Mp4Muxer.isAvailable(), "unbound library");
        }
    }

    private static void noLibrary() throws Exception {
        expect(0, Mp4Muxer.init(null), "init");
        expectLine("qor_icodec", "open_symbol.");
        check(count("qor_icodec", "using <") == 0, "no library for this level");
        expect(0, Mp4Muxer.isAvailable(), "isAvailable");
    }

    private static void longPackage() throws Exception {
        String name = "x".repeat(300);
        expect(0, Mp4Muxer.init(name), "init");
        expectLine("qor_icodec", "package name too long for the library path");
        check(count("qor_icodec", "using <") == 0, "nothing bound");
        expect(0, Mp4Muxer.isAvailable(), "isAvailable");
    }

    /** A recording into the spy recorder (fake encoders and writer). */
    private static void recording() throws Exception {
        final int w = 64, h = 32;
        expect(0, Mp4Muxer.init(null), "init");
        expect(1, Mp4Muxer.isAvailable(), "isAvailable");
        expect(0, Mp4Muxer.stop(), "stop without a recording");
        expectLine("qor_icodec", "stop(Receied video/audio 0/0).");
        Mp4Muxer.start("/tmp/jni.mp4");
        expect(0, Mp4Muxer.getStatus(), "start without parameters");
        expectLine("qor_icodec", "Please call (video_parameters && audio_parameters), before start.");

        expect(0, Mp4Muxer.setVideoParameter(w, h, 30, 1000000, 1, 0), "video parameters");
        expect(0, Mp4Muxer.setAudioParameter(44100, 2, 64000), "audio parameters");
        Mp4Muxer.start("/tmp/jni.mp4");
        expect(1, Mp4Muxer.getStatus(), "recording");
        expect(-1, Mp4Muxer.setVideoParameter(w, h, 30, 1000000, 1, 0), "parameters while recording");
        expectLine("qor_icodec", "video parameters width 64 height 32 frameRate 30 bitRate 1000000 isinvert ? no status ? start.");

        ByteBuffer frame = ByteBuffer.allocateDirect(w * h * 2);
        for (int i = 0; i < 4; i++) {
            expect(0, Mp4Muxer.pushVideo(frame, w * h * 2, 0), "pushVideo " + i);
        }
        Mp4Muxer.pushAudio(new byte[20000], 0, 20000);
        expect(0, Mp4Muxer.pause(1), "first pause");
        expect(-1, Mp4Muxer.pause(0), "second pause");
        expect(1, Mp4Muxer.getStatus(), "paused recording still reports 1");
        expect(-1, Mp4Muxer.pushVideo(frame, w * h * 2, 0), "pushVideo while paused");
        expect(0, Mp4Muxer.resume(0), "resume");
        expect(-1, Mp4Muxer.resume(0), "second resume");
        expectLine("qor_icodec", "resume, nothing paused to resume.");
        expect(0, Mp4Muxer.pushVideo(frame, w * h * 2, 0), "pushVideo after resume");
        expect(0, Mp4Muxer.stop(), "stop");
        expect(-1, Mp4Muxer.resume(0), "resume after stop");
        expectLine("qor_icodec", "stop(Receied video/audio 6/3).");
        expect(0, Mp4Muxer.getStatus(), "stopped");

        List<String> audio = new ArrayList<>();
        int videoReads = 0;
        for (String line : log()) {
            if (line.contains("spy audio/mp4a-latm read size ")) audio.add(line);
            if (line.contains("spy video/avc read size ")) videoReads++;
        }
        // The sound started after the first frame: at most one buffer of
        // silence up to its time, then the three blocks.
        check(audio.size() == 3 || audio.size() == 4, "three audio blocks read, got " + audio.size());
        if (audio.size() >= 3) {
            final int first = audio.size() - 3;
            check(audio.get(first).contains("read size 8192 "), "first block 8192");
            check(audio.get(first + 1).contains("read size 8192 "), "second block 8192");
            check(audio.get(first + 2).contains("read size 3616 "), "third block 3616");
        }
        // The first frame is counted and dropped, the one pushed while paused
        // refused; every other one is recorded.
        check(videoReads == 4, "frames read by the encoder: " + videoReads);
    }

    private static void refusals() throws Exception {
        final int w = 32, h = 16;
        expect(0, Mp4Muxer.init(null), "init");
        expect(-1, Mp4Muxer.setVideoParameter(w, h, 30, 0, 1, 0), "zero bit rate");
        expect(-1, Mp4Muxer.setAudioParameter(0, 2, 64000), "zero sample rate");
        expect(0, Mp4Muxer.setVideoParameter(w, h, 30, 1000000, 1, 1), "invert accepted");
        expect(0, Mp4Muxer.setAudioParameter(8000, 1, 16000), "audio");
        expect(-1, Mp4Muxer.pushVideo(ByteBuffer.allocateDirect(w * h * 2), w * h * 2, 0), "push before start");
        Mp4Muxer.start("/tmp/jni_refusals.mp4");
        expect(1, Mp4Muxer.getStatus(), "recording");
        expect(-1, Mp4Muxer.pushVideo(ByteBuffer.allocate(w * h * 2), w * h * 2, 0), "heap buffer");
        expectLine("qor_icodec", "pushVideoBuffer, the frame is not a direct buffer.");
        expect(-1, Mp4Muxer.pushVideo(ByteBuffer.allocateDirect(w * h * 2 - 1), w * h * 2, 0), "small buffer");
        expect(-1, Mp4Muxer.pushVideo(ByteBuffer.allocateDirect(w * h * 2), w * h, 0), "short length");
        expect(-1, Mp4Muxer.pushVideo(null, w * h * 2, 0), "null buffer");
        Mp4Muxer.pushAudio(null, 0, 10);
        Mp4Muxer.pushAudio(new byte[10], -1, 5);
        Mp4Muxer.pushAudio(new byte[10], 6, 5);
        Mp4Muxer.pushAudio(new byte[10], 0, -2);
        expect(4, count("qor_icodec", "pushAudioBuffer, "), "audio refusals logged");
        expect(0, Mp4Muxer.stop(), "stop");
        expectLine("qor_icodec", "stop(Receied video/audio 0/0).");
    }
}
