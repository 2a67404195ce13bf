// A stand-in for the few UnityEngine types the kit's C# files use, with the
// signatures Unity documents, so that mcs checks those files without Unity.
// Nothing here runs.
using System;

namespace UnityEngine
{
    public class Object { }
    public class Component : Object { }
    public class Behaviour : Component { }
    public class MonoBehaviour : Behaviour { }
    public class Camera : Behaviour { }

    [AttributeUsage(AttributeTargets.Class, AllowMultiple = true)]
    public sealed class RequireComponent : Attribute
    {
        public RequireComponent(Type requiredComponent) { }
    }

    public static class GL
    {
        public static void IssuePluginEvent(IntPtr callback, int eventID) { }
    }

    public static class Screen
    {
        public static int width { get { return 0; } }
        public static int height { get { return 0; } }
    }

    public static class Application
    {
        public static string identifier { get { return ""; } }
    }

    public enum AudioSpeakerMode { Raw, Mono, Stereo, Quad, Surround, Mode5point1, Mode7point1, Prologic }

    public static class AudioSettings
    {
        public static int outputSampleRate { get { return 0; } }
        public static AudioSpeakerMode speakerMode { get { return AudioSpeakerMode.Stereo; } }
    }

    public class AndroidJavaObject : IDisposable
    {
        public AndroidJavaObject(string className, params object[] args) { }
        public void Dispose() { }
        public void Call(string methodName, params object[] args) { }
        public ReturnType Call<ReturnType>(string methodName, params object[] args) { return default(ReturnType); }
        public void CallStatic(string methodName, params object[] args) { }
        public ReturnType CallStatic<ReturnType>(string methodName, params object[] args) { return default(ReturnType); }
    }

    public class AndroidJavaClass : AndroidJavaObject
    {
        public AndroidJavaClass(string className) : base(className) { }
    }

    public struct jvalue
    {
        public bool z;
        public byte b;
        public char c;
        public short s;
        public int i;
        public long j;
        public float f;
        public double d;
        public IntPtr l;
    }

    public static class AndroidJNI
    {
        public static int AttachCurrentThread() { return 0; }
        public static int DetachCurrentThread() { return 0; }
        public static IntPtr FindClass(string name) { return IntPtr.Zero; }
        public static IntPtr NewGlobalRef(IntPtr obj) { return obj; }
        public static void DeleteGlobalRef(IntPtr obj) { }
        public static void DeleteLocalRef(IntPtr obj) { }
        public static IntPtr GetStaticMethodID(IntPtr clazz, string name, string sig) { return IntPtr.Zero; }
        public static IntPtr ToByteArray(byte[] array) { return IntPtr.Zero; }
        public static void CallStaticVoidMethod(IntPtr clazz, IntPtr methodID, jvalue[] args) { }
        public static IntPtr ExceptionOccurred() { return IntPtr.Zero; }
        public static void ExceptionClear() { }
    }
}
