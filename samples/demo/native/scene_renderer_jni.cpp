// JNI side of cn.lumokast.demo.SceneRenderer: the demo game's own GL code,
// called on its render thread (the thread that called open()).
#include <jni.h>

#include "HeadlessDisplay.h"
#include "Scene.h"

using qor::demo::HeadlessDisplay;
using qor::demo::Scene;

namespace {
HeadlessDisplay gDisplay;
Scene gScene;
}  // namespace

extern "C" {

// Returns the screen framebuffer's name (left bound), or -1 with the reason
// thrown as an IllegalStateException.
JNIEXPORT jint JNICALL Java_cn_lumokast_demo_SceneRenderer_open(JNIEnv* env, jclass, jint width,
                                                                 jint height) {
    if (!gDisplay.open(width, height)) {
        env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), gDisplay.error().c_str());
        return -1;
    }
    if (!gScene.init(width, height)) {
        gDisplay.close();
        env->ThrowNew(env->FindClass("java/lang/IllegalStateException"),
                      "the scene's shaders did not build");
        return -1;
    }
    return (jint)gDisplay.screenFbo();
}

JNIEXPORT jstring JNICALL Java_cn_lumokast_demo_SceneRenderer_glVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF(gDisplay.glVersion().c_str());
}

JNIEXPORT void JNICALL Java_cn_lumokast_demo_SceneRenderer_draw(JNIEnv*, jclass, jint frame,
                                                                 jfloat seconds, jfloat progress) {
    gScene.draw(frame, seconds, progress);
}

JNIEXPORT void JNICALL Java_cn_lumokast_demo_SceneRenderer_close(JNIEnv*, jclass) {
    gScene.release();
    gDisplay.close();
}

}  // extern "C"
