// Lets a JVM test set the platform's clock (host only): SyncE2E drives a
// minute of recording in a second.
#include <jni.h>

#include <host/test_clock.h>

extern "C" JNIEXPORT void JNICALL Java_SyncE2E_setClockUs(JNIEnv*, jclass, jlong timeUs) {
    host::setTestClockNs((int64_t)timeUs * 1000);
}

extern "C" JNIEXPORT void JNICALL Java_SyncE2E_releaseClock(JNIEnv*, jclass) {
    host::releaseTestClock();
}
