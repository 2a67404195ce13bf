// JNI side of cn.lumokast.test.GlHelper (test only).
#include <jni.h>

#include <GLES2/gl2.h>

#include "headless_gl.h"

using namespace qor::test;

namespace {
HeadlessGl gGl;
}

extern "C" {

JNIEXPORT jboolean JNICALL Java_cn_lumokast_test_GlHelper_makeCurrent(JNIEnv*, jclass, jint version) {
    return gGl.create(version) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jstring JNICALL Java_cn_lumokast_test_GlHelper_glVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF(gGl.version().c_str());
}

JNIEXPORT jint JNICALL Java_cn_lumokast_test_GlHelper_makeScreenFbo(JNIEnv*, jclass, jint w, jint h) {
    return (jint)makeScreenFbo(gGl.clientVersion(), w, h);
}

JNIEXPORT void JNICALL Java_cn_lumokast_test_GlHelper_bindFramebuffer(JNIEnv*, jclass, jint fbo) {
    bindFramebuffer(gGl.clientVersion(), fbo);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_test_GlHelper_framebufferBinding(JNIEnv*, jclass) {
    return (jint)framebufferBinding(gGl.clientVersion());
}

JNIEXPORT void JNICALL Java_cn_lumokast_test_GlHelper_drawPicture(JNIEnv*, jclass, jint w, jint h) {
    glViewport(0, 0, w, h);
    drawPicture(w, h);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_test_GlHelper_screenMismatches(JNIEnv*, jclass, jint w, jint h,
                                                                       jboolean transposed) {
    std::vector<uint16_t> pixels = readFramebuffer565(w, h);
    return countMismatches(pixels.data(), w, h, transposed);
}

JNIEXPORT jint JNICALL Java_cn_lumokast_test_GlHelper_frameMismatches(JNIEnv* env, jclass, jobject frame,
                                                                      jint w, jint h) {
    void* address = env->GetDirectBufferAddress(frame);
    if (address == nullptr || env->GetDirectBufferCapacity(frame) < (jlong)w * h * 2) return -1;
    return countMismatches(static_cast<const uint16_t*>(address), w, h);
}

}  // extern "C"
