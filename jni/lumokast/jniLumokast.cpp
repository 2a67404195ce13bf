// JNI surface of LumoKastNative: the load hook registers the 24 natives.
#include <stdarg.h>
#include <stdio.h>

#include <jni.h>

#include "lumokast_egl.h"
#include "lumokast_gles.h"
#include "lumokast_glesoes.h"
#include "lumokast_log.h"

namespace {

const char kClassName[] = "cn/lumokast/recorder/LumoKastNative";

// JNINativeMethod takes non-const strings in some JDKs.
#define METHOD(name, signature, function) \
    { const_cast<char*>(name), const_cast<char*>(signature), reinterpret_cast<void*>(function) }

const JNINativeMethod kMethods[] = {
    METHOD("initCapturer", "(IIIZ)V", nativeInitCapturer),
    METHOD("reBindGraphicBuffer", "()V", nativeReBindGraphicBuffer),
    METHOD("captureFrame", "(IIIZLjava/nio/Buffer;)V", nativeCaptureFrame),
    METHOD("captureFrameByfbo", "(IZLjava/nio/Buffer;)V", nativeCaptureFrameByfbo),
    METHOD("stopCapturer", "()V", nativeStopCapturer),
    METHOD("readPixels", "(III)V", nativeReadPixels),
    METHOD("prepareFbo", "(IIFF)I", nativePrepareFbo),
    METHOD("bineFbo", "(I)V", nativeBineFbo),
    METHOD("unbineFbo", "(II)V", nativeUnbineFbo),
    METHOD("deleteFbo", "(I)V", nativeDeleteFbo),
    METHOD("deleteAllFbo", "()V", nativeDeleteAllFbo),
    METHOD("getTextureByFbo", "(I)I", nativeGetTextureByFbo),
    METHOD("setScreenFbo", "(I)V", nativeSetScreenFbo),
    METHOD("setScreenRbo", "(I)V", nativeSetScreenRbo),
    METHOD("prepareFboOES", "(IIFF)I", nativePrepareFboOES),
    METHOD("bineFboOES", "(I)V", nativeBineFboOES),
    METHOD("unbineFboOES", "(II)V", nativeUnbineFboOES),
    METHOD("deleteFboOES", "(I)V", nativeDeleteFboOES),
    METHOD("deleteAllFboOES", "()V", nativeDeleteAllFboOES),
    METHOD("getTextureByFboOES", "(I)I", nativeGetTextureByFboOES),
    METHOD("setScreenFboOES", "(I)V", nativeSetScreenFboOES),
    METHOD("setScreenRboOES", "(I)V", nativeSetScreenRboOES),
    METHOD("captureFrameByfboOES", "(IZLjava/nio/Buffer;)V", nativeCaptureFrameByfboOES),
    METHOD("drawTexture", "(II)V", nativeDrawTexture),
};
static_assert(sizeof(kMethods) / sizeof(kMethods[0]) == 24, "LumoKastNative has 24 natives");

bool jniRegisterNativeMethods(JNIEnv* env) {
    jclass clazz = env->FindClass(kClassName);
    if (clazz == nullptr) {
        LKLOGD("%s not found!", kClassName);
        return false;
    }
    if (env->RegisterNatives(clazz, kMethods, sizeof(kMethods) / sizeof(kMethods[0])) < 0) {
        LKLOGD("RegisterNatives failed: %s", kClassName);
        env->DeleteLocalRef(clazz);
        return false;
    }
    env->DeleteLocalRef(clazz);
    LKLOGD("Succeed to register %s.", kClassName);
    return true;
}

}  // namespace

void lumokastLog(int prio, const char* file, const char* function, int line, const char* fmt, ...) {
    char tag[1024];
    snprintf(tag, sizeof(tag), "<LumoKAST_native> %s: %s(%d)", file, function, line);
    va_list ap;
    va_start(ap, fmt);
    __android_log_vprint(prio, tag, fmt, ap);
    va_end(ap);
}

namespace {

// The java.nio buffer classes wider than a byte, by element size.
struct WideBufferClass {
    const char* name;
    int bytes;
    jclass global;
};

WideBufferClass* wideBufferClasses(JNIEnv* env) {
    static WideBufferClass classes[] = {{"java/nio/ShortBuffer", 2, nullptr},
                                        {"java/nio/CharBuffer", 2, nullptr},
                                        {"java/nio/IntBuffer", 4, nullptr},
                                        {"java/nio/FloatBuffer", 4, nullptr},
                                        {"java/nio/LongBuffer", 8, nullptr},
                                        {"java/nio/DoubleBuffer", 8, nullptr},
                                        {nullptr, 0, nullptr}};
    static const bool loaded = [env] {
        for (WideBufferClass* c = classes; c->name; ++c) {
            jclass local = env->FindClass(c->name);
            if (local == nullptr) {
                env->ExceptionClear();
                continue;
            }
            c->global = static_cast<jclass>(env->NewGlobalRef(local));
            env->DeleteLocalRef(local);
        }
        return true;
    }();
    (void)loaded;
    return classes;
}

// Bytes per element of a direct buffer (its capacity counts elements).
int elementBytes(JNIEnv* env, jobject buffer) {
    for (WideBufferClass* c = wideBufferClasses(env); c->name; ++c)
        if (c->global && env->IsInstanceOf(buffer, c->global)) return c->bytes;
    return 1;
}

}  // namespace

DirectBuffer directBufferOf(JNIEnv* env, jobject buffer) {
    DirectBuffer result = {nullptr, 0};
    if (env == nullptr || buffer == nullptr) return result;
    result.address = env->GetDirectBufferAddress(buffer);
    if (result.address == nullptr) return result;
    result.capacity = env->GetDirectBufferCapacity(buffer) * elementBytes(env, buffer);
    return result;
}

bool directBufferFits(const DirectBuffer& buffer, int64_t bytes) {
    if (buffer.capacity >= bytes) return true;
    LKLOGD("buffer too small: %lld bytes for a frame of %lld", (long long)buffer.capacity,
           (long long)bytes);
    return false;
}

extern "C" LUMOKAST_EXPORT jint JNI_OnLoad(JavaVM* vm, void*) {
    JNIEnv* env = nullptr;
    jint version = JNI_VERSION_1_4;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) != JNI_OK) {
        version = JNI_VERSION_1_6;
        if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
            LKLOGE("ERROR: GetEnv failed\n");
            return -1;
        }
    }
    if (!jniRegisterNativeMethods(env)) {
        LKLOGE("ERROR: jniRegisterNativeMethods native registration failed");
        return -1;
    }
    return version;
}
