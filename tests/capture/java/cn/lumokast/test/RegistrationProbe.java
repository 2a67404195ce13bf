package cn.lumokast.test;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;

/**
 * Loads liblumokastcore and checks the outcome of its registration against
 * the log file named by LUMOKAST_LOG_FILE. Argument: "registered" (the real
 * class), "refused" (a class that lacks a method or has another signature)
 * or "noclass" (no LumoKastNative on the class path).
 */
public final class RegistrationProbe {
    private static final String CLASS = "cn/lumokast/recorder/LumoKastNative";

    public static void main(String[] args) throws Exception {
        String expect = args[0];
        Path log = Paths.get(System.getenv("LUMOKAST_LOG_FILE"));
        Files.deleteIfExists(log);
        Throwable failure = null;
        try {
            if (expect.equals("noclass")) {
                System.loadLibrary("lumokastcore");
            } else {
                Class.forName("cn.lumokast.recorder.LumoKastNative");
            }
        } catch (Throwable t) {
            failure = t;
        }
        List<String> lines = Files.exists(log) ? Files.readAllLines(log) : List.of();
        boolean ok;
        switch (expect) {
            case "registered":
                ok = failure == null && has(lines, " D ", "Succeed to register " + CLASS + ".")
                        && lines.size() == 1;
                break;
            case "refused":
                ok = failure != null && has(lines, " D ", "RegisterNatives failed: " + CLASS)
                        && has(lines, " E ", "ERROR: jniRegisterNativeMethods native registration failed");
                break;
            case "noclass":
                ok = failure != null && has(lines, " D ", CLASS + " not found!")
                        && has(lines, " E ", "ERROR: jniRegisterNativeMethods native registration failed");
                break;
            default:
                ok = false;
        }
        System.out.println("load outcome: " + (failure == null ? "loaded" : failure));
        for (String line : lines) System.out.println("log: " + line);
        System.out.println(ok ? "PASS" : "FAIL");
        System.exit(ok ? 0 : 1);
    }

    private static boolean has(List<String> lines, String level, String text) {
        for (String line : lines) {
            if (line.contains(level) && line.contains("<LumoKAST_native> jni/lumokast/jniLumokast.cpp: ")
                    && line.endsWith(text)) {
                return true;
            }
        }
        return false;
    }
}
