// The game's sound for a LumoKast recording: Unity's final mix, taken where
// it leaves the AudioListener, as the 16-bit PCM Mp4Muxer.pushAudio takes.
using System;
using System.Collections.Generic;
using System.Threading;
using UnityEngine;

/// <summary>
/// Put it on the GameObject that holds the AudioListener (OnAudioFilterRead
/// sees the mix there). While <see cref="Begin"/> is in force it turns each
/// block of Unity's float samples (-1..1, interleaved) into signed 16-bit
/// little-endian PCM, at most two channels, and hands it to a thread of its
/// own that is attached to the JVM and calls Mp4Muxer.pushAudio: the audio
/// thread itself never waits for Java. Sample rate and channels for
/// Mp4Muxer.setAudioParameter: <see cref="SampleRate"/>, <see cref="Channels"/>.
/// </summary>
public class LumoKastSound : MonoBehaviour
{
    const string MuxerClass = "cn/lumokast/recorder/Mp4Muxer";
    // About two seconds of 1024-frame blocks; a stalled pusher drops beyond it.
    const int MaxPendingBlocks = 96;

    readonly object gate = new object();
    readonly Queue<byte[]> pending = new Queue<byte[]>();
    bool running;
    Thread pusher;
    IntPtr muxerClass = IntPtr.Zero;
    IntPtr pushAudio = IntPtr.Zero;

    /// <summary>The mix's sample rate, in Hz.</summary>
    public static int SampleRate { get { return AudioSettings.outputSampleRate; } }

    /// <summary>Channels pushed: 1 for a mono mix, else 2 (the front pair).</summary>
    public static int Channels { get { return AudioSettings.speakerMode == AudioSpeakerMode.Mono ? 1 : 2; } }

    /// <summary>Starts pushing; call right after Mp4Muxer.start succeeded.</summary>
    public void Begin()
    {
        if (pusher != null) return;
        if (muxerClass == IntPtr.Zero)
        {
            // Found here, on Unity's main thread: FindClass on a thread attached
            // from native code sees only the system's classes, not the game's.
            IntPtr local = AndroidJNI.FindClass(MuxerClass);
            muxerClass = AndroidJNI.NewGlobalRef(local);
            AndroidJNI.DeleteLocalRef(local);
            pushAudio = AndroidJNI.GetStaticMethodID(muxerClass, "pushAudio", "([BII)V");
        }
        lock (gate)
        {
            pending.Clear();
            running = true;
        }
        pusher = new Thread(Push);
        pusher.Name = "LumoKastSound";
        pusher.Start();
    }

    /// <summary>Stops pushing after what is queued; call before Mp4Muxer.stop.</summary>
    public void End()
    {
        if (pusher == null) return;
        lock (gate)
        {
            running = false;
            Monitor.Pulse(gate);
        }
        pusher.Join();
        pusher = null;
    }

    void OnDestroy()
    {
        End();
        if (muxerClass != IntPtr.Zero) AndroidJNI.DeleteGlobalRef(muxerClass);
        muxerClass = IntPtr.Zero;
    }

    // Unity's audio thread, once per block of the mix.
    void OnAudioFilterRead(float[] data, int channels)
    {
        lock (gate)
        {
            if (!running || pending.Count >= MaxPendingBlocks) return;
        }
        byte[] pcm = ToPcm16(data, channels, Channels);
        lock (gate)
        {
            pending.Enqueue(pcm);
            Monitor.Pulse(gate);
        }
    }

    /// <summary>
    /// Interleaved floats of <paramref name="channels"/> channels as signed
    /// 16-bit little-endian PCM of <paramref name="keep"/> channels (the
    /// first ones), clamped to -1..1 and rounded.
    /// </summary>
    public static byte[] ToPcm16(float[] data, int channels, int keep)
    {
        if (channels < 1) channels = 1;
        if (keep > channels) keep = channels;
        int frames = data.Length / channels;
        byte[] pcm = new byte[frames * keep * 2];
        int at = 0;
        for (int f = 0; f < frames; f++)
        {
            for (int c = 0; c < keep; c++)
            {
                float v = data[f * channels + c];
                if (v > 1f) v = 1f;
                if (v < -1f) v = -1f;
                int s = (int)Math.Round(v * 32767f);
                pcm[at++] = (byte)(s & 0xFF);
                pcm[at++] = (byte)((s >> 8) & 0xFF);
            }
        }
        return pcm;
    }

    // The pushing thread: attached to the JVM for its whole life.
    void Push()
    {
        AndroidJNI.AttachCurrentThread();
        try
        {
            while (true)
            {
                byte[] pcm;
                lock (gate)
                {
                    while (running && pending.Count == 0) Monitor.Wait(gate);
                    if (pending.Count == 0) return;
                    pcm = pending.Dequeue();
                }
                IntPtr array = AndroidJNI.ToByteArray(pcm);
                jvalue[] args = new jvalue[3];
                args[0].l = array;
                args[1].i = 0;
                args[2].i = pcm.Length;
                AndroidJNI.CallStaticVoidMethod(muxerClass, pushAudio, args);
                AndroidJNI.DeleteLocalRef(array);
                if (AndroidJNI.ExceptionOccurred() != IntPtr.Zero) AndroidJNI.ExceptionClear();
            }
        }
        finally
        {
            AndroidJNI.DetachCurrentThread();
        }
    }
}
