// The natives of cn.lumokast.recorder.Mp4Muxer: each unwraps its arguments,
// refuses what is invalid and calls the facade function of the same meaning.
#define LOG_TAG "qor_icodec"
#include <jni.h>

#include <utils/Log.h>

#include "icodec/IcodecInterface.h"
#include "icodec/Recovery.h"

extern "C" {

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_init(JNIEnv* env, jobject,
                                                               jstring packageName) {
    const char* name = packageName ? env->GetStringUTFChars(packageName, nullptr) : nullptr;
    jint result = qor::init(name);
    if (name != nullptr) env->ReleaseStringUTFChars(packageName, name);
    return result;
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_isAvailable(JNIEnv*, jobject) {
    return qor::isAvailable();
}

JNIEXPORT void JNICALL Java_cn_lumokast_recorder_Mp4Muxer_start(JNIEnv* env, jobject,
                                                                jstring path) {
    if (path == nullptr) {
        ALOGE("start, no file path.");
        return;
    }
    const char* chars = env->GetStringUTFChars(path, nullptr);
    if (chars == nullptr) return;
    qor::start(chars);
    env->ReleaseStringUTFChars(path, chars);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_stop(JNIEnv*, jobject) {
    return qor::stop();
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_pause(JNIEnv*, jobject, jint value) {
    return qor::pause(value);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_resume(JNIEnv*, jobject, jint value) {
    return qor::resume(value);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_getStatus(JNIEnv*, jobject) {
    return qor::status();
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_setVideoParameter(
    JNIEnv*, jobject, jint width, jint height, jint frameRate, jint bitRate, jint iFrameInterval,
    jint invert) {
    return qor::setVideoParameter(width, height, frameRate, bitRate, iFrameInterval, invert);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_setAudioParameter(JNIEnv*, jobject,
                                                                            jint sampleRate,
                                                                            jint channels,
                                                                            jint bitRate) {
    return qor::setAudioParameter(sampleRate, channels, bitRate);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_pushVideo(JNIEnv* env, jobject,
                                                                    jobject frame, jint length,
                                                                    jint unused) {
    const uint8_t* address = nullptr;
    jlong capacity = 0;
    if (frame != nullptr) {
        address = static_cast<const uint8_t*>(env->GetDirectBufferAddress(frame));
        capacity = env->GetDirectBufferCapacity(frame);
    }
    if (address == nullptr || capacity < 0) {
        // Not a direct buffer: nothing can be read from it.
        ALOGE("pushVideoBuffer, the frame is not a direct buffer.");
        return -1;
    }
    return qor::pushVideoBuffer(address, capacity, length, unused);
}

JNIEXPORT void JNICALL Java_cn_lumokast_recorder_Mp4Muxer_pushAudio(JNIEnv* env, jobject,
                                                                    jbyteArray data, jint offset,
                                                                    jint length) {
    if (data == nullptr) {
        ALOGE("pushAudioBuffer, no data.");
        return;
    }
    const jsize size = env->GetArrayLength(data);
    if (offset < 0 || length < 0 || (jlong)offset + length > size) {
        ALOGE("pushAudioBuffer, invalid range offset %d length %d of %d bytes.", offset, length,
              size);
        return;
    }
    jbyte* elements = env->GetByteArrayElements(data, nullptr);
    if (elements == nullptr) return;
    qor::pushAudioBuffer(reinterpret_cast<const uint8_t*>(elements), offset, length);
    env->ReleaseByteArrayElements(data, elements, 0);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_recorder_Mp4Muxer_recover(JNIEnv* env, jclass,
                                                                  jstring path) {
    if (path == nullptr) {
        ALOGE("recover, no file path.");
        return -1;
    }
    const char* chars = env->GetStringUTFChars(path, nullptr);
    if (chars == nullptr) return -1;
    jint result = lumokast_recover(chars);
    env->ReleaseStringUTFChars(path, chars);
    return result;
}

}  // extern "C"

// The facade goes with the library.
__attribute__((destructor)) static void unloadFacade() { qor::destroyFacade(); }
