// Records what a camera draws, with the game's sound, through the LumoKast
// kit: libLumoKastUnity binds the capture FBO on Unity's render thread, the
// Java classes LumoKastNative and Mp4Muxer do the rest.
using System;
using System.Runtime.InteropServices;
using UnityEngine;

/// <summary>
/// Put it on the camera that draws last (built-in render pipeline: it uses
/// OnPreRender and OnPostRender). Each frame the camera draws into the
/// capture FBO, which is then drawn back on Unity's screen and, while
/// recording, read back and pushed to Mp4Muxer. The LumoKastNative calls
/// need the GL context on this thread: turn "Multithreaded Rendering" off
/// in the Android player settings. Set <see cref="sound"/> to record the
/// mix too.
/// </summary>
[RequireComponent(typeof(Camera))]
public class LumoKastCapture : MonoBehaviour
{
    [DllImport("LumoKastUnity")] static extern IntPtr GetRenderEventFunc();
    [DllImport("LumoKastUnity")] static extern void setFBOInfo(int fbo);
    [DllImport("LumoKastUnity")] static extern int getScreenFbo();

    // The plug-in's event: remember Unity's framebuffer, bind the stored FBO.
    const int BindFboEvent = 9898;

    public int frameRate = 30;
    public int bitRate = 4000000;
    public int audioBitRate = 128000;
    public LumoKastSound sound;

    AndroidJavaClass capture;
    AndroidJavaClass muxer;
    AndroidJavaObject frame;
    IntPtr renderEvent = IntPtr.Zero;
    int fbo = -1;
    int width;
    int height;
    bool recording;

    public bool IsRecording { get { return recording; } }

    void Awake()
    {
        capture = new AndroidJavaClass("cn.lumokast.recorder.LumoKastNative");
        muxer = new AndroidJavaClass("cn.lumokast.recorder.Mp4Muxer");
        muxer.CallStatic<int>("init", Application.identifier);
        renderEvent = GetRenderEventFunc();
    }

    /// <summary>Whether this device can record (an encoder library for its level, both encoders).</summary>
    public bool CanRecord()
    {
        return muxer.CallStatic<int>("isAvailable") == 1;
    }

    /// <summary>Starts recording into <paramref name="path"/>; false when it could not start.</summary>
    public bool StartRecording(string path)
    {
        if (recording || fbo < 0 || !CanRecord()) return false;
        muxer.CallStatic<int>("setVideoParameter", width, height, frameRate, bitRate, 1, 1);
        if (sound != null)
        {
            muxer.CallStatic<int>("setAudioParameter", LumoKastSound.SampleRate, LumoKastSound.Channels,
                                  audioBitRate);
        }
        muxer.CallStatic("start", path);
        recording = muxer.CallStatic<int>("getStatus") == 1;
        if (recording && sound != null) sound.Begin();
        return recording;
    }

    /// <summary>Ends the recording: 0 when the file is complete (Mp4Muxer.stop).</summary>
    public int StopRecording()
    {
        if (!recording) return 0;
        recording = false;
        if (sound != null) sound.End();
        return muxer.CallStatic<int>("stop");
    }

    /// <summary>A pause menu: the file leaves out the time until <see cref="Resume"/>.</summary>
    public int Pause()
    {
        return recording ? muxer.CallStatic<int>("pause", 0) : -1;
    }

    public int Resume()
    {
        if (!recording) return -1;
        int result = muxer.CallStatic<int>("resume", 0);
        // -1 also when the recording ended during the pause.
        if (result != 0 && muxer.CallStatic<int>("getStatus") != 1) StopRecording();
        return result;
    }

    void OnPreRender()
    {
        if (fbo >= 0 && !recording && (Screen.width & ~1) != width) ForgetFbo();
        if (fbo < 0) MakeFbo();
        if (fbo < 0) return;
        setFBOInfo(fbo);
        GL.IssuePluginEvent(renderEvent, BindFboEvent);
    }

    void OnPostRender()
    {
        if (fbo < 0) return;
        int screen = getScreenFbo();  // the event has run: Unity's framebuffer
        capture.CallStatic("setScreenFbo", screen);
        capture.CallStatic("unbineFbo", fbo, screen);
        if (!recording) return;
        capture.CallStatic("readPixels", width, height, fbo);
        capture.CallStatic("captureFrameByfbo", fbo, false, frame);
        muxer.CallStatic<int>("pushVideo", frame, width * height * 2, 0);
    }

    // Leaving the app ends the recording (its file is complete); Unity may
    // come back with a new GL context, where the FBO is made anew.
    void OnApplicationPause(bool paused)
    {
        if (!paused) return;
        StopRecording();
        ForgetFbo();
    }

    void OnDestroy()
    {
        StopRecording();
        ForgetFbo();
    }

    void MakeFbo()
    {
        width = Screen.width & ~1;  // odd sizes are refused
        height = Screen.height & ~1;
        fbo = capture.CallStatic<int>("prepareFbo", width, height, 1f, 1f);
        if (fbo < 0) return;
        using (AndroidJavaClass buffers = new AndroidJavaClass("java.nio.ByteBuffer"))
        using (AndroidJavaClass order = new AndroidJavaClass("java.nio.ByteOrder"))
        using (AndroidJavaObject direct = buffers.CallStatic<AndroidJavaObject>("allocateDirect", width * height * 2))
        using (AndroidJavaObject native = order.CallStatic<AndroidJavaObject>("nativeOrder"))
        {
            frame = direct.Call<AndroidJavaObject>("order", native);
        }
        // Priming: the pixel-pack buffer (GLES 3) or the GraphicBuffer (GLES 2).
        capture.CallStatic("readPixels", width, height, fbo);
        capture.CallStatic("captureFrameByfbo", fbo, false, frame);
    }

    // deleteAllFbo leaves names alone that a lost context gave back to Unity.
    void ForgetFbo()
    {
        if (fbo < 0) return;
        capture.CallStatic("deleteAllFbo");
        capture.CallStatic("stopCapturer");
        fbo = -1;
        if (frame != null) frame.Dispose();
        frame = null;
    }
}
