package cn.lumokast.demo;

/**
 * The demo's music, synthesised on the fly as 16-bit little-endian PCM: a
 * four-chord loop (C, G, Am, F, one bar of two seconds each) with a bass
 * note, a soft pad and an arpeggio at 120 beats a minute, the arpeggio
 * moving between the left and right channel.
 */
final class Soundtrack {
    private static final int[][] CHORDS = {
        {60, 64, 67}, // C
        {55, 59, 62}, // G
        {57, 60, 64}, // Am
        {53, 57, 60}, // F
    };
    private static final double BAR_SECONDS = 2.0;
    private static final double STEP_SECONDS = 0.25; // arpeggio eighths
    private static final double FADE_SECONDS = 0.3;

    private final int rate;
    private final int channels;
    private final long totalSamples;

    Soundtrack(int rate, int channels, long totalSamples) {
        this.rate = rate;
        this.channels = channels;
        this.totalSamples = totalSamples;
    }

    static double frequency(int midiNote) {
        return 440.0 * Math.pow(2.0, (midiNote - 69) / 12.0);
    }

    /** Fills {@code pcm} with {@code samples} frames starting at sample {@code first}. */
    void fill(byte[] pcm, long first, int samples) {
        for (int i = 0; i < samples; i++) {
            long n = first + i;
            double t = (double) n / rate;
            int[] chord = CHORDS[(int) (t / BAR_SECONDS) % CHORDS.length];

            double bass = 0.30 * Math.sin(2 * Math.PI * frequency(chord[0] - 24) * t)
                    * (0.6 + 0.4 * Math.exp(-3.0 * (t % BAR_SECONDS)));
            double pad = 0;
            for (int note : chord) pad += Math.sin(2 * Math.PI * frequency(note) * t);
            pad *= 0.06;

            int step = (int) (t / STEP_SECONDS);
            double inStep = t - step * STEP_SECONDS;
            int note = chord[step % chord.length] + (step % 8 >= 4 ? 12 : 0);
            double f = frequency(note + 12);
            double pluck = 0.28 * Math.exp(-9.0 * inStep)
                    * (Math.sin(2 * Math.PI * f * t) + 0.3 * Math.sin(4 * Math.PI * f * t));
            double pan = (step % 2 == 0) ? 0.3 : 0.7; // 0 left .. 1 right

            double gain = envelope(n);
            double left = gain * (bass + pad + pluck * (1 - pan) * 1.4);
            double right = gain * (bass + pad + pluck * pan * 1.4);
            for (int c = 0; c < channels; c++) {
                double v = channels == 1 ? (left + right) / 2 : (c % 2 == 0 ? left : right);
                int s = (int) Math.round(Math.max(-1.0, Math.min(1.0, v)) * 32767 * 0.8);
                int at = (i * channels + c) * 2;
                pcm[at] = (byte) s;
                pcm[at + 1] = (byte) (s >> 8);
            }
        }
    }

    /** A short fade in and out, so that the file neither starts nor ends with a click. */
    private double envelope(long n) {
        double fade = FADE_SECONDS * rate;
        double in = Math.min(1.0, n / (0.05 * rate));
        double out = Math.min(1.0, (totalSamples - n) / fade);
        return Math.max(0.0, Math.min(in, out));
    }
}
